// Recordings described by other tools' metadata or names, opened by the viewer: what reaches
// the rate, the centre, the sample source and the signal model.
#include "viewer_fixtures.h"

#include "metadata/uMetadata.h"

#include <cstring>

namespace {

// Samples int16 LE I/Q samples of a tone: what a ci16_le data file holds.
void WriteCi16(const std::string &Path, int64_t Samples) {
  WriteInt16Recording(Path, Samples, 0, Samples);
}

void WriteCf32(const std::string &Path, int64_t Samples) {
  std::vector<float> V(static_cast<size_t>(Samples) * 2);
  for (size_t I = 0; I < V.size(); I += 2) {
    V[I] = 0.5f;
    V[I + 1] = -0.25f;
  }
  TBytes B(V.size() * 4);
  std::memcpy(B.data(), V.data(), B.size()); // the hosts are little-endian
  WriteBytes(Path, B);
}

} // namespace

TEST(RecordingsFromTools, JsonDescribedRecordingOpensFromEitherFile) {
  TTempDir D;
  WriteCi16(D.File("cap.sigmf-data"), 200000);
  WriteText(D.File("cap.sigmf-meta"), R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 100000},
    "captures": [{"core:sample_start": 0, "core:frequency": 433920000}],
    "annotations": [
      {"core:sample_start": 50000, "core:sample_count": 20000, "core:freq_lower_edge": 433940000,
       "core:freq_upper_edge": 433960000, "core:label": "Key fob", "core:comment": "press"},
      {"core:sample_start": 100000, "core:freq_lower_edge": 433890000, "core:freq_upper_edge": 433910000,
       "core:label": "Beacon"}]})");
  for (const char *Name : {"cap.sigmf-meta", "cap.sigmf-data"}) {
    SCOPED_TRACE(Name);
    TViewerRig R;
    R.Open(D.File(Name));
    EXPECT_EQ(R.C.FSampleRate, 100000);
    EXPECT_TRUE(R.C.FHasCenterFreq);
    EXPECT_EQ(R.C.FCenterFreq, 433920000);
    // The samples come from the data file, never from the JSON text.
    EXPECT_EQ(R.C.FIQSource->GetFileName(), D.File("cap.sigmf-data"));
    EXPECT_EQ(R.C.FTotalSamples, 200000);
    const TComplexArray S = R.C.FIQSource->LoadSegment(0, 4);
    ASSERT_EQ(S.size(), 4u);
    EXPECT_NEAR(S[0].Re, 8000.0 / 32768, 1e-3);

    const TSignalModel &M = R.C.FSignalModel;
    ASSERT_EQ(M.FSignalCount, 2);
    double Start = 0, End = 0;
    M.SignalInterval(0, Start, End);
    EXPECT_DOUBLE_EQ(Start, 0.5);
    EXPECT_DOUBLE_EQ(End, 0.7);
    M.SignalInterval(1, Start, End);
    EXPECT_DOUBLE_EQ(Start, 1.0);
    EXPECT_GE(End, OPEN_END_BOUND);
    // Carriers at the band centres: the fob only while it sends.
    EXPECT_EQ(M.PickSignalAt(R.C.FCenterFreq, 433950000, 1000, 0.6), 0);
    EXPECT_EQ(M.PickSignalAt(R.C.FCenterFreq, 433900000, 1000, 1.5), 1);
    EXPECT_NE(M.SignalInfoText(0, R.C.FCenterFreq, '.').find("Key fob"), std::string::npos);
  }
}

TEST(RecordingsFromTools, FileNameFillsOnlyWhatNothingElseGives) {
  struct {
    const char *Name;
    const char *Sidecar; // nullptr: none
    double Rate, Center;
    bool HasCenter;
    int64_t Total;
  } Cases[] = {
      {"g001_433.92M_250k.cs16", nullptr, 250000, 433920000, true, 1000},
      {"g001_433.92M_250k.cs16", "sample_rate_hz=1e6\ncenter_freq_hz=1000\n", 1e6, 1000, true, 1000},
      {"g001_433.92M_250k.cs16", "sample_rate_hz=1e6\n", 1e6, 433920000, true, 1000},
      {"gqrx_20140531_112235_145500000_48000_fc.raw", nullptr, 48000, 145500000, true, 500},
      // The sidecar's own format hint wins over the name's.
      {"gqrx_20140531_112235_145500000_48000_fc.raw", "output_format=hackrf\n", 48000, 145500000, true, 2000},
      // No evidence: exactly as before.
      {"rec_433.92M_250k.iq", nullptr, DEF_SAMPLE_RATE, 0, false, 2000},
  };
  for (const auto &C : Cases) {
    TTempDir D;
    const std::string Path = D.File(C.Name);
    if (std::string(C.Name).find(".cs16") != std::string::npos)
      WriteCi16(Path, 1000);
    else
      WriteCf32(Path, 500);
    if (C.Sidecar)
      WriteText(SidecarPath(Path), C.Sidecar);
    SCOPED_TRACE(std::string(C.Name) + (C.Sidecar ? " + sidecar" : ""));
    TViewerRig R;
    R.Open(Path);
    EXPECT_EQ(R.C.FSampleRate, C.Rate);
    EXPECT_EQ(R.C.FHasCenterFreq, C.HasCenter);
    EXPECT_EQ(R.C.FCenterFreq, C.Center);
    EXPECT_EQ(R.C.FTotalSamples, C.Total);
  }
}

TEST(RecordingsFromTools, WavHeaderRateWithCentreFromName) {
  TTempDir D;
  TBytes Data(4 * 4096, 0);
  const std::string Path = D.File("rec_20200101_120000Z_100000000Hz_IQ.wav");
  WriteBytes(Path, Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 16)), Chunk("data", Data)}));
  TViewerRig R;
  R.Open(Path);
  EXPECT_EQ(R.C.FSampleRate, 48000);
  EXPECT_TRUE(R.C.FHasCenterFreq);
  EXPECT_EQ(R.C.FCenterFreq, 100000000);
  EXPECT_EQ(R.C.FTotalSamples, 4096);
}
