// The waterfall texture keeps the strongest bin of every pixel column: against a reference that
// assigns each bin to the column under its centre, for the whole band and for band views, on the
// whole-image and the ring path; a burst of one row reaches the screen wherever it falls among
// more rows than pixels; and frequency labels that tell neighbouring lines apart.
#include "render/uColormap.h"
#include "render/uGLRenderer.h"

#include "render/fake_gl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

// Level of texture column C as the reference sees it: the largest level among the bins whose
// centres fall in that column of a waterfall Width pixels wide showing fractions V0..V1.
std::vector<float> ReferenceColumns(const TSingleArray &Row, int Width, double V0, double V1) {
  const double N = static_cast<double>(Row.size());
  std::vector<float> Col(static_cast<size_t>(Width), -INFINITY);
  for (size_t K = 0; K < Row.size(); ++K) {
    const double Frac = (static_cast<double>(K) + 0.5) / N; // bin centre as a fraction of the band
    const double X = (Frac - V0) / (V1 - V0) * Width;
    if (X < 0 || X >= Width)
      continue;
    float &M = Col[static_cast<size_t>(X)];
    M = std::max(M, Row[K]);
  }
  return Col;
}

std::vector<uint8_t> TexRow(const TGLRenderer &R, int Row) {
  const auto &D = R.TexData();
  const size_t From = static_cast<size_t>(Row) * static_cast<size_t>(R.TexRowStride());
  return {D.begin() + static_cast<ptrdiff_t>(From),
          D.begin() + static_cast<ptrdiff_t>(From + 3 * static_cast<size_t>(R.TexWidth()))};
}

std::vector<uint8_t> Coloured(const std::vector<float> &Levels, float Lo, float Hi) {
  std::vector<uint8_t> Out;
  for (float L : Levels) {
    const TRGB C = MapDbToColor(L, Lo, Hi);
    Out.insert(Out.end(), {C.R, C.G, C.B});
  }
  return Out;
}

TEST(WaterfallColumns, EveryColumnShowsTheStrongestBinItCovers) {
  const TFakeGLGuard Guard;
  std::mt19937 Rng(7);
  std::uniform_real_distribution<float> Noise(-15.0f, 20.0f);
  const struct {
    int W; // frame width (waterfall: W - 120 pixels)
    int NFFT;
    double V0, V1; // band view
    bool Pooled;
  } Cases[] = {
      {800, 4096, 0.0, 1.0, true},  // the viewer's window: 680 columns of about 6 bins
      {800, 1024, 0.0, 1.0, true},  // 1.5 bins per column: columns of one and of two bins
      {803, 4096, 0.25, 0.7, true}, // a zoomed view, columns not a whole number of bins
      {800, 4096, 0.4, 0.5, false}, // 409.6 bins over 680 pixels: one texel per bin
      {800, 512, 0.0, 1.0, false},  // fewer bins than pixels
  };
  for (const auto &C : Cases) {
    TGLRenderer R;
    R.Resize(C.W, 600);
    R.SetBandView(C.V0, C.V1);
    TRowBuffer Rows(3, TSingleArray(static_cast<size_t>(C.NFFT)));
    for (auto &Row : Rows)
      for (float &V : Row)
        V = Noise(Rng);
    Rows[1][static_cast<size_t>(C.NFFT / 2)] = std::nanf(""); // loses to its neighbours
    R.UpdateWaterfallTexture(Rows, 3, C.NFFT, -10, 45);
    const int Width = R.WfRect().Width;
    SCOPED_TRACE(testing::Message() << C.NFFT << " bins, view " << C.V0 << ".." << C.V1);
    if (!C.Pooled) {
      EXPECT_EQ(R.PooledColumns(), 0);
      EXPECT_EQ(R.TexWidth(), C.NFFT);
      continue;
    }
    ASSERT_EQ(R.PooledColumns(), Width);
    ASSERT_EQ(R.TexWidth(), Width);
    for (int Row = 0; Row < 3; ++Row)
      EXPECT_EQ(TexRow(R, Row),
                Coloured(ReferenceColumns(Rows[static_cast<size_t>(Row)], Width, C.V0, C.V1), -10, 45))
          << "row " << Row;
  }
}

// A steady carrier three bins wide at 55 dB over a -5 dB floor shows at full brightness in the
// columns over it wherever it falls, and switching the columns off brings back the old loss.
TEST(WaterfallColumns, NarrowCarrierIsNeverLost) {
  const TFakeGLGuard Guard;
  const TRGB Top = MapDbToColor(45, -10, 45);
  int LostWithoutColumns = 0;
  for (int Start = 1000; Start < 1012; ++Start) {
    TRowBuffer Rows(2, TSingleArray(4096, -5.0f));
    for (auto &Row : Rows)
      for (int K = Start; K < Start + 3; ++K)
        Row[static_cast<size_t>(K)] = 55.0f;
    for (const bool Columns : {true, false}) {
      TGLRenderer R;
      R.Resize(800, 600);
      R.SetColumnMaxHold(Columns);
      R.UpdateWaterfallTexture(Rows, 2, 4096, -10, 45);
      const std::vector<uint8_t> T = TexRow(R, 0);
      if (Columns) {
        const int Col = static_cast<int>((Start + 1.5) / 4096.0 * 680.0);
        EXPECT_EQ(std::vector<uint8_t>(T.begin() + 3 * Col, T.begin() + 3 * Col + 3),
                  (std::vector<uint8_t>{Top.R, Top.G, Top.B}))
            << "carrier at bin " << Start;
        continue;
      }
      // Without the columns the driver's linear filter samples the two texels around each
      // pixel centre: the carrier is seen only when one of them is a carrier bin.
      bool Seen = false;
      for (int X = 0; X < 680; ++X) {
        const double U = (X + 0.5) / 680.0 * 4096.0 - 0.5;
        const int K = static_cast<int>(std::floor(U));
        Seen = Seen || (K + 1 >= Start && K <= Start + 2);
      }
      LostWithoutColumns += Seen ? 0 : 1;
    }
  }
  EXPECT_GT(LostWithoutColumns, 0); // the fault the columns mend
}

// The drawn quad: pooled columns span the whole texture; bins show the view's part of it.
TEST(WaterfallColumns, QuadTextureCoordinatesFollowTheView) {
  const TFakeGLGuard Guard;
  for (const auto &[V0, V1, S0, S1] : {std::array<float, 4>{0.25f, 0.5f, 0, 1}, {0.45f, 0.5f, 0.45f, 0.5f}}) {
    TGLRenderer R;
    R.Resize(800, 600);
    R.SetBandView(V0, V1);
    R.UpdateWaterfallTexture(TRowBuffer(2, TSingleArray(4096, 0.f)), 2, 4096, 0, 1);
    Fake().Prims.clear();
    TFrameInputs In;
    In.MinDb = -10, In.MaxDb = 45, In.FreqLo = 0, In.FreqHi = 1e6;
    R.Render(In);
    const auto It =
        std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) { return P.Texture; });
    ASSERT_NE(It, Fake().Prims.end());
    EXPECT_FLOAT_EQ(It->V[0].S, S0);
    EXPECT_FLOAT_EQ(It->V[1].S, S1);
  }
  // Views out of range are clamped; empty or inverted ones show the whole band.
  TGLRenderer R;
  for (const auto &[A, B, WantA, WantB] : {std::array<double, 4>{-0.5, 0.5, 0, 0.5},
                                           {0.6, 0.6, 0, 1},
                                           {0.7, 0.2, 0, 1},
                                           {NAN, 0.3, 0, 0.3},
                                           {0.2, 7, 0.2, 1}}) {
    R.SetBandView(A, B);
    EXPECT_EQ(R.BandViewLo(), WantA);
    EXPECT_EQ(R.BandViewHi(), WantB);
  }
}

// A change of view or width rebuilds the pooled ring texture; plain pushes upload one row.
TEST(WaterfallColumns, RingRebuildsWhenTheColumnsChange) {
  const TFakeGLGuard Guard;
  TRowBuffer Ring(5, TSingleArray(2048));
  for (size_t S = 0; S < Ring.size(); ++S)
    for (size_t K = 0; K < 2048; ++K)
      Ring[S][K] = static_cast<float>((S * 31 + K * 17) % 60) - 10.0f;
  TGLRenderer R, Whole;
  R.Resize(800, 600);
  Whole.Resize(800, 600);
  R.UpdateWaterfallRing(Ring, 0, 5, -1, 2048, -10, 45);
  const size_t Uploads = Fake().Uploads.size();
  Ring[0][7] = 50.0f;
  R.UpdateWaterfallRing(Ring, 1, 5, 1, 2048, -10, 45);
  EXPECT_EQ(Fake().Uploads.size(), Uploads); // one row, sent partially
  EXPECT_EQ(Fake().SubUploads.back().W, 680);
  R.SetBandView(0.1, 0.6);
  R.UpdateWaterfallRing(Ring, 1, 5, 0, 2048, -10, 45);
  EXPECT_EQ(Fake().Uploads.size(), Uploads + 1);
  Whole.SetBandView(0.1, 0.6);
  TRowBuffer Display;
  for (int I = 0; I < 5; ++I)
    Display.push_back(Ring[static_cast<size_t>((10 + 1 - 1 - I) % 5)]);
  Whole.UpdateWaterfallTexture(Display, 5, 2048, -10, 45);
  for (int I = 0; I < 5; ++I)
    EXPECT_EQ(TexRow(R, (I + R.TexTopRow()) % 5), TexRow(Whole, I)) << "display row " << I;
  R.Resize(700, 600);
  R.UpdateWaterfallRing(Ring, 1, 5, 0, 2048, -10, 45);
  EXPECT_EQ(Fake().Uploads.size(), Uploads + 3); // and the one of Whole
  EXPECT_EQ(R.TexWidth(), 580);
}

// A burst of one row (55 dB in bin 3 over a -5 dB floor) among 611 rows in 252 pixel rows: on the
// whole-image path, the ring rebuilt, the ring pushed row by row or five at once, and the ring's
// slot rewritten, the pixels that unfiltered sampling reads show it at full brightness, its
// neighbours in time only within a few rows, and the other bins stay dark. The pushed and
// rewritten rings hold the bytes of the rebuilt one, on the card as in staging.
TEST(WaterfallRows, OneRowBurstIsNeverLost) {
  const TFakeGLGuard Guard;
  constexpr int H = 611, NFFT = 8, Burst = 3;
  const TRGB Top = MapDbToColor(45, -10, 45), Floor = MapDbToColor(-5, -10, 45);
  // Display rows (0 the newest) bright in bin B, as unfiltered sampling of 252 pixel rows sees
  // them, and as the texture holds them.
  auto Bright = [&](const TGLRenderer &R, int B, bool Sampled) {
    std::vector<int> Rows;
    const size_t Stride = static_cast<size_t>(R.TexRowStride());
    for (int I = 0; I < R.TexHeight(); ++I) {
      const uint8_t *Px = R.TexData().data() + static_cast<size_t>((I + R.TexTopRow()) % H) * Stride + 3 * B;
      const bool Seen = !Sampled || [&] {
        for (int P = 0; P < R.WfRect().Height; ++P)
          if (static_cast<int>((P + 0.5) / R.WfRect().Height * H) == I)
            return true;
        return false;
      }();
      if (Seen && Px[0] == Top.R && Px[1] == Top.G && Px[2] == Top.B)
        Rows.push_back(I);
    }
    return Rows;
  };
  auto RingWith = [&](int Write, int At) { // full ring, burst in display row At (-1: none)
    TRowBuffer Slots(H, TSingleArray(NFFT, -5.0f));
    if (At >= 0)
      Slots[static_cast<size_t>(((Write - 1 - At) % H + H) % H)][Burst] = 55.0f;
    return Slots;
  };
  for (const int Write : {0, 1, 2, 305, 608, 609, 610})
    for (const int At : {0, 1, 2, 3, 4, 300, 606, 607, 608, 609, 610}) {
      SCOPED_TRACE(testing::Message() << "write index " << Write << ", burst in display row " << At);
      TGLRenderer Whole, Rebuilt, Pushed, Batch, Rewritten;
      for (TGLRenderer *R : {&Whole, &Rebuilt, &Pushed, &Batch, &Rewritten})
        R->Resize(800, 600);
      const TRowBuffer Slots = RingWith(Write, At);
      TRowBuffer Display;
      for (int I = 0; I < H; ++I)
        Display.push_back(Slots[static_cast<size_t>(((Write - 1 - I) % H + H) % H)]);
      Whole.UpdateWaterfallTexture(Display, H, NFFT, -10, 45);
      Rebuilt.UpdateWaterfallRing(Slots, Write, H, -1, NFFT, -10, 45);
      ASSERT_EQ(Rebuilt.WfRect().Height, 252);
      // The same ring reached by five single pushes, the burst among them or pushed long before.
      TRowBuffer Before = Slots;
      for (int K = 1; K <= 5; ++K)
        Before[static_cast<size_t>(((Write - K) % H + H) % H)].assign(NFFT, 20.0f);
      Pushed.UpdateWaterfallRing(Before, Write - 5, H, -1, NFFT, -10, 45);
      Batch.UpdateWaterfallRing(Before, Write - 5, H, -1, NFFT, -10, 45);
      Batch.UpdateWaterfallRing(Slots, Write, H, 5, NFFT, -10, 45);
      for (int K = 4; K >= 0; --K) {
        const size_t S = static_cast<size_t>(((Write - 1 - K) % H + H) % H);
        Before[S] = Slots[S];
        Pushed.UpdateWaterfallRing(Before, Write - K, H, 1, NFFT, -10, 45);
      }
      Rewritten.UpdateWaterfallRing(RingWith(Write, -1), Write, H, -1, NFFT, -10, 45);
      const int32_t Slot = ((Write - 1 - At) % H + H) % H;
      Rewritten.UpdateWaterfallSlots(Slots, Write, H, std::vector<int32_t>{Slot}, NFFT, -10, 45);
      for (const TGLRenderer *R : {&Whole, &Rebuilt, &Pushed, &Batch, &Rewritten}) {
        EXPECT_FALSE(Bright(*R, Burst, true).empty()) << "the burst is not on the screen";
        const std::vector<int> Rows = Bright(*R, Burst, false);
        ASSERT_FALSE(Rows.empty());
        EXPECT_LE(Rows.front(), At);
        EXPECT_GE(Rows.back(), At);
        EXPECT_LE(Rows.back() - Rows.front(), 6); // runs of 3 rows, up to 7 at the ends
        EXPECT_TRUE(Bright(*R, Burst - 1, false).empty());
        const uint8_t *Px = R->TexData().data() + 3 * (Burst + 1);
        EXPECT_EQ(std::vector<uint8_t>(Px, Px + 3), (std::vector<uint8_t>{Floor.R, Floor.G, Floor.B}));
      }
      for (const TGLRenderer *R : {&Pushed, &Batch, &Rewritten}) {
        EXPECT_EQ(R->TexData(), Rebuilt.TexData());
        EXPECT_EQ(Fake().Images[R->WaterfallTex()].Texels, R->TexData());
      }
    }
}

TEST(GridLabels, StepDecimals) {
  const std::pair<double, int> Cases[] = {{5, 0},       {0.2, 1},   {0.4, 1},  {0.02, 2},
                                          {0.025, 3},   {0.005, 3}, {1e-4, 4}, {-0.2, 1},
                                          {1.0 / 3, 6}, {0, 0},     {NAN, 0},  {1e-9, 6}};
  for (const auto &[Step, Want] : Cases)
    EXPECT_EQ(StepDecimals(Step), Want) << Step;
}

} // namespace
