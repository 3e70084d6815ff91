#include "dsp/uFFTLevels.h"

#include "dsp/uFFTHooks.h"
#include "dsp/uFFTKernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

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

} // namespace

void WaterfallDbs(const double *Power, size_t N, float *Out) {
#if defined(__x86_64__) || defined(__i386__)
  if (fftimpl::VectorLevel() == 2) {
    StoreRowDbAVX512(Power, N, Out);
    return;
  }
#endif
  for (size_t I = 0; I < N; ++I)
    Out[I] = WaterfallDb(Power[I]);
}

namespace fftimpl {

void StoreRowDb(const double *Power, size_t N, TSingleArray &Row) {
  Row.resize(N);
  WaterfallDbs(Power, N, Row.data());
}

} // namespace fftimpl
