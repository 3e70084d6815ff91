// The plug-in's module and its activation context.
#pragma once

#include <windows.h>

// The module this code is linked into (the plug-in DLL, or a test executable).
HINSTANCE ThisModule();

// Activates the module's own manifest (common controls version 6) for the scope.
// A DLL's manifest takes effect only inside such a context: without it the viewer's
// controls would be the host's version, whatever the host process asked for.
class TActCtxActivation {
public:
  TActCtxActivation();
  TActCtxActivation(const TActCtxActivation &) = delete;
  TActCtxActivation &operator=(const TActCtxActivation &) = delete;
  ~TActCtxActivation();

private:
  ULONG_PTR FCookie = 0;
  bool FActive = false;
};
