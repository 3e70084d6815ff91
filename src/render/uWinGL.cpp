// The process-wide OpenGL entry-point table; filled by LoadOpenGL (Windows) or the offscreen
// loader (native).
#include "render/uWinGL.h"

TGLEntryPoints GL;
void *HOpenGL = nullptr;

const char *const GLEntryNames[GL_ENTRY_COUNT] = {
    "wglDeleteContext", "wglMakeCurrent",  "glViewport",   "glClear",          "glClearColor",
    "glMatrixMode",     "glLoadIdentity",  "glOrtho",      "glBegin",          "glEnd",
    "glVertex2f",       "glColor3f",       "glColor4f",    "glLineWidth",      "glEnable",
    "glScissor",        "glDisable",       "glBlendFunc",  "glGenTextures",    "glBindTexture",
    "glTexImage2D",     "glTexParameteri", "glTexCoord2f", "glDeleteTextures", "glFlush"};

namespace {
// Casting an untyped address to the entry's pointer type is the documented way to use
// GetProcAddress results; every member is a plain function pointer.
template <typename F> void Put(F &Slot, void *Proc) {
  Slot = reinterpret_cast<F>(Proc);
}
} // namespace

void SetGLEntry(TGLEntryPoints &T, int Index, void *Proc) {
  switch (Index) {
  case 0:
    Put(T.wglDeleteContext, Proc);
    break;
  case 1:
    Put(T.wglMakeCurrent, Proc);
    break;
  case 2:
    Put(T.glViewport, Proc);
    break;
  case 3:
    Put(T.glClear, Proc);
    break;
  case 4:
    Put(T.glClearColor, Proc);
    break;
  case 5:
    Put(T.glMatrixMode, Proc);
    break;
  case 6:
    Put(T.glLoadIdentity, Proc);
    break;
  case 7:
    Put(T.glOrtho, Proc);
    break;
  case 8:
    Put(T.glBegin, Proc);
    break;
  case 9:
    Put(T.glEnd, Proc);
    break;
  case 10:
    Put(T.glVertex2f, Proc);
    break;
  case 11:
    Put(T.glColor3f, Proc);
    break;
  case 12:
    Put(T.glColor4f, Proc);
    break;
  case 13:
    Put(T.glLineWidth, Proc);
    break;
  case 14:
    Put(T.glEnable, Proc);
    break;
  case 15:
    Put(T.glScissor, Proc);
    break;
  case 16:
    Put(T.glDisable, Proc);
    break;
  case 17:
    Put(T.glBlendFunc, Proc);
    break;
  case 18:
    Put(T.glGenTextures, Proc);
    break;
  case 19:
    Put(T.glBindTexture, Proc);
    break;
  case 20:
    Put(T.glTexImage2D, Proc);
    break;
  case 21:
    Put(T.glTexParameteri, Proc);
    break;
  case 22:
    Put(T.glTexCoord2f, Proc);
    break;
  case 23:
    Put(T.glDeleteTextures, Proc);
    break;
  case 24:
    Put(T.glFlush, Proc);
    break;
  default:
    break;
  }
}

bool GLDrawingEntriesLoaded(const TGLEntryPoints &T) {
  // Everything the renderer calls (all but the two WGL entries).
  return T.glViewport && T.glClear && T.glClearColor && T.glMatrixMode && T.glLoadIdentity && T.glOrtho &&
         T.glBegin && T.glEnd && T.glVertex2f && T.glColor3f && T.glColor4f && T.glLineWidth && T.glEnable &&
         T.glScissor && T.glDisable && T.glBlendFunc && T.glGenTextures && T.glBindTexture &&
         T.glTexImage2D && T.glTexParameteri && T.glTexCoord2f && T.glDeleteTextures && T.glFlush;
}
