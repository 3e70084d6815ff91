#include "dsp/uFFT.h"

#include "dsp/uFFTKernels.h"
#include "dsp/uFFTMath.h"
#include "dsp/uFFTRows.h"
#include "dsp/uFFTTables.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

// The public calls; the work is done in uFFTTables (per-size tables), uFFTKernels (the vector
// transform), uFFTPower (held powers), uFFTLevels (dB levels) and uFFTRows (row jobs and threads).

using namespace fftimpl;

int32_t NextPow2(int32_t N) {
  constexpr int32_t Largest = int32_t(1) << 30;
  if (N > Largest)
    return Largest;
  int32_t R = 1;
  while (R < N)
    R *= 2;
  return R;
}

void BitReverse(TComplex64Array &Data) {
  const size_t N = Data.size();
  if (N < 2)
    return;
  if (!IsPow2(N))
    throw EFFTSizeError("BitReverse: length " + std::to_string(N) + " is not a power of two");
  const auto T = GetTables(N);
  for (size_t I = 0; I < N; ++I) {
    const size_t J = T->Rev[I];
    if (J > I)
      std::swap(Data[I], Data[J]);
  }
}

void FFT(TComplex64Array &Data) {
  const size_t N = Data.size();
  if (N <= 1)
    return;
  if (!IsPow2(N))
    throw EFFTSizeError("FFT: length " + std::to_string(N) + " is not a power of two");
  const auto T = GetTables(N);
  // Uninitialised: every value is written by the load.
  const std::unique_ptr<double[]> Split(new double[2 * N]);
  double *Re = Split.get();
  double *Im = Re + N;
  TransformValues(*T, Data.data(), Re, Im);
  for (size_t I = 0; I < N; ++I)
    Data[I] = {Re[I], Im[I]};
}

void FFTShift(TComplex64Array &Data) {
  const size_t Half = Data.size() / 2;
  std::swap_ranges(Data.begin(), Data.begin() + static_cast<ptrdiff_t>(Half),
                   Data.begin() + static_cast<ptrdiff_t>(Half));
}

void ApplyHannWindow(TComplex64Array &Data) {
  const size_t N = Data.size();
  if (IsPow2(N)) {
    const auto T = GetTables(N);
    for (size_t I = 0; I < N; ++I) {
      Data[I].Re = T->Window[I] * Data[I].Re;
      Data[I].Im = T->Window[I] * Data[I].Im;
    }
    return;
  }
  const std::vector<double> W = HannWindow(N);
  for (size_t I = 0; I < N; ++I) {
    Data[I].Re = W[I] * Data[I].Re;
    Data[I].Im = W[I] * Data[I].Im;
  }
}

std::vector<double> HannWindow(size_t N) {
  if (IsPow2(N)) {
    const auto T = GetTables(N);
    return std::vector<double>(T->Window.begin(), T->Window.end());
  }
  std::vector<double> W(N);
  for (size_t I = 0; I < N; ++I)
    W[I] = HannCoefficient(I, N);
  return W;
}

int32_t WaterfallHop(int32_t NFFT, double Overlap) {
  const double H = std::nearbyint((1.0 - Overlap) * static_cast<double>(NFFT));
  if (!(H >= 1.0)) // also NaN
    return 1;
  if (H >= 2147483647.0)
    return 2147483647;
  return static_cast<int32_t>(H);
}

void ComputePSD(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                TFloatArray &Freqs, TFloatArray &PSD_dB) {
  Freqs.clear();
  PSD_dB.clear();
  if (!ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT))
    return;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Segments = PSDSegmentCount(Samples.size(), NFFT, AvgSegments);
  const auto T = GetTables(N);
  TWork Wk(N);
  TFloatArray Acc(N, 0.0);
  for (int64_t Seg = 0; Seg < Segments; ++Seg) {
    TransformBlock(*T, Samples.data() + static_cast<size_t>(Seg) * N, Wk);
    const double *Re = Wk.Re;
    const double *Im = Wk.Im;
    const size_t Half = N / 2;
    for (size_t I = 0; I < N; ++I) {
      const size_t K = I < Half ? I + Half : I - Half;
      Acc[I] = Acc[I] + Re[K] * Re[K] + Im[K] * Im[K];
    }
  }
  PSD_dB.resize(N);
  Freqs.resize(N);
  for (size_t I = 0; I < N; ++I) {
    PSD_dB[I] = PowerToDb(Acc[I] / static_cast<double>(Segments));
    Freqs[I] = BinFrequency(I, NFFT, SampleRate);
  }
}

void ComputeWaterfallRows(const TComplexArray &Samples, double /*SampleRate*/, int32_t NFFT, double Overlap,
                          int32_t MaxRows, TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation) {
  ComputeWaterfallRowsOn(Samples, NFFT, Overlap, MaxRows, Rows, RowCount, Decimation, 0);
}

void ComputeWaterfallChunkRows(const TComplexArray &Samples, int64_t ChunkSamples, int32_t NFFT,
                               double Overlap, int32_t Decimation, TRowBuffer &Rows, int32_t &RowCount) {
  ComputeWaterfallChunkRows(std::span<const TComplexSample>(Samples), ChunkSamples, NFFT, Overlap, Decimation,
                            std::span<TSingleArray>(Rows), RowCount, 0);
}

void ComputeWaterfallChunkRows(std::span<const TComplexSample> Samples, int64_t ChunkSamples, int32_t NFFT,
                               double Overlap, int32_t Decimation, std::span<TSingleArray> Rows,
                               int32_t &RowCount, int32_t Threads) {
  RowCount = 0;
  if (!ValidFFTSize(NFFT) || ChunkSamples < NFFT)
    return;
  const int64_t N = NFFT;
  const int64_t Size = static_cast<int64_t>(Samples.size());
  const int64_t Whole = Size / ChunkSamples;
  const int64_t Cap = static_cast<int64_t>(std::min<size_t>(Rows.size(), INT32_MAX));
  const int64_t Count = std::min(Whole, Cap);
  if (Count > 0) {
    // Every whole chunk selects the same transforms relative to its start: the newest block
    // of Dec raw spectra, as ComputeWaterfallRows picks it with a row limit of 1.
    const int64_t Hop = WaterfallHop(NFFT, Overlap);
    const int64_t TotalRaw = (ChunkSamples - N) / Hop + 1;
    int64_t Dec = 0, Blocks = 0;
    ChooseDecimation(TotalRaw, Decimation, Dec, Blocks);
    const auto T = GetTables(static_cast<size_t>(N));
    RunRowsJob(MakeRowsJob(*T, Samples.data() + static_cast<size_t>((Blocks - 1) * Dec * Hop), Hop, Dec,
                           Count, ChunkSamples, Rows.data()),
               NFFT, Threads);
  }
  RowCount = static_cast<int32_t>(Count);
  // A shorter last chunk has a block layout of its own.
  const int64_t Rest = Size - Whole * ChunkSamples;
  if (Count == Whole && Count < Cap && Rest >= N) {
    const TComplexArray Last(Samples.begin() + static_cast<ptrdiff_t>(Whole * ChunkSamples), Samples.end());
    TRowBuffer One(1);
    std::swap(One[0], Rows[static_cast<size_t>(Count)]); // reuse the caller's row storage
    int32_t Got = 0;
    ComputeWaterfallRowsOn(Last, NFFT, Overlap, 1, One, Got, Decimation, Threads);
    std::swap(One[0], Rows[static_cast<size_t>(Count)]);
    RowCount += Got;
  }
}

void ComputeWaterfallPooledRows(const TComplexArray &Samples, int32_t NFFT, double Overlap, int32_t K,
                                TRowBuffer &Rows, int32_t &RowCount) {
  ComputeWaterfallPooledRows(std::span<const TComplexSample>(Samples), NFFT, Overlap, K,
                             std::span<TSingleArray>(Rows), RowCount, 0);
}

void ComputeWaterfallPooledRows(std::span<const TComplexSample> Samples, int32_t NFFT, double Overlap,
                                int32_t K, std::span<TSingleArray> Rows, int32_t &RowCount, int32_t Threads) {
  RowCount = 0;
  if (!ValidFFTSize(NFFT) || K < 1 || Samples.size() < static_cast<size_t>(NFFT))
    return;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Hop = WaterfallHop(NFFT, Overlap);
  const int64_t M = static_cast<int64_t>(Samples.size() - N) / Hop + 1;
  const int64_t Count = std::min<int64_t>(K, static_cast<int64_t>(Rows.size()));
  if (Count <= 0)
    return;
  const auto T = GetTables(N);
  TRowsJob J = MakeRowsJob(*T, Samples.data(), Hop, 1, Count, 0, Rows.data());
  J.Cum.resize(static_cast<size_t>(Count) + 1);
  J.First.resize(static_cast<size_t>(Count));
  // Max-holding the linear power and converting once gives the largest level: the conversion
  // never decreases as the power grows (see ComputeWaterfallRows).
  for (int64_t R = 0; R < Count; ++R) {
    const int64_t A = R * M / K;
    const int64_t B = std::min(std::max(A + 1, (R + 1) * M / K), M);
    J.First[static_cast<size_t>(R)] = A;
    J.Cum[static_cast<size_t>(R) + 1] = J.Cum[static_cast<size_t>(R)] + (B - A);
  }
  RunRowsJob(J, NFFT, Threads);
  RowCount = static_cast<int32_t>(Count);
}
