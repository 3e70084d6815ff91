#include "dsp/uFFTPower.h"

#include "dsp/uFFT.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace fftimpl {

namespace {

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

} // namespace

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

template void HoldPower<true>(const TWork &Wk, size_t N, double *Max);
template void HoldPower<false>(const TWork &Wk, size_t N, double *Max);

} // namespace fftimpl
