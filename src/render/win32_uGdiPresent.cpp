#include "render/win32_uGdiPresent.h"

#include "render/uWinGL.h"

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
