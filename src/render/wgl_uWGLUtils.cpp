// Pixel formats and rendering contexts for windows: multisampled through WGL_ARB_pixel_format
// when the driver offers it, the plain double-buffered format otherwise.
#include "render/wgl_uWGLUtils.h"

#include "base/uLog.h"

TWGLChoosePixelFormatARB WglChoosePixelFormatARB = nullptr;
bool ClassesRegistered = false;

namespace {

// The two WGL functions the context code needs beyond the entry-point table, resolved from the
// library LoadOpenGL loaded (a missing library then only means no context).
struct TWglCreateProcs {
  HGLRC(WINAPI *CreateContext)(HDC) = nullptr;
  PROC(WINAPI *GetProcAddress)(LPCSTR) = nullptr;
  bool Loaded = false;
};

const TWglCreateProcs &Wgl() {
  static TWglCreateProcs P;
  if (!P.Loaded && LoadOpenGL() && GL.wglMakeCurrent && GL.wglDeleteContext) {
    P.CreateContext = reinterpret_cast<decltype(P.CreateContext)>(GetGL("wglCreateContext"));
    P.GetProcAddress = reinterpret_cast<decltype(P.GetProcAddress)>(GetGL("wglGetProcAddress"));
    P.Loaded = P.CreateContext && P.GetProcAddress;
  }
  return P;
}

HINSTANCE OwnInstance() {
  // The module that holds this code (the plug-in DLL, or the test executable).
  HMODULE M = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&DummyWndProc), &M);
  return M;
}

} // namespace

void WglDeleteContext(HGLRC RC) {
  if (GL.wglMakeCurrent)
    GL.wglMakeCurrent(nullptr, nullptr);
  if (GL.wglDeleteContext)
    GL.wglDeleteContext(RC);
}

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
  RegisterWndClasses(Inst);
  // Declared in creation order, released in reverse: context, DC, window.
  const unique_hwnd Wnd(
      CreateWindowExW(0, DUMMY_WC, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, Inst, nullptr));
  if (!Wnd)
    return false;
  const unique_hdc_window DC(Wnd.get());
  if (!DC)
    return false;
  if (!SetStandardPixelFormat(DC.get()))
    return false;
  const unique_hglrc RC(Wgl().CreateContext(DC.get()));
  if (!RC)
    return false;
  if (GL.wglMakeCurrent(DC.get(), RC.get())) {
    if (PROC P = Wgl().GetProcAddress("wglChoosePixelFormatARB"))
      WglChoosePixelFormatARB = reinterpret_cast<TWGLChoosePixelFormatARB>(reinterpret_cast<void *>(P));
  }
  return WglChoosePixelFormatARB != nullptr;
}

TGLContext CreateMSAAContext(HWND AWnd, int32_t MaxSamples) {
  TGLContext Ctx;
  // GetDC of no window is the whole screen's DC: never give that a pixel format or a context.
  if (!AWnd)
    return Ctx;
  Ctx.DC = unique_hdc_window(AWnd);
  const HDC DC = Ctx.DC.get();
  if (!DC || !Wgl().Loaded)
    return Ctx;

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
      if (!WglChoosePixelFormatARB(DC, Attribs, nullptr, 1, &Format, &Count) || Count == 0 || Format == 0)
        continue;
      PIXELFORMATDESCRIPTOR Pfd{};
      Pfd.nSize = sizeof(Pfd);
      if (!SetPixelFormat(DC, Format, &Pfd))
        continue;
      Ctx.RC.reset(Wgl().CreateContext(DC));
      if (!Ctx.RC)
        continue;
      GL.wglMakeCurrent(DC, Ctx.RC.get());
      Ctx.Samples = Samples;
      LogFmt("CreateMSAAContext: %d samples", Samples);
      return Ctx;
    }
  }

  // A window keeps the first pixel format it was given: when a multisample format was set but
  // its context failed, the plain format can no longer be set, so try the window's own format
  // before giving up.
  if (!SetStandardPixelFormat(DC) && GetPixelFormat(DC) == 0)
    return Ctx;
  Ctx.RC.reset(Wgl().CreateContext(DC));
  if (Ctx.RC)
    GL.wglMakeCurrent(DC, Ctx.RC.get());
  return Ctx;
}
