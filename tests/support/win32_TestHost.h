// What the file manager does, for the end-to-end tests: load the plug-in, host its windows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testhost {

inline std::wstring ExeDir() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring p(buf, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

inline std::wstring PluginPath() {
  return ExeDir() + (sizeof(void *) == 8 ? L"zembrola.wlx64" : L"zembrola.wlx");
}

struct Plugin {
  using ListLoadW_t = HWND(WINAPI *)(HWND, const wchar_t *, int);
  using ListLoad_t = HWND(WINAPI *)(HWND, const char *, int);
  using ListCloseWindow_t = void(WINAPI *)(HWND);
  using ListGetDetectString_t = int(WINAPI *)(char *, int);
  using ListSetDefaultParams_t = void(WINAPI *)(void *);
  using ListGetPreviewBitmapW_t = HBITMAP(WINAPI *)(const wchar_t *, int, int, char *, int);
  using ListGetPreviewBitmap_t = HBITMAP(WINAPI *)(const char *, int, int, char *, int);

  HMODULE Module = nullptr;
  ListLoadW_t LoadW = nullptr;
  ListLoad_t Load = nullptr;
  ListCloseWindow_t Close = nullptr;
  ListGetDetectString_t Detect = nullptr;
  ListSetDefaultParams_t SetDefaults = nullptr;
  ListGetPreviewBitmapW_t PreviewW = nullptr;
  ListGetPreviewBitmap_t Preview = nullptr;

  Plugin() {
    Module = LoadLibraryW(PluginPath().c_str());
    if (!Module)
      return;
    LoadW = reinterpret_cast<ListLoadW_t>(reinterpret_cast<void *>(GetProcAddress(Module, "ListLoadW")));
    Load = reinterpret_cast<ListLoad_t>(reinterpret_cast<void *>(GetProcAddress(Module, "ListLoad")));
    Close = reinterpret_cast<ListCloseWindow_t>(
        reinterpret_cast<void *>(GetProcAddress(Module, "ListCloseWindow")));
    Detect = reinterpret_cast<ListGetDetectString_t>(
        reinterpret_cast<void *>(GetProcAddress(Module, "ListGetDetectString")));
    SetDefaults = reinterpret_cast<ListSetDefaultParams_t>(
        reinterpret_cast<void *>(GetProcAddress(Module, "ListSetDefaultParams")));
    PreviewW = reinterpret_cast<ListGetPreviewBitmapW_t>(
        reinterpret_cast<void *>(GetProcAddress(Module, "ListGetPreviewBitmapW")));
    Preview = reinterpret_cast<ListGetPreviewBitmap_t>(
        reinterpret_cast<void *>(GetProcAddress(Module, "ListGetPreviewBitmap")));
  }
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;
  ~Plugin() {
    if (Module)
      FreeLibrary(Module);
  }
};

// A suite that loads the plug-in once for all its tests, as a host keeps it loaded across
// files (and loading it per test costs seconds under Wine).
class PluginSuite : public ::testing::Test {
protected:
  static void SetUpTestSuite() { plugin = std::make_unique<Plugin>(); }
  static void TearDownTestSuite() { plugin.reset(); }
  static inline std::unique_ptr<Plugin> plugin;
};

// A top-level window that records the keys posted to it, like the host's lister window.
class HostWindow {
public:
  HostWindow(int clientW, int clientH) {
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = Proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"ZembrolaTestHost";
      wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
      return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    RECT r{0, 0, clientW, clientH};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    Wnd = CreateWindowExW(0, L"ZembrolaTestHost", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                          r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr),
                          this);
    Pump();
  }
  HostWindow(const HostWindow &) = delete;
  HostWindow &operator=(const HostWindow &) = delete;
  ~HostWindow() {
    if (IsWindow(Wnd))
      DestroyWindow(Wnd);
  }

  HWND Wnd = nullptr;
  std::vector<WPARAM> KeysDown, SysKeysDown;

  static void Pump(int rounds = 3) {
    for (int i = 0; i < rounds; ++i) {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
      Sleep(1);
    }
  }

private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      auto *cs = reinterpret_cast<CREATESTRUCTW *>(lp);
      SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto *self = reinterpret_cast<HostWindow *>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (msg == WM_KEYDOWN && self)
      self->KeysDown.push_back(wp);
    if (msg == WM_SYSKEYDOWN && self) {
      self->SysKeysDown.push_back(wp);
      return 0; // no menu of its own to open
    }
    return DefWindowProcW(w, msg, wp, lp);
  }
};

inline std::wstring TempFile(const wchar_t *name, const std::vector<char> &content) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + name;
  HANDLE h =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    if (!content.empty())
      WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
  }
  return path;
}

inline RECT RectInParent(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT *>(&r), 2);
  return r;
}

inline std::wstring WindowText(HWND w) {
  wchar_t buf[256];
  int n = GetWindowTextW(w, buf, 256);
  return std::wstring(buf, static_cast<size_t>(n));
}

inline std::wstring ClassName(HWND w) {
  wchar_t buf[256];
  int n = GetClassNameW(w, buf, 256);
  return std::wstring(buf, static_cast<size_t>(n));
}

// What the screen shows of a window's client area: RGB bytes, top row first. This is what a
// person sees, so OpenGL output counts only where it was really presented.
inline std::vector<uint8_t> ScreenPixels(HWND w, int &width, int &height) {
  RECT rc{};
  GetClientRect(w, &rc);
  width = rc.right;
  height = rc.bottom;
  std::vector<uint8_t> rgb;
  if (width <= 0 || height <= 0)
    return rgb;
  POINT org{0, 0};
  ClientToScreen(w, &org);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib) {
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, width, height, screen, org.x, org.y, SRCCOPY);
    GdiFlush();
    const auto *src = static_cast<const uint8_t *>(bits);
    rgb.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
      rgb[i * 3 + 0] = src[i * 4 + 2];
      rgb[i * 3 + 1] = src[i * 4 + 1];
      rgb[i * 3 + 2] = src[i * 4 + 0];
    }
    SelectObject(mem, old);
    DeleteObject(dib);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return rgb;
}

inline // The clipboard's bitmap as RGB, top row first (empty when there is none of 24 bits).
    std::vector<uint8_t>
    ClipboardRgb(HWND Owner, int &W, int &H) {
  std::vector<uint8_t> Rgb;
  W = H = 0;
  if (!OpenClipboard(Owner))
    return Rgb;
  if (HANDLE Mem = GetClipboardData(CF_DIB)) {
    const auto *Bi = static_cast<const BITMAPINFOHEADER *>(GlobalLock(Mem));
    if (Bi && Bi->biBitCount == 24 && Bi->biCompression == BI_RGB && Bi->biHeight > 0) {
      W = Bi->biWidth;
      H = Bi->biHeight;
      const size_t Stride = (static_cast<size_t>(W) * 3 + 3) & ~size_t{3};
      const auto *Px = reinterpret_cast<const uint8_t *>(Bi) + Bi->biSize;
      Rgb.resize(static_cast<size_t>(W) * H * 3);
      for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
          const uint8_t *S = Px + (H - 1 - Y) * Stride + X * 3;
          uint8_t *D = &Rgb[(static_cast<size_t>(Y) * W + X) * 3];
          D[0] = S[2];
          D[1] = S[1];
          D[2] = S[0];
        }
    }
    if (Bi)
      GlobalUnlock(Mem);
  }
  CloseClipboard();
  return Rgb;
}

} // namespace testhost
