// Sidecar values that would poison every computation after them: absurd sample rates.
#include "formats/fmt_fixtures.h"

#include "metadata/uMetadata.h"

TEST(LoadMetadata, RatesOutsideOneHertzToATerahertzAreAbsent) {
  TTempDir D;
  struct {
    const char *Value;
    bool Has;
  } Cases[] = {
      {"1e308", false}, {"1e-310", false}, {"0.5", false}, {"1.000001e12", false}, {"-2e6", false},
      {"0", false},     {"inf", false},    {"1", true},    {"1e12", true},         {"2.4e6", true},
  };
  for (const auto &C : Cases) {
    WriteText(D.File("r.txt"), std::string("sample_rate_hz=") + C.Value + "\n");
    const TIQMetadata M = LoadMetadata(D.File("r.cs16"));
    EXPECT_EQ(M.HasSampleRate, C.Has) << C.Value;
  }
  // A useless rate after a good one makes the rate absent: the last line wins.
  WriteText(D.File("r.txt"), "sample_rate_hz=2e6\nsample_rate_hz=1e300\n");
  EXPECT_FALSE(LoadMetadata(D.File("r.cs16")).HasSampleRate);
}

// Line ends split across the reader's blocks, a byte-order mark, and the hint learnt in the
// same pass (also from the signal section, as ReadFormatHint finds it).
TEST(LoadMetadata, StreamedLinesAndTheHintInOnePass) {
  TTempDir D;
  for (size_t Pad : {65533u, 65534u, 65535u, 65536u, 131071u}) {
    std::string T = "\xEF\xBB\xBF"
                    "center_freq_hz=5\r\n";
    T += std::string(Pad - T.size(), '\n'); // blank lines up to the block edge
    T += "\r\nsample_rate_hz=1e6\rsignals=\n[1] modulation=AM\r\noutput_format=HackRF \n";
    WriteText(D.File("s.txt"), T);
    const TIQMetadata M = LoadMetadata(D.File("s.cf32"));
    EXPECT_TRUE(M.Found);
    EXPECT_EQ(M.CenterFreqHz, 5) << Pad;
    EXPECT_EQ(M.SampleRateHz, 1e6) << Pad;
    EXPECT_EQ(M.SampleRateText, "1e6");
    EXPECT_EQ(M.SignalCount, 1) << Pad;
    EXPECT_EQ(M.FormatHint, "HackRF");
    EXPECT_EQ(ReadFormatHint(D.File("s.cf32")), "HackRF");
    EXPECT_TRUE(M.Notes.empty());
  }
  EXPECT_FALSE(LoadMetadata(D.File("none.cf32")).Found);
}

// Past the bounds lines and signals are left out, with a note saying what and why; the rest
// of the file is still read.
TEST(LoadMetadata, BoundsOnLinesAndSignals) {
  TTempDir D;
  std::string T = "center_freq_hz=" + std::string(SIDECAR_MAX_LINE - 15, '1') + "\n"; // exactly the bound
  T += "sample_rate_hz=2e6" + std::string(SIDECAR_MAX_LINE, ' ') + "x\n";             // over it
  T += "output_format=" + std::string(SIDECAR_MAX_LINE, 'a') + "\nsignals=\n";
  for (int I = 0; I < SIDECAR_MAX_SIGNALS + 3; ++I)
    T += "[" + std::to_string(I) + "] modulation=FM\n";
  T += "output_format=sdrangel\n";
  WriteText(D.File("b.txt"), T);
  const TIQMetadata M = LoadMetadata(D.File("b.iq"));
  EXPECT_TRUE(M.HasCenterFreq);
  EXPECT_FALSE(M.HasSampleRate);
  EXPECT_EQ(M.FormatHint, "sdrangel");
  EXPECT_EQ(ReadFormatHint(D.File("b.iq")), "sdrangel");
  EXPECT_EQ(M.SignalCount, SIDECAR_MAX_SIGNALS);
  EXPECT_EQ(M.Signals.back().Index, SIDECAR_MAX_SIGNALS - 1);
  ASSERT_EQ(M.Notes.size(), 2u);
  EXPECT_NE(M.Notes[0].find("2 lines longer than 8192 bytes skipped (the first is line 2)"),
            std::string::npos)
      << M.Notes[0];
  EXPECT_NE(M.Notes[1].find("3 signal lines skipped"), std::string::npos) << M.Notes[1];

  // Long signal lines reach the text bound long before the count bound.
  std::string L = "signals=\n";
  const std::string Sig = "modulation=FM comment=" + std::string(8000, 'c') + "\n";
  for (int I = 0; I < 1000; ++I)
    L += Sig;
  WriteText(D.File("c.txt"), L);
  const TIQMetadata C = LoadMetadata(D.File("c.iq"));
  EXPECT_LT(C.SignalCount, 1000);
  EXPECT_GT(C.SignalCount, 600);
  EXPECT_EQ(C.Notes.size(), 1u);
}
