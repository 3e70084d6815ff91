#include "viewer/uViewerKeys.h"

namespace {

// One row per claimed key. Rows are added with the features that use them.
constexpr TViewerKey VIEWER_KEYS[] = {
    {0, KMOD_NONE, TViewerAction::None, "", ""}, // placeholder: keeps the array non-empty
    {'I', KMOD_NONE, TViewerAction::ShowInfo, "I", "Information about the recording and its sources"},
    {KEY_OEM_PLUS, KMOD_NONE, TViewerAction::ZoomIn, "+", "zoom in (also the wheel)"},
    {KEY_ADD, KMOD_NONE, TViewerAction::ZoomIn, "Num +", "zoom in"},
    {KEY_OEM_MINUS, KMOD_NONE, TViewerAction::ZoomOut, "-", "zoom out"},
    {KEY_SUBTRACT, KMOD_NONE, TViewerAction::ZoomOut, "Num -", "zoom out"},
    {'0', KMOD_NONE, TViewerAction::ZoomReset, "0", "whole band (also a double-click)"},
    {KEY_LEFT, KMOD_SHIFT, TViewerAction::PanLeft, "Shift+Left", "pan down (also dragging)"},
    {KEY_RIGHT, KMOD_SHIFT, TViewerAction::PanRight, "Shift+Right", "pan up"},
    {'M', KMOD_NONE, TViewerAction::MarkerToPeak, "M", "marker 1 to the strongest bin in view"},
    {'C', KMOD_NONE, TViewerAction::ClearMarkers, "C", "clear markers (click: 1, Shift+click: 2)"},
    {'L', KMOD_NONE, TViewerAction::AutoLevels, "L", "levels from what is in view"},
    {'K', KMOD_NONE, TViewerAction::PeakHold, "K", "peak-hold trace on/off"},
    {'O', KMOD_NONE, TViewerAction::Overview, "O", "overview of the whole recording on/off"},
    {'S', KMOD_CTRL, TViewerAction::Export, "Ctrl+S", "save the picture as PNG"},
    {'H', KMOD_NONE, TViewerAction::Help, "H", "this help on/off"},
};

} // namespace

std::span<const TViewerKey> ViewerKeys() {
  std::span<const TViewerKey> All(VIEWER_KEYS);
  return All.subspan(1); // without the placeholder
}

const TViewerKey *FindViewerKey(uint32_t Key, uint8_t Mods) {
  // "+" needs Shift on some layouts (US: Shift+=) and not on others (German): both zoom.
  if (Key == KEY_OEM_PLUS && Mods == KMOD_SHIFT)
    Mods = KMOD_NONE;
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
