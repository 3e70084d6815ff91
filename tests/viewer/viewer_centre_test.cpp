// The centre frequency the viewer settles on: the sidecar's, else the recording's own.
#include "viewer_fixtures.h"

#include "../../tools/iqgen/iq_writers.h"

TEST(ViewerCentre, RecordingsOwnCentreUnlessTheSidecarGivesOne) {
  TTempDir D;
  const std::string F = D.File("hdr.sdriq");
  const std::vector<iqw::TCplx> X(5000);
  const iqw::TBytes B = iqw::SdrIqBytes(X, 1000000, 868300000ull, 16);
  std::FILE *Out = std::fopen(F.c_str(), "wb");
  ASSERT_NE(Out, nullptr);
  ASSERT_EQ(std::fwrite(B.data(), 1, B.size(), Out), B.size());
  std::fclose(Out);
  {
    TViewerRig R;
    R.C.LoadFile(F);
    EXPECT_TRUE(R.C.FHasCenterFreq);
    EXPECT_EQ(R.C.FCenterFreq, 868300000.0);
    EXPECT_EQ(R.C.FSampleRate, 1000000);
  }
  // A sidecar without a centre leaves the header's; one with a centre wins.
  WriteText(D.File("hdr.txt"), "sample_rate_hz=48000\n");
  {
    TViewerRig R;
    R.C.LoadFile(F);
    EXPECT_EQ(R.C.FCenterFreq, 868300000.0);
  }
  WriteText(D.File("hdr.txt"), "center_freq_hz=100000000\n");
  TViewerRig R;
  R.C.LoadFile(F);
  EXPECT_TRUE(R.C.FHasCenterFreq);
  EXPECT_EQ(R.C.FCenterFreq, 1e8);
}
