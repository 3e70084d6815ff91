// TGLRenderer against a recording OpenGL table: layout, coordinate queries, frame order, grid,
// PSD trace, overlays, time axis, text positions and the waterfall texture, all at exact
// coordinates.
#include "render/uColormap.h"
#include "render/uGLRenderer.h"

#include "render/fake_gl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

const float LAB_R = 0.804f, LAB_G = 0.839f, LAB_B = 0.957f; // grid and status labels
const float GRID_R = 0.192f, GRID_G = 0.196f, GRID_B = 0.267f;

TFrameInputs EmptyFrame() {
  TFrameInputs In;
  In.MinDb = -10, In.MaxDb = 45;
  In.FreqLo = 0, In.FreqHi = 3e6;
  return In;
}

struct TFixture {
  TFakeGLGuard Guard;
  TGLRenderer R;
  explicit TFixture(int W = 800, int H = 600) { R.Resize(W, H); }
  void Draw(const TFrameInputs &In) {
    Fake().Prims.clear();
    Fake().Calls.clear();
    R.Render(In);
  }
};

int Pos(const std::string &S) {
  return static_cast<int>(S.size()) * FONT_W;
}

TEST(RendererLayout, RectanglesFollowTheWindowSize) {
  struct Case {
    int W, H;
    TPixelRect Psd, Wf;
  };
  const Case Cases[] = {
      {800, 600, {112, 294, 680, 252}, {112, 20, 680, 252}},
      {801, 601, {112, 295, 681, 252}, {112, 20, 681, 252}}, // odd usable height: gap of 23
      {0, 0, {112, -63, -119, 10}, {112, 20, -119, 10}},
      {-7, 300, {112, 144, -119, 102}, {112, 20, -119, 102}},
      {300, 116, {112, 52, 180, 10}, {112, 20, 180, 10}},
      {300, 93, {112, 29, 180, 10}, {112, 20, 180, 10}}, // plots overlap below 94 pixels
      {300, 63, {112, -1, 180, 10}, {112, 20, 180, 10}},
  };
  TGLRenderer R;
  for (const Case &C : Cases) {
    R.Resize(C.W, C.H);
    const TPixelRect P = R.PsdRect(), F = R.WfRect();
    EXPECT_EQ(std::make_tuple(P.Left, P.Bottom, P.Width, P.Height),
              std::make_tuple(C.Psd.Left, C.Psd.Bottom, C.Psd.Width, C.Psd.Height))
        << C.W << "x" << C.H;
    EXPECT_EQ(std::make_tuple(F.Left, F.Bottom, F.Width, F.Height),
              std::make_tuple(C.Wf.Left, C.Wf.Bottom, C.Wf.Width, C.Wf.Height))
        << C.W << "x" << C.H;
    EXPECT_GE(R.Width(), 1);
    EXPECT_GE(R.Height(), 1);
  }
}

TEST(RendererQueries, UseTheSpanOfTheLatestFrame) {
  TFixture F;
  EXPECT_EQ(F.R.GetFreqAtWindowX(500), 0.0); // before the first frame
  EXPECT_EQ(F.R.GetFreqTolHz(8), 0.0);
  TFrameInputs In = EmptyFrame();
  In.FreqLo = 100e6, In.FreqHi = 102e6;
  F.Draw(In);
  EXPECT_DOUBLE_EQ(F.R.GetFreqAtWindowX(112), 100e6);
  EXPECT_DOUBLE_EQ(F.R.GetFreqAtWindowX(792), 102e6);
  EXPECT_DOUBLE_EQ(F.R.GetFreqAtWindowX(452), 101e6);
  EXPECT_DOUBLE_EQ(F.R.GetFreqAtWindowX(0), 100e6 - 112.0 / 680.0 * 2e6); // not clamped
  EXPECT_DOUBLE_EQ(F.R.GetFreqTolHz(8), 2e6 * 8 / 680.0);

  struct Case {
    int X, Y;
    bool In;
  };
  const Case Cases[] = {
      {112, 600 - 294, true},  {792, 600 - 546, true},  {793, 400, false},
      {111, 400, false},       {400, 600 - 293, false}, {400, 600 - 283, false}, // the gap between the plots
      {400, 600 - 272, true},  {400, 600 - 20, true},   {400, 600 - 19, false},
      {400, 600 - 547, false}, {400, INT32_MIN, false}, {INT32_MAX, 300, false},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(F.R.IsWindowXYInPlot(C.X, C.Y), C.In) << C.X << "," << C.Y;

  F.R.Resize(0, 0); // plot without width
  EXPECT_EQ(F.R.GetFreqAtWindowX(500), 0.0);
  EXPECT_EQ(F.R.GetFreqTolHz(8), 0.0);
}

TEST(RendererFrame, WithoutViewportNothingIsDrawnButTheSpanIsKept) {
  const TGLEntryPoints Saved = GL;
  GL = TGLEntryPoints{};
  TGLRenderer R;
  R.Resize(800, 600);
  TFrameInputs In = EmptyFrame();
  In.FreqLo = 5e6, In.FreqHi = 7e6;
  R.Render(In); // must not touch the null table
  EXPECT_DOUBLE_EQ(R.GetFreqAtWindowX(792), 7e6);
  GL = Saved;
}

TEST(RendererFrame, OrderOfLayers) {
  TFixture F;
  TFrameInputs In = EmptyFrame();
  In.Freqs = {0, 1.5e6, 3e6};
  In.PSD_DB = {0, 20, 40};
  In.Signals = {{1e6, 1, "FM", false}};
  In.WfLenSec = 10, In.FileDurSec = 60, In.PlayPosSec = 5;
  In.StatusText = "Pos";
  F.R.UpdateWaterfallTexture(std::vector<TSingleArray>(2, TSingleArray(4, 0.f)), 2, 4, 0, 1);
  F.Draw(In);
  ASSERT_FALSE(Fake().Calls.empty());
  EXPECT_EQ(Fake().Calls.front(), "Viewport 0 0 800 600");
  EXPECT_EQ(Fake().Calls[1], "Clear");
  EXPECT_EQ(Fake().Calls.back(), "Flush");
  EXPECT_EQ(Fake().Ortho[1], 800.0);
  EXPECT_EQ(Fake().Ortho[3], 600.0);

  auto FirstPrim = [](auto Pred) {
    const auto &P = Fake().Prims;
    return static_cast<int>(std::find_if(P.begin(), P.end(), Pred) - P.begin());
  };
  const int Marker =
      FirstPrim([](const TFakePrim &P) { return P.Mode == GL_LINES && SameColour(P.V[0], 1, 0.8f, 0.2f); });
  const int Trace = FirstPrim([](const TFakePrim &P) { return P.Mode == GL_LINE_STRIP && P.Scissor; });
  const int Image = FirstPrim([](const TFakePrim &P) { return P.Texture; });
  const int Dash =
      FirstPrim([](const TFakePrim &P) { return P.V.size() > 2 && SameColour(P.V[0], 0.98f, 0.73f, 0.24f); });
  const int Grid = FirstPrim([](const TFakePrim &P) { return SameColour(P.V[0], GRID_R, GRID_G, GRID_B); });
  const int Status = FirstPrim([](const TFakePrim &P) {
    return P.Mode == GL_QUADS && SameColour(P.V[0], LAB_R, LAB_G, LAB_B) && P.V[0].Y < 12;
  });
  const int N = static_cast<int>(Fake().Prims.size());
  EXPECT_LT(Marker, Trace);
  EXPECT_LT(Trace, Image);
  EXPECT_LT(Image, Dash);
  EXPECT_LT(Dash, Grid);
  EXPECT_LT(Grid, Status);
  EXPECT_LT(Status, N);
  for (const TFakePrim &P : Fake().Prims)
    EXPECT_FALSE(P.V.empty());
  EXPECT_EQ(std::count(Fake().Calls.begin(), Fake().Calls.end(), "VertexOutsideBegin"), 0);
  // Every capability switched on in the frame is switched off again.
  EXPECT_FALSE(Fake().Blend || Fake().Scissor || Fake().Smooth || Fake().Texture);
}

TEST(RendererFrame, HeaderTextPositionAndBackground) {
  TFixture F;
  struct Case {
    double Centre, Rate;
    const char *Text;
  };
  const Case Cases[] = {
      {433.92e6, 2e6, "Center frequency: 433.920 MHz    BW: 2.000 MHz"},
      {0, 1e6, "Center frequency: 0.000 MHz    BW: 1.000 MHz"},
      {-5e5, 0, "Center frequency: -0.500 MHz    BW: 0.000 MHz"},
      {0, 0, nullptr},
  };
  for (const Case &C : Cases) {
    TFrameInputs In = EmptyFrame();
    In.CenterFreqHz = C.Centre, In.SampleRateHz = C.Rate;
    F.Draw(In);
    const auto Px = QuadPixels(0.96f, 0.82f, 0.36f);
    if (!C.Text) {
      EXPECT_TRUE(Px.empty());
      continue;
    }
    const std::string T = C.Text;
    const int X = (680 - Pos(T)) / 2 + 112;
    EXPECT_EQ(ReadText(Px, X, 600 - 12 - 4, static_cast<int>(T.size())), T);
    const auto Bg = std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) {
      return P.Mode == GL_QUADS && SameColour(P.V[0], 0.09f, 0.09f, 0.14f);
    });
    ASSERT_NE(Bg, Fake().Prims.end());
    EXPECT_TRUE(Bg->Blend);
    EXPECT_FLOAT_EQ(Bg->V[0].A, 0.8f);
    EXPECT_EQ(Bg->V[0].X, X - 6);
    EXPECT_EQ(Bg->V[0].Y, 600 - 12 - 5);
    EXPECT_EQ(Bg->V[2].X, X + Pos(T) + 6);
    EXPECT_EQ(Bg->V[2].Y, 597);
  }
}

TEST(RendererText, AdvanceBlankCellsAndDescenders) {
  TFixture F;
  struct Case {
    std::string In, Read;
  };
  const Case Cases[] = {
      {"0s", "0s"},
      {"a#b", "a b"},
      {"\x01\xff"
       "Z",
       "  Z"},
      {" !()+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]_abcdefghijklmnopqrstuvwxyz|",
       " !()+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]_abcdefghijklmnopqrstuvwxyz|"},
  };
  for (const Case &C : Cases) {
    TFrameInputs In = EmptyFrame();
    In.StatusText = C.In;
    F.Draw(In);
    const auto Px = QuadPixels(LAB_R, LAB_G, LAB_B);
    EXPECT_EQ(ReadText(Px, 4, 4, static_cast<int>(C.In.size())), C.Read) << C.In;
  }
  // Descenders stay inside the seven rows of the cell.
  TFrameInputs In = EmptyFrame();
  In.StatusText = "gjpqy";
  F.Draw(In);
  for (const auto &[X, Y] : QuadPixels(LAB_R, LAB_G, LAB_B))
    if (X < 4 + 5 * FONT_W) {
      EXPECT_GE(Y, 4);
      EXPECT_LE(Y, 10);
    }
}

TEST(RendererText, EmptyStatusDrawsNothingAndGlyphlessCellsEmitNoPrimitive) {
  TFixture F;
  TFrameInputs In = EmptyFrame();
  F.Draw(In);
  const auto Px = QuadPixels(LAB_R, LAB_G, LAB_B); // grid labels only, none in the status line
  EXPECT_TRUE(std::all_of(Px.begin(), Px.end(), [](auto P) { return P.second > 20; }));
  const size_t Base = Fake().Prims.size();
  In.StatusText = "#\"$%";
  F.Draw(In);
  EXPECT_EQ(Fake().Prims.size(), Base);
}

// Vertical grid lines and their labels under the PSD plot of an 800 x 600 frame.
std::map<int, std::string> FreqGrid(TFixture &F, double LoHz, double HiHz) {
  TFrameInputs In = EmptyFrame();
  In.FreqLo = LoHz, In.FreqHi = HiHz;
  F.Draw(In);
  const TPixelRect P = F.R.PsdRect();
  const auto Lab = QuadPixels(LAB_R, LAB_G, LAB_B);
  std::map<int, std::string> Out;
  for (const auto &L : LinesIn(GRID_R, GRID_G, GRID_B)) {
    if (L.size() != 2 || L[0].X != L[1].X || L[0].Y != P.Bottom || L[1].Y != P.Bottom + P.Height)
      continue;
    const int Px = static_cast<int>(L[0].X);
    // The label is centred under the line; read wide enough and trim.
    std::string S;
    for (int Len = 1; Len <= 12; ++Len) {
      const std::string T = ReadText(Lab, Px - Len * FONT_W / 2, P.Bottom - FONT_H - 4, Len);
      if (T.find(' ') == std::string::npos && T.find('~') == std::string::npos)
        S = T;
    }
    Out[Px] = S;
  }
  return Out;
}

TEST(RendererGrid, FrequencyLinesAndLabels) {
  {
    TFixture F;
    const auto G = FreqGrid(F, 0, 3e6); // 680 pixels: n = 8, step 0.375 -> 0.4
    const std::map<int, std::string> Want = {{112, "0"},   {203, "0.40"}, {293, "0.80"}, {384, "1.2"},
                                             {475, "1.6"}, {565, "2.0"},  {656, "2.4"},  {747, "2.8"}};
    EXPECT_EQ(G, Want);
  }
  {
    TFixture F;
    const auto G = FreqGrid(F, 0, 2e6); // step exactly 0.25 rounds to the even 0.2
    EXPECT_EQ(G.size(), 11u);
    EXPECT_EQ(G.count(112 + 68), 1u);
    EXPECT_EQ(G.at(112 + 68), "0.20");
  }
  {
    // Labels carry the decimals their step needs, so neighbours never read the same.
    const struct {
      int W;
      double Lo, Hi;
      std::vector<std::string> Want;
    } Spans[] = {
        // 400-pixel plot: n = 5, step 0.2 MHz from 2400 MHz
        {520, 2400e6, 2401e6, {"2400.0", "2400.2", "2400.4", "2400.6", "2400.8", "2401.0"}},
        // 200 kHz around 100 MHz, 680 pixels: step 0.025 -> 0.02
        {800,
         99.9e6,
         100.1e6,
         {"99.90", "99.92", "99.94", "99.96", "99.98", "100.00", "100.02", "100.04", "100.06", "100.08",
          "100.10"}},
        // 20 kHz: the hundredths round to nothing, a quarter of the span (5 kHz) is the step (the
        // sums of the steps overshoot the upper end by a rounding error, so it gets no line)
        {800, 99.99e6, 100.01e6, {"99.990", "99.995", "100.000", "100.005"}},
        // 2 kHz around 0 Hz: steps below a kHz are not mistaken for zero
        {800, -1e3, 1e3, {"-0.0010", "-0.0005", "0", "0.0005", "0.0010"}},
        // 2 MHz around 433.92 MHz keeps one decimal
        {800,
         432.92e6,
         434.92e6,
         {"433.0", "433.2", "433.4", "433.6", "433.8", "434.0", "434.2", "434.4", "434.6", "434.8"}},
    };
    for (const auto &Sp : Spans) {
      TFixture F(Sp.W, 600);
      std::vector<std::string> Labels;
      for (const auto &[X, S] : FreqGrid(F, Sp.Lo, Sp.Hi))
        Labels.push_back(S);
      EXPECT_EQ(Labels, Sp.Want) << Sp.Lo << ".." << Sp.Hi;
    }
  }
}

TEST(RendererGrid, LevelLinesLabelsAndFrame) {
  TFixture F;
  TFrameInputs In = EmptyFrame(); // -10..45 dB on 252 pixels: n = 6, step 9.17 -> 9
  F.Draw(In);
  const auto Lab = QuadPixels(LAB_R, LAB_G, LAB_B);
  std::vector<std::pair<int, std::string>> Got;
  for (const auto &L : LinesIn(GRID_R, GRID_G, GRID_B))
    if (L.size() == 2 && L[0].Y == L[1].Y && L[0].X == 112 && L[1].X == 792) {
      const int Py = static_cast<int>(L[0].Y);
      std::string S;
      for (int Len = 1; Len <= 3; ++Len) {
        const std::string T = ReadText(Lab, 112 - Len * FONT_W - 4, Py - 6, Len);
        if (T.find(' ') == std::string::npos && T.find('~') == std::string::npos)
          S = T;
      }
      Got.emplace_back(Py, S);
    }
  const std::vector<std::pair<int, std::string>> Want = {
      {294 + 5, "-9"},   {294 + 46, "0"},   {294 + 87, "9"},  {294 + 128, "18"},
      {294 + 170, "27"}, {294 + 211, "36"}, {294 + 252, "45"}};
  EXPECT_EQ(Got, Want);

  // Closed frame, counter-clockwise from the bottom-left corner, opaque.
  const auto Frames = LinesIn(0.271f, 0.278f, 0.353f);
  ASSERT_EQ(Frames.size(), 1u);
  const auto &V = Frames[0];
  ASSERT_EQ(V.size(), 5u);
  const float Want5[5][2] = {{112, 294}, {792, 294}, {792, 546}, {112, 546}, {112, 294}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(V[i].X, Want5[i][0]);
    EXPECT_EQ(V[i].Y, Want5[i][1]);
  }
}

TEST(RendererGrid, DegenerateSpansDrawNoLinesAndTerminate) {
  TFixture F;
  const double Nan = std::nan("");
  const double Inf = INFINITY;
  const double Cases[][4] = {{1e6, 1e6, -10, 45},
                             {3e6, 1e6, -10, 45},
                             {0, 3e6, 5, 5},
                             {Nan, 3e6, -10, 45},
                             {0, Inf, -10, Inf},
                             {1e30, 1e30 + 1e15, -10, 45},
                             {2.4e9, 2.4e9 + 1, -1e300, 1e300}};
  for (const auto &C : Cases) {
    TFrameInputs In = EmptyFrame();
    In.FreqLo = C[0], In.FreqHi = C[1], In.MinDb = C[2], In.MaxDb = C[3];
    In.Freqs = {C[0], C[1]};
    In.PSD_DB = {0, 1};
    F.Draw(In); // must return; UBSan checks the conversions
    EXPECT_LE(LinesIn(GRID_R, GRID_G, GRID_B).size(), 200u);
  }
}

TEST(RendererPsd, TraceColouredByLevelAndScissored) {
  TFixture F;
  TFrameInputs In = EmptyFrame();
  In.Freqs = {0, 1e6, 2e6, 3e6};
  In.PSD_DB = {-20, -10, 17.5, 60};
  F.Draw(In);
  const auto It = std::find_if(Fake().Prims.begin(), Fake().Prims.end(),
                               [](const TFakePrim &P) { return P.Mode == GL_LINE_STRIP && P.Scissor; });
  ASSERT_NE(It, Fake().Prims.end());
  EXPECT_TRUE(It->Blend && It->Smooth);
  EXPECT_FLOAT_EQ(It->LineWidth, 1.5f);
  EXPECT_EQ(std::vector<int>(Fake().ScissorBox, Fake().ScissorBox + 4),
            (std::vector<int>{112, 294, 680, 252}));
  ASSERT_EQ(It->V.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const double T = std::clamp((In.PSD_DB[i] + 10) / 55.0, 0.0, 1.0);
    float R, G, B;
    ColormapViridisGL(static_cast<float>(T), R, G, B);
    EXPECT_TRUE(SameColour(It->V[i], R, G, B)) << i;
    EXPECT_FLOAT_EQ(It->V[i].A, 0.9f);
    EXPECT_NEAR(It->V[i].X, 112 + In.Freqs[i] / 3e6 * 680, 1e-3);
    EXPECT_NEAR(It->V[i].Y, 294 + (In.PSD_DB[i] + 10) / 55 * 252, 1e-3); // not clamped
  }

  // No trace for one bin, mismatched lengths, an empty span or an empty range.
  const auto NoTrace = [&](TFrameInputs X) {
    F.Draw(X);
    return std::none_of(Fake().Prims.begin(), Fake().Prims.end(),
                        [](const TFakePrim &P) { return P.Scissor; });
  };
  TFrameInputs A = In;
  A.Freqs = {1e6}, A.PSD_DB = {3};
  EXPECT_TRUE(NoTrace(A));
  A = In, A.PSD_DB.pop_back();
  EXPECT_TRUE(NoTrace(A));
  A = In, A.FreqHi = A.FreqLo;
  EXPECT_TRUE(NoTrace(A));
  A = In, A.MaxDb = A.MinDb;
  EXPECT_TRUE(NoTrace(A));
}

// Signal-label pixels, to read the label texts.
TEST(RendererOverlays, MarkersLabelsAlternateAndBoundsAreInclusive) {
  TFixture F;
  TFrameInputs In = EmptyFrame();
  In.FreqLo = 1e6, In.FreqHi = 3e6;
  In.Signals = {{1e6, 1, "AM", false},
                {0.5e6, 9, "XX", false},
                {2e6, 2, "FM", false},
                {3e6, 3, "BPSK", false},
                {2.5e6, 4, "hop", true}};
  F.Draw(In);
  const auto Lab = QuadPixels(1.0f, 0.8f, 0.2f);
  const int Top = 546;
  EXPECT_EQ(ReadText(Lab, 112 - Pos("#1 AM") / 2, Top + 4, 5), " 1 AM");
  EXPECT_EQ(ReadText(Lab, 452 - Pos("#2 FM") / 2, Top + 20, 5), " 2 FM");
  EXPECT_EQ(ReadText(Lab, 792 - Pos("#3 BPSK") / 2, Top + 4, 7), " 3 BPSK");
  // Markers: a vertical line from the waterfall bottom to the PSD top and a tick, 4 signals.
  std::vector<int> Xs;
  for (const auto &L : LinesIn(1.0f, 0.8f, 0.2f)) {
    ASSERT_FLOAT_EQ(L[0].A, 0.75f);
    if (L[0].X == L[1].X) {
      EXPECT_EQ(L[0].Y, 20);
      EXPECT_EQ(L[1].Y, Top);
      Xs.push_back(static_cast<int>(L[0].X));
    } else {
      EXPECT_EQ(L[1].X - L[0].X, 8);
      EXPECT_EQ(L[0].Y, Top);
    }
  }
  EXPECT_EQ(Xs, (std::vector<int>{112, 452, 792, 622}));
  // Nothing was drawn for the skipped signal's label slot, nor for the hopper member.
  EXPECT_EQ(ReadText(Lab, 622 - Pos("#4 hop") / 2, Top + 4, 6), "      ");
}

TEST(RendererOverlays, LabelLimitAndHopperBrackets) {
  TFixture F;
  TFrameInputs In = EmptyFrame();
  In.FreqLo = 1e6, In.FreqHi = 3e6;
  for (int i = 0; i < 260; ++i)
    In.Signals.push_back({1e6 + i * 5000.0, 7, "", false}); // label "#7 ": one glyph with pixels
  In.HopperGroups = {{0.5e6, 5e6, 3}, {4e6, 5e6, 2}, {2.9e6, 3e6, 12}};
  F.Draw(In);
  int Markers = 0, LabelGlyphs = 0;
  for (const TFakePrim &P : Fake().Prims) {
    if (P.Mode == GL_LINES && SameColour(P.V[0], 1, 0.8f, 0.2f) && P.V[0].X == P.V[1].X)
      ++Markers;
    if (P.Mode == GL_QUADS && SameColour(P.V[0], 1, 0.8f, 0.2f))
      ++LabelGlyphs;
  }
  EXPECT_EQ(Markers, 260);
  EXPECT_EQ(LabelGlyphs, MAX_OVERLAY_LABELS);

  // Brackets: the first group clipped to the plot, the second outside, the third inside.
  const auto Br = LinesIn(0.9f, 0.9f, 0.95f);
  ASSERT_EQ(Br.size(), 2u);
  const int Top = 546, BarY = Top + 18;
  const float W0[4][2] = {{112, Top + 2}, {112, BarY}, {792, BarY}, {792, Top + 2}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Br[0][i].X, W0[i][0]);
    EXPECT_EQ(Br[0][i].Y, W0[i][1]);
  }
  EXPECT_FLOAT_EQ(Br[0][0].A, 0.9f);
  EXPECT_EQ(Br[1][0].X, 758); // 2.9 MHz
  EXPECT_EQ(Br[1][2].X, 792); // 3 MHz
  const auto Lab = QuadPixels(0.847f, 0.875f, 0.941f);
  const std::string T0 = "Hopper (3x) 0.5000-5.0000 MHz"; // full band, not the clipped one
  EXPECT_EQ(ReadText(Lab, 452 - Pos(T0) / 2, BarY + 2, static_cast<int>(T0.size())), T0);
  const std::string T2 = "Hopper (12x) 2.9000-3.0000 MHz";
  EXPECT_EQ(ReadText(Lab, 775 - Pos(T2) / 2, BarY + 2, static_cast<int>(T2.size())), T2);
}

struct TAxis {
  int LineY = -1;                                 // y of the dashed play line
  std::vector<std::pair<int, std::string>> Ticks; // tick y and its label
  std::string PlayLabel;
};

TAxis ReadAxis(TFixture &F, double Play, double Dur, double Len) {
  TFrameInputs In = EmptyFrame();
  In.PlayPosSec = Play, In.FileDurSec = Dur, In.WfLenSec = Len;
  F.Draw(In);
  TAxis A;
  const TPixelRect W = F.R.WfRect();
  for (const TFakePrim &P : Fake().Prims)
    if (P.Mode == GL_LINES && !P.V.empty() && SameColour(P.V[0], 0.98f, 0.73f, 0.24f)) {
      A.LineY = static_cast<int>(P.V[0].Y);
      EXPECT_FLOAT_EQ(P.LineWidth, 1.5f);
    }
  const auto Lab = QuadPixels(0.6f, 0.65f, 0.75f);
  for (const auto &L : LinesIn(0.5f, 0.55f, 0.65f)) {
    EXPECT_EQ(L[0].X, W.Left);
    EXPECT_EQ(L[1].X, W.Left - 4);
    const int Py = static_cast<int>(L[0].Y);
    std::string S;
    for (int Len2 = 2; Len2 <= 6; ++Len2) {
      const std::string T = ReadText(Lab, W.Left - 4 - Len2 * FONT_W, Py - 6, Len2);
      if (T.find(' ') == std::string::npos && T.find('~') == std::string::npos)
        S = T;
    }
    A.Ticks.emplace_back(Py, S);
  }
  const auto PL = QuadPixels(0.98f, 0.73f, 0.24f);
  if (A.LineY >= 0)
    A.PlayLabel = ReadText(PL, W.Left + 5, A.LineY + 2, 8);
  return A;
}

TEST(RendererTimeAxis, DocumentedExamples) {
  TFixture F;
  { // file 4 s, span 10 s, play at 1 s: axis 0..4, line at a quarter
    const TAxis A = ReadAxis(F, 1, 4, 10);
    EXPECT_EQ(A.LineY, 20 + 63);
    ASSERT_EQ(A.Ticks.size(), 9u); // every 0.5 s
    EXPECT_EQ(A.Ticks.front(), std::make_pair(20, std::string("0s")));
    EXPECT_EQ(A.Ticks[1], std::make_pair(20 + 32, std::string("0.5s"))); // 31.5 rounds to 32
    EXPECT_EQ(A.Ticks.back(), std::make_pair(272, std::string("4.0s")));
    EXPECT_EQ(A.PlayLabel, "t=1.00s ");
  }
  { // file 60 s, play 30: axis 25..35, line in the middle
    const TAxis A = ReadAxis(F, 30, 60, 10);
    EXPECT_EQ(A.LineY, 146);
    ASSERT_EQ(A.Ticks.size(), 11u);
    EXPECT_EQ(A.Ticks.front(), std::make_pair(20, std::string("25.0s")));
    EXPECT_EQ(A.Ticks.back(), std::make_pair(272, std::string("35.0s")));
    EXPECT_EQ(A.PlayLabel, "t=30.00s");
  }
  { // play 58: axis 50..60, line at 80 %
    const TAxis A = ReadAxis(F, 58, 60, 10);
    EXPECT_EQ(A.LineY, 222);
    EXPECT_EQ(A.Ticks.front().second, "50.0s");
    EXPECT_EQ(A.Ticks.back().second, "60.0s");
  }
  { // unknown duration: 0..10, the line rises and clamps at the top
    const TAxis A = ReadAxis(F, 2.5, 0, 10);
    EXPECT_EQ(A.LineY, 20 + 63);
    ASSERT_EQ(A.Ticks.size(), 11u); // 252 pixels, 10 s: step 1.25 -> 1.0
    EXPECT_EQ(A.Ticks[0].second, "0s");
    EXPECT_EQ(A.Ticks[1], std::make_pair(45, std::string("1.0s")));
    EXPECT_EQ(A.Ticks[10].second, "10.0s");
    EXPECT_EQ(ReadAxis(F, 25, 0, 10).LineY, 272);
  }
  EXPECT_EQ(ReadAxis(F, 0, 60, 10).PlayLabel, "t=0.00s ");
  EXPECT_EQ(ReadAxis(F, 1, 60, 0).LineY, -1); // no span: no axis
}

TEST(RendererTimeAxis, DashedLineSixOnFourOff) {
  TFixture F;
  ReadAxis(F, 30, 60, 10);
  const auto It = std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) {
    return P.Mode == GL_LINES && SameColour(P.V[0], 0.98f, 0.73f, 0.24f);
  });
  ASSERT_NE(It, Fake().Prims.end());
  const auto &V = It->V;
  ASSERT_EQ(V.size(), 2u * 68); // 680 pixels / 10
  for (size_t i = 0; i < V.size(); i += 2) {
    EXPECT_EQ(V[i].X, 112 + 10 * static_cast<float>(i / 2));
    EXPECT_EQ(V[i + 1].X, std::min(V[i].X + 6, 792.f));
  }
  // Play label background: from (116, y + 1) to (118 + len * 7, y + 14), translucent.
  const auto Bg = std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) {
    return P.Mode == GL_QUADS && SameColour(P.V[0], 0.08f, 0.08f, 0.12f);
  });
  ASSERT_NE(Bg, Fake().Prims.end());
  EXPECT_TRUE(Bg->Blend);
  EXPECT_EQ(Bg->V[0].X, 116);
  EXPECT_EQ(Bg->V[0].Y, 147);
  EXPECT_EQ(Bg->V[2].X, 118 + Pos("t=30.00s"));
  EXPECT_EQ(Bg->V[2].Y, 160);

  // A window too narrow for the plot (X1 >= X2) draws no dash; odd inputs terminate.
  TFixture Narrow(100, 600);
  EXPECT_EQ(ReadAxis(Narrow, 1, 60, 10).LineY, -1);
  for (const double P : {1e20, -1e20, std::nan(""), double(INFINITY)})
    ReadAxis(F, P, 1e21, 10);
  ReadAxis(F, 5, INFINITY, INFINITY);
}

TEST(RendererTexture, ConversionOrientationAndUploads) {
  TFixture F;
  const TRowBuffer Rows = {{0, 1, 0.5f, 2}, {-1, 0.25f, 0.75f, 1}};
  F.R.UpdateWaterfallTexture(Rows, 2, 4, 0, 1);
  ASSERT_EQ(Fake().Uploads.size(), 1u);
  const auto &U = Fake().Uploads[0];
  EXPECT_EQ(U.Name, 1u);
  EXPECT_EQ(U.W, 4);
  EXPECT_EQ(U.H, 2);
  const std::vector<uint8_t> Want = {68, 1, 84, 253, 231, 37,  41, 124, 141, 253, 231, 37,
                                     68, 1, 84, 67,  64,  131, 76, 191, 107, 253, 231, 37};
  EXPECT_EQ(U.Data, Want);
  EXPECT_EQ(F.R.TexData(), Want);
  EXPECT_EQ(Fake().TexParams, (std::vector<std::pair<GLenum, GLint>>{{GL_TEXTURE_MIN_FILTER, GL_LINEAR},
                                                                     {GL_TEXTURE_MAG_FILTER, GL_NEAREST}}));

  // Same size: no new name, content replaced.
  F.R.UpdateWaterfallTexture(TRowBuffer{{1, 1, 1, 1}, {1, 1, 1, 1}}, 2, 4, 0, 1);
  ASSERT_EQ(Fake().Uploads.size(), 2u);
  EXPECT_EQ(Fake().Uploads[1].Name, 1u);
  EXPECT_EQ(Fake().NextTex, 2u);
  EXPECT_TRUE(Fake().Deleted.empty());

  // Empty input changes nothing.
  F.R.UpdateWaterfallTexture(Rows, 0, 4, 0, 1);
  F.R.UpdateWaterfallTexture(Rows, 2, 0, 0, 1);
  EXPECT_EQ(Fake().Uploads.size(), 2u);
  EXPECT_EQ(F.R.TexWidth(), 4);

  // New size: old texture deleted, new name; a short row keeps its earlier bytes, a new one is black,
  // and missing rows (fewer than RowCount) are treated the same way.
  F.R.UpdateWaterfallTexture(TRowBuffer{{0, 0, 0, 0}, {0.5f}, {0, 0, 0, 0}}, 4, 4, 0, 1);
  EXPECT_EQ(Fake().Deleted, (std::vector<GLuint>{1}));
  ASSERT_EQ(Fake().Uploads.size(), 3u);
  const auto &U3 = Fake().Uploads[2];
  EXPECT_EQ(U3.Name, 2u);
  const std::vector<uint8_t> Yellow = {253, 231, 37, 253, 231, 37, 253, 231, 37, 253, 231, 37};
  EXPECT_EQ(std::vector<uint8_t>(U3.Data.begin() + 12, U3.Data.begin() + 24), Yellow); // from the last upload
  EXPECT_EQ(std::vector<uint8_t>(U3.Data.begin() + 24, U3.Data.begin() + 27),
            (std::vector<uint8_t>{68, 1, 84}));
  EXPECT_EQ(std::vector<uint8_t>(U3.Data.begin() + 36, U3.Data.end()), std::vector<uint8_t>(12, 0));

  // Level range with MaxDb <= MinDb turns everything black.
  F.R.UpdateWaterfallTexture(Rows, 2, 4, 1, 1);
  EXPECT_EQ(Fake().Uploads.back().Data, std::vector<uint8_t>(24, 0));
}

TEST(RendererTexture, RowsPaddedForTheDefaultUnpackAlignment) {
  TFixture F;
  TRowBuffer Rows(3, TSingleArray(5, 0.f));
  Rows[1][0] = 1; // first texel of row 1
  Rows[2][4] = 1; // last texel of the last row
  F.R.UpdateWaterfallTexture(Rows, 3, 5, 0, 1);
  ASSERT_EQ(Fake().Uploads.size(), 1u);
  EXPECT_EQ(F.R.TexRowStride(), 16);
  const auto &D = Fake().Uploads[0].Data; // what the driver reads, 16 bytes per row
  ASSERT_GE(F.R.TexData().size(), D.size());
  EXPECT_EQ(std::vector<uint8_t>(D.begin() + 16, D.begin() + 19), (std::vector<uint8_t>{253, 231, 37}));
  EXPECT_EQ(std::vector<uint8_t>(D.begin() + 32 + 12, D.begin() + 32 + 15),
            (std::vector<uint8_t>{253, 231, 37}));
}

TEST(RendererTexture, ImageQuadRowZeroOnTop) {
  TFixture F;
  TFrameInputs In = EmptyFrame();
  F.Draw(In);
  EXPECT_TRUE(
      std::none_of(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) { return P.Texture; }));
  F.R.UpdateWaterfallTexture(TRowBuffer(2, TSingleArray(4, 0.f)), 2, 4, 0, 1);
  F.Draw(In);
  const auto It =
      std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) { return P.Texture; });
  ASSERT_NE(It, Fake().Prims.end());
  ASSERT_EQ(It->V.size(), 4u);
  const float Want[4][4] = {{112, 20, 0, 1}, {792, 20, 1, 1}, {792, 272, 1, 0}, {112, 272, 0, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(It->V[i].X, Want[i][0]);
    EXPECT_EQ(It->V[i].Y, Want[i][1]);
    EXPECT_EQ(It->V[i].S, Want[i][2]);
    EXPECT_EQ(It->V[i].T, Want[i][3]);
    EXPECT_TRUE(SameColour(It->V[i], 1, 1, 1));
  }
}

} // namespace

namespace {

TEST(RendererTexture, InlineColourMapGivesTheSameBytesAsTheColourMap) {
  const float Ranges[][2] = {{-10, 45}, {0, 1}, {-120, 0}, {-1e-3f, 1e-3f}, {1e30f, 3e30f}, {5, 5}, {6, 5}};
  const float Special[] = {0.0f, -0.0f, 1e-45f, -1e-45f, INFINITY, -INFINITY, NAN, 1e38f, -1e38f};
  int Checked = 0;
  for (const auto &Rg : Ranges) {
    const float Lo = Rg[0], Hi = Rg[1];
    auto Check = [&](float Db) {
      const TRGB A = MapDbToColor(Db, Lo, Hi), B = MapDbToColorInline(Db, Lo, Hi);
      ASSERT_TRUE(A.R == B.R && A.G == B.G && A.B == B.B) << Db << " in " << Lo << ".." << Hi;
      ++Checked;
    };
    // Dense sweep over and beyond the range, and every stop with its float neighbours.
    for (int i = -2000; i <= 102000; ++i)
      Check(Lo + (Hi - Lo) * static_cast<float>(i) / 100000.0f);
    for (int k = 0; k < 8; ++k) {
      const float Db = Lo + (Hi - Lo) * static_cast<float>(k) / 7.0f;
      Check(Db);
      Check(std::nextafter(Db, -INFINITY));
      Check(std::nextafter(Db, INFINITY));
    }
    for (float S : Special)
      Check(S);
  }
  EXPECT_GT(Checked, 700000);
  // Non-finite range ends.
  for (float Db : {0.0f, 50.0f, NAN})
    for (const auto &[Lo, Hi] :
         {std::pair{NAN, 1.0f}, std::pair{0.0f, NAN}, std::pair{-INFINITY, INFINITY}}) {
      const TRGB A = MapDbToColor(Db, Lo, Hi), B = MapDbToColorInline(Db, Lo, Hi);
      EXPECT_TRUE(A.R == B.R && A.G == B.G && A.B == B.B);
    }
}

} // namespace

namespace {

// A ring of waterfall rows as the viewer keeps it: slots overwritten in turn, the newest in
// WriteIdx - 1. Each pushed row has its own levels, spread over and beyond the colour range.
struct TRing {
  int32_t NFFT;
  TRowBuffer Slots;
  int32_t WriteIdx = 0, Count = 0, Pushed = 0, Serial = 0;
  TRing(int32_t Slots_, int32_t NFFT_)
      : NFFT(NFFT_), Slots(static_cast<size_t>(Slots_), TSingleArray(NFFT_)) {}
  void Push(int32_t N) {
    for (int32_t k = 0; k < N; ++k, ++Serial) {
      TSingleArray &Row = Slots[static_cast<size_t>(WriteIdx)];
      for (int32_t c = 0; c < NFFT; ++c)
        Row[static_cast<size_t>(c)] = static_cast<float>((Serial * 37 + c * 11) % 70) - 15.0f;
      WriteIdx = (WriteIdx + 1) % static_cast<int32_t>(Slots.size());
      Count = std::min<int32_t>(Count + 1, static_cast<int32_t>(Slots.size()));
      ++Pushed;
    }
  }
  // Newest first, as the viewer hands them to UpdateWaterfallTexture.
  TRowBuffer Display() const {
    TRowBuffer D;
    const int32_t H = static_cast<int32_t>(Slots.size());
    for (int32_t i = 0; i < Count; ++i)
      D.push_back(Slots[static_cast<size_t>((2 * H + WriteIdx - 1 - i) % H)]);
    return D;
  }
};

// The texture's rows in the order they appear on screen, from the top: texture row TopRow first.
std::vector<uint8_t> ShownTexels(GLuint Tex, int32_t TopRow) {
  const TFakeTexImage &Img = Fake().Images[Tex];
  const size_t Row = static_cast<size_t>(Img.W) * 3;
  std::vector<uint8_t> Out;
  for (int32_t i = 0; i < Img.H; ++i) {
    const auto From =
        Img.Texels.begin() + static_cast<ptrdiff_t>(static_cast<size_t>((i + TopRow) % Img.H) * Row);
    Out.insert(Out.end(), From, From + static_cast<ptrdiff_t>(Row));
  }
  return Out;
}

size_t SubUploadedRows() {
  size_t N = 0;
  for (const auto &U : Fake().SubUploads)
    N += static_cast<size_t>(U.H);
  return N;
}

// Sequences of pushes through the ring path against the whole-image path for the same rows:
// the texture as shown (from its top row on) must hold the same bytes after every step, and
// steps that only pushed rows must upload just those rows.
TEST(RendererRing, ShowsWhatTheWholeUploadShows) {
  struct Step {
    int32_t Push;
    int32_t NewRows; // passed to the ring path; kPushed: the true count
    float MinDb, MaxDb;
    bool Partial; // expected to upload only the pushed rows
  };
  constexpr int32_t kPushed = 1 << 20;
  const struct {
    int32_t Slots, NFFT;
    std::vector<Step> Steps;
  } Cases[] = {
      // Filling up, then single pushes, a wrap in one go, a push of nothing, a redraw after a
      // refill, a range change, and more rows than the ring holds.
      {7,
       5,
       {{3, kPushed, -10, 45, false},
        {4, kPushed, -10, 45, false},
        {1, kPushed, -10, 45, true},
        {1, kPushed, -10, 45, true},
        {5, kPushed, -10, 45, true},
        {0, kPushed, -10, 45, true},
        {2, -1, -10, 45, false},
        {1, kPushed, -20, 30, false},
        {6, kPushed, -20, 30, true},
        {9, kPushed, -20, 30, false},
        {3, kPushed, -20, 30, true}}},
      // A caller whose count does not fit the rows' positions gets the whole image rebuilt.
      {4, 8, {{4, kPushed, 0, 50, false}, {2, 1, 0, 50, false}, {1, kPushed, 0, 50, true}}},
      // One slot: every push replaces the only row.
      {1, 4, {{1, kPushed, 0, 50, false}, {1, kPushed, 0, 50, false}, {0, kPushed, 0, 50, true}}},
  };
  for (const auto &C : Cases) {
    const TFakeGLGuard Guard;
    TGLRenderer Ring, Whole;
    TRing R(C.Slots, C.NFFT);
    int StepNo = 0;
    for (const Step &S : C.Steps) {
      ++StepNo;
      R.Push(S.Push);
      const size_t WholeBefore = Fake().Uploads.size(), RowsBefore = SubUploadedRows();
      Ring.UpdateWaterfallRing(R.Slots, R.WriteIdx, R.Count, S.NewRows == kPushed ? R.Pushed : S.NewRows,
                               R.NFFT, S.MinDb, S.MaxDb);
      const bool WholeUploaded = Fake().Uploads.size() != WholeBefore;
      const size_t RowsUploaded = SubUploadedRows() - RowsBefore;
      R.Pushed = 0;
      const TRowBuffer D = R.Display();
      Whole.UpdateWaterfallTexture(D, static_cast<int32_t>(D.size()), R.NFFT, S.MinDb, S.MaxDb);
      ASSERT_NE(Ring.WaterfallTex(), 0u);
      EXPECT_EQ(ShownTexels(Ring.WaterfallTex(), Ring.TexTopRow()), ShownTexels(Whole.WaterfallTex(), 0))
          << C.Slots << " slots, step " << StepNo;
      EXPECT_EQ(Ring.TexHeight(), R.Count);
      if (S.Partial) {
        EXPECT_FALSE(WholeUploaded) << "step " << StepNo;
        EXPECT_EQ(RowsUploaded, static_cast<size_t>(S.Push)) << "step " << StepNo;
      } else {
        EXPECT_TRUE(WholeUploaded) << "step " << StepNo;
      }
    }
    EXPECT_EQ(std::count(Fake().Calls.begin(), Fake().Calls.end(), "TexSubImage2D outside the texture"), 0);
  }
}

TEST(RendererRing, QuadStartsAtTheNewestRow) {
  TFixture F;
  TRing R(6, 4);
  R.Push(8); // full, WriteIdx 2: the newest row sits in texture row 6 - 2 = 4
  F.R.UpdateWaterfallRing(R.Slots, R.WriteIdx, R.Count, -1, 4, 0, 50);
  EXPECT_EQ(F.R.TexTopRow(), 4);
  F.Draw(EmptyFrame());
  // Row 4 of 6 is reached by shifting two rows up rather than four down.
  const auto It =
      std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) { return P.Texture; });
  ASSERT_NE(It, Fake().Prims.end());
  const float T0 = -2.0f / 6.0f;
  const float Want[4][4] = {{112, 20, 0, T0 + 1}, {792, 20, 1, T0 + 1}, {792, 272, 1, T0}, {112, 272, 0, T0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(It->V[i].X, Want[i][0]);
    EXPECT_EQ(It->V[i].Y, Want[i][1]);
    EXPECT_EQ(It->V[i].S, Want[i][2]);
    EXPECT_EQ(It->V[i].T, Want[i][3]);
  }
  // One more row: top row 3, half the texture either way, taken downwards.
  R.Push(1);
  F.R.UpdateWaterfallRing(R.Slots, R.WriteIdx, R.Count, 1, 4, 0, 50);
  ASSERT_EQ(F.R.TexTopRow(), 3);
  Fake().Prims.clear();
  F.Draw(EmptyFrame());
  const auto Half =
      std::find_if(Fake().Prims.begin(), Fake().Prims.end(), [](const TFakePrim &P) { return P.Texture; });
  ASSERT_NE(Half, Fake().Prims.end());
  EXPECT_EQ(Half->V[3].T, 0.5f);
  EXPECT_EQ(Half->V[0].T, 1.5f);
  // The whole-image path puts row 0 back on top.
  F.R.UpdateWaterfallTexture(R.Display(), 6, 4, 0, 50);
  EXPECT_EQ(F.R.TexTopRow(), 0);
}

TEST(RendererRing, WithoutOpenGLOrRows) {
  TRing R(5, 4);
  R.Push(5);
  {
    // No OpenGL at all: the staging bytes are kept up to date all the same; nothing is drawn.
    const TGLEntryPoints Saved = GL;
    GL = TGLEntryPoints{};
    TGLRenderer Ring;
    Ring.UpdateWaterfallRing(R.Slots, R.WriteIdx, R.Count, -1, 4, 0, 50);
    R.Push(1);
    Ring.UpdateWaterfallRing(R.Slots, R.WriteIdx, R.Count, 1, 4, 0, 50);
    EXPECT_EQ(Ring.WaterfallTex(), 0u);
    const size_t Stride = static_cast<size_t>(Ring.TexRowStride());
    const uint8_t *Newest = Ring.TexData().data() + static_cast<size_t>(Ring.TexTopRow()) * Stride;
    const TRowBuffer D = R.Display();
    const TSingleArray &Row = D[0];
    for (size_t c = 0; c < 4; ++c) {
      const TRGB Want = MapDbToColor(Row[c], 0, 50);
      EXPECT_EQ(Newest[3 * c], Want.R);
      EXPECT_EQ(Newest[3 * c + 1], Want.G);
      EXPECT_EQ(Newest[3 * c + 2], Want.B);
    }
    GL = Saved;
  }
  // Nothing to show changes nothing.
  const TFakeGLGuard Guard;
  TGLRenderer Ring;
  Ring.UpdateWaterfallRing(R.Slots, R.WriteIdx, 0, -1, 4, 0, 50);
  Ring.UpdateWaterfallRing(R.Slots, R.WriteIdx, R.Count, -1, 0, 0, 50);
  Ring.UpdateWaterfallRing({}, 0, 3, -1, 4, 0, 50);
  EXPECT_TRUE(Fake().Uploads.empty());
  EXPECT_EQ(Ring.WaterfallTex(), 0u);
}

} // namespace
