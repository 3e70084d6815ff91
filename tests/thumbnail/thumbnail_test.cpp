#include "thumbnail/uThumbnail.h"

#include "dsp/uFFT.h"
#include "render/uColormap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

class TThumbDir {
public:
  TThumbDir() {
    static std::atomic<int> Counter{0};
    for (int Try = 0;; ++Try) {
      FPath = std::filesystem::temp_directory_path() /
              ("zbthumb_" + std::to_string(Counter++) + "_" + std::to_string(Try));
      if (std::filesystem::create_directory(FPath))
        break;
    }
  }
  ~TThumbDir() {
    std::error_code Ec;
    std::filesystem::remove_all(FPath, Ec);
  }
  TThumbDir(const TThumbDir &) = delete;
  TThumbDir &operator=(const TThumbDir &) = delete;
  std::string File(const std::string &Name) const { return (FPath / Name).string(); }

private:
  std::filesystem::path FPath;
};

void WriteText(const std::string &Path, const std::string &Text) {
  std::FILE *F = std::fopen(Path.c_str(), "wb");
  ASSERT_NE(F, nullptr);
  std::fwrite(Text.data(), 1, Text.size(), F);
  std::fclose(F);
}

// int16 I/Q recording: a tone at Cycles per sample plus a little noise.
void WriteCs16(const std::string &Path, size_t N, double Cycles) {
  std::mt19937 Gen(42);
  std::normal_distribution<double> Noise(0.0, 30.0);
  std::vector<int16_t> D(2 * N);
  for (size_t I = 0; I < N; ++I) {
    const double Ph = 2 * std::numbers::pi * Cycles * static_cast<double>(I);
    D[2 * I] = static_cast<int16_t>(std::lround(30000 * std::cos(Ph) + Noise(Gen)));
    D[2 * I + 1] = static_cast<int16_t>(std::lround(30000 * std::sin(Ph) + Noise(Gen)));
  }
  std::FILE *F = std::fopen(Path.c_str(), "wb");
  ASSERT_NE(F, nullptr);
  std::fwrite(D.data(), sizeof(int16_t), D.size(), F);
  std::fclose(F);
}

// int16 I/Q from integer arithmetic only, so that every build writes the same bytes: noise
// from a linear congruential generator plus two square waves.
void WriteIntegerCs16(const std::string &Path, size_t N) {
  std::vector<int16_t> D(2 * N);
  uint32_t State = 12345u;
  for (size_t I = 0; I < N; ++I) {
    State = State * 1664525u + 1013904223u;
    const int32_t Noise = static_cast<int32_t>((State >> 16) & 0x3FF) - 512;
    const int32_t SqA = (I * 7) % 64 < 32 ? 6000 : -6000;
    const int32_t SqB = (I * 7 + 16) % 64 < 32 ? 6000 : -6000;
    const int32_t Sweep = ((I * I / 4096) % 50) < 25 ? 2000 : -2000;
    D[2 * I] = static_cast<int16_t>(SqA + Noise + Sweep);
    D[2 * I + 1] = static_cast<int16_t>(SqB - Noise);
  }
  std::FILE *F = std::fopen(Path.c_str(), "wb");
  ASSERT_NE(F, nullptr);
  std::fwrite(D.data(), sizeof(int16_t), D.size(), F);
  std::fclose(F);
}

uint64_t Fnv1a(const std::vector<uint8_t> &B) {
  uint64_t H = 1469598103934665603ull;
  for (uint8_t C : B)
    H = (H ^ C) * 1099511628211ull;
  return H;
}

struct TPixel {
  int B, G, R;
  bool operator==(const TPixel &) const = default;
};

TPixel PixelAt(const std::vector<uint8_t> &P, int32_t Width, int32_t ScanLine, int32_t X) {
  const size_t Off = static_cast<size_t>(ScanLine * ThumbnailStride(Width) + 3 * X);
  return {P[Off], P[Off + 1], P[Off + 2]};
}

TPixel Colour(float Db) {
  const TRGB C = MapDbToColor(Db, -10.0f, 45.0f);
  return {C.B, C.G, C.R};
}

const TPixel Background{30, 30, 30};

} // namespace

TEST(Thumbnail, Geometry) {
  EXPECT_EQ(ThumbnailPsdHeight(100), 40);
  EXPECT_EQ(ThumbnailPsdHeight(16), 8); // 6 raised to 8
  EXPECT_EQ(ThumbnailPsdHeight(21), 8);
  EXPECT_EQ(ThumbnailPsdHeight(1000), 400);
  const struct {
    int32_t W;
    int64_t Stride;
  } Strides[] = {{1, 4}, {4, 12}, {5, 16}, {16, 48}, {17, 52}, {18, 56}, {19, 60}};
  for (const auto &S : Strides)
    EXPECT_EQ(ThumbnailStride(S.W), S.Stride) << S.W;
  const auto H = ThumbnailInfoHeader(17, 33);
  const uint8_t Expect[40] = {40, 0, 0, 0, 17, 0, 0, 0, 33, 0, 0, 0, 1, 0, 24, 0};
  EXPECT_EQ(0, std::memcmp(H.data(), Expect, 40));
}

TEST(Thumbnail, BarsAndWaterfallLayout) {
  const int32_t W = 10, H = 30; // stride 32: two padding bytes per scan line
  const int32_t PsdH = 12, WfH = 18;
  TThumbnailSpectra S;
  // Five PSD levels over ten columns: each level covers two columns.
  S.PsdDb = {-50.0, 45.0, 17.5, 100.0, std::numeric_limits<double>::quiet_NaN()};
  // Three waterfall rows of four bins, each bin its own level.
  S.Rows = {{-10, 0, 10, 20}, {20, 30, 40, 45}, {5, 5, 5, 5}, {99, 99, 99, 99}};
  S.RowCount = 3; // the fourth row must not be used
  std::vector<uint8_t> P(static_cast<size_t>(ThumbnailStride(W) * H), 0);
  PaintThumbnail(S, W, H, P.data());

  // Bars: foot at scan line WfH; height round((PsdH - 1) * t) + 1.
  const struct {
    int32_t Col;
    double Db;
    int32_t Pixels;
  } Bars[] = {{0, -50, 1}, {1, -50, 1}, {2, 45, PsdH}, {4, 17.5, 7}, {6, 100, PsdH}, {8, -10, 1}};
  for (const auto &B : Bars) {
    const TPixel C =
        B.Col == 8 ? Colour(std::numeric_limits<float>::quiet_NaN()) : Colour(static_cast<float>(B.Db));
    for (int32_t Y = 0; Y < PsdH; ++Y)
      EXPECT_EQ(PixelAt(P, W, WfH + Y, B.Col), Y < B.Pixels ? C : Background)
          << "col " << B.Col << " y " << Y;
  }
  EXPECT_EQ(Colour(-50), (TPixel{84, 1, 68}));
  EXPECT_EQ(Colour(45), (TPixel{37, 231, 253}));

  // Waterfall: scan line y shows row y * 3 / 18, column x bin x * 4 / 10.
  for (int32_t Y = 0; Y < WfH; ++Y)
    for (int32_t X = 0; X < W; ++X)
      EXPECT_EQ(PixelAt(P, W, Y, X),
                Colour(S.Rows[static_cast<size_t>(Y * 3 / WfH)][static_cast<size_t>(X * 4 / W)]))
          << "y " << Y << " x " << X;
  // Padding bytes keep the background value.
  for (int32_t Y = 0; Y < H; ++Y) {
    EXPECT_EQ(P[static_cast<size_t>(Y * 32 + 30)], 30);
    EXPECT_EQ(P[static_cast<size_t>(Y * 32 + 31)], 30);
  }
}

// More bins than columns and more rows than scan lines: a carrier one bin wide and a burst one
// row long show at full level wherever they fall, in exactly one column (or scan line) near
// their place.
TEST(Thumbnail, NarrowCarrierAndShortBurstAreKept) {
  const int32_t W = 97, H = 61, PsdH = 24, WfH = 37;
  for (const int32_t Bin : {0, 5, 6, 7, 500, 1023}) {
    TThumbnailSpectra S;
    S.PsdDb.assign(1024, -5.0);
    S.PsdDb[static_cast<size_t>(Bin)] = 55.0;
    const int32_t WfBin = Bin / 4, BurstRow = Bin % 61;
    S.Rows.assign(61, TSingleArray(256, -5.0f));
    for (auto &Row : S.Rows)
      Row[static_cast<size_t>(WfBin)] = 55.0f;                // steady carrier
    S.Rows[static_cast<size_t>(BurstRow)].assign(256, 50.0f); // one row of burst across the band
    S.RowCount = 61;
    std::vector<uint8_t> P(static_cast<size_t>(ThumbnailStride(W) * H), 0);
    PaintThumbnail(S, W, H, P.data());
    std::vector<int32_t> BarCols, WfCols, BurstLines;
    for (int32_t X = 0; X < W; ++X) {
      if (PixelAt(P, W, WfH + PsdH - 1, X) == Colour(55))
        BarCols.push_back(X);
      if (PixelAt(P, W, 0, X) == Colour(55) || PixelAt(P, W, WfH - 1, X) == Colour(55))
        WfCols.push_back(X);
    }
    for (int32_t Y = 0; Y < WfH; ++Y)
      if (PixelAt(P, W, Y, (WfCols.empty() ? 0 : WfCols[0]) == 0 ? 1 : 0) == Colour(50))
        BurstLines.push_back(Y);
    ASSERT_EQ(BarCols.size(), 1u) << "bin " << Bin;
    EXPECT_LE(std::abs(BarCols[0] - Bin * W / 1024), 1) << "bin " << Bin;
    ASSERT_GE(WfCols.size(), 1u) << "bin " << WfBin;
    EXPECT_LE(std::abs(WfCols[0] - WfBin * W / 256), 1) << "bin " << WfBin;
    ASSERT_EQ(BurstLines.size(), 1u) << "row " << BurstRow;
    EXPECT_LE(std::abs(BurstLines[0] - BurstRow * WfH / 61), 1) << "row " << BurstRow;
  }
}

TEST(Thumbnail, NoRowsLeavesWaterfallBackground) {
  TThumbnailSpectra S;
  S.PsdDb = {0.0};
  std::vector<uint8_t> P(static_cast<size_t>(ThumbnailStride(16) * 16));
  PaintThumbnail(S, 16, 16, P.data());
  for (int32_t Y = 0; Y < 8; ++Y)
    for (int32_t X = 0; X < 16; ++X)
      EXPECT_EQ(PixelAt(P, 16, Y, X), Background);
  EXPECT_EQ(PixelAt(P, 16, 8, 15), Colour(0.0f)); // one PSD level covers every column
}

TEST(Thumbnail, SizesBelowSixteenGiveNothing) {
  std::vector<uint8_t> P{1, 2, 3};
  EXPECT_FALSE(GenerateThumbnailPixels("/nonexistent/never/opened.cs16", 15, 100, P));
  EXPECT_TRUE(P.empty());
  EXPECT_FALSE(GenerateThumbnailPixels("/nonexistent/never/opened.cs16", 100, 15, P));
  EXPECT_FALSE(GenerateThumbnailPixels("/nonexistent/never/opened.cs16", 100, 100, P));
}

TEST(Thumbnail, OversizedImageIsRefusedBeforeReading) {
  TThumbDir Dir;
  const std::string F = Dir.File("big.cs16");
  WriteCs16(F, 1000, 0.1);
  TThumbnailSpectra S;
  EXPECT_FALSE(ComputeThumbnailSpectra(F, 100000, 100000, S));
  EXPECT_TRUE(S.Rows.empty());
  // 2^31 - 1 bytes is the largest image: 715827882 columns need 2147483648 bytes per line.
  EXPECT_FALSE(ComputeThumbnailSpectra(F, 715827883, 16, S));
  EXPECT_TRUE(ComputeThumbnailSpectra(F, 64, 64, S));
}

TEST(Thumbnail, ShortRecordings) {
  TThumbDir Dir;
  TThumbnailSpectra S;
  WriteCs16(Dir.File("a.cs16"), 255, 0.1);
  EXPECT_FALSE(ComputeThumbnailSpectra(Dir.File("a.cs16"), 64, 64, S));
  WriteCs16(Dir.File("b.cs16"), 256, 0.1);
  ASSERT_TRUE(ComputeThumbnailSpectra(Dir.File("b.cs16"), 64, 64, S));
  EXPECT_EQ(S.PsdDb.size(), 128u); // NextPow2(256 / 2)
  ASSERT_EQ(S.RowCount, 2);        // 256 samples, 128-point frames
  EXPECT_EQ(S.Rows[0].size(), 128u);
  WriteCs16(Dir.File("c.cs16"), 5000, 0.1);
  ASSERT_TRUE(ComputeThumbnailSpectra(Dir.File("c.cs16"), 64, 64, S));
  EXPECT_EQ(S.PsdDb.size(), 1024u);
  EXPECT_EQ(S.Rows[0].size(), 256u);
  EXPECT_EQ(S.RowCount, 19); // 5000 / 256
}

TEST(Thumbnail, ReadLimitFollowsSampleRate) {
  TThumbDir Dir;
  const std::string F = Dir.File("rec.cs16");
  WriteCs16(F, 200000, 0.05);
  TThumbnailSpectra S;
  ASSERT_TRUE(ComputeThumbnailSpectra(F, 64, 1000, S));
  EXPECT_EQ(S.RowCount, 100000 / 256); // no rate known: 2 MHz, half a second capped at 100,000
  WriteText(Dir.File("rec.txt"), "sample_rate_hz=100000\n");
  ASSERT_TRUE(ComputeThumbnailSpectra(F, 64, 1000, S));
  EXPECT_EQ(S.RowCount, 50000 / 256);
  // The row count is bounded by the height.
  ASSERT_TRUE(ComputeThumbnailSpectra(F, 64, 100, S));
  EXPECT_EQ(S.RowCount, 100);
  EXPECT_EQ(S.Rows.size(), 100u);
}

TEST(Thumbnail, ToneShowsAtItsColumn) {
  TThumbDir Dir;
  const std::string F = Dir.File("tone.cs16");
  // +1/8 of the sample rate: bin 512 + 128 of 1024, i.e. 5/8 of the width.
  WriteCs16(F, 20000, 0.125);
  const int32_t W = 160, H = 100, WfH = 60, PsdH = 40;
  std::vector<uint8_t> P;
  ASSERT_TRUE(GenerateThumbnailPixels(F, W, H, P));
  ASSERT_EQ(P.size(), static_cast<size_t>(ThumbnailStride(W) * H));
  auto BarHeight = [&](int32_t X) {
    int32_t N = 0;
    while (N < PsdH && !(PixelAt(P, W, WfH + N, X) == Background))
      ++N;
    return N;
  };
  int32_t Tallest = 0;
  for (int32_t X = 1; X < W; ++X)
    if (BarHeight(X) > BarHeight(Tallest))
      Tallest = X;
  // 640 * 160 / 1024; the column before holds the tone's lower neighbour bin, also at full height.
  EXPECT_NEAR(Tallest, 100, 1);
  EXPECT_EQ(BarHeight(100), PsdH);
  EXPECT_LT(BarHeight(20), PsdH / 2);
  // The waterfall is bright at the tone (about 41 dB in 256-point frames) and at the bottom
  // colour away from it, on every scan line.
  for (int32_t Y = 0; Y < WfH; ++Y) {
    EXPECT_GT(PixelAt(P, W, Y, 100).G, 200) << Y;
    EXPECT_EQ(PixelAt(P, W, Y, 20), Colour(-10.0f)) << Y;
  }
  // Same file, same bytes.
  std::vector<uint8_t> Again;
  ASSERT_TRUE(GenerateThumbnailPixels(F, W, H, Again));
  EXPECT_EQ(P, Again);
}

// The same recording must give the same bytes in the native build and in both Windows builds
// (this suite runs in all three); the values are those of the native build.
TEST(Thumbnail, SameBytesOnEveryBuild) {
  TThumbDir Dir;
  const std::string F = Dir.File("fixed.cs16");
  WriteIntegerCs16(F, 40000);
  const struct {
    int32_t W, H;
    uint64_t Hash;
  } Cases[] = {
      {16, 16, 16372547314093992340ull}, {97, 61, 10235854591829235ull}, {256, 192, 8315090306031685493ull}};
  for (const auto &C : Cases) {
    std::vector<uint8_t> P;
    ASSERT_TRUE(GenerateThumbnailPixels(F, C.W, C.H, P));
    EXPECT_EQ(Fnv1a(P), C.Hash) << C.W << "x" << C.H;
  }
}
