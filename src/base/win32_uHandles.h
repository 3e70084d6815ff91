// Move-only owners of Win32 handles, one per kind, named after the call that releases them.
#pragma once

#include <windows.h>

#include <utility>

template <typename H, typename Traits> class TUniqueHandle {
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
  H release() { return std::exchange(FHandle, H{}); }
  void reset(H h = H{}) {
    if (FHandle != H{})
      Traits::Close(FHandle);
    FHandle = h;
  }

private:
  H FHandle{};
};

struct TDeleteObjectTraits {
  static void Close(HGDIOBJ h) { DeleteObject(h); }
};
struct TDestroyWindowTraits {
  static void Close(HWND h) {
    if (IsWindow(h))
      DestroyWindow(h);
  }
};
struct TFreeLibraryTraits {
  static void Close(HMODULE h) { FreeLibrary(h); }
};
struct TCloseHandleTraits {
  static void Close(HANDLE h) { CloseHandle(h); }
};

using unique_hbrush = TUniqueHandle<HBRUSH, TDeleteObjectTraits>;
using unique_hbitmap = TUniqueHandle<HBITMAP, TDeleteObjectTraits>;
using unique_hwnd = TUniqueHandle<HWND, TDestroyWindowTraits>;
using unique_hmodule = TUniqueHandle<HMODULE, TFreeLibraryTraits>;
using unique_handle = TUniqueHandle<HANDLE, TCloseHandleTraits>;

// GetDC ... ReleaseDC.
class unique_hdc_window {
public:
  explicit unique_hdc_window(HWND wnd) : FWnd(wnd), FDC(GetDC(wnd)) {}
  unique_hdc_window(const unique_hdc_window &) = delete;
  unique_hdc_window &operator=(const unique_hdc_window &) = delete;
  ~unique_hdc_window() {
    if (FDC)
      ReleaseDC(FWnd, FDC);
  }
  HDC get() const { return FDC; }

private:
  HWND FWnd;
  HDC FDC;
};

// BeginPaint ... EndPaint.
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
