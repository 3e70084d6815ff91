#include "dsp/uFFT.h"
#include "dsp/uFFTHooks.h"
#include "dsp/uFFTPlain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using LComplex = std::complex<long double>;

TComplexArray RandomSamples(size_t N, uint32_t Seed, float Scale = 1.0f) {
  std::mt19937 Gen(Seed);
  std::uniform_real_distribution<float> D(-Scale, Scale);
  TComplexArray S(N);
  for (auto &X : S)
    X = {D(Gen), D(Gen)};
  return S;
}

TComplex64Array Widen(const TComplexArray &S) {
  TComplex64Array D(S.size());
  for (size_t I = 0; I < S.size(); ++I)
    D[I] = {S[I].Re, S[I].Im};
  return D;
}

// Reference forward DFT in long double, kernel e^(-2 pi i n k / N).
std::vector<LComplex> LongDoubleDFT(const TComplex64Array &X) {
  const size_t N = X.size();
  std::vector<LComplex> Tw(N);
  const long double Pi = 3.141592653589793238462643383279502884L;
  for (size_t K = 0; K < N; ++K)
    Tw[K] = {std::cos(-2.0L * Pi * K / N), std::sin(-2.0L * Pi * K / N)};
  std::vector<LComplex> Out(N);
  for (size_t K = 0; K < N; ++K) {
    LComplex Acc = 0;
    for (size_t I = 0; I < N; ++I)
      Acc += LComplex(X[I].Re, X[I].Im) * Tw[(I * K) % N];
    Out[K] = Acc;
  }
  return Out;
}

bool SameBits(double A, double B) {
  if (std::isnan(A) || std::isnan(B))
    return std::isnan(A) && std::isnan(B);
  return std::memcmp(&A, &B, sizeof A) == 0;
}
bool SameBits(float A, float B) {
  if (std::isnan(A) || std::isnan(B))
    return std::isnan(A) && std::isnan(B);
  return std::memcmp(&A, &B, sizeof A) == 0;
}

} // namespace

TEST(NextPow2, Table) {
  const struct {
    int32_t In, Out;
  } Cases[] = {{-5, 1},
               {0, 1},
               {1, 1},
               {2, 2},
               {3, 4},
               {256, 256},
               {257, 512},
               {4095, 4096},
               {4097, 8192},
               {(1 << 30) - 1, 1 << 30},
               {1 << 30, 1 << 30},
               {(1 << 30) + 1, 1 << 30},
               {std::numeric_limits<int32_t>::max(), 1 << 30}};
  for (const auto &C : Cases)
    EXPECT_EQ(NextPow2(C.In), C.Out) << "N=" << C.In;
}

// Norm-wise error against the long-double DFT. The butterflies contribute about log2(N) * eps;
// the twiddle recurrence adds an error that grows with the stage length (about N/32 * eps
// measured at 4096). A wrong twiddle, sign or ordering misses by orders of magnitude.
TEST(FFT, MatchesLongDoubleDFT) {
  for (size_t N : {2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 1024u, 4096u}) {
    const TComplex64Array X = Widen(RandomSamples(N, static_cast<uint32_t>(N)));
    TComplex64Array Y = X;
    FFT(Y);
    const auto Ref = LongDoubleDFT(X);
    long double ErrSq = 0, RefSq = 0;
    for (size_t K = 0; K < N; ++K) {
      const LComplex D = LComplex(Y[K].Re, Y[K].Im) - Ref[K];
      ErrSq += std::norm(D);
      RefSq += std::norm(Ref[K]);
    }
    const double Rel = static_cast<double>(std::sqrt(ErrSq / RefSq));
    const double Bound =
        (2.0 * std::log2(static_cast<double>(N)) + N / 16.0) * std::numeric_limits<double>::epsilon();
    EXPECT_LT(Rel, Bound) << "N=" << N;
  }
}

TEST(FFT, ParsevalAndConstantInput) {
  for (size_t N : {64u, 2048u, 65536u}) {
    TComplex64Array X = Widen(RandomSamples(N, 7));
    long double In = 0, Out = 0;
    for (const auto &V : X)
      In += static_cast<long double>(V.Re) * V.Re + static_cast<long double>(V.Im) * V.Im;
    FFT(X);
    for (const auto &V : X)
      Out += static_cast<long double>(V.Re) * V.Re + static_cast<long double>(V.Im) * V.Im;
    EXPECT_NEAR(static_cast<double>(Out / (In * N)), 1.0, N * std::numeric_limits<double>::epsilon())
        << "N=" << N;
  }
  // Unnormalised: a constant 1 gives N in bin 0 and nothing elsewhere.
  TComplex64Array C(16, TComplex64{1.0, 0.0});
  FFT(C);
  EXPECT_DOUBLE_EQ(C[0].Re, 16.0);
  for (size_t K = 1; K < C.size(); ++K)
    EXPECT_LT(std::hypot(C[K].Re, C[K].Im), 1e-13) << K;
}

TEST(FFT, ForwardSignPutsPositiveToneInItsBin) {
  const size_t N = 32;
  TComplex64Array X(N);
  for (size_t I = 0; I < N; ++I)
    X[I] = {std::cos(2 * std::numbers::pi * 3 * I / N), std::sin(2 * std::numbers::pi * 3 * I / N)};
  FFT(X);
  EXPECT_NEAR(X[3].Re, 32.0, 1e-12);
  EXPECT_LT(std::hypot(X[N - 3].Re, X[N - 3].Im), 1e-12);
}

TEST(FFT, TinyAndInvalidLengths) {
  TComplex64Array Empty;
  FFT(Empty);
  EXPECT_TRUE(Empty.empty());
  TComplex64Array One{{2.5, -1.0}};
  FFT(One);
  EXPECT_EQ(One[0].Re, 2.5);
  EXPECT_EQ(One[0].Im, -1.0);
  TComplex64Array Six(6);
  EXPECT_THROW(FFT(Six), EFFTSizeError);
  EXPECT_THROW(BitReverse(Six), EFFTSizeError);
}

TEST(FFT, BitReverseAndShift) {
  TComplex64Array X(8);
  for (size_t I = 0; I < 8; ++I)
    X[I] = {static_cast<double>(I), 0.0};
  BitReverse(X);
  const double Expect[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  for (size_t I = 0; I < 8; ++I)
    EXPECT_EQ(X[I].Re, Expect[I]);
  FFTShift(X);
  const double Shifted[8] = {1, 5, 3, 7, 0, 4, 2, 6};
  for (size_t I = 0; I < 8; ++I)
    EXPECT_EQ(X[I].Re, Shifted[I]);
}

TEST(HannWindow, PeriodicAndOnBothComponents) {
  const size_t N = 16;
  TComplex64Array X(N, TComplex64{2.0, -4.0});
  ApplyHannWindow(X);
  EXPECT_EQ(X[0].Re, 0.0);
  EXPECT_EQ(X[N / 2].Re, 2.0);
  EXPECT_EQ(X[N / 2].Im, -4.0);
  // Periodic: the last value is the second one, not 0.
  EXPECT_NEAR(X[N - 1].Re, X[1].Re, 1e-15);
  EXPECT_GT(X[N - 1].Re, 0.0);
  for (size_t I = 0; I < N; ++I) {
    const double W = 0.5 * (1 - std::cos(2 * std::numbers::pi * I / N));
    EXPECT_NEAR(X[I].Re, 2 * W, 1e-15);
    EXPECT_NEAR(X[I].Im, -4 * W, 1e-15);
  }
  // Not a power of two: the window is still defined.
  TComplex64Array Y(6, TComplex64{1.0, 1.0});
  ApplyHannWindow(Y);
  EXPECT_EQ(Y[3].Re, 1.0);
}

// The fast path must give the literal evaluation's bits, not merely close values: the viewer's
// rows and the previews are compared byte for byte across builds.
TEST(FFT, BitIdenticalToLiteralEvaluation) {
  const int Top = FFTVectorLevel();
  for (int Level = Top; Level >= 0; --Level) {
    LimitFFTVectorLevel(Level);
    for (size_t N = 1; N <= 65536; N *= 2) {
      TComplex64Array A = Widen(RandomSamples(N, static_cast<uint32_t>(N + 11), 3.0f));
      TComplex64Array B = A;
      ApplyHannWindow(A);
      ApplyHannWindowPlain(B);
      FFT(A);
      FFTPlain(B);
      size_t Bad = 0;
      for (size_t I = 0; I < N; ++I)
        Bad += !SameBits(A[I].Re, B[I].Re) || !SameBits(A[I].Im, B[I].Im);
      EXPECT_EQ(Bad, 0u) << "N=" << N << " vector level " << Level;
    }
  }
  LimitFFTVectorLevel(2);
  EXPECT_EQ(FFTVectorLevel(), Top);
}

TEST(FFT, SpecialValuesFollowLiteralEvaluation) {
  const double Inf = std::numeric_limits<double>::infinity();
  TComplex64Array A(64);
  A[3] = {Inf, 0.0};
  A[9] = {-0.0, -0.0};
  A[17] = {std::nan(""), 1.0};
  TComplex64Array B = A;
  FFT(A);
  FFTPlain(B);
  for (size_t I = 0; I < A.size(); ++I) {
    EXPECT_TRUE(SameBits(A[I].Re, B[I].Re)) << I;
    EXPECT_TRUE(SameBits(A[I].Im, B[I].Im)) << I;
  }
}

TEST(ComputePSD, EightOnes) {
  TComplexArray S(8, TComplexSample{1.0f, 0.0f});
  TFloatArray F, P;
  ComputePSD(S, 8000.0, 8, 1, F, P);
  const double EF[8] = {-4000, -3000, -2000, -1000, 0, 1000, 2000, 3000};
  const double EP[8] = {-120, -120, -120, 6.0206, 12.0412, 6.0206, -120, -120};
  ASSERT_EQ(F.size(), 8u);
  ASSERT_EQ(P.size(), 8u);
  for (int I = 0; I < 8; ++I) {
    EXPECT_EQ(F[I], EF[I]) << I;
    EXPECT_NEAR(P[I], EP[I], 1e-4) << I;
  }
  EXPECT_NEAR(P[4], 20 * std::log10(4.0), 1e-12); // window sum N/2 = 4, squared
}

TEST(ComputePSD, ToneMovesPeakUpOneBin) {
  TComplexArray S(8);
  for (int I = 0; I < 8; ++I)
    S[I] = {static_cast<float>(std::cos(2 * std::numbers::pi * I / 8)),
            static_cast<float>(std::sin(2 * std::numbers::pi * I / 8))};
  TFloatArray F, P;
  ComputePSD(S, 8000.0, 8, 1, F, P);
  ASSERT_EQ(P.size(), 8u);
  EXPECT_NEAR(P[5], 12.0412, 1e-4);
  EXPECT_EQ(F[5], 1000.0);
  EXPECT_NEAR(P[4], 6.0206, 1e-4);
  EXPECT_NEAR(P[6], 6.0206, 1e-4);
  EXPECT_LT(P[1], -100.0);
}

TEST(ComputePSD, AveragesWholeBlocksOnly) {
  const TComplexArray S = RandomSamples(8191, 3);
  TFloatArray F, P, Fr, Pr;
  ComputePSD(S, 1e6, 2048, 10, F, P);
  ASSERT_EQ(P.size(), 2048u);
  // Independent: mean of the three block periodograms, from the long-double DFT of the
  // windowed blocks (only a few bins, to stay quick).
  for (size_t Bin : {0u, 100u, 1024u, 1500u, 2047u}) {
    long double Sum = 0;
    for (size_t Seg = 0; Seg < 3; ++Seg) {
      LComplex Acc = 0;
      const size_t K = (Bin + 1024) % 2048;
      for (size_t I = 0; I < 2048; ++I) {
        const long double W = 0.5L * (1 - std::cos(2 * 3.141592653589793238L * I / 2048));
        const auto &X = S[Seg * 2048 + I];
        Acc += LComplex(W * X.Re, W * X.Im) *
               std::polar(1.0L, -2 * 3.141592653589793238L * ((I * K) % 2048) / 2048);
      }
      Sum += std::norm(Acc);
    }
    EXPECT_NEAR(P[Bin], static_cast<double>(10 * std::log10(Sum / 3)), 1e-9) << Bin;
  }
  EXPECT_EQ(F[0], -500000.0);
  EXPECT_EQ(F[1024], 0.0);
  // Samples 6144..8190 are ignored: changing them changes nothing.
  TComplexArray S2 = S;
  for (size_t I = 6144; I < S2.size(); ++I)
    S2[I] = {5.0f, 5.0f};
  ComputePSD(S2, 1e6, 2048, 10, Fr, Pr);
  EXPECT_EQ(P, Pr);
  // Zero or negative averaging counts mean one block.
  ComputePSD(S, 1e6, 2048, 0, F, P);
  ComputePSD(S, 1e6, 2048, 1, Fr, Pr);
  EXPECT_EQ(P, Pr);
}

TEST(ComputePSD, TooFewSamplesOrBadSize) {
  TFloatArray F{1.0}, P{2.0};
  ComputePSD(RandomSamples(2047, 1), 1e6, 2048, 1, F, P);
  EXPECT_TRUE(F.empty());
  EXPECT_TRUE(P.empty());
  ComputePSD(RandomSamples(4000, 1), 1e6, 1000, 1, F, P);
  EXPECT_TRUE(P.empty());
  ComputePSD(RandomSamples(4000, 1), 1e6, 0, 1, F, P);
  EXPECT_TRUE(P.empty());
  ComputePSD(RandomSamples(4000, 1), 1e6, -8, 1, F, P);
  EXPECT_TRUE(P.empty());
}

TEST(ComputePSD, BitIdenticalToLiteralEvaluation) {
  const TComplexArray S = RandomSamples(40000, 99, 2.0f);
  for (int32_t NFFT : {1, 2, 4, 8, 64, 2048, 8192}) {
    for (int32_t Avg : {1, 3, 100}) {
      TFloatArray F1, P1, F2, P2;
      ComputePSD(S, 2e6, NFFT, Avg, F1, P1);
      ComputePSDPlain(S, 2e6, NFFT, Avg, F2, P2);
      ASSERT_EQ(P1.size(), P2.size());
      for (size_t I = 0; I < P1.size(); ++I) {
        ASSERT_TRUE(SameBits(P1[I], P2[I])) << NFFT << "/" << Avg << " bin " << I;
        ASSERT_TRUE(SameBits(F1[I], F2[I]));
      }
    }
  }
}

// The windowed transform takes a different route for each size (tiled loads from 64 points on,
// passes of one, two or three stages) and vector width; each must give the literal bits.
TEST(ComputePSD, EverySizeAndVectorWidthGivesTheLiteralBits) {
  const TComplexArray S = RandomSamples(2 * 65536, 41, 3.0f);
  const int Top = FFTVectorLevel();
  for (int Level = Top; Level >= 0; --Level) {
    LimitFFTVectorLevel(Level);
    for (int32_t NFFT = 2; NFFT <= 65536; NFFT *= 2) {
      TFloatArray F1, P1, F2, P2;
      ComputePSD(S, 2e6, NFFT, 2, F1, P1);
      ComputePSDPlain(S, 2e6, NFFT, 2, F2, P2);
      ASSERT_EQ(P1.size(), P2.size());
      size_t Bad = 0;
      for (size_t I = 0; I < P1.size(); ++I)
        Bad += !SameBits(P1[I], P2[I]);
      EXPECT_EQ(Bad, 0u) << "NFFT " << NFFT << " vector level " << Level;
    }
  }
  LimitFFTVectorLevel(2);
}

// ---- waterfall rows ----

namespace {

// Raw dB rows at a hop, from the literal transform; the reference for the row selection rules.
std::vector<TSingleArray> RawRows(const TComplexArray &S, size_t N, size_t Hop) {
  std::vector<TSingleArray> Out;
  for (size_t Start = 0; Start + N <= S.size(); Start += Hop) {
    TComplex64Array B(N);
    for (size_t I = 0; I < N; ++I)
      B[I] = {S[Start + I].Re, S[Start + I].Im};
    ApplyHannWindowPlain(B);
    FFTPlain(B);
    FFTShift(B);
    TSingleArray Row(N);
    for (size_t I = 0; I < N; ++I)
      Row[I] = static_cast<float>(10 * std::log10(std::max(B[I].Re * B[I].Re + B[I].Im * B[I].Im, 1e-12)));
    Out.push_back(Row);
  }
  return Out;
}

TSingleArray MaxOf(const std::vector<TSingleArray> &Raw, size_t From, size_t To) {
  TSingleArray M = Raw[From];
  for (size_t R = From + 1; R < To; ++R)
    for (size_t I = 0; I < M.size(); ++I)
      M[I] = std::max(M[I], Raw[R][I]);
  return M;
}

} // namespace

TEST(ComputeWaterfallRows, SelectionAndDecimation) {
  const TComplexArray S = RandomSamples(1000, 5);
  const auto Raw = RawRows(S, 256, 128);
  ASSERT_EQ(Raw.size(), 6u);
  struct Case {
    int32_t MaxRows, Decimation;
    size_t Capacity;
    std::vector<std::pair<size_t, size_t>> Expect; // raw row ranges [from, to) per output row
  };
  const Case Cases[] = {
      {4, 1, 4, {{2, 3}, {3, 4}, {4, 5}, {5, 6}}},                  // newest four, oldest first
      {0, 1, 10, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}}, // no limit
      {0, 1, 2, {{0, 1}, {1, 2}}},                                  // too short: the first two
      {0, 2, 10, {{0, 2}, {2, 4}, {4, 6}}},                         // max over pairs
      {2, 2, 10, {{2, 4}, {4, 6}}},                                 // newest two blocks
      {0, 4, 10, {{0, 4}}},                                         // rows 4-5 dropped
      {0, 10, 10, {{0, 6}}},                                        // one block of all six
      {0, 0, 10, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}}, // decimation raised to 1
      {-3, -1, 1, {{0, 1}}},
  };
  for (const auto &C : Cases) {
    TRowBuffer Rows(C.Capacity);
    int32_t Count = -1;
    ComputeWaterfallRows(S, 1e6, 256, 0.5, C.MaxRows, Rows, Count, C.Decimation);
    ASSERT_EQ(Count, static_cast<int32_t>(C.Expect.size())) << C.MaxRows << "/" << C.Decimation;
    for (size_t R = 0; R < C.Expect.size(); ++R)
      EXPECT_EQ(Rows[R], MaxOf(Raw, C.Expect[R].first, C.Expect[R].second))
          << "case " << C.MaxRows << "/" << C.Decimation << " row " << R;
    for (size_t R = C.Expect.size(); R < Rows.size(); ++R)
      EXPECT_TRUE(Rows[R].empty());
  }
}

TEST(ComputeWaterfallRows, HopRoundsHalfToEven) {
  EXPECT_EQ(WaterfallHop(8, 0.4375), 4); // 4.5
  EXPECT_EQ(WaterfallHop(8, 0.3125), 6); // 5.5
  EXPECT_EQ(WaterfallHop(256, 0.0), 256);
  EXPECT_EQ(WaterfallHop(256, 0.5), 128);
  EXPECT_EQ(WaterfallHop(256, 1.0), 1);
  EXPECT_EQ(WaterfallHop(256, 7.0), 1);
  EXPECT_EQ(WaterfallHop(256, std::nan("")), 1);
  EXPECT_EQ(WaterfallHop(256, -1e300), 2147483647);
  // The hop decides the row count: 20 samples, NFFT 8: hop 4 gives 4 rows, hop 6 gives 3.
  const TComplexArray S = RandomSamples(20, 1);
  TRowBuffer Rows(10);
  int32_t Count = 0;
  ComputeWaterfallRows(S, 1, 8, 0.4375, 0, Rows, Count, 1);
  EXPECT_EQ(Count, 4);
  ComputeWaterfallRows(S, 1, 8, 0.3125, 0, Rows, Count, 1);
  EXPECT_EQ(Count, 3);
  ComputeWaterfallRows(S, 1, 8, -1e300, 0, Rows, Count, 1);
  EXPECT_EQ(Count, 1);
}

TEST(ComputeWaterfallRows, TooFewSamplesLeavesRowsAlone) {
  TRowBuffer Rows(3, TSingleArray{1.0f, 2.0f});
  int32_t Count = 7;
  ComputeWaterfallRows(RandomSamples(255, 1), 1e6, 256, 0.0, 0, Rows, Count, 1);
  EXPECT_EQ(Count, 0);
  EXPECT_EQ(Rows[0], (TSingleArray{1.0f, 2.0f}));
  ComputeWaterfallRows(RandomSamples(300, 1), 1e6, 100, 0.0, 0, Rows, Count, 1);
  EXPECT_EQ(Count, 0);
  TRowBuffer None;
  ComputeWaterfallRows(RandomSamples(300, 1), 1e6, 64, 0.0, 0, None, Count, 1);
  EXPECT_EQ(Count, 0);
}

TEST(ComputeWaterfallRows, FloorAndToneLevels) {
  TComplexArray S(64);
  TRowBuffer Rows(1);
  int32_t Count = 0;
  ComputeWaterfallRows(S, 1, 64, 0.0, 0, Rows, Count, 1);
  ASSERT_EQ(Count, 1);
  for (float V : Rows[0])
    EXPECT_EQ(V, -120.0f);
  for (size_t I = 0; I < 64; ++I)
    S[I] = {1.0f, 0.0f};
  ComputeWaterfallRows(S, 1, 64, 0.0, 0, Rows, Count, 1);
  EXPECT_NEAR(Rows[0][32], 20 * std::log10(32.0), 1e-5);
  EXPECT_NEAR(Rows[0][31], 20 * std::log10(16.0), 1e-5);
}

TEST(ComputeWaterfallRows, BitIdenticalToLiteralEvaluation) {
  const TComplexArray S = RandomSamples(70000, 17, 1.5f);
  struct Case {
    int32_t NFFT;
    double Overlap;
    int32_t MaxRows, Dec;
    size_t Cap;
  } Cases[] = {{4096, 0.0, 1, 8, 2},  {4096, 0.0, 0, 8, 100}, {256, 0.5, 7, 3, 100}, {256, 0.75, 0, 1, 1000},
               {1024, 0.25, 2, 5, 1}, {64, 0.0, 0, 50, 10},   {2, 0.0, 0, 4, 5},     {1, 0.0, 3, 1, 3}};
  const int Top = FFTVectorLevel();
  for (int Level = Top; Level >= 0; --Level)
    for (const auto &C : Cases) {
      LimitFFTVectorLevel(Level);
      TRowBuffer A(C.Cap), B(C.Cap);
      int32_t NA = -1, NB = -2;
      ComputeWaterfallRows(S, 2e6, C.NFFT, C.Overlap, C.MaxRows, A, NA, C.Dec);
      ComputeWaterfallRowsPlain(S, 2e6, C.NFFT, C.Overlap, C.MaxRows, B, NB, C.Dec);
      ASSERT_EQ(NA, NB) << C.NFFT;
      ASSERT_GT(NA, 0);
      for (int32_t R = 0; R < NA; ++R) {
        ASSERT_EQ(A[R].size(), B[R].size());
        for (size_t I = 0; I < A[R].size(); ++I)
          ASSERT_TRUE(SameBits(A[R][I], B[R][I]))
              << C.NFFT << " row " << R << " bin " << I << " level " << Level;
      }
    }
  LimitFFTVectorLevel(2);
}

// The rows hold the powers inside the transform's last pass, which is of a different kind from
// size to size; every size and vector width must still give the literal bytes.
TEST(ComputeWaterfallRows, EverySizeAndVectorWidthGivesTheLiteralBytes) {
  const TComplexArray S = RandomSamples(6 * 65536, 43, 2.5f);
  const int Top = FFTVectorLevel();
  for (int Level = Top; Level >= 0; --Level) {
    LimitFFTVectorLevel(Level);
    for (int32_t NFFT = 2; NFFT <= 65536; NFFT *= 2) {
      TRowBuffer A(2), B(2);
      int32_t NA = -1, NB = -2;
      ComputeWaterfallRows(S, 2e6, NFFT, 0.0, 2, A, NA, 3);
      ComputeWaterfallRowsPlain(S, 2e6, NFFT, 0.0, 2, B, NB, 3);
      ASSERT_EQ(NA, NB) << NFFT;
      size_t Bad = 0;
      for (int32_t R = 0; R < NA; ++R)
        for (size_t I = 0; I < B[R].size(); ++I)
          Bad += A[R].size() != B[R].size() || !SameBits(A[R][I], B[R][I]);
      EXPECT_EQ(Bad, 0u) << "NFFT " << NFFT << " vector level " << Level;
    }
  }
  LimitFFTVectorLevel(2);
}

TEST(ComputeWaterfallRows, ReusesCallerRowsOfAnyLength) {
  const TComplexArray S = RandomSamples(512, 2);
  TRowBuffer Rows{TSingleArray(1000, 5.0f), TSingleArray(3, 5.0f)};
  int32_t Count = 0;
  ComputeWaterfallRows(S, 1, 256, 0.0, 0, Rows, Count, 1);
  ASSERT_EQ(Count, 2);
  const auto Raw = RawRows(S, 256, 256);
  EXPECT_EQ(Rows[0], Raw[0]);
  EXPECT_EQ(Rows[1], Raw[1]);
}

namespace {
// Fixes the thread count of ComputeWaterfallRows for one scope.
struct TThreadsGuard {
  explicit TThreadsGuard(int32_t N) { SetWaterfallThreads(N); }
  ~TThreadsGuard() { SetWaterfallThreads(0); }
  TThreadsGuard(const TThreadsGuard &) = delete;
  TThreadsGuard &operator=(const TThreadsGuard &) = delete;
};
} // namespace

// Rows split between threads in every way: whole rows per thread, a row's transforms shared by
// several threads (the max-hold merged across the split), more threads than transforms, and
// non-numbers in a row's first and in a later transform (the first sticks, a later one never
// replaces). Every thread count must give the literal evaluation's bytes.
TEST(ComputeWaterfallRows, EveryThreadCountGivesTheLiteralBytes) {
  TComplexArray S = RandomSamples(90000, 23, 2.0f);
  // Row 0 of the NFFT 256 / Dec 8 cases: a NaN in its first transform, an infinity in its fifth.
  S[10] = {std::nanf(""), 0.0f};
  S[4 * 256 + 3] = {std::numeric_limits<float>::infinity(), 0.0f};
  // Row 1: an infinity in its fourth transform (infinite and NaN bins after the first).
  S[8 * 256 + 3 * 256 + 5] = {std::numeric_limits<float>::infinity(), 1.0f};
  // A later row: NaN in its third transform only.
  S[3 * 8 * 256 + 2 * 256 + 7] = {0.0f, std::nanf("")};
  struct Case {
    int32_t NFFT;
    double Overlap;
    int32_t MaxRows, Dec;
    size_t Cap;
  } Cases[] = {{256, 0.0, 0, 8, 100},   {256, 0.0, 1, 8, 2},   {4096, 0.0, 1, 8, 2}, {1024, 0.5, 0, 3, 1000},
               {256, 0.25, 5, 13, 100}, {64, 0.0, 0, 1, 2000}, {8, 0.0, 2, 7, 3},    {2, 0.0, 0, 100, 1000}};
  for (const auto &C : Cases) {
    TRowBuffer B(C.Cap);
    int32_t NB = -1;
    ComputeWaterfallRowsPlain(S, 2e6, C.NFFT, C.Overlap, C.MaxRows, B, NB, C.Dec);
    ASSERT_GT(NB, 0);
    for (int32_t Threads : {1, 2, 3, 5, 8, 16, 64}) {
      const TThreadsGuard G(Threads);
      TRowBuffer A(C.Cap);
      int32_t NA = -2;
      ComputeWaterfallRows(S, 2e6, C.NFFT, C.Overlap, C.MaxRows, A, NA, C.Dec);
      ASSERT_EQ(NA, NB) << C.NFFT << " threads " << Threads;
      for (int32_t R = 0; R < NA; ++R) {
        ASSERT_EQ(A[R].size(), B[R].size());
        for (size_t I = 0; I < A[R].size(); ++I)
          ASSERT_TRUE(SameBits(A[R][I], B[R][I])) << "NFFT " << C.NFFT << " Dec " << C.Dec << " threads "
                                                  << Threads << " row " << R << " bin " << I;
      }
    }
  }
  // The special values did reach the rows: row 0 is NaN throughout, the later row is not.
  TRowBuffer Rows(100);
  int32_t N = 0;
  ComputeWaterfallRows(S, 2e6, 256, 0.0, 0, Rows, N, 8);
  ASSERT_GT(N, 3);
  EXPECT_TRUE(std::isnan(Rows[0][100]));
  EXPECT_FALSE(std::isnan(Rows[3][100]));
}

TEST(ComputeWaterfallRows, AutomaticThreadCount) {
  // Small work stays on the calling thread; large work never exceeds the cores or the transforms.
  EXPECT_EQ(AutoWaterfallThreads(1, 4096), 1);
  EXPECT_EQ(AutoWaterfallThreads(3, 256), 1);
  EXPECT_EQ(AutoWaterfallThreads(0, 4096), 1);
  const int32_t Cores = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_EQ(AutoWaterfallThreads(8, 4096), 1); // one chunk of the viewer's window
  EXPECT_EQ(AutoWaterfallThreads(611 * 8, 4096), std::min(Cores, 16));
  EXPECT_LE(AutoWaterfallThreads(2, 1 << 20), 2);
}

// The quick level conversion against the library's, over every scale of power the rows hold:
// random mantissas at every binary exponent from the floor up, powers near 1 (0 dB, where
// floats are finest), exact powers of ten, neighbours of table stretch edges, and odd values.
TEST(ComputeWaterfallRows, QuickLevelsEqualTheLibrarys) {
  auto Library = [](double P) { return static_cast<float>(10.0 * std::log10(P)); };
  size_t Checked = 0;
  auto Check = [&](double P) {
    ASSERT_TRUE(SameBits(WaterfallDb(P), Library(P))) << P;
    ++Checked;
  };
  std::mt19937_64 Gen(99);
  std::uniform_real_distribution<double> Mant(1.0, 2.0);
  for (int E = -40; E <= 60; ++E)
    for (int I = 0; I < 20000; ++I)
      Check(std::max(std::ldexp(Mant(Gen), E), PSD_POWER_FLOOR));
  for (int I = -20000; I <= 20000; ++I)
    Check(1.0 + I * 1e-9);
  for (int K = -12; K <= 15; ++K) {
    const double P = std::pow(10.0, K);
    Check(P);
    Check(std::nextafter(P, 0.0));
    Check(std::nextafter(P, 1e300));
  }
  for (int J = 0; J <= 256; ++J) {
    const double Edge = std::ldexp(256.0 + J, -8) * 1024.0;
    Check(Edge);
    Check(std::nextafter(Edge, 0.0));
  }
  for (double P : {PSD_POWER_FLOOR, 1e-12, 4.0, 1e299, 1e301, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::max()})
    Check(P);
  EXPECT_GT(Checked, 2000000u);
}

// Whole rows are converted eight levels at a time by their own route; on the same powers as
// above, and on every vector width, each level must be the library's float.
TEST(ComputeWaterfallRows, RowLevelsEqualTheLibrarys) {
  std::vector<double> P;
  std::mt19937_64 Gen(7);
  std::uniform_real_distribution<double> Mant(1.0, 2.0);
  for (int E = -40; E <= 60; ++E)
    for (int I = 0; I < 20000; ++I)
      P.push_back(std::max(std::ldexp(Mant(Gen), E), PSD_POWER_FLOOR));
  for (int I = -20000; I <= 20000; ++I)
    P.push_back(1.0 + I * 1e-9);
  for (int K = -12; K <= 15; ++K)
    for (double V : {std::pow(10.0, K), std::nextafter(std::pow(10.0, K), 0.0),
                     std::nextafter(std::pow(10.0, K), 1e300)})
      P.push_back(V);
  for (int J = 0; J <= 256; ++J) // the edges of both tables' stretches
    for (double V :
         {std::ldexp(256.0 + J, -8) * 1024.0, std::nextafter(std::ldexp(256.0 + J, -8) * 1024.0, 0.0)})
      P.push_back(V);
  for (double V : {PSD_POWER_FLOOR, 1e-12, 4.0, 1e299, 1e301, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::max(), 0.0, -1.0})
    P.push_back(V);
  std::vector<float> Got(P.size());
  const int Top = FFTVectorLevel();
  for (int Level = Top; Level >= 0; --Level) {
    LimitFFTVectorLevel(Level);
    WaterfallDbs(P.data(), P.size(), Got.data());
    size_t Bad = 0;
    for (size_t I = 0; I < P.size(); ++I)
      Bad += !SameBits(Got[I], static_cast<float>(10.0 * std::log10(P[I])));
    EXPECT_EQ(Bad, 0u) << "vector level " << Level;
  }
  LimitFFTVectorLevel(2);
}

// Many chunks in one call against one literal call per chunk (row limit 1, as the viewer's window
// load makes them): overlaps, decimations larger than a chunk holds, a shorter last chunk with
// and without room for a transform, a row buffer that runs out, and several thread counts.
TEST(ComputeWaterfallChunkRows, SameRowsAsOneCallPerChunk) {
  const TComplexArray S = RandomSamples(60000, 31, 1.2f);
  const struct {
    int32_t NFFT;
    double Overlap;
    int32_t Dec;
    int64_t Chunk;
    size_t Size, Cap;
  } Cases[] = {{256, 0.0, 8, 2048, 60000, 100},  {256, 0.5, 8, 2048, 59000, 100},
               {64, 0.25, 3, 500, 60000, 1000},  {128, 0.0, 1, 128, 5000, 100},
               {256, 0.0, 50, 2048, 20000, 100}, {256, 0.0, 8, 2048, 20400, 100},
               {256, 0.75, 4, 1024, 60000, 7},   {512, 0.0, 2, 300, 60000, 10}};
  for (const auto &C : Cases) {
    const TComplexArray In(S.begin(), S.begin() + static_cast<ptrdiff_t>(C.Size));
    // One call per chunk, stopping at the first chunk without a full transform.
    std::vector<TSingleArray> Want;
    for (size_t Pos = 0; Pos < In.size() && Want.size() < C.Cap; Pos += static_cast<size_t>(C.Chunk)) {
      const size_t End = std::min(In.size(), Pos + static_cast<size_t>(C.Chunk));
      const TComplexArray Part(In.begin() + static_cast<ptrdiff_t>(Pos),
                               In.begin() + static_cast<ptrdiff_t>(End));
      TRowBuffer One(2);
      int32_t Got = 0;
      ComputeWaterfallRowsPlain(Part, 1e6, C.NFFT, C.Overlap, 1, One, Got, C.Dec);
      if (Got == 0)
        break;
      Want.push_back(One[0]);
    }
    for (int32_t Threads : {1, 3, 16}) {
      const TThreadsGuard G(Threads);
      TRowBuffer Rows(C.Cap);
      int32_t Count = -1;
      ComputeWaterfallChunkRows(In, C.Chunk, C.NFFT, C.Overlap, C.Dec, Rows, Count);
      ASSERT_EQ(Count, static_cast<int32_t>(Want.size())) << "NFFT " << C.NFFT << " chunk " << C.Chunk;
      for (int32_t R = 0; R < Count; ++R) {
        ASSERT_EQ(Rows[R].size(), Want[R].size());
        for (size_t I = 0; I < Want[R].size(); ++I)
          ASSERT_TRUE(SameBits(Rows[R][I], Want[R][I]))
              << "NFFT " << C.NFFT << " chunk " << C.Chunk << " threads " << Threads << " row " << R;
      }
    }
  }
  // Chunks shorter than a transform give nothing.
  TRowBuffer Rows(4);
  int32_t Count = -1;
  ComputeWaterfallChunkRows(S, 100, 256, 0.0, 1, Rows, Count);
  EXPECT_EQ(Count, 0);
}

// Pooling straight from the power must give the bytes of the long way round: every raw row in
// dB by the literal evaluation, then the largest level of each bin over the group (the first
// row's value kept unless a later one is strictly greater). Groups uneven, one raw row each,
// repeated raw rows (more rows than raw spectra), a capacity below K, non-numbers inside a group,
// and every way of sharing the transforms between threads.
TEST(ComputeWaterfallPooledRows, SameBytesAsPoolingTheLiteralRawRows) {
  TComplexArray S = RandomSamples(50000, 41, 1.7f);
  S[5 * 256 + 9] = {std::nanf(""), 0.0f};                           // raw row 5 at NFFT 256, hop 256
  S[20 * 256 + 1] = {std::numeric_limits<float>::infinity(), 0.0f}; // raw row 20
  const struct {
    int32_t NFFT;
    double Overlap;
    size_t Size;
    int32_t K;
    size_t Cap;
  } Cases[] = {{256, 0.0, 50000, 7, 7},  {256, 0.0, 50000, 1, 1},   {256, 0.5, 30000, 13, 13},
               {256, 0.0, 2000, 11, 11}, {256, 0.0, 50000, 9, 4},   {1024, 0.25, 50000, 3, 3},
               {64, 0.0, 64, 2, 2},      {4096, 0.0, 50000, 12, 12}};
  for (const auto &C : Cases) {
    const TComplexArray In(S.begin(), S.begin() + static_cast<ptrdiff_t>(C.Size));
    TRowBuffer Raw(In.size());
    int32_t M = 0;
    ComputeWaterfallRowsPlain(In, 1e6, C.NFFT, C.Overlap, 0, Raw, M, 1);
    ASSERT_GT(M, 0);
    std::vector<TSingleArray> Want;
    for (int32_t J = 0; J < C.K && Want.size() < C.Cap; ++J) {
      const int32_t A = J * M / C.K;
      const int32_t B = std::min(std::max(A + 1, (J + 1) * M / C.K), M);
      TSingleArray Row = Raw[static_cast<size_t>(A)];
      for (int32_t R = A + 1; R < B; ++R)
        for (size_t I = 0; I < Row.size(); ++I)
          if (Raw[static_cast<size_t>(R)][I] > Row[I])
            Row[I] = Raw[static_cast<size_t>(R)][I];
      Want.push_back(std::move(Row));
    }
    for (int32_t Threads : {1, 2, 3, 16}) {
      const TThreadsGuard G(Threads);
      TRowBuffer Rows(C.Cap);
      int32_t Count = -1;
      ComputeWaterfallPooledRows(In, C.NFFT, C.Overlap, C.K, Rows, Count);
      ASSERT_EQ(Count, static_cast<int32_t>(Want.size())) << "NFFT " << C.NFFT << " K " << C.K;
      for (int32_t R = 0; R < Count; ++R) {
        ASSERT_EQ(Rows[R].size(), Want[R].size());
        for (size_t I = 0; I < Want[R].size(); ++I)
          ASSERT_TRUE(SameBits(Rows[R][I], Want[R][I]))
              << "NFFT " << C.NFFT << " K " << C.K << " threads " << Threads << " row " << R << " bin " << I;
      }
    }
  }
  // Nothing to pool: too few samples, no rows asked for, no room, a size without a transform.
  TRowBuffer Rows(4);
  int32_t Count = -1;
  for (const auto &[Size, NFFT, K] : {std::tuple{255, 256, 2}, {1000, 256, 0}, {1000, 100, 2}}) {
    ComputeWaterfallPooledRows(TComplexArray(S.begin(), S.begin() + Size), NFFT, 0.0, K, Rows, Count);
    EXPECT_EQ(Count, 0) << Size << " " << NFFT << " " << K;
  }
  TRowBuffer None;
  ComputeWaterfallPooledRows(S, 256, 0.0, 3, None, Count);
  EXPECT_EQ(Count, 0);
}
