#include "dsp/uFFTKernels.h"

#include "dsp/uFFTHooks.h"

#include <algorithm>
#include <atomic>

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

namespace fftimpl {

namespace {

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

} // namespace

int VectorLevel() {
  return std::min(SupportedVectorLevel(), GVectorLimit.load(std::memory_order_relaxed));
}

namespace {

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

} // namespace

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

void TransformValues(const TFFTTables &T, const TComplex64 *Src, double *Re, double *Im) {
  LoadBlock<false>(T, Src, Re, Im);
  RunStages(T, Re, Im);
}

} // namespace fftimpl

int FFTVectorLevel() {
  return fftimpl::VectorLevel();
}

void LimitFFTVectorLevel(int MaxLevel) {
  fftimpl::GVectorLimit.store(MaxLevel, std::memory_order_relaxed);
}
