// Pixel-format selection and rendering-context creation for a window: a multisampled
// format through WGL_ARB_pixel_format first, a plain double-buffered format as fallback.
#pragma once

#include <windows.h>

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

LRESULT CALLBACK DummyWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
// Registers the dummy window class once (an already registered class counts as success).
// The library calls it at load with its own instance; LoadWGLExtensions calls it too.
bool RegisterWndClasses(HINSTANCE AInstance);
// Chooses and sets the plain double-buffered RGBA format (32 colour, 24 depth, 8 stencil bits).
bool SetStandardPixelFormat(HDC DC);
// Obtains wglChoosePixelFormatARB through a hidden dummy window; true once it is known.
bool LoadWGLExtensions();
// Gets AWnd's device context into ADC, gives the window a pixel format (8, 4, 2 samples, none
// above MaxSamples, then the plain format), creates a context and makes it current on ADC.
// Returns 0 when no context could be made. The caller owns ADC (ReleaseDC) and the context
// (wglMakeCurrent(0, 0) then wglDeleteContext), also when the result is 0 but ADC is set.
HGLRC CreateMSAAContext(HWND AWnd, HDC &ADC, int32_t MaxSamples);

// Samples of the pixel format that the last CreateMSAAContext chose: 0 for the plain format
// or when it failed. For diagnostics and tests.
extern int32_t LastContextSamples;
