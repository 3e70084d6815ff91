// Signal overlays in real frames, and what the mouse reads over the plot.
#include "viewer_fixtures.h"

#include "render/osmesa_uWinGL.h"
#include "render/uGLRenderer.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct TSignalsRig {
  TTempDir D;
  TOSMesaDestroyContext Ctx{640, 400};
  TGLRenderer Renderer;
  TViewerRig R;

  TSignalsRig() {
    const std::string F = D.File("s.cs16");
    WriteInt16Recording(F, Sec(1, 100000));
    WriteText(D.File("s.txt"), "sample_rate_hz=100000\ncenter_freq_hz=433920000\nsignals=\n"
                               "[0] name=A modulation=FSK offset_hz=-30000 comment=Hopper 1/2, Folge 1/1\n"
                               "[1] name=B modulation=FSK offset_hz=-20000 comment=Hopper 2/2, Folge 1/1\n"
                               "[4] name=C modulation=AM offset_hz=15000\n");
    R.P.Width = 640;
    R.P.Height = 400;
    R.P.OnMakeCurrent = [this] {
      Ctx.MakeCurrent();
      return true;
    };
    R.C.SetRenderer(&Renderer);
    R.Open(F);
  }
  ~TSignalsRig() { R.C.SetRenderer(nullptr); }

  // Window x whose frequency lies nearest to FreqHz.
  int32_t XAt(double FreqHz) const {
    int32_t Best = 0;
    for (int32_t X = 0; X < 640; ++X)
      if (std::abs(Renderer.GetFreqAtWindowX(X) - FreqHz) <
          std::abs(Renderer.GetFreqAtWindowX(Best) - FreqHz))
        Best = X;
    return Best;
  }
  // Window y (down) in the middle of the PSD plot.
  int32_t PsdY() const { return 400 - (Renderer.PsdRect().Bottom + Renderer.PsdRect().Height / 2); }
  // Pixels of the strip above the PSD plot around window x X, where markers end in their tick
  // and labels stand.
  std::vector<uint8_t> Strip(int32_t X) {
    Ctx.Finish();
    const std::vector<uint8_t> Px = Ctx.RGBTopDown();
    const int32_t Top = 400 - (Renderer.PsdRect().Bottom + Renderer.PsdRect().Height);
    std::vector<uint8_t> Out;
    for (int32_t Y = std::max(0, Top - 40); Y <= Top; ++Y)
      for (int32_t Col = std::max(0, X - 20); Col <= std::min(639, X + 20); ++Col)
        for (int32_t K = 0; K < 3; ++K)
          Out.push_back(Px[static_cast<size_t>((Y * 640 + Col) * 3 + K)]);
    return Out;
  }
};

TEST(SignalsOffscreen, MouseReadsFrequencyAndPicksTheSignalUnderIt) {
  TSignalsRig S;
  const int32_t X = S.XAt(433935000), Y = S.PsdY();
  const TMouseInfo M = S.R.C.MouseAt(X, Y);
  EXPECT_TRUE(M.InPlot);
  EXPECT_EQ(M.Readout, FormatFixed(S.Renderer.GetFreqAtWindowX(X) / 1e6, 6, '.') + " MHz");
  EXPECT_EQ(M.Pick, 2);
  EXPECT_EQ(M.InfoText.substr(0, 6), "#4  C\r");
  // Eight pixels is the reach; well beyond it nothing is picked.
  EXPECT_EQ(S.R.C.MouseAt(X + 30, Y).Pick, -1);
  EXPECT_FALSE(S.R.C.MouseAt(X + 30, Y).Readout.empty());
  // Outside the plot (the left margin): no readout, no pick.
  const TMouseInfo Out = S.R.C.MouseAt(2, Y);
  EXPECT_FALSE(Out.InPlot);
  EXPECT_TRUE(Out.Readout.empty());
  EXPECT_EQ(Out.Pick, -1);
  // The user's separator reaches the readout and the description.
  S.R.C.FDecimalSep = ',';
  EXPECT_NE(S.R.C.MouseAt(X, Y).Readout.find(','), std::string::npos);
  EXPECT_NE(S.R.C.MouseAt(X, Y).InfoText.find("433,9350 MHz"), std::string::npos);
}

TEST(SignalsOffscreen, OverlayOffHidesMarkersAndPicks) {
  TSignalsRig S;
  const int32_t X = S.XAt(433935000), Y = S.PsdY();
  S.R.C.RenderFrame();
  const std::vector<uint8_t> On = S.Strip(X);
  S.R.C.ToggleOverlay();
  const std::vector<uint8_t> Off = S.Strip(X);
  EXPECT_NE(On, Off) << "the marker and its label show above the plot at the carrier";
  const TMouseInfo M = S.R.C.MouseAt(X, Y);
  EXPECT_EQ(M.Pick, -1);
  EXPECT_FALSE(M.Readout.empty()) << "the readout works without the overlay";
  S.R.C.ToggleOverlay();
  EXPECT_EQ(S.Strip(X), On);
}

} // namespace
