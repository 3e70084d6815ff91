// Waterfall rows as jobs of transforms shared out among worker threads: each row the max-hold of
// its transforms' powers, converted to levels, with the same bits whatever the thread count.
#pragma once

#include "dsp/uFFT.h"
#include "dsp/uFFTTables.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fftimpl {

// The selected rows of one call. Evenly: row R is the max-hold over the Dec transforms
// starting at FirstSample + R * RowStride + K * Hop, K = 0 .. Dec - 1. In groups (Cum not
// empty): row R holds the Cum[R + 1] - Cum[R] transforms starting at FirstSample +
// (First[R] + K) * Hop. Either way the transforms are numbered row after row, and the
// threads share them out by those numbers.
struct TRowsJob {
  const TFFTTables *T = nullptr;
  const TComplexSample *FirstSample = nullptr;
  size_t N = 0;
  int64_t Hop = 0, Dec = 0, Count = 0;
  int64_t RowStride = 0;
  std::vector<int64_t> Cum, First;
  TSingleArray *Rows = nullptr; // Count of them

  int64_t RowBegin(int64_t R) const { return Cum.empty() ? R * Dec : Cum[static_cast<size_t>(R)]; }
  int64_t Total() const { return RowBegin(Count); }
  // The row that transform G belongs to.
  int64_t RowOf(int64_t G) const {
    if (Cum.empty())
      return G / Dec;
    return static_cast<int64_t>(std::upper_bound(Cum.begin(), Cum.end(), G) - Cum.begin()) - 1;
  }
  const TComplexSample *Block(int64_t R, int64_t K) const {
    if (Cum.empty())
      return FirstSample + static_cast<size_t>(R * RowStride + K * Hop);
    return FirstSample + static_cast<size_t>((First[static_cast<size_t>(R)] + K) * Hop);
  }
};

// A job of Count rows at a hop of Hop, row R evenly of the Dec transforms starting at FirstSample
// + R * RowStride (callers that group rows fill Cum and First afterwards).
TRowsJob MakeRowsJob(const TFFTTables &T, const TComplexSample *FirstSample, int64_t Hop, int64_t Dec,
                     int64_t Count, int64_t RowStride, TSingleArray *Rows);

// Raw spectra per row and whole rows among TotalRaw raw spectra: Decimation (raised to 1), or
// all of them in one row when not one whole row fits.
void ChooseDecimation(int64_t TotalRaw, int32_t Decimation, int64_t &Dec, int64_t &Blocks);

// The job on as many threads as it is worth (or as tests ask for). Threads: 0 for the count
// WaterfallThreadsFor gives, otherwise exactly that many (at most one per transform).
void RunRowsJob(const TRowsJob &J, int32_t NFFT, int32_t Threads = 0);

// ComputeWaterfallRows with a thread count (0: as WaterfallThreadsFor says).
void ComputeWaterfallRowsOn(const TComplexArray &Samples, int32_t NFFT, double Overlap, int32_t MaxRows,
                            TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation, int32_t Threads);

} // namespace fftimpl
