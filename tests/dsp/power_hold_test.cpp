// The single-precision max-hold of many transforms against a long-double DFT of every
// transform, on every vector width, from floats and from 16-bit values.
#include "dsp/uFFT.h"
#include "dsp/uFFTHooks.h"
#include "dsp/uPowerHold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

namespace {

// Noise at about -40 dBFS with a tone at 0 dBFS: levels over some 90 dB.
std::vector<int16_t> Values(size_t Samples, uint32_t Seed) {
  std::mt19937 Gen(Seed);
  std::normal_distribution<double> Noise(0.0, 300.0);
  std::vector<int16_t> V(2 * Samples);
  for (size_t I = 0; I < Samples; ++I) {
    const double Ph = 0.7 * static_cast<double>(I);
    V[2 * I] = static_cast<int16_t>(std::lround(20000.0 * std::cos(Ph) + Noise(Gen)));
    V[2 * I + 1] = static_cast<int16_t>(std::lround(20000.0 * std::sin(Ph) + Noise(Gen)));
  }
  return V;
}

TComplexArray AsSamples(const std::vector<int16_t> &V) {
  TComplexArray S(V.size() / 2);
  for (size_t I = 0; I < S.size(); ++I)
    S[I] = {static_cast<float>(V[2 * I]) / 32768.0f, static_cast<float>(V[2 * I + 1]) / 32768.0f};
  return S;
}

// Levels of the strongest power per bin over every whole transform, lowest frequency first.
std::vector<long double> Reference(const TComplexArray &S, size_t N) {
  const long double Pi = 3.141592653589793238462643383279502884L;
  std::vector<long double> Max(N, 0.0L);
  for (size_t B = 0; B + N <= S.size(); B += N)
    for (size_t K = 0; K < N; ++K) {
      std::complex<long double> Acc = 0;
      for (size_t I = 0; I < N; ++I) {
        const long double W = 0.5L * (1.0L - std::cos(2.0L * Pi * I / N));
        Acc += W * std::complex<long double>(S[B + I].Re, S[B + I].Im) *
               std::polar(1.0L, -2.0L * Pi * static_cast<long double>((I * K) % N) / N);
      }
      Max[(K + N / 2) % N] = std::max(Max[(K + N / 2) % N], std::norm(Acc));
    }
  for (long double &P : Max)
    P = 10.0L * std::log10(std::max(P, static_cast<long double>(PSD_POWER_FLOOR)));
  return Max;
}

struct TRestoreLevel {
  ~TRestoreLevel() { LimitFFTVectorLevel(2); }
};

TEST(PowerHold, LevelsMatchALongDoubleTransformOnEveryWidth) {
  TRestoreLevel Restore;
  // Counts below, at and above a batch of 4, 8 and 16, and sizes from the smallest up.
  const struct {
    size_t N, Transforms;
  } Rows[] = {{16, 1}, {16, 17}, {64, 40}, {128, 16}, {128, 33}, {1024, 3}};
  for (const auto &R : Rows) {
    // A stretch not a whole number of transforms: the rest is left out.
    const std::vector<int16_t> V =
        Values(R.N * R.Transforms + R.N / 2, static_cast<uint32_t>(R.N + R.Transforms));
    const TComplexArray S = AsSamples(V);
    const std::vector<long double> Want = Reference(S, R.N);
    const long double Top = *std::max_element(Want.begin(), Want.end());
    TSingleArray First;
    for (int Level = 0; Level <= FFTVectorLevel() || Level == 0; ++Level) {
      LimitFFTVectorLevel(Level);
      for (bool FromInt16 : {false, true}) {
        TPowerHold H(static_cast<int32_t>(R.N));
        // Held over two calls split at a transform boundary, as a pass reads its stretch.
        const size_t Split = R.N * (R.Transforms / 2);
        if (FromInt16) {
          H.AddInt16(std::span<const int16_t>(V.data(), 2 * Split), 1.0f / 32768.0f);
          H.AddInt16(std::span<const int16_t>(V.data() + 2 * Split, V.size() - 2 * Split), 1.0f / 32768.0f);
        } else {
          H.Add(std::span<const TComplexSample>(S.data(), Split));
          H.Add(std::span<const TComplexSample>(S.data() + Split, S.size() - Split));
        }
        EXPECT_EQ(H.Transforms(), static_cast<int64_t>(R.Transforms));
        EXPECT_TRUE(H.Finite());
        TSingleArray Got;
        H.Levels(Got);
        ASSERT_EQ(Got.size(), R.N);
        for (size_t K = 0; K < R.N; ++K) {
          // Single precision: 0.01 dB down to 70 dB below the strongest bin, 0.5 dB below that.
          const double Tol = Want[K] > Top - 70 ? 0.01 : 0.5;
          ASSERT_NEAR(Got[K], static_cast<double>(Want[K]), Tol)
              << "N " << R.N << " x" << R.Transforms << " bin " << K << " level " << Level << " int16 "
              << FromInt16;
        }
        // AVX2 and AVX-512 give the same bits.
        if (FromInt16 || Level == 0)
          continue;
        if (First.empty())
          First = Got;
        EXPECT_EQ(Got, First) << "N " << R.N << " level " << Level;
      }
    }
  }
}

TEST(PowerHold, NonFiniteSamplesAreReportedAndResetStartsAfresh) {
  const float Inf = std::numeric_limits<float>::infinity(), NaN = std::numeric_limits<float>::quiet_NaN();
  for (float Bad : {NaN, Inf, -Inf, 3e30f}) {
    TComplexArray S(64 * 20); // zeros: -120 dB everywhere
    S[64 * 13 + 5].Im = Bad;
    TPowerHold H(64);
    H.Add(S);
    EXPECT_FALSE(H.Finite()) << Bad;
    H.Reset();
    EXPECT_EQ(H.Transforms(), 0);
    TSingleArray Row;
    H.Levels(Row);
    EXPECT_TRUE(Row.empty());
    H.Add(std::span<const TComplexSample>(S.data(), 64 * 13)); // the transforms before it
    EXPECT_TRUE(H.Finite());
    H.Levels(Row);
    EXPECT_EQ(Row, TSingleArray(64, -120.0f));
  }
  // 16-bit values scaled beyond 1 can leave single precision's range.
  const std::vector<int16_t> Loud(2 * 64 * 3, 32767);
  TPowerHold H(64);
  H.AddInt16(Loud, 1.0f);
  EXPECT_TRUE(H.Finite());
  H.AddInt16(Loud, 1e30f);
  EXPECT_FALSE(H.Finite());
  for (int32_t N : {0, 8, 100, 131072})
    EXPECT_THROW(TPowerHold{N}, EFFTSizeError) << N;
}

} // namespace
