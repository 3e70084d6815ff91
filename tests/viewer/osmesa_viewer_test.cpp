// The viewer core drawing real frames into an offscreen context.
#include "viewer_fixtures.h"

#include "render/osmesa_uWinGL.h"
#include "render/uGLRenderer.h"

namespace {

TEST(ViewerOffscreen, OpenDrawsTheFirstFrameAndTicksDrawMore) {
  TTempDir D;
  const std::string F = D.File("a.cs16");
  WriteInt16Recording(F, Sec(12), 0, Sec(12) / 4);
  TOSMesaDestroyContext Ctx(640, 400);
  TGLRenderer Renderer;
  TViewerRig R;
  R.P.Width = 640;
  R.P.Height = 400;
  R.P.OnMakeCurrent = [&] {
    Ctx.MakeCurrent();
    return true;
  };
  R.C.SetRenderer(&Renderer);
  R.Open(F);
  EXPECT_EQ(R.P.Presents, 1);
  EXPECT_EQ(Renderer.Width(), 640);
  EXPECT_EQ(Renderer.TexWidth(), 520); // 4096 bins pooled into the 520 waterfall columns
  EXPECT_EQ(Renderer.PooledColumns(), 520);
  EXPECT_EQ(Renderer.TexHeight(), R.C.FWFRowCount);
  // The newest row (top of the texture) is silence, the oldest (bottom) holds the tone.
  const auto &Tex = Renderer.TexData();
  const size_t Stride = static_cast<size_t>(Renderer.TexRowStride());
  const size_t Bottom = Stride * static_cast<size_t>(Renderer.TexHeight() - 1);
  EXPECT_NE(std::vector<uint8_t>(Tex.begin(), Tex.begin() + static_cast<std::ptrdiff_t>(Stride)),
            std::vector<uint8_t>(Tex.begin() + static_cast<std::ptrdiff_t>(Bottom),
                                 Tex.begin() + static_cast<std::ptrdiff_t>(Bottom + Stride)));
  R.C.StartPlay();
  R.P.Advance(R.C, 66);
  EXPECT_EQ(R.P.Presents, 3);
  // Without a context nothing is drawn, and nothing else changes.
  R.P.OnMakeCurrent = nullptr;
  R.P.Advance(R.C, 33);
  EXPECT_EQ(R.P.Presents, 3);
  EXPECT_EQ(R.C.FPlayPosition, 3 * 66000);
  R.C.SetRenderer(nullptr);
}

} // namespace
