// What a viewer's buttons, mouse and keys do, for every window system alike: the toolbar's
// buttons and their texts, the hover state behind the tooltip and the frequency readout, the
// settings dialog's outcome and the legend's texts. A platform creates its widgets from these
// tables, forwards its events here and shows what comes back; it holds no rule of its own.
// Portable: never includes <windows.h>.
#pragma once

#include "viewer/uViewerCore.h"
#include "viewer/uViewerSettings.h"

#include <array>
#include <cstdint>
#include <string>

// The toolbar's buttons, in toolbar order (the order of TViewerLayout::Buttons).
enum class TViewerButton : uint8_t { Play, Step, Reset, Overlay, Settings, Legend };
inline constexpr int32_t VIEWER_BUTTON_COUNT = 6;

// Button texts (UTF-8) as the toolbar shows them when the viewer opens.
const std::array<const char *, VIEWER_BUTTON_COUNT> &ViewerButtonTexts();
// The overlay button's text for the overlay's state.
const char *OverlayButtonText(bool Visible);

// What the platform must do after a button press.
enum class TButtonFollowUp : uint8_t {
  None,         // the core did everything
  OverlayText,  // set the overlay button's text (OverlayButtonText) and refresh the hover
  OpenSettings, // playback is stopped: open the settings dialog
  OpenLegend,   // playback is stopped: open the legend (only sent when there are signals)
};

// Runs button B on Core (never throws).
TButtonFollowUp PressViewerButton(TViewerCore &Core, TViewerButton B) noexcept;

// The settings dialog: the texts it opens with, and what OK with the edited texts does (every
// accepted field applied, refused ones kept, then the viewer recomputed).
TSettingsTexts SettingsDialogTexts(const TViewerCore &Core);
void ApplySettingsDialog(TViewerCore &Core, const TSettingsTexts &Texts) noexcept;
inline constexpr const char *SETTINGS_TITLE = "Zembrola Settings";
inline constexpr const char *SETTINGS_OK = "OK";
inline constexpr const char *SETTINGS_CANCEL = "Cancel";

// The legend's texts.
inline constexpr const char *LEGEND_TITLE_UTF8 = "Signallegende";
inline constexpr const char *LEGEND_CLOSE_UTF8 = "Schlie\xC3\x9F"
                                                 "en";

// The mouse over the drawing area: the last point seen, and what it shows.
inline constexpr int32_t HOVER_NONE = INT32_MIN;
struct THoverState {
  int32_t LastX = HOVER_NONE, LastY = HOVER_NONE;
};
struct THoverView {
  bool Changed = false; // false: the point is the one seen last, nothing to update
  std::string Readout;  // the frequency readout's text
  bool ShowTip = false; // the tooltip is shown (with TipText), else hidden
  std::string TipText;
};
// A move to (X, Y): what readout and tooltip show now.
THoverView HoverMove(THoverState &H, const TViewerCore &Core, int32_t X, int32_t Y) noexcept;
// The mouse left: readout emptied, tooltip hidden, the point forgotten.
THoverView HoverLeave(THoverState &H) noexcept;
// The last point again, after the drawing changed under a resting mouse; Changed is false when
// the mouse is not over the drawing area.
THoverView HoverRefresh(const THoverState &H, const TViewerCore &Core) noexcept;
