// The information box: a modal window listing where the recording's values came from.
#pragma once

#include <windows.h>

#include <cstdint>

class TViewerCore;

inline constexpr int32_t BASE_INFO_W = 560; // size at 96 dots per inch
inline constexpr int32_t BASE_INFO_H = 300;

// Shows the information about Core's recording over Owner (disabled meanwhile) and returns
// when it is closed. The caller stops playback first.
void ShowInfoDialog(HWND Owner, const TViewerCore &Core);
