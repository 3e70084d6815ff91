// Where the viewer's child windows go for a given client size of the root window. Sizes are
// given at 96 dots per inch and scaled by Scale (the window's dots per inch / 96), each
// rounded on its own, halves to even.
#pragma once

#include <cstdint>

struct TLayoutRect {
  int32_t X = 0, Y = 0, W = 0, H = 0;
  bool operator==(const TLayoutRect &) const = default;
};

inline constexpr int32_t LAYOUT_BUTTON_COUNT = 6;

struct TViewerLayout {
  // Play, step, reset, overlay, settings, legend: the order of the toolbar.
  TLayoutRect Buttons[LAYOUT_BUTTON_COUNT];
  TLayoutRect GL, Slider, Status, Freq;
  int32_t ToolbarH = 0; // height of the painted toolbar strip
};

// ClientW and ClientH are the root window's client size. The drawing window fills the width
// and the height between the toolbar and the slider (never less than 0); slider, status text
// and frequency readout stay at the bottom, the readout at the right.
TViewerLayout ComputeViewerLayout(int32_t ClientW, int32_t ClientH, double Scale);
