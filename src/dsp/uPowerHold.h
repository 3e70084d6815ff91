// The strongest power of every frequency bin over all the transforms of a long stretch, for a
// pass over a whole recording. Hann-windowed transforms without overlap, in single precision,
// with as many transforms side by side as a vector register holds (16, 8 or 4 lanes): the
// double-precision transform, kept bit for bit elsewhere, costs about three times as much, and
// a level shown in a picture needs no more than single precision.
#pragma once

#include "base/uGlobals.h"

#include <cstdint>
#include <memory>
#include <span>

class TPowerHold {
public:
  // NFFT: a power of two from 16 to 65536; anything else throws EFFTSizeError.
  explicit TPowerHold(int32_t NFFT);
  ~TPowerHold();
  TPowerHold(TPowerHold &&) noexcept;
  TPowerHold &operator=(TPowerHold &&) noexcept;
  TPowerHold(const TPowerHold &) = delete;
  TPowerHold &operator=(const TPowerHold &) = delete;

  // Forgets every transform held so far.
  void Reset();
  // Every whole transform of Samples (the rest is ignored), held with those before.
  void Add(std::span<const TComplexSample> Samples);
  // The same from interleaved I, Q values as stored, each scaled by Scale on the way in.
  void AddInt16(std::span<const int16_t> Values, float Scale);

  int32_t Size() const;
  int64_t Transforms() const;
  // False once a power was not a finite number: a sample that was not, or a transform beyond
  // single precision's range. The held levels then do not tell the truth; the caller has the
  // double-precision transform for such stretches.
  bool Finite() const;
  // The held powers as waterfall levels (floored, in dB), lowest frequency first; empty while
  // no transform is held.
  void Levels(TSingleArray &Row) const;

  struct TImpl; // the tables, the batch in flight and the held powers

private:
  std::unique_ptr<TImpl> F;
};
