// Small rules shared by the fast and the literal evaluation, so that both select the same
// blocks and convert powers to dB the same way.
#pragma once

#include "dsp/uFFT.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

// Power-of-two sizes only; other lengths have no radix-2 transform.
inline bool ValidFFTSize(int32_t NFFT) {
  return NFFT >= 1 && (NFFT & (NFFT - 1)) == 0;
}

// AvgSegments lowered to the number of whole blocks, then raised to 1.
inline int64_t PSDSegmentCount(size_t SampleCount, int32_t NFFT, int32_t AvgSegments) {
  const int64_t MaxPossible = static_cast<int64_t>(SampleCount / static_cast<size_t>(NFFT));
  int64_t Segments = AvgSegments;
  if (Segments > MaxPossible)
    Segments = MaxPossible;
  if (Segments < 1)
    Segments = 1;
  return Segments;
}

inline double PowerToDb(double V) {
  if (V < PSD_POWER_FLOOR)
    V = PSD_POWER_FLOOR;
  return 10.0 * std::log10(V);
}

inline double BinFrequency(size_t I, int32_t NFFT, double SampleRate) {
  return static_cast<double>(static_cast<int64_t>(I) - NFFT / 2) * SampleRate / static_cast<double>(NFFT);
}
