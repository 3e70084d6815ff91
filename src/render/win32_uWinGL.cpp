// LoadOpenGL: opengl32.dll is loaded at run time, once per process, and never unloaded.
#include <windows.h>

#include "render/uWinGL.h"

void *GetGL(const char *Name) {
  if (!HOpenGL)
    return nullptr;
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(HOpenGL), Name));
}

bool LoadOpenGL() {
  if (HOpenGL)
    return true;
  HMODULE Lib = LoadLibraryA("opengl32.dll");
  if (!Lib)
    return false;
  HOpenGL = Lib;
  // A missing name leaves its entry null; Render checks before drawing.
  LoadGLEntries(GL, GetGL, true);
  return true;
}
