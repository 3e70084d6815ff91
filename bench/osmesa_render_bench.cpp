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

// The same frame drawn as before the max-hold columns: one texel per bin, minified by the
// driver's linear filter (which skips most bins). The pair shows what the columns cost.
void BM_Frame800x600_Waterfall4096x611_BinTexels(benchmark::State &State) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.SetColumnMaxHold(false);
  R.Resize(800, 600);
  const TDemoFrame D = MakeDemoFrame(WF_NFFT, WF_ROWS);
  for (auto _ : State) {
    R.UpdateWaterfallTexture(D.Rows, WF_ROWS, WF_NFFT, D.MinDb, D.MaxDb);
    R.Render(D.In);
    Ctx.Finish();
  }
}
BENCHMARK(BM_Frame800x600_Waterfall4096x611_BinTexels)->Unit(benchmark::kMillisecond)->UseRealTime();

// The frame of a play tick with the ring: one new row coloured and uploaded, then drawn; with
// the pixel columns (the viewer's drawing) and, for comparison, with one texel per bin.
void RingOneNewRow(benchmark::State &State, bool ColumnMaxHold) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.SetColumnMaxHold(ColumnMaxHold);
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
void BM_Frame800x600_Ring4096x611_OneNewRow(benchmark::State &State) {
  RingOneNewRow(State, true);
}
void BM_Frame800x600_Ring4096x611_OneNewRow_BinTexels(benchmark::State &State) {
  RingOneNewRow(State, false);
}
BENCHMARK(BM_Frame800x600_Ring4096x611_OneNewRow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Frame800x600_Ring4096x611_OneNewRow_BinTexels)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// The colour map's arithmetic for one level, in line, as the conversion did it texel by texel
// before the table (same operations as MapDbToColor).
[[gnu::always_inline]] inline void ComputedColour(float Db, float MinDb, float MaxDb, uint8_t *P) {
  if (MaxDb <= MinDb) {
    P[0] = P[1] = P[2] = 0;
    return;
  }
  float T = (Db - MinDb) / (MaxDb - MinDb);
  T = T < 0.0f ? 0.0f : (T > 1.0f ? 1.0f : T);
  float C[3];
  if (!(T > 0.0f)) {
    C[0] = ViridisR[0], C[1] = ViridisG[0], C[2] = ViridisB[0];
  } else if (T >= 1.0f) {
    C[0] = ViridisR[7], C[1] = ViridisG[7], C[2] = ViridisB[7];
  } else {
    const float S = T * 7.0f;
    int I = static_cast<int>(S);
    I = I >= 7 ? 6 : I;
    const float F = S - static_cast<float>(I);
    C[0] = ViridisR[I] + (ViridisR[I + 1] - ViridisR[I]) * F;
    C[1] = ViridisG[I] + (ViridisG[I + 1] - ViridisG[I]) * F;
    C[2] = ViridisB[I] + (ViridisB[I + 1] - ViridisB[I]) * F;
  }
  for (int K = 0; K < 3; ++K) {
    const float V = C[K] < 0.0f ? 0.0f : (C[K] > 1.0f ? 1.0f : C[K]);
    P[K] = static_cast<uint8_t>((V * 255.0f + 8388608.0f) - 8388608.0f);
  }
}

// The same conversion computed texel by texel: the baseline for the line above.
void BM_WaterfallConversion4096x611_Computed(benchmark::State &State) {
  const TDemoFrame D = MakeDemoFrame(WF_NFFT, WF_ROWS);
  std::vector<uint8_t> Out(static_cast<size_t>(WF_NFFT) * WF_ROWS * 3);
  for (auto _ : State) {
    uint8_t *P = Out.data();
    for (const TSingleArray &Row : D.Rows)
      for (const float V : Row) {
        ComputedColour(V, D.MinDb, D.MaxDb, P);
        P += 3;
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

namespace {

// One zoom step as the viewer takes it: a new band view, so the ring's columns are pooled
// again from all 611 rows, and the frame drawn. Alternates between two views a wheel notch apart.
void BM_ZoomStep800x600_Ring4096x611(benchmark::State &State) {
  TOSMesaDestroyContext Ctx(800, 600);
  TGLRenderer R;
  R.Resize(800, 600);
  TDemoRing Ring;
  R.UpdateWaterfallRing(Ring.D.Rows, Ring.WriteIdx, WF_ROWS, -1, WF_NFFT, Ring.D.MinDb, Ring.D.MaxDb);
  bool Narrow = false;
  for (auto _ : State) {
    Narrow = !Narrow;
    R.SetBandView(Narrow ? 0.1 : 0.0, Narrow ? 0.9 : 1.0);
    R.UpdateWaterfallRing(Ring.D.Rows, Ring.WriteIdx, WF_ROWS, 0, WF_NFFT, Ring.D.MinDb, Ring.D.MaxDb);
    R.Render(Ring.D.In);
    Ctx.Finish();
  }
}
BENCHMARK(BM_ZoomStep800x600_Ring4096x611)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
