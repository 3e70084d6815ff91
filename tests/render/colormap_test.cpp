#include "render/uColormap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

void ExpectRGB(TRGB C, int R, int G, int B, const char *What) {
  EXPECT_EQ(C.R, R) << What;
  EXPECT_EQ(C.G, G) << What;
  EXPECT_EQ(C.B, B) << What;
}

bool Same(TRGB A, TRGB B) {
  return A.R == B.R && A.G == B.G && A.B == B.B;
}

float FromBits(uint32_t U) {
  float F;
  std::memcpy(&F, &U, sizeof F);
  return F;
}

// Every float from Lo to Hi (both finite, Lo <= Hi) through F, in value order.
template <class Fn> void ForEachFloat(float Lo, float Hi, Fn F) {
  for (float X = Lo;; X = std::nextafter(X, Hi)) {
    F(X);
    if (X == Hi)
      break;
  }
}

// Counts the floats in [Lo, Hi] whose table colour differs from MapDbToColor's.
size_t CountTableMismatches(const TDbColorTable &T, float Lo, float Hi, float MinDb, float MaxDb) {
  size_t Bad = 0;
  ForEachFloat(Lo, Hi, [&](float X) { Bad += Same(T.Map(X), MapDbToColor(X, MinDb, MaxDb)) ? 0 : 1; });
  return Bad;
}

} // namespace

TEST(Colormap, ListedByteColours) {
  ExpectRGB(ColormapViridis(0.0f), 68, 1, 84, "t=0");
  ExpectRGB(ColormapViridis(0.25f), 67, 64, 131, "t=0.25");
  ExpectRGB(ColormapViridis(0.5f), 41, 124, 141, "t=0.5");
  ExpectRGB(ColormapViridis(0.75f), 76, 191, 107, "t=0.75");
  ExpectRGB(ColormapViridis(1.0f), 253, 231, 37, "t=1");
}

TEST(Colormap, StopsAndInterpolation) {
  const float Eps = 1e-6f;
  for (int K = 0; K < VIRIDIS_STOPS; ++K) {
    float R, G, B;
    ColormapViridisGL(static_cast<float>(K) / 7.0f, R, G, B);
    EXPECT_NEAR(R, ViridisR[K], Eps) << K;
    EXPECT_NEAR(G, ViridisG[K], Eps) << K;
    EXPECT_NEAR(B, ViridisB[K], Eps) << K;
  }
  // T = 0.5 lies halfway between stops 3 and 4.
  float R, G, B;
  ColormapViridisGL(0.5f, R, G, B);
  EXPECT_NEAR(R, (ViridisR[3] + ViridisR[4]) / 2, Eps);
  EXPECT_NEAR(G, (ViridisG[3] + ViridisG[4]) / 2, Eps);
  EXPECT_NEAR(B, (ViridisB[3] + ViridisB[4]) / 2, Eps);
  // Just below 1 interpolates between stops 6 and 7, never past the last stop.
  ColormapViridisGL(std::nextafter(1.0f, 0.0f), R, G, B);
  EXPECT_NEAR(R, ViridisR[7], 1e-5f);
  EXPECT_EQ(Lerp(2.0f, 4.0f, 0.25f), 2.5f);
}

TEST(Colormap, OutOfRangeInputs) {
  ExpectRGB(ColormapViridis(-3.0f), 68, 1, 84, "below");
  ExpectRGB(ColormapViridis(7.0f), 253, 231, 37, "above");
  ExpectRGB(ColormapViridis(std::numeric_limits<float>::quiet_NaN()), 68, 1, 84, "NaN");
  ExpectRGB(ColormapViridis(std::numeric_limits<float>::infinity()), 253, 231, 37, "inf");
}

TEST(MapDbToColor, RangeEnds) {
  ExpectRGB(MapDbToColor(-10.0f, -10.0f, 45.0f), 68, 1, 84, "min");
  ExpectRGB(MapDbToColor(-50.0f, -10.0f, 45.0f), 68, 1, 84, "below min");
  ExpectRGB(MapDbToColor(45.0f, -10.0f, 45.0f), 253, 231, 37, "max");
  ExpectRGB(MapDbToColor(300.0f, -10.0f, 45.0f), 253, 231, 37, "above max");
  ExpectRGB(MapDbToColor(17.5f, -10.0f, 45.0f), 41, 124, 141, "middle");
  ExpectRGB(MapDbToColor(3.75f, -10.0f, 45.0f), 67, 64, 131, "quarter");
  ExpectRGB(MapDbToColor(5.0f, 10.0f, 10.0f), 0, 0, 0, "empty range");
  ExpectRGB(MapDbToColor(5.0f, 20.0f, 10.0f), 0, 0, 0, "inverted range");
  ExpectRGB(MapDbToColor(std::numeric_limits<float>::quiet_NaN(), -10.0f, 45.0f), 68, 1, 84, "NaN level");
}

// Independent check of the byte rounding: the float ramp rounded in double arithmetic agrees
// everywhere except exactly at .5 ties, which a fine sweep does not hit.
TEST(Colormap, SweepMatchesDoubleRounding) {
  const float *Stops[3] = {ViridisR, ViridisG, ViridisB};
  for (int Step = 0; Step <= 7000; ++Step) {
    const float T = static_cast<float>(Step) / 7000.0f;
    const TRGB C = ColormapViridis(T);
    const uint8_t Got[3] = {C.R, C.G, C.B};
    const double S = static_cast<double>(T) * 7;
    const int I = std::min(static_cast<int>(S), 6);
    for (int Ch = 0; Ch < 3; ++Ch) {
      const double V = Stops[Ch][I] + (static_cast<double>(Stops[Ch][I + 1]) - Stops[Ch][I]) * (S - I);
      EXPECT_NEAR(Got[Ch], V * 255.0, 0.5 + 1e-4) << "T=" << T << " channel " << Ch;
    }
  }
}

// The table against the computed colour map for level ranges of every kind: every float of the
// narrow ones, and for the wide ones the floats around every bin edge and a random sample, plus
// levels outside the range, infinities and NaN.
TEST(DbColorTable, SameBytesAsMapDbToColor) {
  const float Inf = std::numeric_limits<float>::infinity(), NaN = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float Min, Max;
    bool EveryFloat; // few enough floats in the range to try them all
    bool Binned;     // wide enough for bins of a float's width
  } Ranges[] = {{-10, 45, false, true},           {-120, 0, false, true},   {0, 1, false, true},
                {-1e30f, 1e30f, false, true},     {30, 30.5f, false, true}, {1000, 1003, true, true},
                {-2, -1.999f, true, true},        {0, 1e-38f, true, false}, {-1e-40f, 1e-40f, true, false},
                {1e-30f, 1.0001e-30f, true, true}};
  for (const auto &Rg : Ranges) {
    TDbColorTable T;
    T.Build(Rg.Min, Rg.Max);
    ASSERT_TRUE(T.IsFor(Rg.Min, Rg.Max));
    EXPECT_EQ(T.Binned(), Rg.Binned) << Rg.Min << ".." << Rg.Max;
    const std::string What = std::to_string(Rg.Min) + ".." + std::to_string(Rg.Max);
    if (Rg.EveryFloat) {
      EXPECT_EQ(CountTableMismatches(T, Rg.Min, Rg.Max, Rg.Min, Rg.Max), 0u) << What;
      // The table knows every point where the colour changes between neighbouring floats.
      size_t Changes = 0;
      TRGB Prev = MapDbToColor(Rg.Min, Rg.Min, Rg.Max);
      ForEachFloat(Rg.Min, Rg.Max, [&](float X) {
        const TRGB C = MapDbToColor(X, Rg.Min, Rg.Max);
        Changes += Same(C, Prev) ? 0 : 1;
        Prev = C;
      });
      if (T.Binned()) {
        EXPECT_EQ(T.ChangeCount(), Changes) << What;
      }
    } else {
      // Around each bin edge, where rounding decides the bin, and both ends.
      const float Width = (Rg.Max - Rg.Min) / TDbColorTable::BINS;
      size_t Bad = 0;
      for (int32_t B = 0; B <= TDbColorTable::BINS; ++B) {
        float X = Rg.Min + Width * static_cast<float>(B);
        for (int K = 0; K < 4; ++K)
          X = std::nextafter(X, -Inf);
        for (int K = 0; K < 8; ++K, X = std::nextafter(X, Inf))
          Bad += Same(T.Map(X), MapDbToColor(X, Rg.Min, Rg.Max)) ? 0 : 1;
      }
      std::mt19937 Gen(5);
      std::uniform_real_distribution<float> D(Rg.Min, Rg.Max);
      for (int I = 0; I < 200000; ++I) {
        const float X = D(Gen);
        Bad += Same(T.Map(X), MapDbToColor(X, Rg.Min, Rg.Max)) ? 0 : 1;
      }
      EXPECT_EQ(Bad, 0u) << What;
    }
    for (float X : {-Inf, Inf, NaN, -NaN, 0.0f, -0.0f, Rg.Min, Rg.Max, std::nextafter(Rg.Min, -Inf),
                    std::nextafter(Rg.Max, Inf), -3e38f, 3e38f, FromBits(1), FromBits(0x80000001u)})
      EXPECT_TRUE(Same(T.Map(X), MapDbToColor(X, Rg.Min, Rg.Max))) << What << " at " << X;
  }
}

TEST(DbColorTable, RebuildsOnlyForANewRange) {
  TDbColorTable T;
  T.Build(-10, 45);
  EXPECT_TRUE(T.Binned());
  // Roughly one change per byte step of the three channels over the seven stretches.
  EXPECT_GT(T.ChangeCount(), 300u);
  EXPECT_LT(T.ChangeCount(), 3000u);
  const size_t Changes = T.ChangeCount();
  T.Build(-10, 45);
  EXPECT_EQ(T.ChangeCount(), Changes);
  T.Build(-20, 45);
  EXPECT_FALSE(T.IsFor(-10, 45));
  EXPECT_TRUE(T.IsFor(-20, 45));
  EXPECT_TRUE(Same(T.Map(-20), MapDbToColor(-20, -20, 45)));
}

TEST(DbColorTable, DegenerateRanges) {
  const float NaN = std::numeric_limits<float>::quiet_NaN();
  const struct { float Min, Max; } Ranges[] = {{10, 10}, {20, 10}, {NaN, 10}, {0, NaN}, {-3e38f, 3e38f}};
  for (const auto &Rg : Ranges) {
    TDbColorTable T;
    T.Build(Rg.Min, Rg.Max);
    for (float X : {-1e30f, -5.0f, 0.0f, 5.0f, 10.0f, 15.0f, 1e30f, NaN})
      EXPECT_TRUE(Same(T.Map(X), MapDbToColor(X, Rg.Min, Rg.Max))) << Rg.Min << ".." << Rg.Max << " at " << X;
  }
  // A row through MapRow: three bytes per level, in order.
  TDbColorTable T;
  T.Build(-10, 45);
  const float Row[3] = {-10, 45, 17.5f};
  uint8_t Out[9];
  T.MapRow(Row, 3, Out);
  EXPECT_EQ(std::vector<uint8_t>(Out, Out + 9),
            (std::vector<uint8_t>{68, 1, 84, 253, 231, 37, 41, 124, 141}));
}

// Every float of the viewer's default range and of the floor-to-zero range; about 4.4 billion
// levels, so it runs on request only (--gtest_also_run_disabled_tests).
TEST(DbColorTable, DISABLED_EveryFloatOfTheDefaultRanges) {
  for (const auto &[Min, Max] : {std::pair{-10.0f, 45.0f}, std::pair{-120.0f, 0.0f}}) {
    TDbColorTable T;
    T.Build(Min, Max);
    EXPECT_EQ(CountTableMismatches(T, Min, Max, Min, Max), 0u) << Min << ".." << Max;
  }
}
