// Process-wide registry that maps a viewer's root window to its viewer. Used only on
// the host's user-interface thread, so it takes no lock.
#pragma once

#include <cstdint>

class TViewerForm;

using TWindowHandle = uintptr_t;

struct TFormMapEntry {
  TWindowHandle Wnd = 0;
  TViewerForm *Form = nullptr; // not owning
};

inline constexpr int32_t FORM_MAP_CAPACITY = 32;

extern TFormMapEntry GFormMap[FORM_MAP_CAPACITY];
extern int32_t GFormCount;

// A full registry ignores further viewers: they still work as windows but get no handling.
void RegisterForm(TWindowHandle AWnd, TViewerForm *AForm);
void UnregisterForm(TWindowHandle AWnd);
TViewerForm *FindForm(TWindowHandle AWnd);

// A registration, undone with UnregisterForm when the owner goes (move-only).
class TUnregisterForm {
public:
  TUnregisterForm() = default;
  TUnregisterForm(TWindowHandle AWnd, TViewerForm *AForm) : FWnd(AWnd) { RegisterForm(AWnd, AForm); }
  TUnregisterForm(const TUnregisterForm &) = delete;
  TUnregisterForm &operator=(const TUnregisterForm &) = delete;
  TUnregisterForm(TUnregisterForm &&o) noexcept : FWnd(o.FWnd) { o.FWnd = 0; }
  TUnregisterForm &operator=(TUnregisterForm &&o) noexcept {
    if (this != &o) {
      if (FWnd)
        UnregisterForm(FWnd);
      FWnd = o.FWnd;
      o.FWnd = 0;
    }
    return *this;
  }
  ~TUnregisterForm() {
    if (FWnd)
      UnregisterForm(FWnd);
  }

private:
  TWindowHandle FWnd = 0;
};
