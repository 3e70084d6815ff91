// Pixel-format selection and rendering-context creation for a window: a multisampled
// format through WGL_ARB_pixel_format first, a plain double-buffered format as fallback.
#pragma once

#include <windows.h>

#include "base/win32_uHandles.h"
#include "render/uWinGL.h"

#include <cstdint>

// Null until LoadWGLExtensions succeeds; then kept for the life of the process.
extern TWGLChoosePixelFormatARB WglChoosePixelFormatARB;
// True once the dummy window class is registered.
extern bool ClassesRegistered;
// Multisample counts, tried in this order.
inline constexpr int32_t SampleList[3] = {8, 4, 2};
inline constexpr const wchar_t *DUMMY_WC = L"ZembrolaDummy";

inline constexpr int32_t WGL_DRAW_TO_WINDOW_ARB = 0x2001;
inline constexpr int32_t WGL_SUPPORT_OPENGL_ARB = 0x2010;
inline constexpr int32_t WGL_DOUBLE_BUFFER_ARB = 0x2011;
inline constexpr int32_t WGL_PIXEL_TYPE_ARB = 0x2013;
inline constexpr int32_t WGL_COLOR_BITS_ARB = 0x2014;
inline constexpr int32_t WGL_DEPTH_BITS_ARB = 0x2022;
inline constexpr int32_t WGL_STENCIL_BITS_ARB = 0x2023;
inline constexpr int32_t WGL_TYPE_RGBA_ARB = 0x202B;
inline constexpr int32_t WGL_SAMPLE_BUFFERS_ARB = 0x2041;
inline constexpr int32_t WGL_SAMPLES_ARB = 0x2042;

// Makes nothing current, then deletes the context (through the loaded table).
void WglDeleteContext(HGLRC RC);
using unique_hglrc = TUniqueHandle<HGLRC, WglDeleteContext>;

// A window's rendering context and the device context it was made on. The members are
// released in reverse order: the rendering context before the device context it draws to.
struct TGLContext {
  unique_hdc_window DC;
  unique_hglrc RC;
  int32_t Samples = 0; // samples of the chosen pixel format; 0 for the plain format
  explicit operator bool() const { return static_cast<bool>(RC); }
};

LRESULT CALLBACK DummyWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
// Registers the dummy window class once (an already registered class counts as success).
// Called by LoadWGLExtensions on first use, not at library load: registering a class under
// the loader lock is best avoided.
bool RegisterWndClasses(HINSTANCE AInstance);
// Chooses and sets the plain double-buffered RGBA format (32 colour, 24 depth, 8 stencil bits).
bool SetStandardPixelFormat(HDC DC);
// Obtains wglChoosePixelFormatARB through a hidden dummy window; true once it is known.
bool LoadWGLExtensions();
// Gets AWnd's device context, gives the window a pixel format (8, 4, 2 samples, none above
// MaxSamples, then the plain format), creates a context and makes it current on that DC. The
// result owns both; its RC is empty when no context could be made (its DC may still be set).
TGLContext CreateMSAAContext(HWND AWnd, int32_t MaxSamples);
