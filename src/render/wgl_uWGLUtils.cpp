// Pixel formats and rendering contexts for windows: multisampled through WGL_ARB_pixel_format
// when the driver offers it, the plain double-buffered format otherwise.
#include "render/wgl_uWGLUtils.h"

#include "base/uLog.h"

TWGLChoosePixelFormatARB WglChoosePixelFormatARB = nullptr;
bool ClassesRegistered = false;
int32_t LastContextSamples = 0;

namespace {

// The four WGL functions of the context code, resolved from opengl32.dll at first use so the
// library need not be an import of the plug-in (a missing library then only means no context).
struct TWglProcs {
  HGLRC(WINAPI *CreateContext)(HDC) = nullptr;
  BOOL(WINAPI *MakeCurrent)(HDC, HGLRC) = nullptr;
  BOOL(WINAPI *DeleteContext)(HGLRC) = nullptr;
  PROC(WINAPI *GetProcAddress)(LPCSTR) = nullptr;
  bool Loaded = false;
};

template <typename F> void Resolve(HMODULE Lib, const char *Name, F &Slot) {
  Slot = reinterpret_cast<F>(reinterpret_cast<void *>(::GetProcAddress(Lib, Name)));
}

const TWglProcs &Wgl() {
  static TWglProcs P = [] {
    TWglProcs R;
    if (HMODULE Lib = LoadLibraryA("opengl32.dll")) { // kept loaded for the life of the process
      Resolve(Lib, "wglCreateContext", R.CreateContext);
      Resolve(Lib, "wglMakeCurrent", R.MakeCurrent);
      Resolve(Lib, "wglDeleteContext", R.DeleteContext);
      Resolve(Lib, "wglGetProcAddress", R.GetProcAddress);
      R.Loaded = R.CreateContext && R.MakeCurrent && R.DeleteContext && R.GetProcAddress;
    }
    return R;
  }();
  return P;
}

HINSTANCE OwnInstance() {
  // The module that holds this code (the plug-in DLL, or the test executable).
  HMODULE M = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&DummyWndProc), &M);
  return M;
}

// Owners of the dummy window's resources, released in reverse order of creation.
class TDestroyWindow {
public:
  explicit TDestroyWindow(HWND W) : FWnd(W) {}
  ~TDestroyWindow() {
    if (FWnd)
      DestroyWindow(FWnd);
  }
  TDestroyWindow(const TDestroyWindow &) = delete;
  TDestroyWindow &operator=(const TDestroyWindow &) = delete;
  HWND get() const { return FWnd; }

private:
  HWND FWnd;
};

class TReleaseDC {
public:
  TReleaseDC(HWND W, HDC D) : FWnd(W), FDC(D) {}
  ~TReleaseDC() {
    if (FDC)
      ReleaseDC(FWnd, FDC);
  }
  TReleaseDC(const TReleaseDC &) = delete;
  TReleaseDC &operator=(const TReleaseDC &) = delete;
  HDC get() const { return FDC; }

private:
  HWND FWnd;
  HDC FDC;
};

class TWglDeleteContext {
public:
  explicit TWglDeleteContext(HGLRC R) : FRC(R) {}
  ~TWglDeleteContext() {
    if (FRC) {
      Wgl().MakeCurrent(nullptr, nullptr);
      Wgl().DeleteContext(FRC);
    }
  }
  TWglDeleteContext(const TWglDeleteContext &) = delete;
  TWglDeleteContext &operator=(const TWglDeleteContext &) = delete;
  HGLRC get() const { return FRC; }

private:
  HGLRC FRC;
};

} // namespace

LRESULT CALLBACK DummyWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

bool RegisterWndClasses(HINSTANCE AInstance) {
  if (ClassesRegistered)
    return true;
  WNDCLASSEXW Wc{};
  Wc.cbSize = sizeof(Wc);
  Wc.style = CS_OWNDC;
  Wc.lpfnWndProc = DummyWndProc;
  Wc.hInstance = AInstance;
  Wc.lpszClassName = DUMMY_WC;
  if (!RegisterClassExW(&Wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  ClassesRegistered = true;
  return true;
}

bool SetStandardPixelFormat(HDC DC) {
  PIXELFORMATDESCRIPTOR Pfd{};
  Pfd.nSize = sizeof(Pfd);
  Pfd.nVersion = 1;
  Pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  Pfd.iPixelType = PFD_TYPE_RGBA;
  Pfd.cColorBits = 32;
  Pfd.cDepthBits = 24;
  Pfd.cStencilBits = 8;
  Pfd.iLayerType = PFD_MAIN_PLANE;
  const int Format = ChoosePixelFormat(DC, &Pfd);
  if (Format == 0)
    return false;
  return SetPixelFormat(DC, Format, &Pfd) != FALSE;
}

bool LoadWGLExtensions() {
  if (WglChoosePixelFormatARB)
    return true;
  if (!Wgl().Loaded)
    return false;
  const HINSTANCE Inst = OwnInstance();
  // The class is normally registered at library load; register here too so that a host that
  // skipped it (or a test) still gets a dummy window.
  RegisterWndClasses(Inst);
  TDestroyWindow Wnd(
      CreateWindowExW(0, DUMMY_WC, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, Inst, nullptr));
  if (!Wnd.get())
    return false;
  TReleaseDC DC(Wnd.get(), GetDC(Wnd.get()));
  if (!DC.get())
    return false;
  if (!SetStandardPixelFormat(DC.get()))
    return false;
  TWglDeleteContext RC(Wgl().CreateContext(DC.get()));
  if (!RC.get())
    return false;
  if (Wgl().MakeCurrent(DC.get(), RC.get())) {
    if (PROC P = Wgl().GetProcAddress("wglChoosePixelFormatARB"))
      WglChoosePixelFormatARB = reinterpret_cast<TWGLChoosePixelFormatARB>(reinterpret_cast<void *>(P));
  }
  // Destructors: make nothing current and delete the context, release the DC, destroy the window.
  return WglChoosePixelFormatARB != nullptr;
}

HGLRC CreateMSAAContext(HWND AWnd, HDC &ADC, int32_t MaxSamples) {
  LastContextSamples = 0;
  ADC = GetDC(AWnd);
  if (!ADC || !Wgl().Loaded)
    return nullptr;

  if (LoadWGLExtensions() && WglChoosePixelFormatARB) {
    for (const int32_t Samples : SampleList) {
      if (Samples > MaxSamples)
        continue;
      const int32_t Attribs[19] = {WGL_DRAW_TO_WINDOW_ARB,
                                   1,
                                   WGL_SUPPORT_OPENGL_ARB,
                                   1,
                                   WGL_DOUBLE_BUFFER_ARB,
                                   1,
                                   WGL_PIXEL_TYPE_ARB,
                                   WGL_TYPE_RGBA_ARB,
                                   WGL_COLOR_BITS_ARB,
                                   32,
                                   WGL_DEPTH_BITS_ARB,
                                   24,
                                   WGL_STENCIL_BITS_ARB,
                                   8,
                                   WGL_SAMPLE_BUFFERS_ARB,
                                   1,
                                   WGL_SAMPLES_ARB,
                                   Samples,
                                   0};
      int32_t Format = 0;
      uint32_t Count = 0;
      if (!WglChoosePixelFormatARB(ADC, Attribs, nullptr, 1, &Format, &Count) || Count == 0 || Format == 0)
        continue;
      PIXELFORMATDESCRIPTOR Pfd{};
      Pfd.nSize = sizeof(Pfd);
      if (!SetPixelFormat(ADC, Format, &Pfd))
        continue;
      HGLRC RC = Wgl().CreateContext(ADC);
      if (!RC)
        continue;
      Wgl().MakeCurrent(ADC, RC);
      LastContextSamples = Samples;
      LogFmt("CreateMSAAContext: %d samples", Samples);
      return RC;
    }
  }

  // A window keeps the first pixel format it was given: when a multisample format was set but
  // its context failed, the plain format can no longer be set, so try the window's own format
  // before giving up.
  if (!SetStandardPixelFormat(ADC) && GetPixelFormat(ADC) == 0)
    return nullptr;
  HGLRC RC = Wgl().CreateContext(ADC);
  if (RC)
    Wgl().MakeCurrent(ADC, RC);
  return RC;
}
