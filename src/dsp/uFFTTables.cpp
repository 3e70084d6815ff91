#include "dsp/uFFTTables.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <mutex>
#include <numbers>

namespace fftimpl {

double HannCoefficient(size_t I, size_t N) {
  return 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(I) / static_cast<double>(N)));
}

namespace {

std::shared_ptr<const TFFTTables> BuildTables(size_t N) {
  auto T = std::make_shared<TFFTTables>();
  T->N = N;
  T->Rev.resize(N);
  const int Bits = std::countr_zero(N);
  for (size_t I = 0; I < N; ++I) {
    size_t R = 0;
    for (int B = 0; B < Bits; ++B)
      R |= ((I >> B) & 1u) << (Bits - 1 - B);
    T->Rev[I] = static_cast<uint32_t>(R);
  }
  T->Window.resize(N);
  for (size_t I = 0; I < N; ++I)
    T->Window[I] = HannCoefficient(I, N);
  T->WindowRev.resize(N);
  for (size_t I = 0; I < N; ++I)
    T->WindowRev[I] = T->Window[T->Rev[I]];
  if (N >= 64) {
    // Tile after tile, eight runs of eight values each (see TransformBlockAVX512).
    const size_t Top = N / 8;
    T->WindowTile.resize(N);
    for (size_t Mid = 0, K = 0; Mid < Top; Mid += 8)
      for (size_t A = 0; A < 8; ++A)
        for (size_t C = 0; C < 8; ++C)
          T->WindowTile[K++] = T->Window[A * Top + Mid + C];
  }
  // The recurrence exactly as each stage of the transform runs it, values stored instead of used.
  T->TwRe.assign(std::max<size_t>(N, 2), 0.0);
  T->TwIm.assign(std::max<size_t>(N, 2), 0.0);
  for (size_t MMax = 1; MMax < N; MMax *= 2) {
    const size_t Step = 2 * MMax;
    const double Theta = -2.0 * std::numbers::pi / static_cast<double>(Step);
    const double WPRe = std::cos(Theta) - 1.0;
    const double WPIm = std::sin(Theta);
    double WRe = 1.0;
    double WIm = 0.0;
    for (size_t M = 0; M < MMax; ++M) {
      T->TwRe[MMax + M] = WRe;
      T->TwIm[MMax + M] = WIm;
      const double URe = WRe;
      const double UIm = WIm;
      WRe = URe * WPRe + URe - UIm * WPIm;
      WIm = WPIm * URe + UIm + WPRe * UIm;
    }
  }
  return T;
}

} // namespace

// Tables up to this size are kept for the life of the process (about 4.5 MiB for all sizes
// together); larger ones are built for the call.
constexpr int MAX_CACHED_BITS = 16;

std::shared_ptr<const TFFTTables> GetTables(size_t N) {
  const int Bits = std::countr_zero(N);
  if (Bits > MAX_CACHED_BITS)
    return BuildTables(N);
  static std::mutex Lock;
  static std::array<std::shared_ptr<const TFFTTables>, MAX_CACHED_BITS + 1> Cache;
  std::lock_guard<std::mutex> Guard(Lock);
  if (!Cache[static_cast<size_t>(Bits)])
    Cache[static_cast<size_t>(Bits)] = BuildTables(N);
  return Cache[static_cast<size_t>(Bits)];
}

bool IsPow2(size_t N) {
  return N != 0 && (N & (N - 1)) == 0;
}

} // namespace fftimpl
