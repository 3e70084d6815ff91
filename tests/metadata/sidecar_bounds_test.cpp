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
