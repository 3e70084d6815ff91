#include "base/win32_uModule.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ThisModule() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

namespace {
// Created on first use, never released: windows created in it may outlive any viewer,
// and the process tears the context down with the module.
HANDLE ModuleActCtx() {
  static HANDLE ctx = [] {
    ACTCTXW ac{};
    ac.cbSize = sizeof(ac);
    ac.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ac.hModule = ThisModule();
    ac.lpResourceName = MAKEINTRESOURCEW(2);
    return CreateActCtxW(&ac);
  }();
  return ctx;
}
} // namespace

TActCtxActivation::TActCtxActivation() {
  HANDLE ctx = ModuleActCtx();
  if (ctx != INVALID_HANDLE_VALUE)
    FActive = ActivateActCtx(ctx, &FCookie) != FALSE;
}

TActCtxActivation::~TActCtxActivation() {
  if (FActive)
    DeactivateActCtx(0, FCookie);
}
