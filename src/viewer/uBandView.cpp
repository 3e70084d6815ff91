#include "viewer/uBandView.h"

#include <algorithm>
#include <cmath>

namespace {
// Puts a view of width W starting at A inside 0..1.
void Place(double A, double W, double &S0, double &S1) {
  W = std::clamp(W, 0.0, 1.0);
  A = std::clamp(A, 0.0, 1.0 - W);
  S0 = A;
  S1 = A + W;
  if (S1 > 1.0 || W >= 1.0)
    S1 = 1.0;
}
} // namespace

void TBandView::ZoomAround(double At, double Factor, double MinWidth) {
  if (!std::isfinite(At) || !(Factor > 0.0) || !std::isfinite(Factor))
    return;
  const double W0 = S1 - S0;
  const double W = std::clamp(W0 * Factor, std::clamp(MinWidth, 0.0, 1.0), 1.0);
  // At keeps its place: the same share of the view lies left of it before and after.
  const double Share = W0 > 0.0 ? std::clamp((At - S0) / W0, 0.0, 1.0) : 0.5;
  Place(At - Share * W, W, S0, S1);
}

void TBandView::PanBy(double Delta) {
  if (std::isfinite(Delta))
    Place(S0 + Delta, S1 - S0, S0, S1);
}

bool TBandView::SetHz(double FullLo, double FullHi, double LoHz, double HiHz, double MinWidth) {
  const double Span = FullHi - FullLo;
  if (!(Span > 0.0) || !std::isfinite(Span) || !std::isfinite(LoHz) || !std::isfinite(HiHz))
    return false;
  if (LoHz > HiHz)
    std::swap(LoHz, HiHz);
  const double A = std::max((LoHz - FullLo) / Span, 0.0), B = std::min((HiHz - FullLo) / Span, 1.0);
  if (!(A < B) && !(A == B && A >= 0.0 && A <= 1.0))
    return false;
  const double W = std::max(B - A, std::clamp(MinWidth, 0.0, 1.0));
  Place((A + B) / 2 - W / 2, W, S0, S1);
  return true;
}
