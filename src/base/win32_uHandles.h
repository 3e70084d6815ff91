// Move-only owners of Win32 handles: one template, parameterised by the call that releases the
// handle, and one alias per handle kind named after that call (or after what it owns). Owners
// hand their handle on with release().
#pragma once

#include <windows.h>

#include <utility>

template <typename H, auto Release> class TUniqueHandle {
public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(H h) : FHandle(h) {}
  TUniqueHandle(const TUniqueHandle &) = delete;
  TUniqueHandle &operator=(const TUniqueHandle &) = delete;
  TUniqueHandle(TUniqueHandle &&o) noexcept : FHandle(std::exchange(o.FHandle, H{})) {}
  TUniqueHandle &operator=(TUniqueHandle &&o) noexcept {
    if (this != &o)
      reset(std::exchange(o.FHandle, H{}));
    return *this;
  }
  ~TUniqueHandle() { reset(); }

  H get() const { return FHandle; }
  explicit operator bool() const { return FHandle != H{}; }
  [[nodiscard]] H release() { return std::exchange(FHandle, H{}); }
  void reset(H h = H{}) {
    if (FHandle != H{})
      Release(FHandle);
    FHandle = h;
  }

private:
  H FHandle{};
};

// Child windows go with their parent; an owner must not destroy a handle that may since have
// been reused.
inline void DestroyWindowIfAlive(HWND h) {
  if (IsWindow(h))
    DestroyWindow(h);
}

using unique_hbrush = TUniqueHandle<HBRUSH, DeleteObject>;
using unique_hbitmap = TUniqueHandle<HBITMAP, DeleteObject>;
using unique_hwnd = TUniqueHandle<HWND, DestroyWindowIfAlive>;
using unique_hmodule = TUniqueHandle<HMODULE, FreeLibrary>;
using unique_handle = TUniqueHandle<HANDLE, CloseHandle>;

// A window's device context, released with ReleaseDC (which needs the window as well).
class unique_hdc_window {
public:
  unique_hdc_window() = default;
  // Takes over a DC obtained with GetDC(Wnd); Wnd may be null for the screen DC.
  unique_hdc_window(HWND Wnd, HDC DC) : FWnd(Wnd), FDC(DC) {}
  // GetDC(Wnd) for the scope.
  explicit unique_hdc_window(HWND Wnd) : FWnd(Wnd), FDC(GetDC(Wnd)) {}
  unique_hdc_window(const unique_hdc_window &) = delete;
  unique_hdc_window &operator=(const unique_hdc_window &) = delete;
  unique_hdc_window(unique_hdc_window &&o) noexcept
      : FWnd(std::exchange(o.FWnd, nullptr)), FDC(std::exchange(o.FDC, nullptr)) {}
  unique_hdc_window &operator=(unique_hdc_window &&o) noexcept {
    if (this != &o) {
      reset();
      FWnd = std::exchange(o.FWnd, nullptr);
      FDC = std::exchange(o.FDC, nullptr);
    }
    return *this;
  }
  ~unique_hdc_window() { reset(); }

  HDC get() const { return FDC; }
  HWND window() const { return FWnd; }
  explicit operator bool() const { return FDC != nullptr; }
  void reset() {
    if (FDC)
      ReleaseDC(FWnd, FDC);
    FDC = nullptr;
    FWnd = nullptr;
  }

private:
  HWND FWnd = nullptr;
  HDC FDC = nullptr;
};

// BeginPaint ... EndPaint for the scope of a WM_PAINT.
class unique_hdc_paint {
public:
  explicit unique_hdc_paint(HWND wnd) : FWnd(wnd) { FDC = BeginPaint(wnd, &FPS); }
  unique_hdc_paint(const unique_hdc_paint &) = delete;
  unique_hdc_paint &operator=(const unique_hdc_paint &) = delete;
  ~unique_hdc_paint() { EndPaint(FWnd, &FPS); }
  HDC get() const { return FDC; }

private:
  HWND FWnd;
  PAINTSTRUCT FPS{};
  HDC FDC = nullptr;
};
