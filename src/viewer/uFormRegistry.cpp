#include "viewer/uFormRegistry.h"

TFormMapEntry GFormMap[FORM_MAP_CAPACITY];
int32_t GFormCount = 0;

void RegisterForm(TWindowHandle AWnd, TViewerForm *AForm) {
  if (GFormCount >= FORM_MAP_CAPACITY)
    return;
  GFormMap[GFormCount] = {AWnd, AForm};
  ++GFormCount;
}

void UnregisterForm(TWindowHandle AWnd) {
  for (int32_t i = 0; i < GFormCount; ++i) {
    if (GFormMap[i].Wnd == AWnd) {
      // Order does not matter: the last entry fills the gap.
      GFormMap[i] = GFormMap[GFormCount - 1];
      GFormMap[GFormCount - 1] = {};
      --GFormCount;
      return;
    }
  }
}

TViewerForm *FindForm(TWindowHandle AWnd) {
  for (int32_t i = 0; i < GFormCount; ++i)
    if (GFormMap[i].Wnd == AWnd)
      return GFormMap[i].Form;
  return nullptr;
}
