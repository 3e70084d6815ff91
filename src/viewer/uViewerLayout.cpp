#include "viewer/uViewerLayout.h"

#include <cmath>

namespace {

constexpr int32_t TOOLBAR_H96 = 32, SLIDER_H96 = 26, STATUS_H96 = 22, FREQ_W96 = 150;
// x and width of the six buttons at 96 dots per inch; all sit at y 4 with the toolbar's height - 8.
constexpr int32_t BUTTON_X96[LAYOUT_BUTTON_COUNT] = {4, 88, 172, 256, 370, 464};
constexpr int32_t BUTTON_W96[LAYOUT_BUTTON_COUNT] = {80, 80, 80, 110, 90, 90};

} // namespace

TViewerLayout ComputeViewerLayout(int32_t ClientW, int32_t ClientH, double Scale) {
  if (!(Scale > 0) || !std::isfinite(Scale))
    Scale = 1.0;
  // nearbyint rounds halves to even in the default rounding mode.
  const auto SC = [Scale](int32_t V) { return static_cast<int32_t>(std::nearbyint(V * Scale)); };
  const int32_t TB = SC(TOOLBAR_H96), SL = SC(SLIDER_H96), ST = SC(STATUS_H96), FW = SC(FREQ_W96);
  TViewerLayout L;
  L.ToolbarH = TB;
  for (int32_t i = 0; i < LAYOUT_BUTTON_COUNT; ++i)
    L.Buttons[i] = {SC(BUTTON_X96[i]), SC(4), SC(BUTTON_W96[i]), TB - SC(8)};
  const int32_t GLH = ClientH - TB - SL - ST;
  L.GL = {0, TB, ClientW, GLH > 0 ? GLH : 0};
  L.Slider = {0, ClientH - SL - ST, ClientW, SL};
  L.Status = {SC(4), ClientH - ST, ClientW - SC(8) - FW, ST};
  L.Freq = {ClientW - SC(4) - FW, ClientH - ST, FW, ST};
  return L;
}
