// One complete 800 x 600 frame with a 4096 x 611 waterfall through the offscreen context:
// colour conversion and texture upload included, as the viewer does on every frame; and the
// same with the waterfall kept as a ring, where a play tick adds one row.
#include "render/osmesa_uWinGL.h"
#include "render/uColormap.h"
#include "render/uDemoFrame.h"
#include "render/uGLRenderer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int32_t WF_NFFT = 4096;
constexpr int32_t WF_ROWS = 611;

// The demo rows as a full ring; Push moves the write index on by one slot, as one play tick does.
struct TDemoRing {
  TDemoFrame D = MakeDemoFrame(WF_NFFT, WF_ROWS);
  int32_t WriteIdx = 0;
  void Push() {
    // The slot's levels change slightly, so that every upload carries new bytes.
    TSingleArray &Row = D.Rows[static_cast<size_t>(WriteIdx)];
    for (float &V : Row)
      V += 0.25f;
    WriteIdx = (WriteIdx + 1) % WF_ROWS;
  }
};

void BM_Frame800x600_Waterfall4096x611(benchmark::State &State) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  const TDemoFrame D = MakeDemoFrame(WF_NFFT, WF_ROWS);
  for (auto _ : State) {
    R.UpdateWaterfallTexture(D.Rows, WF_ROWS, WF_NFFT, D.MinDb, D.MaxDb);
    R.Render(D.In);
    Ctx.Finish();
  }
}
BENCHMARK(BM_Frame800x600_Waterfall4096x611)->Unit(benchmark::kMillisecond)->UseRealTime();

// The frame of a play tick with the ring: one new row coloured and uploaded, then drawn.
void BM_Frame800x600_Ring4096x611_OneNewRow(benchmark::State &State) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  TDemoRing Ring;
  R.UpdateWaterfallRing(Ring.D.Rows, Ring.WriteIdx, WF_ROWS, -1, WF_NFFT, Ring.D.MinDb, Ring.D.MaxDb);
  for (auto _ : State) {
    Ring.Push();
    R.UpdateWaterfallRing(Ring.D.Rows, Ring.WriteIdx, WF_ROWS, 1, WF_NFFT, Ring.D.MinDb, Ring.D.MaxDb);
    R.Render(Ring.D.In);
    Ctx.Finish();
  }
}
BENCHMARK(BM_Frame800x600_Ring4096x611_OneNewRow)->Unit(benchmark::kMillisecond)->UseRealTime();

// The texture update alone for one new row: colouring 4096 levels and uploading one row.
void BM_WaterfallRingUpdate4096x611_OneNewRow(benchmark::State &State) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  TDemoRing Ring;
  R.UpdateWaterfallRing(Ring.D.Rows, Ring.WriteIdx, WF_ROWS, -1, WF_NFFT, Ring.D.MinDb, Ring.D.MaxDb);
  for (auto _ : State) {
    Ring.Push();
    R.UpdateWaterfallRing(Ring.D.Rows, Ring.WriteIdx, WF_ROWS, 1, WF_NFFT, Ring.D.MinDb, Ring.D.MaxDb);
    Ctx.Finish();
  }
}
BENCHMARK(BM_WaterfallRingUpdate4096x611_OneNewRow)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The CPU part alone: converting 4096 x 611 levels to RGB (no GL table loaded, so no upload).
void BM_WaterfallConversion4096x611(benchmark::State &State) {
  const TGLEntryPoints Saved = GL;
  GL = TGLEntryPoints{};
  TGLRenderer R;
  const TDemoFrame D = MakeDemoFrame(WF_NFFT, WF_ROWS);
  for (auto _ : State) {
    R.UpdateWaterfallTexture(D.Rows, WF_ROWS, WF_NFFT, D.MinDb, D.MaxDb);
    benchmark::DoNotOptimize(R.TexData().data());
  }
  GL = Saved;
}
BENCHMARK(BM_WaterfallConversion4096x611)->Unit(benchmark::kMillisecond);

// The same conversion computed texel by texel with the colour map's arithmetic, as it was done
// before the table: the baseline for the line above.
void BM_WaterfallConversion4096x611_Computed(benchmark::State &State) {
  const TDemoFrame D = MakeDemoFrame(WF_NFFT, WF_ROWS);
  std::vector<uint8_t> Out(static_cast<size_t>(WF_NFFT) * WF_ROWS * 3);
  for (auto _ : State) {
    uint8_t *P = Out.data();
    for (const TSingleArray &Row : D.Rows)
      for (const float V : Row) {
        const TRGB C = MapDbToColorInline(V, D.MinDb, D.MaxDb);
        *P++ = C.R;
        *P++ = C.G;
        *P++ = C.B;
      }
    benchmark::DoNotOptimize(Out.data());
  }
}
BENCHMARK(BM_WaterfallConversion4096x611_Computed)->Unit(benchmark::kMillisecond);

// Building the colour table for a new level range (once per settings change).
void BM_DbColorTableBuild(benchmark::State &State) {
  for (auto _ : State) {
    TDbColorTable T;
    T.Build(-10.0f, 45.0f);
    benchmark::DoNotOptimize(&T);
  }
}
BENCHMARK(BM_DbColorTableBuild)->Unit(benchmark::kMicrosecond);

} // namespace
