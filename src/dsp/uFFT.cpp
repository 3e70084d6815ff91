#include "dsp/uFFT.h"

#include "dsp/uFFTMath.h"
#include "dsp/uFFTPlain.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <string>
#include <thread>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

// The transform is the plain radix-2 decimation in time: every butterfly takes the same
// operands, the same twiddle value and the same operations in the same order as the step-by-step
// evaluation (kept in uFFTPlain), so the results are identical to the last bit. The speed comes
// from elsewhere: twiddles of the stage recurrence and window values are computed once per size
// and cached, the data is split into real and imaginary arrays so that several butterflies run
// side by side in vector registers (SSE2, AVX2 or AVX-512, chosen at run time), two or three
// stages are done per pass over the data, and the bit reversal and the window are applied while
// the block is loaded (with AVX-512 by tiles of 8 x 8, together with the first three stages). No fused
// multiply-add is used anywhere: it would change the rounding.

namespace {

typedef double VD2 __attribute__((vector_size(16)));
typedef double VD4 __attribute__((vector_size(32)));
typedef double VD8 __attribute__((vector_size(64)));

// Arrays of doubles on cache-line boundaries: a vector load that straddles two lines costs
// about twice as much, and every pass of the transform is made of such loads.
template <class T> struct TLineAllocator {
  using value_type = T;
  static constexpr std::align_val_t ALIGN{64};
  TLineAllocator() = default;
  template <class U> TLineAllocator(const TLineAllocator<U> &) {}
  T *allocate(size_t N) { return static_cast<T *>(::operator new(N * sizeof(T), ALIGN)); }
  void deallocate(T *P, size_t) { ::operator delete(P, ALIGN); }
  template <class U> bool operator==(const TLineAllocator<U> &) const { return true; }
};
using TLineDoubles = std::vector<double, TLineAllocator<double>>;

struct TFFTTables {
  size_t N = 0;
  std::vector<uint32_t> Rev; // Rev[i]: the index that bit reversal moves to i
  TLineDoubles Window;       // periodic Hann window
  TLineDoubles WindowRev;    // WindowRev[i] = Window[Rev[i]]: read in step with the load
  TLineDoubles WindowTile;   // the window in the order of the tiled load (N >= 64)
  TLineDoubles TwRe;         // twiddle m of the stage with half size M at index M + m
  TLineDoubles TwIm;
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
  const double *W = T.WindowRev.data();
  for (size_t I = 0; I < N; ++I) {
    const uint32_t R = Rev[I];
    double XRe = static_cast<double>(Src[R].Re);
    double XIm = static_cast<double>(Src[R].Im);
    if constexpr (Windowed) {
      XRe = W[I] * XRe;
      XIm = W[I] * XIm;
    }
    Re[I] = XRe;
    Im[I] = XIm;
  }
}

#if defined(__x86_64__) || defined(__i386__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// Eight rows of an 8 x 8 tile transposed in registers: on return R[C] holds element C of every row.
[[gnu::target("avx512f"), gnu::always_inline]] inline void Transpose8x8(__m512d &R0, __m512d &R1, __m512d &R2,
                                                                        __m512d &R3, __m512d &R4, __m512d &R5,
                                                                        __m512d &R6, __m512d &R7) {
  // Pairs of rows interleaved: T0 = r0[0] r1[0] r0[2] r1[2] ..., T1 = r0[1] r1[1] r0[3] r1[3] ...
  const __m512d T0 = _mm512_unpacklo_pd(R0, R1), T1 = _mm512_unpackhi_pd(R0, R1);
  const __m512d T2 = _mm512_unpacklo_pd(R2, R3), T3 = _mm512_unpackhi_pd(R2, R3);
  const __m512d T4 = _mm512_unpacklo_pd(R4, R5), T5 = _mm512_unpackhi_pd(R4, R5);
  const __m512d T6 = _mm512_unpacklo_pd(R6, R7), T7 = _mm512_unpackhi_pd(R6, R7);
  // Four rows: elements K and K + 4 of rows 0-3 (or 4-7).
  const __m512i Lo = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0),
                Hi = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  const __m512d V0 = _mm512_permutex2var_pd(T0, Lo, T2), V1 = _mm512_permutex2var_pd(T0, Hi, T2);
  const __m512d V2 = _mm512_permutex2var_pd(T1, Lo, T3), V3 = _mm512_permutex2var_pd(T1, Hi, T3);
  const __m512d W0 = _mm512_permutex2var_pd(T4, Lo, T6), W1 = _mm512_permutex2var_pd(T4, Hi, T6);
  const __m512d W2 = _mm512_permutex2var_pd(T5, Lo, T7), W3 = _mm512_permutex2var_pd(T5, Hi, T7);
  // Halves joined: element K of all eight rows.
  R0 = _mm512_shuffle_f64x2(V0, W0, 0x44);
  R4 = _mm512_shuffle_f64x2(V0, W0, 0xEE);
  R2 = _mm512_shuffle_f64x2(V1, W1, 0x44);
  R6 = _mm512_shuffle_f64x2(V1, W1, 0xEE);
  R1 = _mm512_shuffle_f64x2(V2, W2, 0x44);
  R5 = _mm512_shuffle_f64x2(V2, W2, 0xEE);
  R3 = _mm512_shuffle_f64x2(V3, W3, 0x44);
  R7 = _mm512_shuffle_f64x2(V3, W3, 0xEE);
}

#pragma GCC diagnostic pop
#endif

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

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// Three stages (half sizes M, 2M and 4M) in one pass: each group of 8M values is finished for
// all three while it sits in registers; the butterflies and twiddles are those of the stages
// one at a time. M must be a multiple of 8.
[[gnu::target("avx512f"), gnu::always_inline]] inline void TriplePassAVX512(const TFFTTables &T, double *Re,
                                                                            double *Im, size_t M) {
  const double *TwRe = T.TwRe.data();
  const double *TwIm = T.TwIm.data();
  for (size_t Base = 0; Base < T.N; Base += 8 * M) {
    for (size_t K = 0; K < M; K += 8) {
      double *PRe = Re + Base + K, *PIm = Im + Base + K;
      __m512d R0 = _mm512_loadu_pd(PRe), R1 = _mm512_loadu_pd(PRe + M), R2 = _mm512_loadu_pd(PRe + 2 * M),
              R3 = _mm512_loadu_pd(PRe + 3 * M), R4 = _mm512_loadu_pd(PRe + 4 * M),
              R5 = _mm512_loadu_pd(PRe + 5 * M), R6 = _mm512_loadu_pd(PRe + 6 * M),
              R7 = _mm512_loadu_pd(PRe + 7 * M);
      __m512d I0 = _mm512_loadu_pd(PIm), I1 = _mm512_loadu_pd(PIm + M), I2 = _mm512_loadu_pd(PIm + 2 * M),
              I3 = _mm512_loadu_pd(PIm + 3 * M), I4 = _mm512_loadu_pd(PIm + 4 * M),
              I5 = _mm512_loadu_pd(PIm + 5 * M), I6 = _mm512_loadu_pd(PIm + 6 * M),
              I7 = _mm512_loadu_pd(PIm + 7 * M);
      __m512d WRe, WIm;
      WRe = _mm512_loadu_pd(TwRe + M + K);
      WIm = _mm512_loadu_pd(TwIm + M + K);
      Butterfly(R0, I0, R1, I1, WRe, WIm);
      Butterfly(R2, I2, R3, I3, WRe, WIm);
      Butterfly(R4, I4, R5, I5, WRe, WIm);
      Butterfly(R6, I6, R7, I7, WRe, WIm);
      WRe = _mm512_loadu_pd(TwRe + 2 * M + K);
      WIm = _mm512_loadu_pd(TwIm + 2 * M + K);
      Butterfly(R0, I0, R2, I2, WRe, WIm);
      Butterfly(R4, I4, R6, I6, WRe, WIm);
      WRe = _mm512_loadu_pd(TwRe + 3 * M + K);
      WIm = _mm512_loadu_pd(TwIm + 3 * M + K);
      Butterfly(R1, I1, R3, I3, WRe, WIm);
      Butterfly(R5, I5, R7, I7, WRe, WIm);
      WRe = _mm512_loadu_pd(TwRe + 4 * M + K);
      WIm = _mm512_loadu_pd(TwIm + 4 * M + K);
      Butterfly(R0, I0, R4, I4, WRe, WIm);
      WRe = _mm512_loadu_pd(TwRe + 5 * M + K);
      WIm = _mm512_loadu_pd(TwIm + 5 * M + K);
      Butterfly(R1, I1, R5, I5, WRe, WIm);
      WRe = _mm512_loadu_pd(TwRe + 6 * M + K);
      WIm = _mm512_loadu_pd(TwIm + 6 * M + K);
      Butterfly(R2, I2, R6, I6, WRe, WIm);
      WRe = _mm512_loadu_pd(TwRe + 7 * M + K);
      WIm = _mm512_loadu_pd(TwIm + 7 * M + K);
      Butterfly(R3, I3, R7, I7, WRe, WIm);
      _mm512_storeu_pd(PRe, R0);
      _mm512_storeu_pd(PRe + M, R1);
      _mm512_storeu_pd(PRe + 2 * M, R2);
      _mm512_storeu_pd(PRe + 3 * M, R3);
      _mm512_storeu_pd(PRe + 4 * M, R4);
      _mm512_storeu_pd(PRe + 5 * M, R5);
      _mm512_storeu_pd(PRe + 6 * M, R6);
      _mm512_storeu_pd(PRe + 7 * M, R7);
      _mm512_storeu_pd(PIm, I0);
      _mm512_storeu_pd(PIm + M, I1);
      _mm512_storeu_pd(PIm + 2 * M, I2);
      _mm512_storeu_pd(PIm + 3 * M, I3);
      _mm512_storeu_pd(PIm + 4 * M, I4);
      _mm512_storeu_pd(PIm + 5 * M, I5);
      _mm512_storeu_pd(PIm + 6 * M, I6);
      _mm512_storeu_pd(PIm + 7 * M, I7);
    }
  }
}

// Eight samples widened to 64 bits and windowed: their Re parts into ORe, their Im parts into OIm.
[[gnu::target("avx512f"), gnu::always_inline]] inline void
LoadRunAVX512(const TComplexSample *Src, const double *W, __m512i Split, __m512d &ORe, __m512d &OIm) {
  const __m512 X = _mm512_permutexvar_ps(Split, _mm512_loadu_ps(&Src->Re));
  const __m512d Win = _mm512_loadu_pd(W);
  ORe = _mm512_mul_pd(Win, _mm512_cvtps_pd(_mm512_castps512_ps256(X)));
  OIm = _mm512_mul_pd(Win, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(X), 1))));
}

// The windowed transform of a block of at least 64 samples, not shifted, into Re and Im.
// The bit-reversed load goes by 8 x 8 tiles: a source index splits into its top three bits A,
// its middle bits B and its low three bits C, and bit reversal sends it to (rev C, rev B, rev A).
// For one B the 64 sources are eight runs of eight neighbours (a cache line of samples each), and
// so are their destinations. Loaded run by run, with run A in register rev A, lane C of register
// J holds destination (rev C, rev B, J): the first three stages, which combine destinations that
// differ in their low three bits only, are then butterflies between whole registers. The tile is
// transposed and written by runs, and the later stages go three at a time. Every butterfly has
// the operands, the twiddle and the operations of the stage-by-stage transform, so the result is
// the same bits.
[[gnu::target("avx512f")]] void TransformBlockAVX512(const TFFTTables &T, const TComplexSample *Src,
                                                     double *Re, double *Im) {
  const size_t N = T.N;
  const size_t Top = N >> 3; // weight of the top three bits
  const uint32_t *Rev = T.Rev.data();
  const double *W = T.WindowTile.data();
  const double *TwRe = T.TwRe.data(), *TwIm = T.TwIm.data();
  // Re parts of eight samples to the low half, Im parts to the high half.
  const __m512i Split = _mm512_set_epi32(15, 13, 11, 9, 7, 5, 3, 1, 14, 12, 10, 8, 6, 4, 2, 0);
  // Twiddles 1 to 7, the same in every lane.
  const __m512d W1Re = _mm512_set1_pd(TwRe[1]), W1Im = _mm512_set1_pd(TwIm[1]);
  const __m512d W2Re = _mm512_set1_pd(TwRe[2]), W2Im = _mm512_set1_pd(TwIm[2]);
  const __m512d W3Re = _mm512_set1_pd(TwRe[3]), W3Im = _mm512_set1_pd(TwIm[3]);
  const __m512d W4Re = _mm512_set1_pd(TwRe[4]), W4Im = _mm512_set1_pd(TwIm[4]);
  const __m512d W5Re = _mm512_set1_pd(TwRe[5]), W5Im = _mm512_set1_pd(TwIm[5]);
  const __m512d W6Re = _mm512_set1_pd(TwRe[6]), W6Im = _mm512_set1_pd(TwIm[6]);
  const __m512d W7Re = _mm512_set1_pd(TwRe[7]), W7Im = _mm512_set1_pd(TwIm[7]);
  for (size_t Mid = 0; Mid < Top; Mid += 8, W += 64) {
    __m512d R0, R1, R2, R3, R4, R5, R6, R7, I0, I1, I2, I3, I4, I5, I6, I7;
    LoadRunAVX512(Src + 0 * Top + Mid, W + 0 * 8, Split, R0, I0);
    LoadRunAVX512(Src + 4 * Top + Mid, W + 4 * 8, Split, R1, I1);
    LoadRunAVX512(Src + 2 * Top + Mid, W + 2 * 8, Split, R2, I2);
    LoadRunAVX512(Src + 6 * Top + Mid, W + 6 * 8, Split, R3, I3);
    LoadRunAVX512(Src + 1 * Top + Mid, W + 1 * 8, Split, R4, I4);
    LoadRunAVX512(Src + 5 * Top + Mid, W + 5 * 8, Split, R5, I5);
    LoadRunAVX512(Src + 3 * Top + Mid, W + 3 * 8, Split, R6, I6);
    LoadRunAVX512(Src + 7 * Top + Mid, W + 7 * 8, Split, R7, I7);
    // Half size 1: destinations J and J + 1 with twiddle 1.
    Butterfly(R0, I0, R1, I1, W1Re, W1Im);
    Butterfly(R2, I2, R3, I3, W1Re, W1Im);
    Butterfly(R4, I4, R5, I5, W1Re, W1Im);
    Butterfly(R6, I6, R7, I7, W1Re, W1Im);
    // Half size 2: J and J + 2 with twiddle 2 + J mod 2.
    Butterfly(R0, I0, R2, I2, W2Re, W2Im);
    Butterfly(R1, I1, R3, I3, W3Re, W3Im);
    Butterfly(R4, I4, R6, I6, W2Re, W2Im);
    Butterfly(R5, I5, R7, I7, W3Re, W3Im);
    // Half size 4: J and J + 4 with twiddle 4 + J.
    Butterfly(R0, I0, R4, I4, W4Re, W4Im);
    Butterfly(R1, I1, R5, I5, W5Re, W5Im);
    Butterfly(R2, I2, R6, I6, W6Re, W6Im);
    Butterfly(R3, I3, R7, I7, W7Re, W7Im);
    Transpose8x8(R0, R1, R2, R3, R4, R5, R6, R7);
    Transpose8x8(I0, I1, I2, I3, I4, I5, I6, I7);
    // Column C goes to the run that starts at (rev C, rev B, 0).
    const size_t D = Rev[Mid];
    _mm512_storeu_pd(Re + 0 * Top + D, R0);
    _mm512_storeu_pd(Re + 4 * Top + D, R1);
    _mm512_storeu_pd(Re + 2 * Top + D, R2);
    _mm512_storeu_pd(Re + 6 * Top + D, R3);
    _mm512_storeu_pd(Re + 1 * Top + D, R4);
    _mm512_storeu_pd(Re + 5 * Top + D, R5);
    _mm512_storeu_pd(Re + 3 * Top + D, R6);
    _mm512_storeu_pd(Re + 7 * Top + D, R7);
    _mm512_storeu_pd(Im + 0 * Top + D, I0);
    _mm512_storeu_pd(Im + 4 * Top + D, I1);
    _mm512_storeu_pd(Im + 2 * Top + D, I2);
    _mm512_storeu_pd(Im + 6 * Top + D, I3);
    _mm512_storeu_pd(Im + 1 * Top + D, I4);
    _mm512_storeu_pd(Im + 5 * Top + D, I5);
    _mm512_storeu_pd(Im + 3 * Top + D, I6);
    _mm512_storeu_pd(Im + 7 * Top + D, I7);
  }
  // The next three stages in one pass, the rest two at a time: on this hardware a pass of three
  // at the larger strides loses more to cache conflicts than it saves.
  size_t M = 8;
  if (8 * M <= N) {
    TriplePassAVX512(T, Re, Im, M);
    M *= 8;
  }
  for (; 4 * M <= N; M *= 4)
    PairPassT<VD8>(T, Re, Im, M);
  if (2 * M <= N)
    LastPassT<VD8>(T, Re, Im, M);
}
#pragma GCC diagnostic pop

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
  TLineDoubles Buf;
  double *Re, *Im;
  // Both halves in one block, Im right after Re. Other distances between them measured slower
  // here, a distance of one cache line (what two separate blocks tend to get) by about 10 %.
  explicit TWork(size_t N) : Buf(2 * N), Re(Buf.data()), Im(Buf.data() + N) {}
  TWork(const TWork &) = delete;
  TWork &operator=(const TWork &) = delete;
};

// Windowed and transformed block of T.N samples into Wk.Re, Wk.Im (not shifted).
void TransformBlock(const TFFTTables &T, const TComplexSample *Block, TWork &Wk) {
#if defined(__x86_64__) || defined(__i386__)
  if (T.N >= 64 && VectorLevel() == 2) {
    TransformBlockAVX512(T, Block, Wk.Re, Wk.Im);
    return;
  }
#endif
  LoadBlock<true>(T, Block, Wk.Re, Wk.Im);
  RunStages(T, Wk.Re, Wk.Im);
}

// Floored squared magnitudes of Count values into Out (First) or max-held into it (a value
// replaces the held one only when strictly greater, so a NaN held stays and a later NaN never
// replaces a number), V values at a time; Count must be a multiple of the vector length.
template <class V, bool First>
[[gnu::always_inline]] inline void HoldPowerT(const double *Re, const double *Im, size_t Count, double *Out) {
  constexpr size_t L = sizeof(V) / sizeof(double);
  const V Floor = V{} + PSD_POWER_FLOOR;
  for (size_t I = 0; I < Count; I += L) {
    V R, J, Mag2;
    LoadV(R, Re + I);
    LoadV(J, Im + I);
    Mag2 = R * R + J * J;
    Mag2 = Mag2 < Floor ? Floor : Mag2;
    if constexpr (!First) {
      V Held;
      LoadV(Held, Out + I);
      Mag2 = Mag2 > Held ? Mag2 : Held;
    }
    StoreV(Out + I, Mag2);
  }
}

template <bool First> void HoldPowerScalar(const double *Re, const double *Im, size_t Count, double *Out) {
  for (size_t I = 0; I < Count; ++I) {
    double Mag2 = Re[I] * Re[I] + Im[I] * Im[I];
    Mag2 = Mag2 < PSD_POWER_FLOOR ? PSD_POWER_FLOOR : Mag2;
    if constexpr (First)
      Out[I] = Mag2;
    else
      Out[I] = Mag2 > Out[I] ? Mag2 : Out[I];
  }
}

template <bool First> void HoldPowerSSE2(const double *Re, const double *Im, size_t Count, double *Out) {
  HoldPowerT<VD2, First>(Re, Im, Count, Out);
}
#if defined(__x86_64__) || defined(__i386__)
template <bool First>
[[gnu::target("avx2")]] void HoldPowerAVX2(const double *Re, const double *Im, size_t Count, double *Out) {
  HoldPowerT<VD4, First>(Re, Im, Count, Out);
}
template <bool First>
[[gnu::target("avx512f")]] void HoldPowerAVX512(const double *Re, const double *Im, size_t Count,
                                                double *Out) {
  HoldPowerT<VD8, First>(Re, Im, Count, Out);
}
#endif

// Floored squared magnitudes of a transformed block, shifted so that index N/2 is 0 Hz, into
// Max (First) or max-held into it.
template <bool First> void HoldPower(const TWork &Wk, size_t N, double *Max) {
  const size_t Half = N / 2;
  for (size_t Part = 0; Part < 2; ++Part) {
    const double *Re = Wk.Re + (Part == 0 ? Half : 0);
    const double *Im = Wk.Im + (Part == 0 ? Half : 0);
    double *Out = Max + (Part == 0 ? 0 : Half);
    const size_t Count = Part == 0 ? N - Half : Half;
    if (N < 16) {
      HoldPowerScalar<First>(Re, Im, Count, Out);
      continue;
    }
#if defined(__x86_64__) || defined(__i386__)
    const int Level = VectorLevel();
    if (Level == 2) {
      HoldPowerAVX512<First>(Re, Im, Count, Out);
      continue;
    }
    if (Level == 1) {
      HoldPowerAVX2<First>(Re, Im, Count, Out);
      continue;
    }
#endif
    HoldPowerSSE2<First>(Re, Im, Count, Out);
  }
}

// ---- levels of the waterfall rows ----

// Reciprocals and log2 of the middles of K equal stretches of [1, 2).
template <int K> struct TLog2Table {
  alignas(64) double InvC[K];  // 1 / c, c the middle of stretch J
  alignas(64) double Log2C[K]; // -log2(InvC)
  TLog2Table() {
    for (int J = 0; J < K; ++J) {
      InvC[J] = 1.0 / (1.0 + (J + 0.5) / K);
      Log2C[J] = -std::log2(InvC[J]);
    }
  }
};

template <int K> const TLog2Table<K> &Log2Tab() {
  static const TLog2Table<K> T;
  return T;
}

float DbLibrary(double P) {
  return static_cast<float>(10.0 * std::log10(P));
}

} // namespace

// float(10 log10 P) the quick way, with the same result as the library's log10: log2 of the
// mantissa from a 256-entry table and a short series, accurate to about 1e-13 dB. Only when
// that value lies within 1e-11 dB of the halfway point between two floats could the rounding to
// float go the other way than the library's value; those few levels (about one in 10^5) take
// the library path, as do levels close to 0 dB, where floats are finer than the bound.
float WaterfallDb(double P) {
  const TLog2Table<256> &T = Log2Tab<256>();
  if (!(P >= PSD_POWER_FLOOR && P < 1e300)) // NaN, infinities and anything odd
    return DbLibrary(P);
  uint64_t Bits;
  std::memcpy(&Bits, &P, sizeof Bits);
  const int Exp = static_cast<int>(Bits >> 52) - 1023;
  const uint64_t MantBits = (Bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1023} << 52);
  double M;
  std::memcpy(&M, &MantBits, sizeof M);
  const size_t J = static_cast<size_t>((Bits >> 44) & 0xFF);
  const double R = M * T.InvC[J] - 1.0; // |R| < 1/512
  constexpr double INV_LN2 = 1.4426950408889634074;
  const double Series = R * INV_LN2 * (1.0 + R * (-0.5 + R * (1.0 / 3.0 + R * (-0.25 + R * 0.2))));
  const double Db = (static_cast<double>(Exp) + (T.Log2C[J] + Series)) * 3.0102999566398119521;
  if (std::fabs(Db) < 1e-3)
    return DbLibrary(P);
  const float F = static_cast<float>(Db);
  const double Off = Db - static_cast<double>(F); // exact: the two are close
  uint32_t FBits;
  std::memcpy(&FBits, &F, sizeof FBits);
  const uint32_t NBits = ((Off > 0) == (F > 0)) ? FBits + 1 : FBits - 1; // neighbour on Off's side
  float N;
  std::memcpy(&N, &NBits, sizeof N);
  const double HalfGap = std::fabs(static_cast<double>(N) - static_cast<double>(F)) * 0.5;
  if (HalfGap - std::fabs(Off) > 1e-11)
    return F;
  return DbLibrary(P);
}

namespace {

// ---- waterfall rows on several threads ----

std::atomic<int32_t> GWaterfallThreads{0};

// ComputeWaterfallRows with a thread count (0: as WaterfallThreadsFor says).
void ComputeWaterfallRowsOn(const TComplexArray &Samples, int32_t NFFT, double Overlap, int32_t MaxRows,
                            TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation, int32_t Threads);

// Each thread gets at least this many transformed points (about half a millisecond of work):
// starting and joining a thread costs tens of microseconds on an idle machine, and far more when
// the cores are busy and the new thread waits to be scheduled. One chunk of the viewer's window
// (8 transforms of 4096) therefore stays on the calling thread; many chunks in one call spread.
constexpr int64_t MIN_POINTS_PER_THREAD = 65536;
constexpr int32_t MAX_WATERFALL_THREADS = 16;
constexpr int64_t PIECES_PER_THREAD = 4;

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

#if defined(__x86_64__) || defined(__i386__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// WaterfallDb eight levels at a time, by the same steps, with log2 of the mantissa through a
// table of 16 stretches of [1, 2) that fits in two registers each (no gathers) and a longer
// series: |R| < 1/32, so nine terms leave an error near 1e-16. A level within
// 1e-11 dB of halfway between two floats, or odd (non-numbers, levels near 0 dB), is left to
// WaterfallDb, and every other one is the float nearest to an approximation accurate to about
// 1e-13 dB, which is the library's float. So every level has the library's bits.
[[gnu::target("avx512f")]] void StoreRowDbAVX512(const double *Power, size_t N, float *Out) {
  const TLog2Table<16> &T = Log2Tab<16>();
  const __m512d InvCLo = _mm512_load_pd(T.InvC), InvCHi = _mm512_load_pd(T.InvC + 8);
  const __m512d Log2CLo = _mm512_load_pd(T.Log2C), Log2CHi = _mm512_load_pd(T.Log2C + 8);
  const __m512d Floor = _mm512_set1_pd(PSD_POWER_FLOOR), Huge = _mm512_set1_pd(1e300);
  const __m512i MantMask = _mm512_set1_epi64((int64_t{1} << 52) - 1);
  const __m512i One = _mm512_set1_epi64(int64_t{1023} << 52);
  const __m512i IdxMask = _mm512_set1_epi64(0xF);
  size_t I = 0;
  for (; I + 8 <= N; I += 8) {
    const __m512d P = _mm512_loadu_pd(Power + I);
    __mmask8 Ok = _mm512_cmp_pd_mask(P, Floor, _CMP_GE_OQ) & _mm512_cmp_pd_mask(P, Huge, _CMP_LT_OQ);
    const __m512i Bits = _mm512_castpd_si512(P);
    const __m256i Exp =
        _mm256_sub_epi32(_mm512_cvtepi64_epi32(_mm512_srli_epi64(Bits, 52)), _mm256_set1_epi32(1023));
    const __m512d M = _mm512_castsi512_pd(_mm512_or_si512(_mm512_and_si512(Bits, MantMask), One));
    const __m512i J = _mm512_and_si512(_mm512_srli_epi64(Bits, 48), IdxMask);
    const __m512d InvC = _mm512_permutex2var_pd(InvCLo, J, InvCHi);
    const __m512d Log2C = _mm512_permutex2var_pd(Log2CLo, J, Log2CHi);
    const __m512d R = _mm512_sub_pd(_mm512_mul_pd(M, InvC), _mm512_set1_pd(1.0));
    // R (1 - R/2 + R^2/3 - ... + R^8/9) / ln 2
    __m512d Poly = _mm512_add_pd(_mm512_set1_pd(-1.0 / 8.0), _mm512_mul_pd(R, _mm512_set1_pd(1.0 / 9.0)));
    Poly = _mm512_add_pd(_mm512_set1_pd(1.0 / 7.0), _mm512_mul_pd(R, Poly));
    Poly = _mm512_add_pd(_mm512_set1_pd(-1.0 / 6.0), _mm512_mul_pd(R, Poly));
    Poly = _mm512_add_pd(_mm512_set1_pd(0.2), _mm512_mul_pd(R, Poly));
    Poly = _mm512_add_pd(_mm512_set1_pd(-0.25), _mm512_mul_pd(R, Poly));
    Poly = _mm512_add_pd(_mm512_set1_pd(1.0 / 3.0), _mm512_mul_pd(R, Poly));
    Poly = _mm512_add_pd(_mm512_set1_pd(-0.5), _mm512_mul_pd(R, Poly));
    Poly = _mm512_add_pd(_mm512_set1_pd(1.0), _mm512_mul_pd(R, Poly));
    const __m512d Series = _mm512_mul_pd(_mm512_mul_pd(R, _mm512_set1_pd(1.4426950408889634074)), Poly);
    const __m512d Db = _mm512_mul_pd(_mm512_add_pd(_mm512_cvtepi32_pd(Exp), _mm512_add_pd(Log2C, Series)),
                                     _mm512_set1_pd(3.0102999566398119521));
    const __m512d AbsDb = _mm512_abs_pd(Db);
    Ok &= _mm512_cmp_pd_mask(AbsDb, _mm512_set1_pd(1e-3), _CMP_GE_OQ);
    const __m256 F = _mm512_cvtpd_ps(Db);
    const __m512d FD = _mm512_cvtps_pd(F);
    const __m512d Off = _mm512_sub_pd(Db, FD);
    // The neighbouring float on Off's side: one step up in magnitude when Off and F share a sign.
    const __mmask8 OffPos = _mm512_cmp_pd_mask(Off, _mm512_setzero_pd(), _CMP_GT_OQ);
    const __mmask8 FPos = _mm512_cmp_pd_mask(FD, _mm512_setzero_pd(), _CMP_GT_OQ);
    const __mmask8 Up = static_cast<__mmask8>(~(OffPos ^ FPos));
    const __m256i FBits = _mm256_castps_si256(F);
    const __m256i NUp = _mm256_add_epi32(FBits, _mm256_set1_epi32(1));
    const __m256i NDown = _mm256_sub_epi32(FBits, _mm256_set1_epi32(1));
    const __m512i NUp64 = _mm512_cvtepu32_epi64(NUp), NDown64 = _mm512_cvtepu32_epi64(NDown);
    const __m512i NSel = _mm512_mask_blend_epi64(Up, NDown64, NUp64);
    const __m512d ND = _mm512_cvtps_pd(_mm256_castsi256_ps(_mm512_cvtepi64_epi32(NSel)));
    const __m512d HalfGap = _mm512_mul_pd(_mm512_abs_pd(_mm512_sub_pd(ND, FD)), _mm512_set1_pd(0.5));
    const __m512d Margin = _mm512_sub_pd(HalfGap, _mm512_abs_pd(Off));
    Ok &= _mm512_cmp_pd_mask(Margin, _mm512_set1_pd(1e-11), _CMP_GT_OQ);
    _mm256_storeu_ps(Out + I, F);
    if (Ok != 0xFF)
      for (int K = 0; K < 8; ++K)
        if (!(Ok >> K & 1))
          Out[I + static_cast<size_t>(K)] = WaterfallDb(Power[I + static_cast<size_t>(K)]);
  }
  for (; I < N; ++I)
    Out[I] = WaterfallDb(Power[I]);
}
#pragma GCC diagnostic pop
#endif

void StoreRowDb(const double *Power, size_t N, TSingleArray &Row);
} // namespace

void WaterfallDbs(const double *Power, size_t N, float *Out) {
#if defined(__x86_64__) || defined(__i386__)
  if (VectorLevel() == 2) {
    StoreRowDbAVX512(Power, N, Out);
    return;
  }
#endif
  for (size_t I = 0; I < N; ++I)
    Out[I] = WaterfallDb(Power[I]);
}

namespace {
void StoreRowDb(const double *Power, size_t N, TSingleArray &Row) {
  Row.resize(N);
#if defined(__x86_64__) || defined(__i386__)
  if (VectorLevel() == 2) {
    StoreRowDbAVX512(Power, N, Row.data());
    return;
  }
#endif
  for (size_t I = 0; I < N; ++I)
    Row[I] = WaterfallDb(Power[I]);
}

// Max-held power of transforms K0 .. K1 - 1 of row R into Out. A part that starts at the row's
// first transform holds exactly as the whole row would; a later part starts from 0, below the
// power floor, so it carries the largest number among its transforms and nothing else. Merged
// into the first part with the same strictly-greater rule, the parts give the whole row's result
// bit for bit, including its NaN rule (a NaN held from the first transform stays, a later NaN
// never replaces a number).
void HoldPart(const TRowsJob &J, TWork &Wk, int64_t R, int64_t K0, int64_t K1, double *Out) {
  if (K0 > 0)
    std::fill(Out, Out + J.N, 0.0);
  for (int64_t K = K0; K < K1; ++K) {
    TransformBlock(*J.T, J.Block(R, K), Wk);
    if (K == 0)
      HoldPower<true>(Wk, J.N, Out);
    else
      HoldPower<false>(Wk, J.N, Out);
  }
}

void ComputeRowsSerial(const TRowsJob &J) {
  TWork Wk(J.N);
  TLineDoubles Power(J.N);
  for (int64_t R = 0; R < J.Count; ++R) {
    HoldPart(J, Wk, R, 0, J.RowBegin(R + 1) - J.RowBegin(R), Power.data());
    StoreRowDb(Power.data(), J.N, J.Rows[R]);
  }
}

// A row whose transforms are shared between slices: each slice keeps its part here.
struct TPartRow {
  int64_t Row = -1;
  bool Head = false; // holds the row's first transform
  TLineDoubles Power;
};

struct TSlice {
  int64_t G0 = 0, G1 = 0; // transforms [G0, G1) of Count * Dec, in row order
  TPartRow Parts[2];      // its first and its last row, when they are shared
  std::exception_ptr Error;
};

// Phase 1: the slice's transforms. Rows it holds entirely are finished here; of a shared row it
// keeps its part.
void RunSlicePhase1(const TRowsJob &J, TSlice &S) {
  TWork Wk(J.N);
  TLineDoubles Power(J.N);
  const int64_t FirstRow = J.RowOf(S.G0);
  for (int64_t R = FirstRow; R < J.Count && J.RowBegin(R) < S.G1; ++R) {
    const int64_t Begin = J.RowBegin(R), End = J.RowBegin(R + 1);
    if (End == Begin)
      continue;
    const int64_t K0 = std::max(S.G0, Begin) - Begin;
    const int64_t K1 = std::min(S.G1, End) - Begin;
    if (K0 == 0 && K1 == End - Begin) {
      HoldPart(J, Wk, R, K0, K1, Power.data());
      StoreRowDb(Power.data(), J.N, J.Rows[R]);
      continue;
    }
    TPartRow &P = S.Parts[R == FirstRow ? 0 : 1];
    P.Row = R;
    P.Head = K0 == 0;
    P.Power.resize(J.N);
    HoldPart(J, Wk, R, K0, K1, P.Power.data());
    if (P.Head) // only this slice touches the row's array before phase 2
      J.Rows[R].resize(J.N);
  }
}

// Phase 2: the shared rows merged and converted; call Index of All.size() takes its share of the bins.
void RunSlicePhase2(const TRowsJob &J, const std::vector<TSlice> &All, size_t Index) {
  const size_t Slices = All.size();
  const size_t B0 = J.N * Index / Slices, B1 = J.N * (Index + 1) / Slices;
  for (size_t H = 0; H < Slices; ++H)
    for (const TPartRow &Head : All[H].Parts) {
      if (Head.Row < 0 || !Head.Head)
        continue;
      // The other parts of the row, in the slices that follow.
      std::vector<const double *> Tails;
      for (size_t S = H + 1; S < Slices; ++S)
        for (const TPartRow &Tail : All[S].Parts)
          if (Tail.Row == Head.Row && !Tail.Head)
            Tails.push_back(Tail.Power.data());
      TSingleArray &Row = J.Rows[Head.Row];
      for (size_t I = B0; I < B1; ++I) {
        double V = Head.Power[I];
        for (const double *T : Tails)
          V = T[I] > V ? T[I] : V;
        Row[I] = WaterfallDb(V);
      }
    }
}

void ComputeRowsParallel(const TRowsJob &J, int32_t Threads) {
  const int64_t Total = J.Total();
  // Several pieces per thread, taken in turn by whichever thread is free: on a busy machine a
  // worker may wait long to be scheduled, and the calling thread then does its share instead of
  // waiting for it.
  const int64_t Pieces = std::min<int64_t>(Total, int64_t{Threads} * PIECES_PER_THREAD);
  std::vector<TSlice> Slices(static_cast<size_t>(Pieces));
  // Whole rows per piece while there are enough of them and they are alike; otherwise the
  // transforms are split evenly and rows are shared.
  const bool WholeRows = J.Count >= Pieces && J.Cum.empty();
  for (int64_t S = 0; S < Pieces; ++S) {
    auto Bound = [&](int64_t K) { return WholeRows ? J.RowBegin(J.Count * K / Pieces) : Total * K / Pieces; };
    Slices[static_cast<size_t>(S)].G0 = Bound(S);
    Slices[static_cast<size_t>(S)].G1 = Bound(S + 1);
  }
  bool Shared = false;
  for (const TSlice &S : Slices)
    Shared = Shared || (S.G0 < Total && J.RowBegin(J.RowOf(S.G0)) != S.G0);

  std::atomic<int64_t> Next{0};
  auto Run = [&] {
    for (;;) {
      const int64_t S = Next.fetch_add(1, std::memory_order_relaxed);
      if (S >= Pieces)
        return;
      try {
        RunSlicePhase1(J, Slices[static_cast<size_t>(S)]);
      } catch (...) {
        Slices[static_cast<size_t>(S)].Error = std::current_exception();
      }
    }
  };
  RunOnThreads(Threads, Run);
  for (const TSlice &S : Slices)
    if (S.Error)
      std::rethrow_exception(S.Error);
  // The shared rows merged and converted once every part is there (a few rows at most).
  if (Shared)
    for (size_t S = 0; S < Slices.size(); ++S)
      RunSlicePhase2(J, Slices, S);
}

// The job on as many threads as it is worth (or as tests ask for).
// Threads: 0 for the count WaterfallThreadsFor gives, otherwise exactly that many (at most one
// per transform).
void RunRowsJob(const TRowsJob &J, int32_t NFFT, int32_t Threads = 0) {
  const int64_t Transforms = J.Total();
  Threads = Threads > 0 ? static_cast<int32_t>(std::min<int64_t>(Threads, Transforms))
                        : WaterfallThreadsFor(Transforms, NFFT);
  if (Threads <= 1)
    ComputeRowsSerial(J);
  else
    ComputeRowsParallel(J, Threads);
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
    W[I] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(I) / static_cast<double>(N)));
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

namespace {
void ComputeWaterfallRowsOn(const TComplexArray &Samples, int32_t NFFT, double Overlap, int32_t MaxRows,
                            TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation, int32_t Threads) {
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
  // Only the raw rows of the selected blocks are computed. The maximum is taken on the linear
  // power: float(10 log10 x) never decreases as x grows, so the maximum of the dB values is the
  // dB value of the maximum, and a later equal value would not have replaced the first anyway.
  TRowsJob J;
  J.T = T.get();
  J.FirstSample = Samples.data() + static_cast<size_t>((Blocks - DecRowCount) * Dec * Hop);
  J.N = N;
  J.Hop = Hop;
  J.Dec = Dec;
  J.Count = Count;
  J.RowStride = Dec * Hop;
  J.Rows = Rows.data();
  RunRowsJob(J, NFFT, Threads);
  RowCount = static_cast<int32_t>(Count);
}
} // namespace

void ComputeWaterfallChunkRows(const TComplexArray &Samples, int64_t ChunkSamples, double SampleRate,
                               int32_t NFFT, double Overlap, int32_t Decimation, TRowBuffer &Rows,
                               int32_t &RowCount) {
  ComputeWaterfallChunkRows(std::span<const TComplexSample>(Samples), ChunkSamples, SampleRate, NFFT, Overlap,
                            Decimation, std::span<TSingleArray>(Rows), RowCount, 0);
}

void ComputeWaterfallChunkRows(std::span<const TComplexSample> Samples, int64_t ChunkSamples,
                               double /*SampleRate*/, int32_t NFFT, double Overlap, int32_t Decimation,
                               std::span<TSingleArray> Rows, int32_t &RowCount, int32_t Threads) {
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
    int64_t Dec = std::max<int32_t>(Decimation, 1), Blocks = TotalRaw;
    if (Dec > 1) {
      Blocks = TotalRaw / Dec;
      if (Blocks <= 0) {
        Blocks = 1;
        Dec = TotalRaw;
      }
    }
    const auto T = GetTables(static_cast<size_t>(N));
    TRowsJob J;
    J.T = T.get();
    J.FirstSample = Samples.data() + static_cast<size_t>((Blocks - 1) * Dec * Hop);
    J.N = static_cast<size_t>(N);
    J.Hop = Hop;
    J.Dec = Dec;
    J.Count = Count;
    J.RowStride = ChunkSamples;
    J.Rows = Rows.data();
    RunRowsJob(J, NFFT, Threads);
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
  TRowsJob J;
  J.T = T.get();
  J.FirstSample = Samples.data();
  J.N = N;
  J.Hop = Hop;
  J.Dec = 1;
  J.Count = Count;
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
  J.Rows = Rows.data();
  RunRowsJob(J, NFFT);
  RowCount = static_cast<int32_t>(Count);
}

int32_t WaterfallThreadsFor(int64_t Transforms, int32_t NFFT) {
  const int32_t Forced = GWaterfallThreads.load(std::memory_order_relaxed);
  if (Forced > 0)
    return static_cast<int32_t>(std::clamp<int64_t>(Transforms, 1, Forced));
  return AutoWaterfallThreads(Transforms, NFFT);
}

void RunOnThreads(int32_t Threads, const std::function<void()> &Work) {
  std::vector<std::thread> Workers;
  struct TJoin {
    std::vector<std::thread> &W;
    ~TJoin() {
      for (std::thread &T : W)
        if (T.joinable())
          T.join();
    }
  } Join{Workers};
  try {
    Workers.reserve(static_cast<size_t>(std::max(Threads - 1, 0)));
    for (int32_t T = 1; T < Threads; ++T)
      Workers.emplace_back(Work);
  } catch (...) {
    // No more threads to be had: the pieces go to those there are.
  }
  Work();
}

void SetWaterfallThreads(int32_t Count) {
  GWaterfallThreads.store(Count < 0 ? 0 : Count, std::memory_order_relaxed);
}

int32_t AutoWaterfallThreads(int64_t Transforms, int32_t NFFT) {
  const int64_t Cores = std::max<int64_t>(1, std::thread::hardware_concurrency());
  const int64_t ByWork = Transforms * std::max<int64_t>(NFFT, 1) / MIN_POINTS_PER_THREAD;
  const int64_t T = std::min({Cores, ByWork, Transforms, int64_t{MAX_WATERFALL_THREADS}});
  return static_cast<int32_t>(std::max<int64_t>(T, 1));
}
