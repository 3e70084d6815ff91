// The legend: a modal table of every signal of the recording, one row each, nine columns.
#pragma once

#include <windows.h>

#include <cstdint>

class TViewerCore;

inline constexpr int32_t BASE_DLG_W = 900; // legend size at 96 dots per inch
inline constexpr int32_t BASE_DLG_H = 480;
inline constexpr int32_t BASE_BTN_W = 100;
inline constexpr int32_t BASE_BTN_H = 28;
inline constexpr const wchar_t *LEGEND_TITLE = L"Signallegende";

// Shows the legend of Core's signals over Root (disabled meanwhile) and returns when it is
// closed. Nothing is shown when there are no signals. The caller stops playback first.
void ShowLegendDialog(HWND Root, const TViewerCore &Core);
