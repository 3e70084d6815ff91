#include "render/uColormap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

void ExpectRGB(TRGB C, int R, int G, int B, const char *What) {
  EXPECT_EQ(C.R, R) << What;
  EXPECT_EQ(C.G, G) << What;
  EXPECT_EQ(C.B, B) << What;
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
