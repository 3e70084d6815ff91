#include "render/uSwapProbe.h"

#include <cstdlib>

namespace {

// Equal up to rounding: dithering and multisample resolves may differ by a unit or two.
bool Same(uint32_t A, uint32_t B) {
  for (int Shift = 0; Shift < 24; Shift += 8) {
    const int D = static_cast<int>((A >> Shift) & 0xFF) - static_cast<int>((B >> Shift) & 0xFF);
    if (std::abs(D) > 2)
      return false;
  }
  return true;
}

} // namespace

TSwapVerdict JudgeSwap(const std::vector<uint32_t> &Before, const std::vector<uint32_t> &Drawn,
                       const std::vector<uint32_t> &After) {
  const size_t N = Before.size();
  if (N == 0 || Drawn.size() != N || After.size() != N)
    return TSwapVerdict::Unknown;
  size_t Telling = 0, Shown = 0, Stayed = 0;
  for (size_t I = 0; I < N; ++I) {
    if (Same(Drawn[I], Before[I]))
      continue;
    ++Telling;
    if (Same(After[I], Drawn[I]))
      ++Shown;
    else if (Same(After[I], Before[I]))
      ++Stayed;
  }
  // At least a few places, and a twentieth of them, must tell the frame from the old screen.
  if (Telling < 4 || Telling * 20 < N)
    return TSwapVerdict::Unknown;
  if (Shown * 2 >= Telling)
    return TSwapVerdict::Shown;
  if (Stayed * 10 >= Telling * 9)
    return TSwapVerdict::Lost;
  return TSwapVerdict::Unknown;
}

std::vector<uint32_t> SamplePixels(const uint32_t *Pixels, int32_t W, int32_t H, int32_t GridW,
                                   int32_t GridH) {
  std::vector<uint32_t> Out;
  if (!Pixels || W <= 0 || H <= 0 || GridW <= 0 || GridH <= 0)
    return Out;
  Out.reserve(static_cast<size_t>(GridW) * static_cast<size_t>(GridH));
  for (int32_t GY = 0; GY < GridH; ++GY) {
    // The middle of each grid cell, so that the window's edges are left out.
    const int64_t Y = (2 * int64_t{GY} + 1) * H / (2 * int64_t{GridH});
    for (int32_t GX = 0; GX < GridW; ++GX) {
      const int64_t X = (2 * int64_t{GX} + 1) * W / (2 * int64_t{GridW});
      Out.push_back(Pixels[Y * W + X]);
    }
  }
  return Out;
}
