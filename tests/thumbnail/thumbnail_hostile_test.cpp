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
