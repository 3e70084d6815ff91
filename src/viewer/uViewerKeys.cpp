#include "viewer/uViewerKeys.h"

namespace {

// One row per claimed key. Rows are added with the features that use them.
constexpr TViewerKey VIEWER_KEYS[] = {
    {0, KMOD_NONE, TViewerAction::None, "", ""}, // placeholder: keeps the array non-empty
    {'I', KMOD_NONE, TViewerAction::ShowInfo, "I", "Information about the recording and its sources"},
};

} // namespace

std::span<const TViewerKey> ViewerKeys() {
  std::span<const TViewerKey> All(VIEWER_KEYS);
  return All.subspan(1); // without the placeholder
}

const TViewerKey *FindViewerKey(uint32_t Key, uint8_t Mods) {
  for (const TViewerKey &K : ViewerKeys())
    if (K.Key == Key && K.Mods == Mods)
      return &K;
  return nullptr;
}

bool IsHostListerKey(uint32_t Key, uint8_t Mods) {
  if (Key == KEY_ESCAPE || (Key >= KEY_F1 && Key <= KEY_F24))
    return true;
  const bool Ctrl = (Mods & KMOD_CTRL) != 0;
  if (Ctrl)
    return Key == 'A' || Key == 'C' || Key == 'P' || Key == 'F';
  switch (Key) {
  case 'N':
  case 'P':
  case 'A':
  case 'S':
  case 'V':
  case 'W':
  case 'F':
  case 'Q':
    return true;
  default:
    return Key >= '1' && Key <= '7';
  }
}
