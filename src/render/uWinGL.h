// OpenGL 1.1 entry points the renderer and the viewer call through. The table is filled at
// run time (opengl32.dll on Windows, an offscreen Mesa context in native builds), so this
// header stays portable and never pulls in a system GL header: the names of the table's
// members are the entry points' own names, which would clash with the system prototypes.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define ZB_GLAPI __stdcall
#else
#define ZB_GLAPI
#endif

// Same tags as <windows.h> uses for its strict handles, so HDC / HGLRC convert without casts.
struct HDC__;
struct HGLRC__;

using GLenum = unsigned int;
using GLbitfield = unsigned int;
using GLuint = unsigned int;
using GLint = int;
using GLsizei = int;
using GLfloat = float;
using GLclampf = float;
using GLdouble = double;
using GLvoid = void;
using TWGLBool = int32_t; // Win32 BOOL

// The entry points, in load order: X(Name, Return type, (Parameter types)). The table, its
// loading and the check that drawing can start are all generated from these two lists.
#define ZB_GL_WGL_ENTRIES(X)                                                                                 \
  X(wglDeleteContext, TWGLBool, (HGLRC__ *))                                                                 \
  X(wglMakeCurrent, TWGLBool, (HDC__ *, HGLRC__ *))
#define ZB_GL_DRAW_ENTRIES(X)                                                                                \
  X(glViewport, void, (GLint, GLint, GLsizei, GLsizei))                                                      \
  X(glClear, void, (GLbitfield))                                                                             \
  X(glClearColor, void, (GLclampf, GLclampf, GLclampf, GLclampf))                                            \
  X(glMatrixMode, void, (GLenum))                                                                            \
  X(glLoadIdentity, void, ())                                                                                \
  X(glOrtho, void, (GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble))                             \
  X(glBegin, void, (GLenum))                                                                                 \
  X(glEnd, void, ())                                                                                         \
  X(glVertex2f, void, (GLfloat, GLfloat))                                                                    \
  X(glColor3f, void, (GLfloat, GLfloat, GLfloat))                                                            \
  X(glColor4f, void, (GLfloat, GLfloat, GLfloat, GLfloat))                                                   \
  X(glLineWidth, void, (GLfloat))                                                                            \
  X(glEnable, void, (GLenum))                                                                                \
  X(glScissor, void, (GLint, GLint, GLsizei, GLsizei))                                                       \
  X(glDisable, void, (GLenum))                                                                               \
  X(glBlendFunc, void, (GLenum, GLenum))                                                                     \
  X(glGenTextures, void, (GLsizei, GLuint *))                                                                \
  X(glBindTexture, void, (GLenum, GLuint))                                                                   \
  X(glTexImage2D, void, (GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const GLvoid *))     \
  X(glTexParameteri, void, (GLenum, GLenum, GLint))                                                          \
  X(glTexCoord2f, void, (GLfloat, GLfloat))                                                                  \
  X(glDeleteTextures, void, (GLsizei, const GLuint *))                                                       \
  X(glFlush, void, ())                                                                                       \
  X(glTexSubImage2D, void, (GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const GLvoid *))
// Reading the frame back, for presenting it through GDI where the driver cannot show a child
// window's OpenGL output; loaded with the others, not needed for drawing.
#define ZB_GL_READ_ENTRIES(X)                                                                                \
  X(glReadPixels, void, (GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, GLvoid *))                          \
  X(glFinish, void, ())

// All null until loaded; a name the library lacks stays null.
struct TGLEntryPoints {
#define ZB_GL_MEMBER(Name, Ret, Params) Ret(ZB_GLAPI *Name) Params = nullptr;
  ZB_GL_WGL_ENTRIES(ZB_GL_MEMBER)
  ZB_GL_DRAW_ENTRIES(ZB_GL_MEMBER)
  ZB_GL_READ_ENTRIES(ZB_GL_MEMBER)
#undef ZB_GL_MEMBER
};

// Fills Table from Resolve (name -> address or null), in load order. The WGL entries are only
// asked for when WithWgl is set: offscreen contexts have no counterpart for them.
template <typename FResolve> void LoadGLEntries(TGLEntryPoints &Table, FResolve &&Resolve, bool WithWgl) {
  // Casting an untyped address to the entry's pointer type is the documented way to use
  // GetProcAddress results; every member is a plain function pointer.
#define ZB_GL_LOAD(Name, Ret, Params) Table.Name = reinterpret_cast<decltype(Table.Name)>(Resolve(#Name));
  if (WithWgl) {
    ZB_GL_WGL_ENTRIES(ZB_GL_LOAD)
  }
  ZB_GL_DRAW_ENTRIES(ZB_GL_LOAD)
  ZB_GL_READ_ENTRIES(ZB_GL_LOAD)
#undef ZB_GL_LOAD
}

// Whether every entry the renderer draws with is loaded (all but the WGL entries).
bool GLDrawingEntriesLoaded(const TGLEntryPoints &Table);

// Process-wide table, shared by every viewer and the renderer; never reset once loaded.
extern TGLEntryPoints GL;
// Module handle of the loaded library (Windows: HMODULE of opengl32.dll); null until loaded.
extern void *HOpenGL;

// Loads opengl32.dll and fills GL: the process's only load of that library. Idempotent: once
// loaded, returns true at once. Windows builds only (win32_uWinGL.cpp); native builds fill GL
// from the offscreen context.
bool LoadOpenGL();
// Address of Name in the loaded library, null when absent or the library is not loaded.
void *GetGL(const char *Name);

inline constexpr GLbitfield GL_COLOR_BUFFER_BIT = 16384;
inline constexpr GLenum GL_MODELVIEW = 5888;
inline constexpr GLenum GL_PROJECTION = 5889;
inline constexpr GLenum GL_LINES = 1;
inline constexpr GLenum GL_LINE_STRIP = 3;
inline constexpr GLenum GL_QUADS = 7;
inline constexpr GLenum GL_TEXTURE_2D = 3553;
inline constexpr GLenum GL_TEXTURE_MAG_FILTER = 10240;
inline constexpr GLenum GL_TEXTURE_MIN_FILTER = 10241;
inline constexpr GLint GL_NEAREST = 9728;
inline constexpr GLint GL_LINEAR = 9729;
inline constexpr GLenum GL_RGB = 6407;
inline constexpr GLenum GL_RGBA = 6408;
inline constexpr GLenum GL_BGRA = 0x80E1;
inline constexpr GLenum GL_UNSIGNED_BYTE = 5121;
inline constexpr GLenum GL_SCISSOR_TEST = 3089;
inline constexpr GLenum GL_BLEND = 3042;
inline constexpr GLenum GL_SRC_ALPHA = 770;
inline constexpr GLenum GL_ONE_MINUS_SRC_ALPHA = 771;
inline constexpr GLenum GL_LINE_SMOOTH = 2848;

// wglChoosePixelFormatARB of WGL_ARB_pixel_format.
using TWGLChoosePixelFormatARB = TWGLBool(ZB_GLAPI *)(HDC__ *hdc, const int32_t *piAttribIList,
                                                      const float *pfAttribFList, uint32_t nMaxFormats,
                                                      int32_t *piFormats, uint32_t *nNumFormats);
