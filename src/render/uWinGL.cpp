// The process-wide OpenGL entry-point table; filled by LoadOpenGL (Windows) or the offscreen
// loader (native).
#include "render/uWinGL.h"

TGLEntryPoints GL;
void *HOpenGL = nullptr;

bool GLDrawingEntriesLoaded(const TGLEntryPoints &T) {
#define ZB_GL_LOADED(Name, Ret, Params) &&T.Name
  return true ZB_GL_DRAW_ENTRIES(ZB_GL_LOADED);
#undef ZB_GL_LOADED
}
