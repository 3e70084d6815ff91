// One complete 800 x 600 frame with a 4096 x 611 waterfall through the offscreen context:
// colour conversion and texture upload included, as the viewer does on every frame.
#include "render/osmesa_uWinGL.h"
#include "render/uDemoFrame.h"
#include "render/uGLRenderer.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Frame800x600_Waterfall4096x611(benchmark::State &State) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  const TDemoFrame D = MakeDemoFrame(4096, 611);
  for (auto _ : State) {
    R.UpdateWaterfallTexture(D.Rows, 611, 4096, D.MinDb, D.MaxDb);
    R.Render(D.In);
    Ctx.Finish();
  }
}
BENCHMARK(BM_Frame800x600_Waterfall4096x611)->Unit(benchmark::kMillisecond)->UseRealTime();

// The CPU part alone: converting 4096 x 611 levels to RGB (no GL table loaded, so no upload).
void BM_WaterfallConversion4096x611(benchmark::State &State) {
  const TGLEntryPoints Saved = GL;
  GL = TGLEntryPoints{};
  TGLRenderer R;
  const TDemoFrame D = MakeDemoFrame(4096, 611);
  for (auto _ : State) {
    R.UpdateWaterfallTexture(D.Rows, 611, 4096, D.MinDb, D.MaxDb);
    benchmark::DoNotOptimize(R.TexData().data());
  }
  GL = Saved;
}
BENCHMARK(BM_WaterfallConversion4096x611)->Unit(benchmark::kMillisecond);

} // namespace
