// Settings: the dialog's texts, accepted and refused inputs, and the order of applying them.
#include "viewer_fixtures.h"

namespace {

struct TFieldCase {
  TSettingsField Field;
  const char *Text;
  bool Accepted;
  double Expect; // the field's value afterwards (the default when refused)
};

double FieldValue(const TViewerSettings &S, TSettingsField F) {
  switch (F) {
  case sfSampleRate:
    return S.SampleRate;
  case sfCenterFreq:
    return S.CenterFreq;
  case sfPSD_NFFT:
    return S.PSD_NFFT;
  case sfWF_NFFT:
    return S.WF_NFFT;
  case sfWFWindowSec:
    return S.WFWindowSec;
  case sfWFOverlap:
    return S.WFOverlap;
  case sfMagMinDb:
    return S.MagMinDb;
  case sfMagMaxDb:
    return S.MagMaxDb;
  case sfPlayChunkSec:
    return S.PlayChunkSec;
  case sfAvgSegments:
    return S.AvgSegments;
  default:
    return 0;
  }
}

TEST(ViewerSettings, AcceptedAndRefusedInputs) {
  const TFieldCase Cases[] = {
      {sfPSD_NFFT, "1000", true, 1024},
      {sfPSD_NFFT, "64", true, 64},
      {sfPSD_NFFT, "63", false, 2048},
      {sfPSD_NFFT, "65", true, 128},
      {sfPSD_NFFT, "  512", true, 512},  // leading blanks are fine for integers
      {sfPSD_NFFT, "512 ", false, 2048}, // a trailing one is not
      {sfPSD_NFFT, "1048576", true, 1048576},
      {sfPSD_NFFT, "1048577", false, 2048}, // beyond what a transform may take
      {sfPSD_NFFT, "99999999999", false, 2048},
      {sfPSD_NFFT, "1e3", false, 2048},
      {sfWF_NFFT, "100", true, 128},
      {sfSampleRate, "0", false, 2e6},
      {sfSampleRate, "-48000", false, 2e6},
      {sfSampleRate, "2,4e6", true, 2.4e6},
      {sfSampleRate, " 48000.5 ", true, 48000.5}, // number fields are trimmed
      {sfSampleRate, "1e999", false, 2e6},        // overflows to infinity
      {sfSampleRate, "nan", false, 2e6},
      {sfSampleRate, "12abc", false, 2e6},
      {sfSampleRate, "", false, 2e6},
      {sfCenterFreq, "-1.5e6", true, -1.5e6},
      {sfWFOverlap, "1", false, 0},
      {sfWFOverlap, "0", true, 0},
      {sfWFOverlap, "0,5", true, 0.5},
      {sfWFOverlap, "-0.1", false, 0},
      {sfWFWindowSec, "0.5", false, 10},
      {sfWFWindowSec, "1", true, 1},
      {sfWFWindowSec, "+2.5", true, 2.5},
      {sfMagMinDb, "-20,5", true, -20.5},
      {sfPlayChunkSec, "0", false, 0.033},
      {sfPlayChunkSec, ".1", true, 0.1},
      {sfAvgSegments, "0", false, 1},
      {sfAvgSegments, "8", true, 8},
      {sfAvgSegments, "2.0", false, 1},
  };
  for (const TFieldCase &K : Cases) {
    TViewerSettings S;
    std::string Err;
    EXPECT_EQ(ApplySettingsField(S, K.Field, K.Text, &Err), K.Accepted)
        << SettingsFieldKey(K.Field) << " " << K.Text;
    EXPECT_DOUBLE_EQ(FieldValue(S, K.Field), K.Expect) << SettingsFieldKey(K.Field) << " " << K.Text;
    if (!K.Accepted) {
      EXPECT_EQ(Err, std::string(SettingsFieldLabel(K.Field)) + " \"" + K.Text + "\": must be " +
                         SettingsFieldRule(K.Field));
    }
  }
}

TEST(ViewerSettings, CentreFrequencyZeroClearsIt) {
  TViewerSettings S;
  ASSERT_TRUE(ApplySettingsField(S, sfCenterFreq, "433920000"));
  EXPECT_TRUE(S.HasCenterFreq);
  ASSERT_TRUE(ApplySettingsField(S, sfCenterFreq, "0"));
  EXPECT_FALSE(S.HasCenterFreq);
}

TEST(ViewerSettings, DialogTextsRoundTripAndRefusalsKeepTheOthers) {
  TViewerSettings S;
  TSettingsTexts T = FormatSettingsTexts(S);
  EXPECT_EQ(T[sfSampleRate], "2000000");
  EXPECT_EQ(T[sfWFWindowSec], "10.0");
  EXPECT_EQ(T[sfWFOverlap], "0.00");
  EXPECT_EQ(T[sfMagMinDb], "-10.0");
  EXPECT_EQ(T[sfPlayChunkSec], "0.033");
  TViewerSettings Same;
  EXPECT_TRUE(ApplySettingsTexts(Same, T).empty());
  EXPECT_EQ(FormatSettingsTexts(Same), T);

  T[sfMagMinDb] = "50";
  T[sfMagMaxDb] = "40";
  T[sfAvgSegments] = "0";
  T[sfSampleRate] = "x";
  const auto Refused = ApplySettingsTexts(S, T);
  ASSERT_EQ(Refused.size(), 2u);
  EXPECT_EQ(Refused[0], "Sample Rate (Hz): \"x\": must be a number greater than 0");
  EXPECT_EQ(S.MagMinDb, 50);
  EXPECT_EQ(S.MagMaxDb, 60);
  EXPECT_EQ(S.AvgSegments, 1);
}

TEST(ViewerSettings, KeysNameEveryRow) {
  for (int32_t I = 0; I < sfCount; ++I) {
    TSettingsField F = sfCount;
    ASSERT_TRUE(FindSettingsField(SettingsFieldKey(static_cast<TSettingsField>(I)), F));
    EXPECT_EQ(F, I);
  }
  TSettingsField F = sfCount;
  EXPECT_FALSE(FindSettingsField("Sample Rate (Hz):", F));
}

TEST(ViewerSettings, ApplyRecomputesTheWaterfall) {
  TTempDir D;
  const std::string F = D.File("a.cs16");
  WriteInt16Recording(F, Sec(12));
  TViewerRig R;
  R.Open(F);
  R.C.StartPlay();
  TViewerSettings S = R.C.GetSettings();
  ASSERT_TRUE(ApplySettingsField(S, sfWF_NFFT, "1024"));
  ASSERT_TRUE(ApplySettingsField(S, sfSampleRate, "1000000"));
  ASSERT_TRUE(ApplySettingsField(S, sfWFWindowSec, "5"));
  R.C.ApplySettings(S);
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_DOUBLE_EQ(R.C.FDurationSec, 24);
  // The FFT size comes from CalcWFParams: 5 s at 1 MS/s aims at 600 rows of 8333 samples.
  EXPECT_EQ(R.C.FWF_NFFT, 4096);
  EXPECT_EQ(R.C.FWFDecimation, 2);
  EXPECT_EQ(R.C.FWFHistory, 611);
  EXPECT_NEAR(R.C.FWFRowCount, 611, 1);
  EXPECT_EQ(R.P.StatusText.rfind("Pos: 0.00/24.00s", 0), 0u) << R.P.StatusText;

  // Values the dialog would refuse are kept out of the core as well.
  TViewerSettings Bad = R.C.GetSettings();
  Bad.SampleRate = 0;
  Bad.PSD_NFFT = 1 << 30;
  R.C.ApplySettings(Bad);
  EXPECT_EQ(R.C.FSampleRate, 1e6);
  EXPECT_EQ(R.C.FPSD_NFFT, 2048);
}

} // namespace
