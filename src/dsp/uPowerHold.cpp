#include "dsp/uPowerHold.h"

#include "dsp/uFFT.h"
#include "dsp/uFFTHooks.h"
#include "dsp/uFFTKernels.h"
#include "dsp/uFFTTables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

// Lane T of every vector belongs to transform T of a batch: the butterflies are the plain
// radix-2 ones, done on whole vectors with no shuffling, and the only shuffles are those that
// turn rows of samples (one per transform) into columns (one per bin) as a batch is loaded.
// Twiddles, window and bit reversal are those of the double-precision tables, rounded once.
// The same operations in every lane. The compiler fuses multiplies and adds where the instruction
// set has them (AVX2 with FMA, AVX-512), so those two give the same bits and SSE2 differs from
// them in the last bits.

namespace {

using fftimpl::TLineAllocator;
using TLineFloats = std::vector<float, TLineAllocator<float>>;

constexpr int MAX_LANES = 16;

} // namespace

struct TPowerHold::TImpl {
  size_t N = 0;
  int Level = 0; // vector width: 0 four lanes, 1 eight, 2 sixteen
  std::vector<uint32_t> Rev;
  TLineFloats Window, Scaled, TwRe, TwIm;
  float ScaledFor = 0.0f;  // the scale Scaled holds the window times
  TLineFloats Re, Im, Max; // N vectors of the widest kind
  TLineFloats Bad;         // 0 while every power was finite, else NaN
  int64_t Count = 0;
};

namespace {

using TImpl = TPowerHold::TImpl;

// Lane J of the shuffle that moves rows A and B (H apart) one step towards their transpose, each
// register of L lanes holding L / P blocks of P lanes that are transposed on their own: in every
// stretch of 2H lanes of a block, the low result takes the first H lanes of A's and then of B's,
// the high result the second H of each. log2(P) such steps over P registers transpose them.
constexpr int TransposeLane(int L, int P, int H, bool High, int J) {
  const int Part = J / P * P, I = J % P, Base = Part + I / (2 * H) * 2 * H + (High ? H : 0),
            Off = I % (2 * H);
  return Off < H ? Base + Off : L + Base + Off - H;
}

template <class V, class VI, int L, int P, int H, int... J>
[[gnu::always_inline]] inline void TransposeStep(V *R, std::integer_sequence<int, J...>) {
  constexpr VI Lo = {TransposeLane(L, P, H, false, J)...}, Hi = {TransposeLane(L, P, H, true, J)...};
#pragma GCC unroll 16
  for (int I = 0; I < P; ++I)
    if (!(I & H)) {
      const V A = R[I], B = R[I + H];
      R[I] = __builtin_shuffle(A, B, Lo);
      R[I + H] = __builtin_shuffle(A, B, Hi);
    }
}

// P registers R of L lanes, each block of P lanes transposed on its own (P = L: the whole).
template <class V, class VI, int L, int P> [[gnu::always_inline]] inline void Transpose(V *R) {
  constexpr auto Lanes = std::make_integer_sequence<int, L>{};
  if constexpr (P >= 16)
    TransposeStep<V, VI, L, P, 8>(R, Lanes);
  if constexpr (P >= 8)
    TransposeStep<V, VI, L, P, 4>(R, Lanes);
  if constexpr (P >= 4)
    TransposeStep<V, VI, L, P, 2>(R, Lanes);
  TransposeStep<V, VI, L, P, 1>(R, Lanes);
}

typedef float VF4 __attribute__((vector_size(16)));
typedef int32_t VI4 __attribute__((vector_size(16)));
typedef float VF8 __attribute__((vector_size(32)));
typedef int32_t VI8 __attribute__((vector_size(32)));
typedef float VF16 __attribute__((vector_size(64)));
typedef int32_t VI16 __attribute__((vector_size(64)));

// A + T and A - T (into B), T being B times the twiddle, computed by the caller.
template <class V>
[[gnu::always_inline]] inline void Combine(V &ARe, V &AIm, V &BRe, V &BIm, const V &TRe, const V &TIm) {
  BRe = ARe - TRe;
  BIm = AIm - TIm;
  ARe = ARe + TRe;
  AIm = AIm + TIm;
}

template <class V>
[[gnu::always_inline]] inline void Butterfly(V &ARe, V &AIm, V &BRe, V &BIm, float WRe, float WIm) {
  const V TRe = BRe * WRe - BIm * WIm, TIm = BIm * WRe + BRe * WIm;
  Combine(ARe, AIm, BRe, BIm, TRe, TIm);
}

// The first three stages, whose twiddles are 1, -i and the odd eighth roots of unity: adds, and
// a few multiplies for the roots. Every transform of a pass starts with them.
template <class V> [[gnu::always_inline]] inline void FirstPass(const TImpl &I, V *Re, V *Im) {
  const float C = I.TwRe[5]; // e^(-i pi/4) = C - iC
  for (size_t B = 0; B < I.N; B += 8) {
    V R[8], M[8];
#pragma GCC unroll 8
    for (size_t A = 0; A < 8; ++A)
      R[A] = Re[B + A], M[A] = Im[B + A];
#pragma GCC unroll 4
    for (size_t A = 0; A < 8; A += 2)
      Combine(R[A], M[A], R[A + 1], M[A + 1], V(R[A + 1]), V(M[A + 1]));
#pragma GCC unroll 2
    for (size_t A = 0; A < 8; A += 4) {
      Combine(R[A], M[A], R[A + 2], M[A + 2], V(R[A + 2]), V(M[A + 2]));
      Combine(R[A + 1], M[A + 1], R[A + 3], M[A + 3], V(M[A + 3]), V(-R[A + 3])); // times -i
    }
    Combine(R[0], M[0], R[4], M[4], V(R[4]), V(M[4]));
    Combine(R[1], M[1], R[5], M[5], V((R[5] + M[5]) * C), V((M[5] - R[5]) * C));
    Combine(R[2], M[2], R[6], M[6], V(M[6]), V(-R[6]));
    Combine(R[3], M[3], R[7], M[7], V((M[7] - R[7]) * C), V((R[7] + M[7]) * -C));
#pragma GCC unroll 8
    for (size_t A = 0; A < 8; ++A)
      Re[B + A] = R[A], Im[B + A] = M[A];
  }
}

// C stages (half sizes H, 2H, 4H) in one pass over the data, 2^C vectors in registers at a time.
// The last pass holds the powers instead of storing the values.
template <class V, int C, bool Last, bool Check>
[[gnu::always_inline]] inline void Pass(const TImpl &I, V *Re, V *Im, size_t H, V *Max, V &Bad) {
  constexpr size_t G = size_t{1} << C;
  const float *TwRe = I.TwRe.data(), *TwIm = I.TwIm.data();
  for (size_t B = 0; B < I.N; B += H * G)
    for (size_t J = 0; J < H; ++J) {
      V R[G], M[G];
#pragma GCC unroll 8
      for (size_t A = 0; A < G; ++A)
        R[A] = Re[B + J + A * H], M[A] = Im[B + J + A * H];
#pragma GCC unroll 3
      for (size_t S = 0; S < C; ++S) {
        const size_t D = size_t{1} << S, Half = H * D;
#pragma GCC unroll 8
        for (size_t A = 0; A < G; ++A)
          if (!(A & D)) {
            const size_t Tw = Half + J + H * (A & (D - 1));
            Butterfly(R[A], M[A], R[A + D], M[A + D], TwRe[Tw], TwIm[Tw]);
          }
      }
#pragma GCC unroll 8
      for (size_t A = 0; A < G; ++A) {
        if constexpr (Last) {
          const V P = R[A] * R[A] + M[A] * M[A];
          V &Held = Max[B + J + A * H];
          Held = P > Held ? P : Held;
          if constexpr (Check)
            Bad = Bad + P * 0.0f; // stays 0 while every power is finite
        } else {
          Re[B + J + A * H] = R[A];
          Im[B + J + A * H] = M[A];
        }
      }
    }
}

template <class V, bool Check>
[[gnu::always_inline]] inline void RunPasses(const TImpl &I, V *Re, V *Im, V *Max, V &Bad) {
  size_t Stages = 0;
  while ((size_t{1} << Stages) < I.N)
    ++Stages;
  FirstPass(I, Re, Im);
  Stages -= 3;
  for (size_t H = 8; Stages > 0;) {
    // Four stages left go as two and two: three and one measured slower with AVX2 (and no faster
    // with AVX-512), the single stage's pass costing nearly what a triple's does.
    const size_t C = Stages == 4 ? 2 : std::min<size_t>(Stages, 3);
    const bool Last = C == Stages;
    if (C == 3)
      Last ? Pass<V, 3, true, Check>(I, Re, Im, H, Max, Bad)
           : Pass<V, 3, false, Check>(I, Re, Im, H, Max, Bad);
    else if (C == 2)
      Last ? Pass<V, 2, true, Check>(I, Re, Im, H, Max, Bad)
           : Pass<V, 2, false, Check>(I, Re, Im, H, Max, Bad);
    else
      Pass<V, 1, true, Check>(I, Re, Im, H, Max, Bad);
    H <<= C;
    Stages -= C;
  }
}

// Samples G .. G + L/2 of L rows of floats (I, Q interleaved) as R[2Q] = I and R[2Q + 1] = Q of
// sample G + Q, lane T from row T.
template <class V, class VI, int L>
[[gnu::always_inline]] inline void LoadGroup(V *R, const float *const *Row, size_t G) {
#pragma GCC unroll 16
  for (int T = 0; T < L; ++T)
    std::memcpy(&R[T], Row[T] + 2 * G, sizeof(V));
  Transpose<V, VI, L, L>(R);
}

// Two registers of half the width side by side, in registers (through memory the wide load
// would wait for both narrow stores).
template <class VI, class VH, int... J>
[[gnu::always_inline]] inline void Join(VI &Out, const VH &Lo, const VH &Hi,
                                        std::integer_sequence<int, J...>) {
  Out = __builtin_shufflevector(Lo, Hi, J...);
}

// The same from 16-bit values. A sample's I and Q move together as one 32-bit unit, so register
// K holds rows K and K + L/2 and a transpose of half the size puts each sample's rows together;
// the two values are then split off and widened. About half the shuffles of the float rows.
template <class V, class VI, int L>
[[gnu::always_inline]] inline void LoadGroup(V *R, const int16_t *const *Row, size_t G) {
  constexpr int P = L / 2;
  constexpr auto Lanes = std::make_integer_sequence<int, L>{};
  typedef int32_t VH __attribute__((vector_size(sizeof(VI) / 2)));
  VI U[P];
#pragma GCC unroll 8
  for (int K = 0; K < P; ++K) {
    VH Lo, Hi;
    std::memcpy(&Lo, Row[K] + 2 * G, sizeof Lo);
    std::memcpy(&Hi, Row[K + P] + 2 * G, sizeof Hi);
    Join(U[K], Lo, Hi, Lanes);
  }
  Transpose<VI, VI, L, P>(U);
#pragma GCC unroll 8
  for (int Q = 0; Q < P; ++Q) {
    static_assert(std::endian::native == std::endian::little, "I is the low half of the unit");
    const VI I = (U[Q] << 16) >> 16, Qv = U[Q] >> 16;
    R[2 * Q] = __builtin_convertvector(I, V);
    R[2 * Q + 1] = __builtin_convertvector(Qv, V);
  }
}

// Transforms Row[0 .. L) of N samples each held into I.Max: L / 2 samples of every row at a
// time, turned into columns, windowed and put in bit-reversed order, then transformed.
template <class V, class VI, int L, bool Check, class S>
[[gnu::always_inline]] inline void HoldBatch(TImpl &I, const S *const *Row, const float *Window) {
  V *Re = reinterpret_cast<V *>(I.Re.data()), *Im = reinterpret_cast<V *>(I.Im.data());
  const uint32_t *Rev = I.Rev.data();
  for (size_t G = 0; G < I.N; G += L / 2) {
    V R[L];
    LoadGroup<V, VI, L>(R, Row, G);
#pragma GCC unroll 8
    for (int Q = 0; Q < L / 2; ++Q) {
      const size_t At = G + static_cast<size_t>(Q);
      Re[Rev[At]] = R[2 * Q] * Window[At];
      Im[Rev[At]] = R[2 * Q + 1] * Window[At];
    }
  }
  V Bad;
  std::memcpy(&Bad, I.Bad.data(), sizeof Bad);
  RunPasses<V, Check>(I, Re, Im, reinterpret_cast<V *>(I.Max.data()), Bad);
  std::memcpy(I.Bad.data(), &Bad, sizeof Bad);
}

// Count transforms of N samples from Src, S being float (TComplexSample's two parts) or int16_t
// (the values as stored). A last batch short of L transforms repeats its last transform, which
// holds nothing new.
template <class V, class VI, int L, bool Check, class S>
[[gnu::always_inline]] inline void HoldAll(TImpl &I, const S *Src, size_t Count, const float *Window) {
  for (size_t First = 0; First < Count; First += L) {
    const S *Row[L];
    for (size_t T = 0; T < static_cast<size_t>(L); ++T)
      Row[T] = Src + 2 * I.N * (First + std::min(T, Count - First - 1));
    HoldBatch<V, VI, L, Check>(I, Row, Window);
  }
}

template <bool Check, class S> void Hold4(TImpl &I, const S *Src, size_t Count, const float *W) {
  HoldAll<VF4, VI4, 4, Check>(I, Src, Count, W);
}
#if defined(__x86_64__) || defined(__i386__)
template <bool Check, class S>
[[gnu::target("avx2,fma")]] void Hold8(TImpl &I, const S *Src, size_t Count, const float *W) {
  HoldAll<VF8, VI8, 8, Check>(I, Src, Count, W);
}
template <bool Check, class S>
[[gnu::target("avx512f")]] void Hold16(TImpl &I, const S *Src, size_t Count, const float *W) {
  HoldAll<VF16, VI16, 16, Check>(I, Src, Count, W);
}
#endif

// Check: whether the powers may not be finite (and are checked).
template <bool Check, class S> void Hold(TImpl &I, const S *Src, size_t Count, const float *W) {
  if (Count == 0)
    return;
#if defined(__x86_64__) || defined(__i386__)
  if (I.Level == 2)
    return Hold16<Check>(I, Src, Count, W);
  if (I.Level == 1)
    return Hold8<Check>(I, Src, Count, W);
#endif
  Hold4<Check>(I, Src, Count, W);
}

int Lanes(int Level) {
  return Level == 2 ? 16 : Level == 1 ? 8 : 4;
}

} // namespace

TPowerHold::TPowerHold(int32_t NFFT) : F(std::make_unique<TImpl>()) {
  if (NFFT < 16 || NFFT > 65536 || (NFFT & (NFFT - 1)) != 0)
    throw EFFTSizeError("TPowerHold: size " + std::to_string(NFFT) +
                        " is not a power of two from 16 to 65536");
  const auto T = fftimpl::GetTables(static_cast<size_t>(NFFT));
  TImpl &I = *F;
  I.N = T->N;
  I.Level = fftimpl::VectorLevel();
#if defined(__x86_64__) || defined(__i386__)
  if (I.Level == 1 && !__builtin_cpu_supports("fma"))
    I.Level = 0;
#endif
  I.Rev = T->Rev; // its own inverse: also the place each sample goes to
  I.Window.assign(T->Window.begin(), T->Window.end());
  I.TwRe.assign(T->TwRe.begin(), T->TwRe.end());
  I.TwIm.assign(T->TwIm.begin(), T->TwIm.end());
  I.Re.resize(I.N * MAX_LANES);
  I.Im.resize(I.N * MAX_LANES);
  Reset();
}

TPowerHold::~TPowerHold() = default;
TPowerHold::TPowerHold(TPowerHold &&) noexcept = default;
TPowerHold &TPowerHold::operator=(TPowerHold &&) noexcept = default;

void TPowerHold::Reset() {
  F->Max.assign(F->N * MAX_LANES, 0.0f);
  F->Bad.assign(MAX_LANES, 0.0f);
  F->Count = 0;
}

void TPowerHold::Add(std::span<const TComplexSample> Samples) {
  const size_t Count = Samples.size() / F->N;
  static_assert(sizeof(TComplexSample) == 2 * sizeof(float));
  Hold<true>(*F, reinterpret_cast<const float *>(Samples.data()), Count, F->Window.data());
  F->Count += static_cast<int64_t>(Count);
}

void TPowerHold::AddInt16(std::span<const int16_t> Values, float Scale) {
  TImpl &I = *F;
  const size_t Count = Values.size() / 2 / I.N;
  if (I.Scaled.empty() || I.ScaledFor != Scale) {
    I.Scaled.resize(I.N);
    for (size_t K = 0; K < I.N; ++K)
      I.Scaled[K] = I.Window[K] * Scale;
    I.ScaledFor = Scale;
  }
  // 16-bit values scaled by at most 1 keep every power far inside single precision's range
  // (below 2^64 for the largest transform), so only other scales are checked.
  if (std::fabs(Scale) <= 1.0f)
    Hold<false>(I, Values.data(), Count, I.Scaled.data());
  else
    Hold<true>(I, Values.data(), Count, I.Scaled.data());
  I.Count += static_cast<int64_t>(Count);
}

int32_t TPowerHold::Size() const {
  return static_cast<int32_t>(F->N);
}

int64_t TPowerHold::Transforms() const {
  return F->Count;
}

bool TPowerHold::Finite() const {
  return std::all_of(F->Bad.begin(), F->Bad.end(), [](float B) { return B == 0.0f; });
}

void TPowerHold::Levels(TSingleArray &Row) const {
  Row.clear();
  if (F->Count == 0)
    return;
  const size_t N = F->N, L = static_cast<size_t>(Lanes(F->Level));
  // Lane maxima, shifted so that the lowest frequency comes first.
  std::vector<double> Power(N);
  for (size_t K = 0; K < N; ++K) {
    const float *Lane = F->Max.data() + K * L;
    float M = Lane[0];
    for (size_t T = 1; T < L; ++T)
      M = Lane[T] > M ? Lane[T] : M;
    Power[(K + N / 2) % N] = std::max<double>(M, PSD_POWER_FLOOR);
  }
  Row.resize(N);
  WaterfallDbs(Power.data(), N, Row.data());
}
