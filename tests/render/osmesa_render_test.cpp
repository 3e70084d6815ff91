// Real rasterised frames through the offscreen Mesa context: colours and positions of the layers
// as they land in pixels, glyphs set exactly, the waterfall's orientation and filters, the
// scissored trace and the dashed play line.
#include "render/frame_reference.h"
#include "render/osmesa_uWinGL.h"
#include "render/uColormap.h"
#include "render/uDemoFrame.h"
#include "render/uFont.h"
#include "render/uGLRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

TRGBA8 Rgb(float R, float G, float B) {
  auto C = [](float V) { return static_cast<uint8_t>(std::lround(V * 255.0f)); };
  return {C(R), C(G), C(B), 255};
}

bool Near(TRGBA8 A, TRGBA8 B, int Tol = 1) {
  return std::abs(A.R - B.R) <= Tol && std::abs(A.G - B.G) <= Tol && std::abs(A.B - B.B) <= Tol;
}

std::set<std::pair<int, int>> PixelsOf(const TOSMesaDestroyContext &C, TRGBA8 Col, int Tol = 1) {
  std::set<std::pair<int, int>> S;
  for (int y = 0; y < C.Height(); ++y)
    for (int x = 0; x < C.Width(); ++x)
      if (Near(C.Pixel(x, y), Col, Tol))
        S.insert({x, y});
  return S;
}

// Decodes N glyph cells starting at (X, Y) from a pixel set; ' ' for an empty cell, '~' unknown.
std::string Decode(const std::set<std::pair<int, int>> &Px, int X, int Y, int N) {
  std::string S;
  for (int i = 0; i < N; ++i) {
    uint8_t Rows[CHAR_H] = {};
    bool Any = false;
    for (int r = 0; r < CHAR_H; ++r)
      for (int c = 0; c < CW; ++c)
        if (Px.count({X + i * FONT_W + c, Y + CHAR_H - 1 - r})) {
          Rows[r] |= static_cast<uint8_t>(0x10 >> c);
          Any = true;
        }
    char Found = Any ? '~' : ' ';
    for (int ch = 33; Any && ch < 127; ++ch)
      if (const uint8_t *G = FontGlyph(static_cast<unsigned char>(ch)); G && std::equal(G, G + CHAR_H, Rows))
        Found = static_cast<char>(ch);
    S += Found;
  }
  return S;
}

const TRGBA8 CLEAR = Rgb(0.118f, 0.118f, 0.18f);
const TRGBA8 PLOT_BG = Rgb(0.094f, 0.094f, 0.145f);

TFrameInputs Plain() {
  TFrameInputs In;
  In.MinDb = -10, In.MaxDb = 45, In.FreqLo = 0, In.FreqHi = 3e6;
  return In;
}

TEST(OffscreenFrame, LayoutBackgroundsHeaderAndStatus) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  TFrameInputs In = Plain();
  In.CenterFreqHz = 433.92e6, In.SampleRateHz = 2e6;
  const std::string All =
      " !()+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]_abcdefghijklmnopqrstuvwxyz|";
  In.StatusText = All;
  R.Render(In);
  Ctx.Finish();

  EXPECT_TRUE(Near(Ctx.Pixel(30, 300), CLEAR));  // left margin
  EXPECT_TRUE(Near(Ctx.Pixel(400, 283), CLEAR)); // gap between the plots
  // Plot interiors away from grid lines; edges inclusive at 112 / 791, exclusive beyond.
  EXPECT_TRUE(Near(Ctx.Pixel(150, 310), PLOT_BG));
  EXPECT_TRUE(Near(Ctx.Pixel(150, 100), PLOT_BG));
  EXPECT_TRUE(Near(Ctx.Pixel(790, 100), PLOT_BG));
  EXPECT_TRUE(Near(Ctx.Pixel(793, 100), CLEAR));
  EXPECT_TRUE(Near(Ctx.Pixel(150, 21), PLOT_BG));
  EXPECT_TRUE(Near(Ctx.Pixel(150, 18), CLEAR));

  const std::string H = "Center frequency: 433.920 MHz    BW: 2.000 MHz";
  const int X = (680 - static_cast<int>(H.size()) * FONT_W) / 2 + 112;
  const auto HeaderPx = PixelsOf(Ctx, Rgb(0.96f, 0.82f, 0.36f));
  EXPECT_EQ(Decode(HeaderPx, X, 584, static_cast<int>(H.size())), H);
  // The translucent header box: darker than the clear colour, just left of the text.
  const TRGBA8 Box = Ctx.Pixel(X - 3, 590);
  EXPECT_LT(Box.B, CLEAR.B);
  EXPECT_TRUE(Near(Ctx.Pixel(X - 8, 590), CLEAR));

  // Every glyph lands on exactly its pixels.
  const auto StatusPx = PixelsOf(Ctx, Rgb(0.804f, 0.839f, 0.957f));
  EXPECT_EQ(Decode(StatusPx, 4, 4, static_cast<int>(All.size())), All);
  for (const auto &[Px, Py] : StatusPx) {
    if (Py < 20) {
      EXPECT_TRUE(Py >= 4 && Py <= 10) << Px << "," << Py;
    }
  }
}

TEST(OffscreenFrame, WaterfallOrientationAndFilters) {
  TOSMesaDestroyContext Ctx(320, 240);
  TGLRenderer R;
  R.Resize(320, 240); // waterfall 112..312 x 20..92 (72 rows high), 200 wide
  const TPixelRect W = R.WfRect();
  ASSERT_EQ(W.Width, 200);
  ASSERT_EQ(W.Height, 72);
  // 4 bins x 2 rows, magnified: each texel a solid block (nearest).
  R.UpdateWaterfallTexture(TRowBuffer{{45, 0, 0, 0}, {-10, -10, -10, 17.5f}}, 2, 4, -10, 45);
  R.Render(Plain());
  Ctx.Finish();
  const TRGB Top = MapDbToColor(45, -10, 45), Bot = MapDbToColor(-10, -10, 45);
  const TRGB Mid = MapDbToColor(0, -10, 45), Last = MapDbToColor(17.5f, -10, 45);
  auto Is = [](TRGBA8 P, TRGB C) {
    return std::abs(P.R - C.R) <= 1 && std::abs(P.G - C.G) <= 1 && std::abs(P.B - C.B) <= 1;
  };
  EXPECT_TRUE(Is(Ctx.Pixel(W.Left + 5, W.Bottom + W.Height - 3), Top)); // row 0, bin 0: top left
  EXPECT_TRUE(Is(Ctx.Pixel(W.Left + 150, W.Bottom + W.Height - 3), Mid));
  EXPECT_TRUE(Is(Ctx.Pixel(W.Left + 5, W.Bottom + 3), Bot));            // last row at the bottom
  EXPECT_TRUE(Is(Ctx.Pixel(W.Left + W.Width - 3, W.Bottom + 3), Last)); // last bin on the right
  EXPECT_TRUE(Is(Ctx.Pixel(W.Left + 49, W.Bottom + 40), Top));          // sharp texel border
  EXPECT_TRUE(Is(Ctx.Pixel(W.Left + 50, W.Bottom + 40), Mid));

  // Minified (800 bins on 200 pixels, alternating levels): every pixel column shows the
  // strongest of its four bins; with the columns off the linear filter blends neighbours.
  TRowBuffer Fine(2, TSingleArray(800));
  for (size_t c = 0; c < 800; ++c)
    Fine[0][c] = Fine[1][c] = (c % 2) ? 45.f : -10.f;
  R.UpdateWaterfallTexture(Fine, 2, 800, -10, 45);
  R.Render(Plain());
  Ctx.Finish();
  for (int X = W.Left; X < W.Left + W.Width; ++X)
    ASSERT_TRUE(Is(Ctx.Pixel(X, W.Bottom + 30), Top)) << X;
  R.SetColumnMaxHold(false);
  R.UpdateWaterfallTexture(Fine, 2, 800, -10, 45);
  R.Render(Plain());
  Ctx.Finish();
  const TRGBA8 P = Ctx.Pixel(W.Left + 100, W.Bottom + 30);
  EXPECT_FALSE(Is(P, Top));
  EXPECT_FALSE(Is(P, Bot));
  EXPECT_GT(P.G, Bot.G + 40);
  EXPECT_LT(P.G, Top.G - 40);
}

// The viewer's size: a steady carrier three bins wide at 55 dB over a noise floor, 4096 bins on
// 680 pixels, shows at full level in the drawn waterfall wherever its bins fall.
TEST(OffscreenFrame, NarrowCarrierIsVisibleInTheWaterfall) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  const TPixelRect W = R.WfRect();
  const TRGB Top = MapDbToColor(45, -10, 45);
  for (int Start = 2000; Start < 2007; ++Start) {
    TRowBuffer Rows(611, TSingleArray(4096));
    for (size_t r = 0; r < Rows.size(); ++r)
      for (size_t c = 0; c < 4096; ++c)
        Rows[r][c] = static_cast<float>((r * 7 + c * 13) % 11) - 5.0f; // -5 .. 5 dB
    for (auto &Row : Rows)
      for (int c = Start; c < Start + 3; ++c)
        Row[static_cast<size_t>(c)] = 55.0f;
    R.UpdateWaterfallTexture(Rows, 611, 4096, -10, 45);
    R.Render(Plain());
    Ctx.Finish();
    int Bright = 0;
    for (int X = W.Left; X < W.Left + W.Width; ++X) {
      const TRGBA8 P = Ctx.Pixel(X, W.Bottom + W.Height / 2);
      Bright +=
          (std::abs(P.R - Top.R) <= 1 && std::abs(P.G - Top.G) <= 1 && std::abs(P.B - Top.B) <= 1) ? 1 : 0;
    }
    EXPECT_GE(Bright, 1) << "carrier at bin " << Start;
    EXPECT_LE(Bright, 2) << "carrier at bin " << Start;
  }
}

TEST(OffscreenFrame, WidthNotAMultipleOfFourStaysStraight) {
  TOSMesaDestroyContext Ctx(320, 240);
  TGLRenderer R;
  R.Resize(320, 240);
  const TPixelRect W = R.WfRect();
  // 5 bins, 6 rows; bin 0 high in every row. Skewed rows would move it sideways.
  TRowBuffer Rows(6, TSingleArray(5, -10.f));
  for (auto &Row : Rows)
    Row[0] = 45.f;
  R.UpdateWaterfallTexture(Rows, 6, 5, -10, 45);
  R.Render(Plain());
  Ctx.Finish();
  const TRGB Hi = MapDbToColor(45, -10, 45), Lo = MapDbToColor(-10, -10, 45);
  for (int y = W.Bottom + 2; y < W.Bottom + W.Height - 2; y += 6) {
    const TRGBA8 L = Ctx.Pixel(W.Left + 10, y), Rt = Ctx.Pixel(W.Left + 150, y);
    EXPECT_TRUE(std::abs(L.R - Hi.R) <= 1 && std::abs(L.G - Hi.G) <= 1) << "y " << y;
    EXPECT_TRUE(std::abs(Rt.R - Lo.R) <= 1 && std::abs(Rt.G - Lo.G) <= 1) << "y " << y;
  }
}

TEST(OffscreenFrame, TraceScissoredAndPlayLineDashed) {
  TOSMesaDestroyContext Ctx(400, 300);
  TGLRenderer R;
  R.Resize(400, 300); // PSD 112..392 x 156..258; waterfall 20..122
  TFrameInputs In = Plain();
  // A trace that climbs far above the plot: cut by the scissor box.
  for (int i = 0; i <= 30; ++i) {
    In.Freqs.push_back(i * 1e5);
    In.PSD_DB.push_back(i < 15 ? 0.0 : 200.0);
  }
  In.PlayPosSec = 30, In.FileDurSec = 60, In.WfLenSec = 10;
  R.Render(In);
  Ctx.Finish();
  const TPixelRect P = R.PsdRect();
  // The steep rise between bins 14 and 15 lies near x = 112 + 14.5 / 30 * 280: visible inside the
  // plot, nothing of it above the plot's top edge.
  int Inside = 0;
  for (int x = P.Left + 125; x < P.Left + 145; ++x) {
    for (int y = P.Bottom + 30; y < P.Bottom + P.Height; ++y)
      Inside += Near(Ctx.Pixel(x, y), PLOT_BG, 20) ? 0 : 1;
    for (int y = P.Bottom + P.Height + 1; y < 300; ++y)
      EXPECT_TRUE(Near(Ctx.Pixel(x, y), CLEAR, 2)) << "trace above the plot at " << x << "," << y;
  }
  EXPECT_GT(Inside, 20);

  // The dashed line in the middle of the waterfall: 6 pixels on, 4 off, from the left edge.
  const TPixelRect W = R.WfRect();
  const int LineY = W.Bottom + W.Height / 2;
  const TRGBA8 Dash = Rgb(0.98f, 0.73f, 0.24f);
  int Row = -1;
  for (int y = LineY - 1; y <= LineY; ++y)
    if (Near(Ctx.Pixel(W.Left + 202, y), Dash, 2))
      Row = y;
  ASSERT_GE(Row, 0);
  for (int X = W.Left + 100; X < W.Left + W.Width - 10; ++X) {
    const bool On = (X - W.Left) % 10 < 6;
    EXPECT_EQ(Near(Ctx.Pixel(X, Row), Dash, 2), On) << "x " << X;
  }
}

TEST(OffscreenFrame, DemoFrameShowsEveryLayer) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  const TDemoFrame D = MakeDemoFrame(256, 120);
  R.UpdateWaterfallTexture(D.Rows, static_cast<int32_t>(D.Rows.size()), D.NFFT, D.MinDb, D.MaxDb);
  R.Render(D.In);
  Ctx.Finish();
  // Signal label colour above the plot, hopper label colour, time-axis labels, play line.
  EXPECT_FALSE(PixelsOf(Ctx, Rgb(1.0f, 0.8f, 0.2f)).empty());
  // Drawn after the translucent bracket, the hopper label is still opaque.
  EXPECT_FALSE(PixelsOf(Ctx, Rgb(0.847f, 0.875f, 0.941f), 1).empty());
  EXPECT_FALSE(PixelsOf(Ctx, Rgb(0.6f, 0.65f, 0.75f)).empty());
  EXPECT_FALSE(PixelsOf(Ctx, Rgb(0.98f, 0.73f, 0.24f)).empty());
  // The waterfall rectangle is covered by the image: no plot background left inside it.
  int Bg = 0;
  for (int y = 25; y < 268; y += 7)
    for (int x = 120; x < 790; x += 7)
      Bg += Near(Ctx.Pixel(x, y), PLOT_BG) ? 1 : 0;
  EXPECT_EQ(Bg, 0);
}

} // namespace

namespace {

TEST(OffscreenFrame, MatchesTheStoredComparisonFrame) {
  TOSMesaDestroyContext Ctx(REF_W, REF_H);
  TGLRenderer R;
  R.Resize(REF_W, REF_H);
  const TDemoFrame D = ComparisonFrame();
  R.UpdateWaterfallTexture(D.Rows, static_cast<int32_t>(D.Rows.size()), D.NFFT, D.MinDb, D.MaxDb);
  R.Render(D.In);
  Ctx.Finish();
  const std::vector<uint8_t> Got = Ctx.RGBTopDown();
  if (const char *Path = std::getenv("ZB_WRITE_FRAME_REFERENCE")) {
    const std::string Enc = EncodeFrame(Got);
    std::FILE *F = std::fopen(Path, "w");
    ASSERT_NE(F, nullptr);
    for (size_t i = 0; i < Enc.size(); i += 96)
      std::fprintf(F, "\"%s\",\n", Enc.substr(i, 96).c_str());
    std::fclose(F);
  }
  const std::vector<uint8_t> Ref = DecodeFrame(StoredFrameReference());
  ASSERT_EQ(Ref.size(), Got.size()) << "regenerate tests/render/frame_reference.inc";
  EXPECT_EQ(CountDifferentPixels(Ref, Got, 2), 0);
}

} // namespace

namespace {

// The waterfall of R's latest frame as nearest sampling of its staging texels gives it, top row
// first: pixel row p shows texture row (p + 0.5) / height * rows past the top row, pixel column x
// texel (x + 0.5) / width * texels.
std::vector<uint8_t> NearestWaterfall(const TGLRenderer &R) {
  const TPixelRect W = R.WfRect();
  const size_t Stride = static_cast<size_t>(R.TexRowStride());
  std::vector<uint8_t> Out;
  for (int P = 0; P < W.Height; ++P) {
    const int T = (static_cast<int>((P + 0.5) / W.Height * R.TexHeight()) + R.TexTopRow()) % R.TexHeight();
    for (int X = 0; X < W.Width; ++X) {
      const int C = static_cast<int>((X + 0.5) / W.Width * R.TexWidth());
      const uint8_t *Px = R.TexData().data() + static_cast<size_t>(T) * Stride + 3 * static_cast<size_t>(C);
      Out.insert(Out.end(), Px, Px + 3);
    }
  }
  return Out;
}

// The waterfall's pixels cut from a top-down frame FrameH rows high; with Blank, the frame with
// them painted black instead.
std::vector<uint8_t> CutWaterfall(std::vector<uint8_t> &Frame, const TGLRenderer &R, int FrameW, int FrameH,
                                  bool Blank = false) {
  const TPixelRect W = R.WfRect();
  std::vector<uint8_t> Out;
  for (int Y = FrameH - W.Bottom - W.Height; Y < FrameH - W.Bottom; ++Y) {
    uint8_t *Row = Frame.data() + 3 * (static_cast<size_t>(Y) * FrameW + W.Left);
    Out.insert(Out.end(), Row, Row + 3 * W.Width);
    if (Blank)
      std::fill_n(Row, 3 * W.Width, 0);
  }
  return Out;
}

// Ring path and whole-image path drawn by the rasteriser after the same pushes, with the
// waterfall magnified, minified, and at the viewer's size. Rows minified are pooled in runs whose
// cuts the ring takes from its slots and the whole image from its rows, so there each path must
// draw its own texels unfiltered, and the frames agree outside the waterfall.
TEST(OffscreenFrame, RingTextureDrawsTheWholeUploadsPixels) {
  const struct {
    int W, H;        // frame
    int Slots, NFFT; // ring
    std::vector<int> Pushes;
  } Cases[] = {
      {320, 240, 37, 64, {37, 1, 5, 17, 36, 2}},       // rows magnified (72 pixels for 37 rows)
      {320, 240, 150, 256, {150, 1, 3, 149, 77}},      // rows and bins minified
      {800, 600, 611, 1024, {611, 1, 1, 8, 300, 610}}, // the viewer's default window
  };
  for (const auto &C : Cases) {
    TOSMesaDestroyContext Ctx(C.W, C.H);
    TGLRenderer Ring, Whole;
    Ring.Resize(C.W, C.H);
    Whole.Resize(C.W, C.H);
    TRowBuffer Slots(static_cast<size_t>(C.Slots), TSingleArray(static_cast<size_t>(C.NFFT)));
    int WriteIdx = 0, Count = 0, Serial = 0;
    for (size_t Step = 0; Step < C.Pushes.size(); ++Step) {
      for (int k = 0; k < C.Pushes[Step]; ++k, ++Serial) {
        TSingleArray &Row = Slots[static_cast<size_t>(WriteIdx)];
        for (int c = 0; c < C.NFFT; ++c)
          Row[static_cast<size_t>(c)] = static_cast<float>((Serial * 13 + c * 7) % 61) - 12.5f;
        WriteIdx = (WriteIdx + 1) % C.Slots;
        Count = std::min(Count + 1, C.Slots);
      }
      Ring.UpdateWaterfallRing(Slots, WriteIdx, Count, Step == 0 ? -1 : C.Pushes[Step], C.NFFT, -10, 45);
      TRowBuffer Display;
      for (int i = 0; i < Count; ++i)
        Display.push_back(Slots[static_cast<size_t>((2 * C.Slots + WriteIdx - 1 - i) % C.Slots)]);
      Whole.UpdateWaterfallTexture(Display, Count, C.NFFT, -10, 45);

      Ring.Render(Plain());
      Ctx.Finish();
      std::vector<uint8_t> A = Ctx.RGBTopDown();
      Whole.Render(Plain());
      Ctx.Finish();
      std::vector<uint8_t> B = Ctx.RGBTopDown();
      ASSERT_EQ(A.size(), B.size());
      SCOPED_TRACE(testing::Message() << C.Slots << " slots, step " << Step);
      if (C.Slots <= Ring.WfRect().Height) {
        // Rows magnified: the very same pixels.
        EXPECT_EQ(CountDifferentPixels(A, B, 0), 0);
        continue;
      }
      // A pixel centre on a texel edge may round either way: one pixel row at most (none seen).
      const int Edge = Ring.WfRect().Width;
      EXPECT_LE(CountDifferentPixels(CutWaterfall(A, Ring, C.W, C.H, true), NearestWaterfall(Ring), 0), Edge);
      EXPECT_LE(CountDifferentPixels(CutWaterfall(B, Whole, C.W, C.H, true), NearestWaterfall(Whole), 0),
                Edge);
      EXPECT_EQ(CountDifferentPixels(A, B, 0), 0);
    }
  }
}

} // namespace
