// The viewer's view tools on the headless platform with a recording OpenGL table: wheel zoom
// keeps the pointer's frequency and the readout follows, drag pans, double-click and keys
// restore, clicks place markers with deltas, auto levels and the peak hold.
#include "viewer_fixtures.h"

#include "render/fake_gl.h"
#include "render/uGLRenderer.h"

#include <algorithm>

namespace {

// 12 s at 2 MHz, a tone at +100 kHz (a twentieth of the rate) during the first second.
struct TToolsRig : TViewerRig {
  TTempDir D;
  TFakeGLGuard Guard;
  TGLRenderer Renderer;
  TToolsRig() {
    const std::string F = D.File("t.cs16");
    WriteInt16Recording(F, Sec(12), 0, Sec(1));
    P.OnMakeCurrent = [] { return true; };
    C.SetRenderer(&Renderer);
    Open(F);
  }
  ~TToolsRig() { C.SetRenderer(nullptr); }
  // Window y of the middle of the PSD plot and of the waterfall (y down).
  int PsdY() const { return P.Height - (Renderer.PsdRect().Bottom + Renderer.PsdRect().Height / 2); }
  int WfY() const { return P.Height - (Renderer.WfRect().Bottom + Renderer.WfRect().Height / 2); }
  double Span() const { return C.BuildFrameInputs().FreqHi - C.BuildFrameInputs().FreqLo; }
};

TEST(ViewTools, WheelZoomKeepsThePointerFrequencyAndTheReadoutFollows) {
  TToolsRig R;
  const double Full = R.Span();
  const int X = 300, Y = R.PsdY();
  const double At = R.Renderer.GetFreqAtWindowX(X);
  EXPECT_TRUE(R.C.WheelAt(X, Y, 3));
  EXPECT_NEAR(R.Span(), Full * 0.8 * 0.8 * 0.8, 1e-6 * Full);
  EXPECT_NEAR(R.Renderer.GetFreqAtWindowX(X), At, 1e-6 * Full); // the frame drawn after the wheel
  const TMouseInfo M = R.C.MouseAt(X, Y);
  EXPECT_EQ(M.Readout, FormatFixed(At / 1e6, 6, '.') + " MHz");
  // The texture shows the same part of the band, pooled into the waterfall's columns.
  EXPECT_DOUBLE_EQ(R.Renderer.BandViewLo(), R.C.FBandView.S0);
  EXPECT_EQ(R.Renderer.PooledColumns(), 680); // 0.512 x 4096 bins over 680 pixels
  // Down to a few bins across and no further; out again to the whole band, no further.
  R.C.WheelAt(X, Y, 20);
  R.C.WheelAt(X, Y, 20);
  EXPECT_NEAR(R.Span(), Full * 4 / 4096, 1e-6 * Full);
  EXPECT_EQ(R.Renderer.PooledColumns(), 0);
  R.C.WheelAt(X, Y, -20);
  R.C.WheelAt(X, Y, -20);
  EXPECT_DOUBLE_EQ(R.Span(), Full);
  // Outside the plots the wheel is not the viewer's.
  EXPECT_FALSE(
      R.C.WheelAt(X, R.P.Height - (R.Renderer.WfRect().Bottom + R.Renderer.WfRect().Height + 10), 1));
  EXPECT_FALSE(R.C.WheelAt(20, Y, 1));
}

TEST(ViewTools, DragPansAndDoubleClickOrKeysRestore) {
  TToolsRig R;
  R.C.WheelAt(452, R.PsdY(), 4); // around the middle of the plot
  const TBandView V = R.C.FBandView;
  const int Presents = R.P.Presents;
  R.C.ButtonDown(400, R.WfY(), KMOD_NONE);
  R.C.ButtonDrag(401, R.WfY()); // below the drag threshold: still a click
  EXPECT_DOUBLE_EQ(R.C.FBandView.S0, V.S0);
  R.C.ButtonDrag(468, R.WfY());
  R.C.ButtonUp(468, R.WfY());
  EXPECT_NEAR(R.C.FBandView.S0, V.S0 - 68.0 / 680 * (V.S1 - V.S0), 1e-12); // dragged right: lower band
  EXPECT_NEAR(R.C.FBandView.S1 - R.C.FBandView.S0, V.S1 - V.S0, 1e-12);
  EXPECT_FALSE(R.C.FMarkers[0].Set); // a drag places no marker
  EXPECT_GT(R.P.Presents, Presents);
  // Panning stops at the band's edge.
  R.C.ButtonDown(120, R.PsdY(), KMOD_NONE);
  R.C.ButtonDrag(790, R.PsdY());
  R.C.ButtonDrag(790 + 5000, R.PsdY());
  R.C.ButtonUp(790 + 5000, R.PsdY());
  EXPECT_EQ(R.C.FBandView.S0, 0.0);
  // A double-click arrives after its first click, which placed a marker: it takes it back and
  // leaves the markers set before, in the order Win32 sends and in GTK's (second press first).
  for (const bool SecondPressFirst : {false, true}) {
    R.C.ClearMarkers();
    R.C.SetMarker(1, 1e3, false, 0);
    R.C.ButtonDown(400, R.PsdY(), KMOD_NONE);
    R.C.ButtonUp(400, R.PsdY());
    if (SecondPressFirst)
      R.C.ButtonDown(400, R.PsdY(), KMOD_NONE);
    R.C.DoubleClickAt(400, R.PsdY());
    R.C.ButtonUp(400, R.PsdY());
    EXPECT_FALSE(R.C.FBandView.Zoomed());
    EXPECT_FALSE(R.C.FMarkers[0].Set) << SecondPressFirst;
    ASSERT_TRUE(R.C.FMarkers[1].Set);
    EXPECT_EQ(R.C.FMarkers[1].FreqHz, 1e3);
  }
  R.C.ClearMarkers();
  // Keys of the table: + narrows around the middle, Shift+Right pans, 0 restores.
  EXPECT_TRUE(R.C.HandleViewerKey(KEY_OEM_PLUS, KMOD_NONE));
  EXPECT_NEAR(R.C.FBandView.S0, 0.1, 1e-12);
  EXPECT_NEAR(R.C.FBandView.S1, 0.9, 1e-12);
  EXPECT_TRUE(R.C.HandleViewerKey(KEY_RIGHT, KMOD_SHIFT));
  EXPECT_NEAR(R.C.FBandView.S0, 0.2, 1e-12); // a quarter of 0.8 on, stopped at the edge
  EXPECT_DOUBLE_EQ(R.C.FBandView.S1, 1.0);
  EXPECT_TRUE(R.C.HandleViewerKey('0', KMOD_NONE));
  EXPECT_FALSE(R.C.FBandView.Zoomed());
  EXPECT_FALSE(R.C.HandleViewerKey('N', KMOD_NONE)); // the host's
}

TEST(ViewTools, MarkersFromClicksAndTheirDeltas) {
  TToolsRig R;
  // A click on the PSD: marker 1 without a time; Shift+click in the waterfall: marker 2 with one.
  R.C.ButtonDown(300, R.PsdY(), KMOD_NONE);
  R.C.ButtonUp(300, R.PsdY());
  R.C.ButtonDown(500, R.WfY(), KMOD_SHIFT);
  R.C.ButtonUp(500, R.WfY());
  ASSERT_TRUE(R.C.FMarkers[0].Set && R.C.FMarkers[1].Set);
  EXPECT_FALSE(R.C.FMarkers[0].HasTime);
  EXPECT_TRUE(R.C.FMarkers[1].HasTime);
  EXPECT_NEAR(R.C.FMarkers[0].FreqHz, R.Renderer.GetFreqAtWindowX(300), 1e-6);
  // The waterfall shows 0..10 s; its middle row is at 5 s.
  EXPECT_NEAR(R.C.FMarkers[1].TimeSec, 5.0, 10.0 / R.Renderer.WfRect().Height);

  // Known places: the tone (+100 kHz, during the first second) and silence 300 kHz above it.
  R.C.SetMarker(0, 100e3, true, 0.5);
  R.C.SetMarker(1, 400e3, true, 2.25);
  const double L0 = R.C.MarkerLevel(0), L1 = R.C.MarkerLevel(1);
  EXPECT_GT(L0, L1 + 100.0);
  EXPECT_EQ(L1, -120.0); // the floor of silence
  const std::string S = R.C.MarkerReadout();
  EXPECT_NE(S.find("M1 0.100000 MHz 0.500s"), std::string::npos) << S;
  EXPECT_NE(S.find("df 300.000 kHz dt 1.750s dL "), std::string::npos) << S;
  // The peak key moves marker 1 onto the tone's PSD bin; clear removes both.
  EXPECT_TRUE(R.C.HandleViewerKey('M', KMOD_NONE));
  EXPECT_NEAR(R.C.FMarkers[0].FreqHz, 100e3, 2e6 / 2048);
  EXPECT_FALSE(R.C.FMarkers[0].HasTime);
  EXPECT_TRUE(R.C.HandleViewerKey('C', KMOD_NONE));
  EXPECT_FALSE(R.C.FMarkers[0].Set || R.C.FMarkers[1].Set);
  EXPECT_EQ(R.C.MarkerReadout(), "");
  // Zoomed away from the tone, the strongest bin in view is another one.
  R.C.ZoomToHz(-900e3, -500e3);
  EXPECT_TRUE(R.C.MarkerToPeak());
  EXPECT_LT(R.C.FMarkers[0].FreqHz, -499e3);
}

TEST(ViewTools, AutoLevelsFromWhatIsInView) {
  TToolsRig R;
  ASSERT_EQ(R.C.FWaterfallBuf.size(), 611u);
  const size_t Uploads = Fake().Uploads.size();
  ASSERT_TRUE(R.C.HandleViewerKey('L', KMOD_NONE));
  // Mostly silence: the noise percentile is the -120 dB floor; the top is 3 dB over the
  // strongest level of the PSD and the waterfall, in whole dB.
  double Peak = *std::max_element(R.C.FPSDDb.begin(), R.C.FPSDDb.end());
  for (int32_t K = 0; K < R.C.FWFRowCount; ++K)
    for (float V : R.C.FWaterfallBuf[static_cast<size_t>((R.C.FWFWriteIdx - 1 - K + 611 * 2) % 611)])
      Peak = std::max<double>(Peak, V);
  EXPECT_EQ(R.C.FMagMinDb, -120.0);
  EXPECT_EQ(R.C.FMagMaxDb, std::ceil(Peak + 3.0));
  // The frame drawn with it colours the whole texture again for the new range.
  EXPECT_EQ(Fake().Uploads.size(), Uploads + 1);
  // Zoomed away from the tone, only the bins in view count: silence, and the broadband click
  // of the tone's abrupt end at 1 s, far below the tone.
  R.C.ZoomToHz(-900e3, -500e3);
  R.C.AutoLevels();
  double InView = -1e9;
  const size_t B0 = static_cast<size_t>(R.C.FBandView.S0 * 4096),
               B1 = static_cast<size_t>(R.C.FBandView.S1 * 4096);
  for (int32_t K = 0; K < R.C.FWFRowCount; ++K)
    for (size_t B = B0; B < B1; ++B)
      InView = std::max<double>(
          InView, R.C.FWaterfallBuf[static_cast<size_t>((R.C.FWFWriteIdx - 1 - K + 611 * 2) % 611)][B]);
  EXPECT_EQ(R.C.FMagMinDb, -120.0);
  EXPECT_EQ(R.C.FMagMaxDb, std::ceil(InView + 3.0));
  EXPECT_LT(R.C.FMagMaxDb, std::ceil(Peak + 3.0) - 20);
}

TEST(ViewTools, PeakHoldKeepsTheToneAfterItEndsUntilASeek) {
  TToolsRig R;
  const auto ToneBin =
      static_cast<size_t>(std::max_element(R.C.FPSDDb.begin(), R.C.FPSDDb.end()) - R.C.FPSDDb.begin());
  const double ToneLevel = R.C.FPSDDb[ToneBin];
  R.C.FPlayPosition = Sec(0.9);
  R.C.SeekHeavy();
  ASSERT_TRUE(R.C.HandleViewerKey('K', KMOD_NONE));
  R.C.StartPlay();
  R.P.Advance(R.C, 33 * 8); // past the tone's end at 1 s
  R.C.StopPlay();
  EXPECT_EQ(R.C.FPSDDb[ToneBin], -120.0);
  ASSERT_EQ(R.C.FPeakDb.size(), R.C.FPSDDb.size());
  EXPECT_NEAR(R.C.FPeakDb[ToneBin], ToneLevel, 3.0);
  EXPECT_EQ(R.C.BuildFrameInputs().PeakDb.size(), R.C.FPSDDb.size());
  R.C.ResetPlay(); // a seek back to the start
  R.C.FPlayPosition = Sec(5);
  R.C.SeekHeavy();
  R.C.RenderFrame();
  EXPECT_EQ(R.C.FPeakDb[ToneBin], -120.0);
  ASSERT_TRUE(R.C.HandleViewerKey('K', KMOD_NONE));
  EXPECT_TRUE(R.C.BuildFrameInputs().PeakDb.empty());
}

} // namespace
