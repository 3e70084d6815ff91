// The part of the frequency band the viewer shows: zoom and pan as fractions of the whole span
// (0 = its lowest frequency, 1 = its highest), so a view survives a new PSD or a settings change
// that keeps the span. Portable.
#pragma once

#include <cstdint>

// Zoom factor of one wheel step (a step in narrows the view to this part of its width).
inline constexpr double ZOOM_STEP = 0.8;
// The narrowest view, in bins of the finer transform.
inline constexpr int32_t ZOOM_MIN_BINS = 4;

struct TBandView {
  double S0 = 0.0, S1 = 1.0;

  bool Zoomed() const { return S0 > 0.0 || S1 < 1.0; }
  void Reset() { S0 = 0.0, S1 = 1.0; }
  // The view's frequencies within the whole span FullLo .. FullHi.
  double LoHz(double FullLo, double FullHi) const { return FullLo + S0 * (FullHi - FullLo); }
  double HiHz(double FullLo, double FullHi) const { return FullLo + S1 * (FullHi - FullLo); }
  // Width times Factor (< 1 narrows), keeping the point At (a fraction of the whole band) where
  // it is on screen; never narrower than MinWidth, never wider than the band, always inside it.
  void ZoomAround(double At, double Factor, double MinWidth);
  // Moves the view by Delta (a fraction of the whole band), stopping at the band's edges.
  void PanBy(double Delta);
  // Shows LoHz .. HiHz of the span FullLo .. FullHi (clipped to it, at least MinWidth wide);
  // false, changing nothing, when the two do not overlap or are no numbers.
  bool SetHz(double FullLo, double FullHi, double LoHz, double HiHz, double MinWidth);
};
