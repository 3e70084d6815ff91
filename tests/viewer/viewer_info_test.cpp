// The information box's facts: the same values and sources the tool reports, and a second
// file loaded into the same viewer does not keep the first one's rate or centre.
#include "viewer_fixtures.h"

#include "viewer/uInfoText.h"
#include "viewer/uViewerKeys.h"

TEST(ViewerInfo, RowsNameValuesAndSources) {
  TTempDir D;
  const std::string Named = D.File("g001_433.92M_250k.cu8");
  WriteBytes(Named, TBytes(5000, 128));
  const std::string Side = D.File("side.cs16");
  WriteBytes(Side, TBytes(8000, 0));
  WriteText(D.File("side.txt"), "sample_rate_hz=1000000\n");
  TViewerRig R;
  R.C.FDecimalSep = ',';
  R.C.LoadFile(Named);
  const std::vector<TInfoRow> A = RecordingInfoRows(R.C);
  ASSERT_EQ(A.size(), 8u);
  EXPECT_EQ(A[0].Value, Named);
  EXPECT_EQ(A[2].Value, "2500");
  EXPECT_EQ(A[3].Value, "0,010 s");
  EXPECT_EQ(A[4].Value, "250 kHz (file name)");
  EXPECT_EQ(A[5].Value, "433,92 MHz (file name)");
  EXPECT_EQ(A[6].Value, "none");
  EXPECT_EQ(A[7].Value, "0");
  R.C.LoadFile(Side);
  const std::vector<TInfoRow> B = RecordingInfoRows(R.C);
  EXPECT_EQ(B[4].Value, "1 MHz (sidecar)");
  EXPECT_EQ(B[5].Value, "unknown (none)");
  EXPECT_EQ(B[6].Value, D.File("side.txt"));
  EXPECT_EQ(RecordingInfoText(R.C).find("Sample rate: 1 MHz (sidecar)\r\nCentre frequency: unknown"),
            RecordingInfoText(R.C).find("Sample rate"));
  // A rate entered in the settings is named as such.
  TViewerSettings S = R.C.GetSettings();
  S.SampleRate = 2e6;
  R.C.ApplySettings(S);
  EXPECT_EQ(RecordingInfoRows(R.C)[4].Value, "2 MHz (settings)");
  // The key that opens it belongs to the viewer, not to the host.
  const TViewerKey *K = FindViewerKey('I', KMOD_NONE);
  ASSERT_NE(K, nullptr);
  EXPECT_EQ(K->Action, TViewerAction::ShowInfo);
}
