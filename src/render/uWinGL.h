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

using TwglDeleteContext = TWGLBool(ZB_GLAPI *)(HGLRC__ *);
using TwglMakeCurrent = TWGLBool(ZB_GLAPI *)(HDC__ *, HGLRC__ *);
using TglViewport = void(ZB_GLAPI *)(GLint, GLint, GLsizei, GLsizei);
using TglClear = void(ZB_GLAPI *)(GLbitfield);
using TglClearColor = void(ZB_GLAPI *)(GLclampf, GLclampf, GLclampf, GLclampf);
using TglMatrixMode = void(ZB_GLAPI *)(GLenum);
using TglLoadIdentity = void(ZB_GLAPI *)();
using TglOrtho = void(ZB_GLAPI *)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
using TglBegin = void(ZB_GLAPI *)(GLenum);
using TglEnd = void(ZB_GLAPI *)();
using TglVertex2f = void(ZB_GLAPI *)(GLfloat, GLfloat);
using TglColor3f = void(ZB_GLAPI *)(GLfloat, GLfloat, GLfloat);
using TglColor4f = void(ZB_GLAPI *)(GLfloat, GLfloat, GLfloat, GLfloat);
using TglLineWidth = void(ZB_GLAPI *)(GLfloat);
using TglEnable = void(ZB_GLAPI *)(GLenum);
using TglScissor = void(ZB_GLAPI *)(GLint, GLint, GLsizei, GLsizei);
using TglDisable = void(ZB_GLAPI *)(GLenum);
using TglBlendFunc = void(ZB_GLAPI *)(GLenum, GLenum);
using TglGenTextures = void(ZB_GLAPI *)(GLsizei, GLuint *);
using TglBindTexture = void(ZB_GLAPI *)(GLenum, GLuint);
using TglTexImage2D = void(ZB_GLAPI *)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                                       const GLvoid *);
using TglTexParameteri = void(ZB_GLAPI *)(GLenum, GLenum, GLint);
using TglTexCoord2f = void(ZB_GLAPI *)(GLfloat, GLfloat);
using TglDeleteTextures = void(ZB_GLAPI *)(GLsizei, const GLuint *);
using TglFlush = void(ZB_GLAPI *)();

// The 25 entry points, in load order. All null until loaded; a name the library lacks stays null.
struct TGLEntryPoints {
  TwglDeleteContext wglDeleteContext = nullptr;
  TwglMakeCurrent wglMakeCurrent = nullptr;
  TglViewport glViewport = nullptr;
  TglClear glClear = nullptr;
  TglClearColor glClearColor = nullptr;
  TglMatrixMode glMatrixMode = nullptr;
  TglLoadIdentity glLoadIdentity = nullptr;
  TglOrtho glOrtho = nullptr;
  TglBegin glBegin = nullptr;
  TglEnd glEnd = nullptr;
  TglVertex2f glVertex2f = nullptr;
  TglColor3f glColor3f = nullptr;
  TglColor4f glColor4f = nullptr;
  TglLineWidth glLineWidth = nullptr;
  TglEnable glEnable = nullptr;
  TglScissor glScissor = nullptr;
  TglDisable glDisable = nullptr;
  TglBlendFunc glBlendFunc = nullptr;
  TglGenTextures glGenTextures = nullptr;
  TglBindTexture glBindTexture = nullptr;
  TglTexImage2D glTexImage2D = nullptr;
  TglTexParameteri glTexParameteri = nullptr;
  TglTexCoord2f glTexCoord2f = nullptr;
  TglDeleteTextures glDeleteTextures = nullptr;
  TglFlush glFlush = nullptr;
};

// Names of the entries in the order of TGLEntryPoints; the loaders resolve them in this order.
inline constexpr int GL_ENTRY_COUNT = 25;
extern const char *const GLEntryNames[GL_ENTRY_COUNT];
// The table viewed as an array of untyped slots, for the loaders (same order as GLEntryNames).
void SetGLEntry(TGLEntryPoints &Table, int Index, void *Proc);
// Whether every entry the renderer draws with is loaded (all but the two WGL entries).
bool GLDrawingEntriesLoaded(const TGLEntryPoints &Table);

// Process-wide table, shared by every viewer and the renderer; never reset once loaded.
extern TGLEntryPoints GL;
// Module handle of the loaded library (Windows: HMODULE of opengl32.dll); null until loaded.
extern void *HOpenGL;

// Loads opengl32.dll and fills GL. Idempotent: once loaded, returns true at once.
// Windows builds only (win32_uWinGL.cpp); native builds fill GL from the offscreen context.
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
