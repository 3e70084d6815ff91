#include "viewer/uViewerController.h"

#include "base/uLog.h"

const std::array<const char *, VIEWER_BUTTON_COUNT> &ViewerButtonTexts() {
  static const std::array<const char *, VIEWER_BUTTON_COUNT> Texts = {
      PLAY_TEXT,     "\xE2\x8F\xAD Schritt",  "\xE2\x86\xBA Reset",
      "Overlay: An", "\xE2\x9A\x99 Settings", "\xE2\x98\xB0 Legende",
  };
  return Texts;
}

const char *OverlayButtonText(bool Visible) {
  return Visible ? "Overlay: An" : "Overlay: Aus";
}

TButtonFollowUp PressViewerButton(TViewerCore &Core, TViewerButton B) noexcept {
  switch (B) {
  case TViewerButton::Play:
    Core.TogglePlay();
    return TButtonFollowUp::None;
  case TViewerButton::Step:
    Core.StepOnce();
    return TButtonFollowUp::None;
  case TViewerButton::Reset:
    Core.ResetPlay();
    return TButtonFollowUp::None;
  case TViewerButton::Overlay:
    Core.ToggleOverlay();
    return TButtonFollowUp::OverlayText;
  case TViewerButton::Settings:
    Log("HandleCommand: opening settings dialog");
    Core.StopPlay();
    return TButtonFollowUp::OpenSettings;
  case TViewerButton::Legend:
    Core.StopPlay();
    return Core.FSignalModel.FSignalCount > 0 ? TButtonFollowUp::OpenLegend : TButtonFollowUp::None;
  }
  return TButtonFollowUp::None;
}

TSettingsTexts SettingsDialogTexts(const TViewerCore &Core) {
  return FormatSettingsTexts(Core.GetSettings());
}

void ApplySettingsDialog(TViewerCore &Core, const TSettingsTexts &Texts) noexcept {
  try {
    TViewerSettings S = Core.GetSettings();
    ApplySettingsTexts(S, Texts); // a refused field keeps its value
    Core.ApplySettings(S);
  } catch (...) {
    // Out of memory for the texts: the settings stay as they were.
  }
}

namespace {

THoverView Evaluate(const TViewerCore &Core, int32_t X, int32_t Y) {
  const TMouseInfo M = Core.MouseAt(X, Y);
  THoverView V;
  V.Changed = true;
  V.Readout = M.Readout;
  V.ShowTip = M.Pick >= 0;
  if (V.ShowTip)
    V.TipText = M.InfoText;
  return V;
}

} // namespace

THoverView HoverMove(THoverState &H, const TViewerCore &Core, int32_t X, int32_t Y) noexcept {
  if (X == H.LastX && Y == H.LastY)
    return {};
  H.LastX = X;
  H.LastY = Y;
  try {
    return Evaluate(Core, X, Y);
  } catch (...) {
    return {}; // out of memory for a text: readout and tooltip stay as they were
  }
}

THoverView HoverLeave(THoverState &H) noexcept {
  H.LastX = H.LastY = HOVER_NONE;
  THoverView V;
  V.Changed = true;
  return V;
}

THoverView HoverRefresh(const THoverState &H, const TViewerCore &Core) noexcept {
  if (H.LastX == HOVER_NONE && H.LastY == HOVER_NONE)
    return {};
  try {
    return Evaluate(Core, H.LastX, H.LastY);
  } catch (...) {
    return {};
  }
}
