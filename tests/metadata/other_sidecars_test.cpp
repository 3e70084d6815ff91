// Sidecars that other recording tools write: the receivers' NAME.TXT and JSON metadata.
#include "formats/fmt_fixtures.h"

#include "metadata/uJson.h"
#include "metadata/uMetadata.h"
#include "metadata/uSigMF.h"

#include <filesystem>

namespace {

bool CaseSensitiveFs(const TTempDir &D) {
  WriteText(D.File("probe.x"), "");
  return !std::filesystem::exists(D.File("PROBE.X"));
}

} // namespace

TEST(OtherSidecars, ReceiverTxtBesideC16AndC8) {
  struct {
    const char *Rec, *Side, *Text;
    double Rate, Center;
    bool HasRate, HasCenter;
    const char *Kind;
  } Cases[] = {
      {"REC.C16", "REC.TXT", "sample_rate=500000\ncenter_frequency=433920000\n", 500000, 433920000, true,
       true, "receiver"},
      {"rec.c8", "rec.txt", "center_frequency=98000000\r\nsample_rate=2.5e6\r\n", 2.5e6, 98e6, true, true,
       "receiver"},
      // Own keys win whatever the order.
      {"A.C16", "A.TXT", "sample_rate_hz=1e6\nsample_rate=500000\ncenter_frequency=1\ncenter_freq_hz=2\n",
       1e6, 2, true, true, "receiver"},
      // An unusable own rate is not replaced by the receiver's.
      {"B.C16", "B.TXT", "sample_rate_hz=0\nsample_rate=500000\n", 0, 0, false, false, "receiver"},
      {"C.C16", "C.TXT", "sample_rate=-5\n", 0, 0, false, false, "text"},
      // Without the receiver's extension the keys mean nothing, as before.
      {"rec.cs16", "rec.txt", "sample_rate=500000\ncenter_frequency=433920000\n", 0, 0, false, false, "text"},
      {"rec.c16.iq", "rec.c16.txt", "sample_rate=500000\n", 0, 0, false, false, "text"},
      // Found through the upper-case extension as well.
      {"up.cs16", "up.TXT", "sample_rate_hz=3e6\n", 3e6, 0, true, false, "text"},
  };
  for (const auto &C : Cases) {
    TTempDir D;
    WriteText(D.File(C.Side), C.Text);
    const TIQMetadata M = LoadMetadata(D.File(C.Rec));
    SCOPED_TRACE(C.Rec);
    EXPECT_TRUE(M.Found);
    EXPECT_EQ(M.Kind, C.Kind);
    EXPECT_EQ(M.HasSampleRate, C.HasRate);
    if (C.HasRate) {
      EXPECT_EQ(M.SampleRateHz, C.Rate);
    }
    EXPECT_EQ(M.HasCenterFreq, C.HasCenter);
    if (C.HasCenter) {
      EXPECT_EQ(M.CenterFreqHz, C.Center);
    }
  }
}

TEST(OtherSidecars, LowerCaseSidecarWinsOverUpperCase) {
  TTempDir D;
  if (!CaseSensitiveFs(D))
    GTEST_SKIP() << "the file system does not tell rec.txt from rec.TXT";
  WriteText(D.File("rec.txt"), "sample_rate_hz=1e6\noutput_format=hackrf\n");
  WriteText(D.File("rec.TXT"), "sample_rate_hz=2e6\noutput_format=sdrangel\n");
  EXPECT_EQ(FindSidecarFile(D.File("rec.cs16")), D.File("rec.txt"));
  EXPECT_EQ(LoadMetadata(D.File("rec.cs16")).SampleRateHz, 1e6);
  EXPECT_EQ(ReadFormatHint(D.File("rec.cs16")), "hackrf");
  std::filesystem::remove(D.File("rec.txt"));
  EXPECT_EQ(LoadMetadata(D.File("rec.cs16")).SampleRateHz, 2e6);
  EXPECT_EQ(ReadFormatHint(D.File("rec.cs16")), "sdrangel");
  EXPECT_EQ(FindSidecarFile(D.File("none.cs16")), "");
}

TEST(OtherSidecars, DataPathOfJsonDescribedRecordings) {
  struct {
    const char *In, *Data, *Meta;
  } Cases[] = {
      {"/d/x.sigmf-meta", "/d/x.sigmf-data", "/d/x.sigmf-meta"},
      {"/d/x.sigmf-data", "/d/x.sigmf-data", "/d/x.sigmf-meta"},
      {"X.SIGMF-META", "X.SIGMF-DATA", "X.SIGMF-META"},
      {"C:\\a.b\\x.Sigmf-Meta", "C:\\a.b\\x.Sigmf-data", "C:\\a.b\\x.sigmf-meta"},
      {"/d/x.cs16", "/d/x.cs16", ""},
      {"/d.sigmf-meta/x", "/d.sigmf-meta/x", ""},
      {"sigmf-meta", "sigmf-meta", ""},
  };
  for (const auto &C : Cases) {
    EXPECT_EQ(RecordingDataPath(C.In), C.Data) << C.In;
    EXPECT_EQ(SigMFMetaPath(C.In), C.Meta) << C.In;
  }
}

TEST(Json, TellsDocumentsFromBrokenText) {
  struct {
    const char *Text;
    bool Valid;
  } Cases[] = {
      {R"({"a": [1, -2.5e3, true, false, null, "x\u00e4\ud83d\ude00"], "b": {}})", true},
      {" [ ] ", true},
      {"0", true},
      {R"("\"\\\/\b\f\n\r\t")", true},
      {"", false},
      {"{", false},
      {R"({"a":1,})", false},
      {"[1,]", false},
      {"[01]", false},
      {"[1.]", false},
      {"[.5]", false},
      {"[1e]", false},
      {"[1e999]", false},
      {"[+1]", false},
      {"[NaN]", false},
      {"[tru]", false},
      {R"({"a" 1})", false},
      {R"({a: 1})", false},
      {"{\"a\": \"x\ny\"}", false},
      {R"(["\x"])", false},
      {R"(["\u12G4"])", false},
      {"[1] [2]", false},
      {"{'a': 1}", false},
  };
  for (const auto &C : Cases) {
    std::string Why;
    EXPECT_EQ(IsValidJson(C.Text, &Why), C.Valid) << C.Text << " " << Why;
  }
  std::string Deep(100, '[');
  Deep += std::string(100, ']');
  EXPECT_FALSE(IsValidJson(Deep));
  TJsonLimits L;
  L.MaxBytes = 10;
  EXPECT_FALSE(IsValidJson("[1,2,3,4,5,6]", nullptr, L));
}

namespace {

const char *META = R"({
  "annotations": [
    {"core:sample_start": 250000, "core:sample_count": 500000, "core:freq_lower_edge": 433900000,
     "core:freq_upper_edge": 433940000, "core:label": "Remote", "core:comment": "two\nlines",
     "x:extra": {"deep": [1, 2, {"z": null}]}},
    {"core:sample_start": 0, "core:label": "Beacon", "core:freq_lower_edge": 433800000},
    {"core:label": ["not", "text"]},
    7
  ],
  "global": {"core:datatype": "ci16_le", "core:sample_rate": 1000000, "core:version": "1.0.0",
             "core:description": "\u00c4rger"},
  "captures": [{"core:sample_start": 0, "core:frequency": 433920000},
               {"core:sample_start": 100, "core:frequency": 1}]
})";

} // namespace

TEST(SigMF, MetaReadThroughEitherFile) {
  TTempDir D;
  WriteText(D.File("cap.sigmf-meta"), "\xEF\xBB\xBF" + std::string(META));
  for (const char *Name : {"cap.sigmf-data", "cap.sigmf-meta"}) {
    SCOPED_TRACE(Name);
    const TIQMetadata M = LoadMetadata(D.File(Name));
    EXPECT_TRUE(M.Found);
    EXPECT_EQ(M.Kind, "sigmf");
    EXPECT_EQ(M.SidecarFile, D.File("cap.sigmf-meta"));
    EXPECT_EQ(M.FormatHint, "sigmf:ci16_le");
    EXPECT_EQ(ReadFormatHint(D.File(Name)), "sigmf:ci16_le");
    EXPECT_TRUE(M.HasSampleRate);
    EXPECT_EQ(M.SampleRateHz, 1e6);
    EXPECT_TRUE(M.HasCenterFreq);
    EXPECT_EQ(M.CenterFreqHz, 433920000);
    EXPECT_TRUE(M.Notes.empty());
    // The entry that is not an object is no annotation.
    ASSERT_EQ(M.SignalCount, 3);
    ASSERT_EQ(M.Signals.size(), 3u);
    const TSignalInfo &A = M.Signals[0];
    EXPECT_EQ(A.Index, 0);
    EXPECT_EQ(A.Name, "Remote");
    EXPECT_EQ(A.Comment, "two lines");
    EXPECT_EQ(A.OffsetHz, 0);
    EXPECT_EQ(A.DelayStr, "0.25s");
    EXPECT_EQ(A.DurationStr, "0.5s");
    const TSignalInfo &B = M.Signals[1];
    EXPECT_EQ(B.Name, "Beacon");
    EXPECT_EQ(B.OffsetHz, -120000);
    EXPECT_EQ(B.DelayStr, "");
    EXPECT_EQ(B.DurationStr, ""); // no count: to the end
    EXPECT_EQ(M.Signals[2].Name, "");
  }
}

TEST(SigMF, TextSidecarComesFirst) {
  TTempDir D;
  WriteText(D.File("cap.sigmf-meta"), META);
  WriteText(D.File("cap.txt"), "sample_rate_hz=2e6\n");
  const TIQMetadata M = LoadMetadata(D.File("cap.sigmf-data"));
  EXPECT_EQ(M.Kind, "text");
  EXPECT_EQ(M.SampleRateHz, 2e6);
  EXPECT_TRUE(M.Signals.empty());
}

TEST(SigMF, MissingFieldsAndBrokenText) {
  struct {
    const char *Text;
    bool Found;
    const char *Hint;
    bool HasRate, HasCenter;
  } Cases[] = {
      {"{}", true, "", false, false},
      {R"({"global": {"core:datatype": " cf32_le "}})", true, "sigmf:cf32_le", false, false},
      {R"({"global": {"core:datatype": "rf32_le", "core:sample_rate": 0}})", true, "sigmf:rf32_le", false,
       false},
      {R"({"global": {"core:sample_rate": "1e6"}, "captures": []})", true, "", false, false},
      {R"({"global": [], "captures": {}, "annotations": "x"})", true, "", false, false},
      {R"({"captures": [{"core:frequency": 0}]})", true, "", false, true},
      // The data file's layout goes with the type: channels beyond one, bytes before the samples.
      {R"({"global": {"core:datatype": "ci16_le", "core:num_channels": 2},
           "captures": [{"core:header_bytes": 64, "core:sample_start": 0}, {"core:header_bytes": 0}]})",
       true, "sigmf:ci16_le,channels=2,header_bytes=64", false, false},
      {R"({"global": {"core:datatype": "ci8", "core:num_channels": "2"}, "captures": [{"core:header_bytes": []}]})",
       true, "sigmf:ci8", false, false},
      {R"({"global": {"core:datatype": "cu8", "core:num_channels": 1}, "captures": [{"core:header_bytes": -8}]})",
       true, "sigmf:cu8", false, false},
      {R"({"global": {"core:datatype": "ci8"})", false, "", false, false},
      {R"({"global": {"core:datatype": "ci8",}})", false, "", false, false},
      {R"([{"global": {}}])", false, "", false, false},
      {"", false, "", false, false},
      {"\x89PNG\r\n", false, "", false, false},
  };
  for (const auto &C : Cases) {
    TTempDir D;
    WriteText(D.File("r.sigmf-meta"), C.Text);
    SCOPED_TRACE(C.Text);
    const TIQMetadata M = LoadMetadata(D.File("r.sigmf-data"));
    EXPECT_EQ(M.Found, C.Found);
    EXPECT_EQ(M.FormatHint, C.Hint);
    EXPECT_EQ(M.HasSampleRate, C.HasRate);
    EXPECT_EQ(M.HasCenterFreq, C.HasCenter);
    if (!C.Found) {
      // Nothing half-read is kept, and the user is told why.
      EXPECT_EQ(M.Kind, "");
      EXPECT_TRUE(M.Signals.empty());
      ASSERT_EQ(M.Notes.size(), 1u);
      EXPECT_NE(M.Notes[0].find("not valid JSON"), std::string::npos) << M.Notes[0];
    }
  }
}

TEST(SigMF, HeaderBytesOfLaterCapturesAreNoted) {
  TTempDir D;
  WriteText(D.File("h.sigmf-meta"), R"({"global": {"core:datatype": "ci16_le"},
      "captures": [{"core:header_bytes": 16}, {"core:sample_start": 100, "core:header_bytes": 16}]})");
  const TIQMetadata M = LoadMetadata(D.File("h.sigmf-data"));
  EXPECT_EQ(M.FormatHint, "sigmf:ci16_le,header_bytes=16");
  ASSERT_EQ(M.Notes.size(), 1u);
  EXPECT_EQ(M.Notes[0], "header bytes between later captures are read as samples");
}

TEST(SigMF, AnnotationsPastTheBoundsAreSkippedWithANote) {
  TTempDir D;
  std::string T = R"({"global": {"core:sample_rate": 1000}, "annotations": [)";
  const int32_t N = SIDECAR_MAX_SIGNALS + 5;
  for (int32_t I = 0; I < N; ++I)
    T += std::string(I ? "," : "") + R"({"core:sample_start": )" + std::to_string(I) + "}";
  T += "]}";
  WriteText(D.File("b.sigmf-meta"), T);
  const TIQMetadata M = LoadMetadata(D.File("b.sigmf-meta"));
  EXPECT_EQ(M.SignalCount, SIDECAR_MAX_SIGNALS);
  EXPECT_EQ(M.Signals.back().DelayStr, "9.999s");
  ASSERT_EQ(M.Notes.size(), 1u);
  EXPECT_EQ(M.Notes[0].rfind("5 annotations skipped", 0), 0u) << M.Notes[0];

  // A long label is kept cut, with a note.
  WriteText(D.File("l.sigmf-meta"),
            R"({"annotations": [{"core:label": ")" + std::string(SIDECAR_MAX_LINE + 10, 'x') + "\"}]}");
  const TIQMetadata L = LoadMetadata(D.File("l.sigmf-meta"));
  ASSERT_EQ(L.SignalCount, 1);
  EXPECT_EQ(L.Signals[0].Name.size(), SIDECAR_MAX_LINE);
  EXPECT_EQ(L.Notes.size(), 1u);
}
