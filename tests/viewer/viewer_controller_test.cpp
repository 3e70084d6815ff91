// The rules every window system's viewer shares: what each toolbar button does and asks of the
// platform, the settings dialog's outcome, and the hover state behind readout and tooltip.
#include "viewer/uViewerController.h"

#include "viewer_fixtures.h"

#include <gtest/gtest.h>

namespace {

struct TControllerRig : TViewerRig {
  TTempDir D;
  TControllerRig() {
    const std::string F = D.File("c.cs16");
    WriteInt16Recording(F, Sec(1));
    Open(F);
  }
};

TEST(ViewerController, ButtonsRunTheCoreAndSayWhatThePlatformMustDo) {
  struct TRow {
    TViewerButton B;
    bool PlayingBefore;
    TButtonFollowUp Want;
    bool PlayingAfter;
    int64_t PosAfter; // -1: not checked
  };
  const TRow Rows[] = {
      {TViewerButton::Play, false, TButtonFollowUp::None, true, 0},
      {TViewerButton::Play, true, TButtonFollowUp::None, false, -1},
      {TViewerButton::Step, true, TButtonFollowUp::None, false, -1},
      {TViewerButton::Reset, true, TButtonFollowUp::None, false, 0},
      {TViewerButton::Overlay, false, TButtonFollowUp::OverlayText, false, -1},
      {TViewerButton::Settings, true, TButtonFollowUp::OpenSettings, false, -1},
      // No sidecar, no signals: the legend has nothing to show, but playback still stops.
      {TViewerButton::Legend, true, TButtonFollowUp::None, false, -1},
  };
  for (const TRow &R : Rows) {
    TControllerRig G;
    if (R.PlayingBefore) {
      G.C.StartPlay();
      G.P.Advance(G.C, 99);
    }
    const int64_t Before = G.C.FPlayPosition;
    EXPECT_EQ(PressViewerButton(G.C, R.B), R.Want) << static_cast<int>(R.B);
    EXPECT_EQ(G.C.FPlaying, R.PlayingAfter) << static_cast<int>(R.B);
    if (R.PosAfter >= 0) {
      EXPECT_EQ(G.C.FPlayPosition, R.PosAfter) << static_cast<int>(R.B);
    }
    if (R.B == TViewerButton::Step) {
      EXPECT_GT(G.C.FPlayPosition, Before);
    }
  }
}

TEST(ViewerController, ButtonTextsFollowTheirState) {
  const auto &T = ViewerButtonTexts();
  EXPECT_STREQ(T[0], PLAY_TEXT);
  EXPECT_STREQ(T[1], "\xE2\x8F\xAD Schritt");
  EXPECT_STREQ(T[2], "\xE2\x86\xBA Reset");
  EXPECT_STREQ(T[4], "\xE2\x9A\x99 Settings");
  EXPECT_STREQ(T[5], "\xE2\x98\xB0 Legende");
  TControllerRig G;
  EXPECT_STREQ(T[3], OverlayButtonText(G.C.FOverlayVisible));
  PressViewerButton(G.C, TViewerButton::Overlay);
  EXPECT_STREQ(OverlayButtonText(G.C.FOverlayVisible), "Overlay: Aus");
  PressViewerButton(G.C, TViewerButton::Overlay);
  EXPECT_STREQ(OverlayButtonText(G.C.FOverlayVisible), "Overlay: An");
}

TEST(ViewerController, SettingsDialogAppliesAcceptedFieldsAndKeepsRefusedOnes) {
  TControllerRig G;
  TSettingsTexts T = SettingsDialogTexts(G.C);
  EXPECT_EQ(T[sfSampleRate], "2000000");
  T[sfSampleRate] = "1e6";
  T[sfPSD_NFFT] = "lots"; // refused: keeps 2048
  T[sfMagMinDb] = "50";   // above the maximum: the range is widened to 10 dB
  ApplySettingsDialog(G.C, T);
  EXPECT_EQ(G.C.FSampleRate, 1e6);
  EXPECT_EQ(G.C.FPSD_NFFT, 2048);
  EXPECT_EQ(G.C.FMagMinDb, 50);
  EXPECT_EQ(G.C.FMagMaxDb, 60);
  EXPECT_EQ(G.C.FDurationSec, 2.0); // recomputed for the new rate
}

TEST(ViewerController, HoverUpdatesOnlyOnANewPointAndForgetsItOnLeave) {
  TControllerRig G; // no renderer: every point lies outside the plot
  THoverState H;
  EXPECT_FALSE(HoverRefresh(H, G.C).Changed); // the mouse was never over the area
  THoverView V = HoverMove(H, G.C, 10, 20);
  EXPECT_TRUE(V.Changed);
  EXPECT_EQ(V.Readout, "");
  EXPECT_FALSE(V.ShowTip);
  EXPECT_FALSE(HoverMove(H, G.C, 10, 20).Changed);
  EXPECT_TRUE(HoverMove(H, G.C, 11, 20).Changed);
  EXPECT_TRUE(HoverRefresh(H, G.C).Changed);
  V = HoverLeave(H);
  EXPECT_TRUE(V.Changed);
  EXPECT_FALSE(V.ShowTip);
  EXPECT_FALSE(HoverRefresh(H, G.C).Changed);
  EXPECT_TRUE(HoverMove(H, G.C, 11, 20).Changed); // the same point again after leaving
}

} // namespace
