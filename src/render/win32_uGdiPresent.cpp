#include "render/win32_uGdiPresent.h"

#include "render/uWinGL.h"

#include <algorithm>
#include <cstddef>

bool GdiPresentNeeded() {
  static const bool Needed = [] {
    const HMODULE Ntdll = GetModuleHandleW(L"ntdll.dll");
    return Ntdll && GetProcAddress(Ntdll, "wine_get_version") != nullptr;
  }();
  return Needed;
}

bool TGdiPresenter::Present(HDC DC, int32_t W, int32_t H) {
  if (!DC || W <= 0 || H <= 0 || !GL.glReadPixels)
    return false;
  FPixels.resize(static_cast<size_t>(W) * static_cast<size_t>(H) * 4);
  // Four bytes a pixel keep every row on the default pack alignment; BGRA is the byte order a
  // 32-bit DIB wants, so no conversion is needed.
  GL.glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, FPixels.data());
  BITMAPINFO Info{};
  Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
  Info.bmiHeader.biWidth = W;
  Info.bmiHeader.biHeight = H; // bottom-up, like OpenGL's rows
  Info.bmiHeader.biPlanes = 1;
  Info.bmiHeader.biBitCount = 32;
  Info.bmiHeader.biCompression = BI_RGB;
  return SetDIBitsToDevice(DC, 0, 0, static_cast<DWORD>(W), static_cast<DWORD>(H), 0, 0, 0,
                           static_cast<UINT>(H), FPixels.data(), &Info, DIB_RGB_COLORS) != 0;
}

namespace {

constexpr int32_t PROBE_GRID = 24;        // places across and down
constexpr uint64_t PROBE_SETTLE_MS = 100; // several screen refreshes

// What the screen shows of Wnd's client area, W x H from its top-left corner.
std::vector<uint32_t> ScreenSamples(HWND Wnd, int32_t W, int32_t H) {
  std::vector<uint32_t> Out;
  POINT Org{0, 0};
  ClientToScreen(Wnd, &Org);
  HDC Screen = GetDC(nullptr);
  if (!Screen)
    return Out;
  HDC Mem = CreateCompatibleDC(Screen);
  BITMAPINFO Info{};
  Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
  Info.bmiHeader.biWidth = W;
  Info.bmiHeader.biHeight = -H; // top row first
  Info.bmiHeader.biPlanes = 1;
  Info.bmiHeader.biBitCount = 32;
  Info.bmiHeader.biCompression = BI_RGB;
  void *Bits = nullptr;
  HBITMAP Dib = Mem ? CreateDIBSection(Screen, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0) : nullptr;
  if (Dib && Bits) {
    HGDIOBJ Old = SelectObject(Mem, Dib);
    if (BitBlt(Mem, 0, 0, W, H, Screen, Org.x, Org.y, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      Out = SamplePixels(static_cast<const uint32_t *>(Bits), W, H, PROBE_GRID, PROBE_GRID);
    }
    SelectObject(Mem, Old);
  }
  if (Dib)
    DeleteObject(Dib);
  if (Mem)
    DeleteDC(Mem);
  ReleaseDC(nullptr, Screen);
  return Out;
}

// The frame in the current context's back buffer, sampled like ScreenSamples.
std::vector<uint32_t> FrameSamples(int32_t W, int32_t H) {
  if (!GL.glReadPixels)
    return {};
  std::vector<uint32_t> Px(static_cast<size_t>(W) * static_cast<size_t>(H));
  GL.glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, Px.data());
  // OpenGL's rows run bottom-up.
  for (int32_t Y = 0; Y < H / 2; ++Y)
    std::swap_ranges(Px.begin() + static_cast<ptrdiff_t>(Y) * W,
                     Px.begin() + static_cast<ptrdiff_t>(Y + 1) * W,
                     Px.begin() + static_cast<ptrdiff_t>(H - 1 - Y) * W);
  return SamplePixels(Px.data(), W, H, PROBE_GRID, PROBE_GRID);
}

} // namespace

TSwapVerdict TSwapProbe::BeforeSwap(HWND Wnd, int32_t W, int32_t H) {
  if (FFramesLeft <= 0 || !Wnd || W < PROBE_GRID || H < PROBE_GRID)
    return TSwapVerdict::Unknown;
  // A hidden or minimised viewer shows nothing either way: wait until it can be seen.
  const HWND Top = GetAncestor(Wnd, GA_ROOT);
  if (!IsWindowVisible(Wnd) || (Top && IsIconic(Top)))
    return TSwapVerdict::Unknown;
  // A compositor shows a swapped frame at its next refresh: judging sooner would take a working
  // swap for a lost one. Frames in between keep the earlier one under watch.
  const bool SameSize = W == FW && H == FH;
  const uint64_t Now = GetTickCount64();
  if (SameSize && !FDrawn.empty() && Now - FRecordedAt < PROBE_SETTLE_MS)
    return TSwapVerdict::Unknown;
  std::vector<uint32_t> Screen = ScreenSamples(Wnd, W, H);
  // Only a frame of the same size sits at the same places.
  const TSwapVerdict V = SameSize ? JudgeSwap(FBefore, FDrawn, Screen) : TSwapVerdict::Unknown;
  if (V != TSwapVerdict::Unknown) {
    FFramesLeft = 0;
    FBefore.clear();
    FDrawn.clear();
    return V;
  }
  --FFramesLeft;
  FW = W;
  FH = H;
  FRecordedAt = Now;
  FBefore = std::move(Screen);
  FDrawn = FrameSamples(W, H);
  return TSwapVerdict::Unknown;
}
