#include "dsp/uFFT.h"

#include "dsp/uFFTMath.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <utility>

// The transform is the plain radix-2 decimation in time: every butterfly takes the same
// operands, the same twiddle value and the same operations in the same order as the step-by-step
// evaluation (kept in uFFTPlain), so the results are identical to the last bit. The speed comes
// from elsewhere: twiddles of the stage recurrence and window values are computed once per size
// and cached, the data is split into real and imaginary arrays so that several butterflies run
// side by side in vector registers (SSE2, AVX2 or AVX-512, chosen at run time), two stages are
// done per pass over the data, and the bit reversal and the window are applied while the block
// is loaded. No fused multiply-add is used anywhere: it would change the rounding.

namespace {

typedef double VD2 __attribute__((vector_size(16)));
typedef double VD4 __attribute__((vector_size(32)));
typedef double VD8 __attribute__((vector_size(64)));

struct TFFTTables {
  size_t N = 0;
  std::vector<uint32_t> Rev;  // Rev[i]: the index that bit reversal moves to i
  std::vector<double> Window; // periodic Hann window
  std::vector<double> TwRe;   // twiddle m of the stage with half size M at index M + m
  std::vector<double> TwIm;
};

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
    T->Window[I] =
        0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(I) / static_cast<double>(N)));
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

// Tables up to this size are kept for the life of the process (about 1.8 MiB for all sizes
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

// One butterfly, written as the algorithm states it (works on scalars and vectors alike).
template <class V>
[[gnu::always_inline]] inline void Butterfly(V &ARe, V &AIm, V &BRe, V &BIm, const V &WRe, const V &WIm) {
  const V TmpRe = BRe * WRe - BIm * WIm;
  const V TmpIm = BIm * WRe + BRe * WIm;
  BRe = ARe - TmpRe;
  BIm = AIm - TmpIm;
  ARe = ARe + TmpRe;
  AIm = AIm + TmpIm;
}

template <class V> [[gnu::always_inline]] inline void LoadV(V &Out, const double *P) {
  std::memcpy(&Out, P, sizeof(V));
}
template <class V> [[gnu::always_inline]] inline void StoreV(double *P, const V &In) {
  std::memcpy(P, &In, sizeof(V));
}

// Loads one block in bit-reversed order into split arrays, widening to 64 bits and applying
// the window when asked.
template <bool Windowed, class S> void LoadBlock(const TFFTTables &T, const S *Src, double *Re, double *Im) {
  const size_t N = T.N;
  const uint32_t *Rev = T.Rev.data();
  const double *W = T.Window.data();
  for (size_t I = 0; I < N; ++I) {
    const uint32_t R = Rev[I];
    double XRe = static_cast<double>(Src[R].Re);
    double XIm = static_cast<double>(Src[R].Im);
    if constexpr (Windowed) {
      XRe = W[R] * XRe;
      XIm = W[R] * XIm;
    }
    Re[I] = XRe;
    Im[I] = XIm;
  }
}

// The first two stages (half sizes 1 and 2) on each group of four, several groups per vector:
// the values are regrouped in registers so that each lane does one butterfly.
template <class V>
[[gnu::always_inline]] inline void FirstStagesT(const TFFTTables &T, double *Re, double *Im) {
  constexpr size_t L = sizeof(V) / sizeof(double);
  const size_t N = T.N;
  const V W1Re = V{} + T.TwRe[1], W1Im = V{} + T.TwIm[1];
  V W23Re, W23Im; // twiddles 2 and 3 of the second stage, alternating
  for (size_t K = 0; K < L; ++K) {
    W23Re[K] = T.TwRe[2 + K % 2];
    W23Im[K] = T.TwIm[2 + K % 2];
  }
  // 2L values (L/2 groups of four) per step.
  for (size_t I = 0; I < N; I += 2 * L) {
    V R0, R1, I0, I1;
    LoadV(R0, Re + I);
    LoadV(R1, Re + I + L);
    LoadV(I0, Im + I);
    LoadV(I1, Im + I + L);
    if constexpr (L == 2) {
      // [x0 x1] [x2 x3] -> stage 1 pairs (x0,x1) and (x2,x3) as [x0 x2] [x1 x3]
      using M = long long __attribute__((vector_size(16)));
      V ARe = __builtin_shuffle(R0, R1, M{0, 2}), BRe = __builtin_shuffle(R0, R1, M{1, 3});
      V AIm = __builtin_shuffle(I0, I1, M{0, 2}), BIm = __builtin_shuffle(I0, I1, M{1, 3});
      Butterfly(ARe, AIm, BRe, BIm, W1Re, W1Im);
      // [x0 x2] [x1 x3] -> stage 2 pairs (x0,x2) and (x1,x3) as [x0 x1] [x2 x3]
      V CRe = __builtin_shuffle(ARe, BRe, M{0, 2}), DRe = __builtin_shuffle(ARe, BRe, M{1, 3});
      V CIm = __builtin_shuffle(AIm, BIm, M{0, 2}), DIm = __builtin_shuffle(AIm, BIm, M{1, 3});
      Butterfly(CRe, CIm, DRe, DIm, W23Re, W23Im);
      StoreV(Re + I, CRe);
      StoreV(Re + I + L, DRe);
      StoreV(Im + I, CIm);
      StoreV(Im + I + L, DIm);
    } else {
      static_assert(L == 4);
      using M = long long __attribute__((vector_size(32)));
      // [x0 x1 x2 x3] [y0 y1 y2 y3] -> [x0 x2 y0 y2] [x1 x3 y1 y3]
      V ARe = __builtin_shuffle(R0, R1, M{0, 2, 4, 6}), BRe = __builtin_shuffle(R0, R1, M{1, 3, 5, 7});
      V AIm = __builtin_shuffle(I0, I1, M{0, 2, 4, 6}), BIm = __builtin_shuffle(I0, I1, M{1, 3, 5, 7});
      Butterfly(ARe, AIm, BRe, BIm, W1Re, W1Im);
      // [x0 x2 y0 y2] [x1 x3 y1 y3] -> [x0 x1 y0 y1] [x2 x3 y2 y3]
      V CRe = __builtin_shuffle(ARe, BRe, M{0, 4, 2, 6}), DRe = __builtin_shuffle(ARe, BRe, M{1, 5, 3, 7});
      V CIm = __builtin_shuffle(AIm, BIm, M{0, 4, 2, 6}), DIm = __builtin_shuffle(AIm, BIm, M{1, 5, 3, 7});
      Butterfly(CRe, CIm, DRe, DIm, W23Re, W23Im);
      // back to [x0 x1 x2 x3] [y0 y1 y2 y3]
      StoreV(Re + I, V(__builtin_shuffle(CRe, DRe, M{0, 1, 4, 5})));
      StoreV(Re + I + L, V(__builtin_shuffle(CRe, DRe, M{2, 3, 6, 7})));
      StoreV(Im + I, V(__builtin_shuffle(CIm, DIm, M{0, 1, 4, 5})));
      StoreV(Im + I + L, V(__builtin_shuffle(CIm, DIm, M{2, 3, 6, 7})));
    }
  }
}

// Two stages (half sizes M and 2M) in one pass: each group of 4M values is finished for both
// stages while it sits in registers. Butterflies of one stage are independent of each other,
// so the order among them does not matter. M must be a multiple of the vector length.
template <class V>
[[gnu::always_inline]] inline void PairPassT(const TFFTTables &T, double *Re, double *Im, size_t M) {
  constexpr size_t L = sizeof(V) / sizeof(double);
  const size_t N = T.N;
  const double *TwRe = T.TwRe.data();
  const double *TwIm = T.TwIm.data();
  for (size_t Base = 0; Base < N; Base += 4 * M) {
    for (size_t K = 0; K < M; K += L) {
      const size_t I0 = Base + K;
      V R0, R1, R2, R3, I0v, I1v, I2v, I3v, W1Re, W1Im, W2Re, W2Im, W3Re, W3Im;
      LoadV(R0, Re + I0);
      LoadV(R1, Re + I0 + M);
      LoadV(R2, Re + I0 + 2 * M);
      LoadV(R3, Re + I0 + 3 * M);
      LoadV(I0v, Im + I0);
      LoadV(I1v, Im + I0 + M);
      LoadV(I2v, Im + I0 + 2 * M);
      LoadV(I3v, Im + I0 + 3 * M);
      LoadV(W1Re, TwRe + M + K);
      LoadV(W1Im, TwIm + M + K);
      Butterfly(R0, I0v, R1, I1v, W1Re, W1Im);
      Butterfly(R2, I2v, R3, I3v, W1Re, W1Im);
      LoadV(W2Re, TwRe + 2 * M + K);
      LoadV(W2Im, TwIm + 2 * M + K);
      LoadV(W3Re, TwRe + 3 * M + K);
      LoadV(W3Im, TwIm + 3 * M + K);
      Butterfly(R0, I0v, R2, I2v, W2Re, W2Im);
      Butterfly(R1, I1v, R3, I3v, W3Re, W3Im);
      StoreV(Re + I0, R0);
      StoreV(Re + I0 + M, R1);
      StoreV(Re + I0 + 2 * M, R2);
      StoreV(Re + I0 + 3 * M, R3);
      StoreV(Im + I0, I0v);
      StoreV(Im + I0 + M, I1v);
      StoreV(Im + I0 + 2 * M, I2v);
      StoreV(Im + I0 + 3 * M, I3v);
    }
  }
}

// The last stage alone (half size M = N/2), when the stage count is odd.
template <class V>
[[gnu::always_inline]] inline void LastPassT(const TFFTTables &T, double *Re, double *Im, size_t M) {
  constexpr size_t L = sizeof(V) / sizeof(double);
  const double *TwRe = T.TwRe.data();
  const double *TwIm = T.TwIm.data();
  for (size_t K = 0; K < M; K += L) {
    V R0, R1, I0v, I1v, WRe, WIm;
    LoadV(R0, Re + K);
    LoadV(R1, Re + K + M);
    LoadV(I0v, Im + K);
    LoadV(I1v, Im + K + M);
    LoadV(WRe, TwRe + M + K);
    LoadV(WIm, TwIm + M + K);
    Butterfly(R0, I0v, R1, I1v, WRe, WIm);
    StoreV(Re + K, R0);
    StoreV(Re + K + M, R1);
    StoreV(Im + K, I0v);
    StoreV(Im + K + M, I1v);
  }
}

// All stages of a block of at least 8 values that is already in bit-reversed order: the
// first two and the stages of short half sizes with VS, the others with the wider VB.
template <class VS, class VB>
[[gnu::always_inline]] inline void RunStagesT(const TFFTTables &T, double *Re, double *Im) {
  constexpr size_t LB = sizeof(VB) / sizeof(double);
  const size_t N = T.N;
  FirstStagesT<VS>(T, Re, Im);
  size_t M = 4;
  for (; 4 * M <= N; M *= 4) {
    if (M < LB)
      PairPassT<VS>(T, Re, Im, M);
    else
      PairPassT<VB>(T, Re, Im, M);
  }
  if (2 * M <= N) {
    if (M < LB)
      LastPassT<VS>(T, Re, Im, M);
    else
      LastPassT<VB>(T, Re, Im, M);
  }
}

void RunStagesSSE2(const TFFTTables &T, double *Re, double *Im) {
  RunStagesT<VD2, VD2>(T, Re, Im);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void RunStagesAVX2(const TFFTTables &T, double *Re, double *Im) {
  RunStagesT<VD4, VD4>(T, Re, Im);
}

[[gnu::target("avx512f")]] void RunStagesAVX512(const TFFTTables &T, double *Re, double *Im) {
  RunStagesT<VD4, VD8>(T, Re, Im);
}

// 0: SSE2 only, 1: AVX2, 2: AVX-512 (the compiler's checks include the system's support).
int SupportedVectorLevel() {
  static const int Level = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
      return 2;
    return __builtin_cpu_supports("avx2") ? 1 : 0;
  }();
  return Level;
}
#else
int SupportedVectorLevel() {
  return 0;
}
#endif

std::atomic<int> GVectorLimit{2};

// The vector width in use; lowered only by tests, to check that every width gives the same bits.
int VectorLevel() {
  return std::min(SupportedVectorLevel(), GVectorLimit.load(std::memory_order_relaxed));
}

void RunStages(const TFFTTables &T, double *Re, double *Im) {
  if (T.N < 8) {
    // Too short for the vector passes: the stages one butterfly at a time.
    for (size_t M = 1; M < T.N; M *= 2)
      for (size_t Base = 0; Base < T.N; Base += 2 * M)
        for (size_t K = 0; K < M; ++K)
          Butterfly(Re[Base + K], Im[Base + K], Re[Base + K + M], Im[Base + K + M], T.TwRe[M + K],
                    T.TwIm[M + K]);
    return;
  }
#if defined(__x86_64__) || defined(__i386__)
  switch (VectorLevel()) {
  case 2:
    RunStagesAVX512(T, Re, Im);
    return;
  case 1:
    RunStagesAVX2(T, Re, Im);
    return;
  default:
    break;
  }
#endif
  RunStagesSSE2(T, Re, Im);
}

// Working buffers of one call, reused for every block.
struct TWork {
  std::vector<double> Re, Im;
  explicit TWork(size_t N) : Re(N), Im(N) {}
};

// Windowed and transformed block of T.N samples into Wk.Re, Wk.Im (not shifted).
void TransformBlock(const TFFTTables &T, const TComplexSample *Block, TWork &Wk) {
  LoadBlock<true>(T, Block, Wk.Re.data(), Wk.Im.data());
  RunStages(T, Wk.Re.data(), Wk.Im.data());
}

// Floored squared magnitudes of a transformed block, shifted so that index N/2 is 0 Hz, into
// Max (First) or max-held into it (a value replaces the held one only when strictly greater).
template <bool First> void HoldPower(const TWork &Wk, size_t N, double *Max) {
  const size_t Half = N / 2;
  for (size_t Part = 0; Part < 2; ++Part) {
    const double *Re = Wk.Re.data() + (Part == 0 ? Half : 0);
    const double *Im = Wk.Im.data() + (Part == 0 ? Half : 0);
    double *Out = Max + (Part == 0 ? 0 : Half);
    const size_t Count = Part == 0 ? N - Half : Half;
    for (size_t I = 0; I < Count; ++I) {
      double Mag2 = Re[I] * Re[I] + Im[I] * Im[I];
      Mag2 = Mag2 < PSD_POWER_FLOOR ? PSD_POWER_FLOOR : Mag2;
      if constexpr (First)
        Out[I] = Mag2;
      else
        Out[I] = Mag2 > Out[I] ? Mag2 : Out[I];
    }
  }
}

} // namespace

int FFTVectorLevel() {
  return VectorLevel();
}

void LimitFFTVectorLevel(int MaxLevel) {
  GVectorLimit.store(MaxLevel, std::memory_order_relaxed);
}

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
  LoadBlock<false>(*T, Data.data(), Re, Im);
  RunStages(*T, Re, Im);
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
  for (size_t I = 0; I < N; ++I) {
    const double W =
        0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(I) / static_cast<double>(N)));
    Data[I].Re = W * Data[I].Re;
    Data[I].Im = W * Data[I].Im;
  }
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
    const double *Re = Wk.Re.data();
    const double *Im = Wk.Im.data();
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
  RowCount = 0;
  if (Decimation < 1)
    Decimation = 1;
  if (!ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT))
    return;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Hop = WaterfallHop(NFFT, Overlap);
  const int64_t TotalRaw = static_cast<int64_t>(Samples.size() - N) / Hop + 1;
  int64_t Dec = Decimation;
  int64_t Blocks = TotalRaw;
  if (Dec > 1) {
    Blocks = TotalRaw / Dec;
    if (Blocks <= 0) {
      Blocks = 1;
      Dec = TotalRaw;
    }
  }
  const int64_t DecRowCount = (MaxRows > 0 && MaxRows < Blocks) ? MaxRows : Blocks;
  const int64_t Count = std::min<int64_t>(DecRowCount, static_cast<int64_t>(Rows.size()));
  if (Count <= 0)
    return;
  const auto T = GetTables(N);
  TWork Wk(N);
  std::vector<double> Power(N);
  // Only the raw rows of the selected blocks are computed. The maximum is taken on the linear
  // power: float(10 log10 x) never decreases as x grows, so the maximum of the dB values is the
  // dB value of the maximum, and a later equal value would not have replaced the first anyway.
  for (int64_t R = 0; R < Count; ++R) {
    const int64_t Block = Blocks - DecRowCount + R;
    const TComplexSample *First = Samples.data() + static_cast<size_t>(Block * Dec * Hop);
    for (int64_t K = 0; K < Dec; ++K) {
      TransformBlock(*T, First + static_cast<size_t>(K * Hop), Wk);
      if (K == 0)
        HoldPower<true>(Wk, N, Power.data());
      else
        HoldPower<false>(Wk, N, Power.data());
    }
    TSingleArray &Row = Rows[static_cast<size_t>(R)];
    Row.resize(N);
    for (size_t I = 0; I < N; ++I)
      Row[I] = static_cast<float>(10.0 * std::log10(Power[I]));
  }
  RowCount = static_cast<int32_t>(Count);
}
