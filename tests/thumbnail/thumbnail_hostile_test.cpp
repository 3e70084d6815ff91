// Previews of recordings whose own rate is useless, and the reasons given when none is made.
#include "formats/fmt_fixtures.h"

#include "thumbnail/uThumbnail.h"

#include <cmath>

TEST(Thumbnail, UselessFileRateFallsBackToTheDefault) {
  TTempDir D;
  std::vector<int16_t> V;
  for (int I = 0; I < 2 * 1200; ++I)
    V.push_back(static_cast<int16_t>(12000 * std::sin(I * 0.2)));
  for (double Rate : {0.0, -1e6, 1e-6}) {
    TVrtPacket Ctx, Data;
    Ctx.Type = 4;
    Ctx.Body = ContextRateBody(Rate, true);
    Data.Body = I16Payload(V, true);
    const std::string P = D.File("v.iq");
    WriteBytes(P, VrtBytes({Ctx, Data}, true));
    TThumbnailSpectra S;
    EXPECT_TRUE(ComputeThumbnailSpectra(P, 64, 64, S)) << Rate;
    EXPECT_EQ(S.PsdDb.size(), 1024u) << Rate;
  }
}

// Every refusal says why.
TEST(Thumbnail, RefusalsSayWhy) {
  TTempDir D;
  WriteBytes(D.File("short.cs16"), TBytes(4 * 100, 1));
  WriteBytes(D.File("ok.cs16"), TBytes(4 * 1000, 1));
  TBytes Adpcm = Riff({Chunk("fmt ", FmtBody(2, 2, 8000, 16)), Chunk("data", TBytes(4000, 1))});
  WriteBytes(D.File("adpcm.cs16"), Adpcm);
  struct {
    const char *File;
    int32_t W, H;
    const char *Why;
  } Cases[] = {
      {"ok.cs16", 15, 64, "below the smallest"},
      {"ok.cs16", 100000, 100000, "more than the largest bitmap"},
      {"short.cs16", 64, 64, "holds 100 samples"},
      {"adpcm.cs16", 64, 64, "format tag 0x0002"},
      {"missing/x.cs16", 64, 64, "holds 0 samples"},
  };
  for (const auto &C : Cases) {
    std::vector<uint8_t> P;
    std::string Why;
    EXPECT_FALSE(GenerateThumbnailPixels(D.File(C.File), C.W, C.H, P, &Why)) << C.File;
    EXPECT_NE(Why.find(C.Why), std::string::npos) << C.File << ": " << Why;
  }
  std::string Why = "untouched";
  std::vector<uint8_t> P;
  EXPECT_TRUE(GenerateThumbnailPixels(D.File("ok.cs16"), 64, 64, P, &Why));
  EXPECT_EQ(Why, "untouched");
}
