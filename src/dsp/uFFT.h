// CPU spectral analysis: radix-2 FFT in 64-bit floating point, periodic Hann window,
// FFT shift, averaged PSD and waterfall rows. Results depend only on the arguments;
// the only state kept between calls is caches of twiddle and window tables.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <vector>

#include "base/uGlobals.h"

struct TComplex64 {
  double Re = 0.0;
  double Im = 0.0;
};
using TComplex64Array = std::vector<TComplex64>;

// Raised by BitReverse and FFT for a length that is not a power of two.
class EFFTSizeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Power floor of the spectra (linear), that is -120 dB.
inline constexpr double PSD_POWER_FLOOR = 1e-12;

// Smallest power of two >= N; 1 for N <= 1. Larger N than 2^30 give 2^30 (the largest
// power of two of the type) instead of overflowing.
int32_t NextPow2(int32_t N);

// Bit-reversal permutation in place (power-of-two length).
void BitReverse(TComplex64Array &Data);

// Forward transform in place, kernel e^(-2*pi*i*n*k/N), unnormalised.
// The length must be a power of two; lengths 0 and 1 are left unchanged.
void FFT(TComplex64Array &Data);

// Swaps the two halves, so that bin 0 moves to index N/2.
void FFTShift(TComplex64Array &Data);

// Multiplies both components by the periodic Hann window 0.5 * (1 - cos(2*pi*i/N)).
void ApplyHannWindow(TComplex64Array &Data);
// The coefficients ApplyHannWindow multiplies by, for callers that window data of their own.
std::vector<double> HannWindow(size_t N);

// Averaged periodogram of AvgSegments consecutive NFFT blocks from the start of Samples
// (at least 1, at most as many as fit). Freqs in Hz relative to the centre (index NFFT/2 is
// 0 Hz), PSD_dB the unnormalised windowed power in dB, floor -120 dB. Both empty when there
// are fewer than NFFT samples or NFFT is not a power of two.
void ComputePSD(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                TFloatArray &Freqs, TFloatArray &PSD_dB);

// Hop between waterfall frames: (1 - Overlap) * NFFT rounded half to even, at least 1.
// A NaN overlap counts as 1 (hop 1); hops beyond 2^31 - 1 are capped there, which changes
// nothing since such a hop leaves room for one frame only.
int32_t WaterfallHop(int32_t NFFT, double Overlap);

// Short-time spectra (dB, NFFT values per row, lowest frequency first) at a hop of
// (1 - Overlap) * NFFT samples, optionally max-held over Decimation consecutive rows,
// keeping the newest MaxRows rows (MaxRows <= 0: no limit). Rows.size() is the capacity:
// Rows[0 .. RowCount-1] are filled, oldest first. With fewer than NFFT samples RowCount is 0
// and Rows is untouched; the same for an NFFT that is not a power of two. SampleRate does not
// influence the rows.
// Large calls spread their transforms over worker threads that are started and joined within
// the call; the caller sees a plain synchronous function, and the rows are the same bytes
// whatever the number of threads.
void ComputeWaterfallRows(const TComplexArray &Samples, double SampleRate, int32_t NFFT, double Overlap,
                          int32_t MaxRows, TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation);

// The rows of consecutive chunks of ChunkSamples samples each (the last may be shorter), one
// row per chunk: Rows[c] is what ComputeWaterfallRows gives for chunk c alone with a row limit
// of 1, bit for bit, for any overlap and decimation. Chunks are taken in order until one holds
// fewer than NFFT samples or Rows is full; RowCount says how many. Handing many chunks to one
// call lets their transforms share the worker threads, where a call per chunk would be too small
// to spread.
void ComputeWaterfallChunkRows(const TComplexArray &Samples, int64_t ChunkSamples, int32_t NFFT,
                               double Overlap, int32_t Decimation, TRowBuffer &Rows, int32_t &RowCount);

// The same on Threads threads (0: as WaterfallThreadsFor says), into the rows of a span: for
// callers that spread whole pieces of a recording over their own threads, or that compute
// straight into rows they keep.
void ComputeWaterfallChunkRows(std::span<const TComplexSample> Samples, int64_t ChunkSamples, int32_t NFFT,
                               double Overlap, int32_t Decimation, std::span<TSingleArray> Rows,
                               int32_t &RowCount, int32_t Threads);

// The raw spectra of Samples (one per transform at a hop of (1 - Overlap) * NFFT, M of them)
// pooled into K rows by max-hold: row J holds raw spectra A = J * M / K up to, not including,
// max(A + 1, (J + 1) * M / K). The same bits as converting every raw spectrum to a row and then
// taking the largest level of each bin over a group, at a fraction of the cost, and spread over
// the worker threads like the other calls. Rows.size() is the capacity; RowCount is 0 when
// there are fewer than NFFT samples, K < 1 or NFFT is not a power of two.
void ComputeWaterfallPooledRows(const TComplexArray &Samples, int32_t NFFT, double Overlap, int32_t K,
                                TRowBuffer &Rows, int32_t &RowCount);
// The same on Threads threads (0: as WaterfallThreadsFor says), into the rows of a span.
void ComputeWaterfallPooledRows(std::span<const TComplexSample> Samples, int32_t NFFT, double Overlap,
                                int32_t K, std::span<TSingleArray> Rows, int32_t &RowCount, int32_t Threads);

// Threads ComputeWaterfallRows, ComputeWaterfallChunkRows and ComputeWaterfallPooledRows use. 0 (the
// default): chosen per call from the processor count and the amount of work, one thread for small calls. N >=
// 1: exactly N (at most one per transform) whatever the work, so that tests and benchmarks can compare thread
// counts.
void SetWaterfallThreads(int32_t Count);
// The thread count a call of Transforms transforms of NFFT points uses: the one SetWaterfallThreads
// fixed (at most one per transform), or else the automatic choice.
int32_t WaterfallThreadsFor(int64_t Transforms, int32_t NFFT);
// The thread count an automatic choice would give a call of Transforms transforms of NFFT points.
int32_t AutoWaterfallThreads(int64_t Transforms, int32_t NFFT);
// Runs Work on the calling thread and on up to Threads - 1 worker threads, all joined before
// the return (fewer when the system gives no more). Work takes its pieces itself and must not
// throw.
void RunOnThreads(int32_t Threads, const std::function<void()> &Work);
