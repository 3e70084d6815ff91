// The overview of a 1 GiB recording into a 1000 x 44 strip: the sampled pass, the full pass, and
// beside them reading the same file from the page cache, raw and through the reader the full pass
// uses. The encodings: int16 (268 million samples), float32 (134 million) and uint8 (537 million).
#include "formats/uIQFormats.h"
#include "viewer/uOverview.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int64_t FILE_BYTES = int64_t{1} << 30;
const char *const KINDS[] = {"cs16", "cf32", "cu8"};

// Noise with a weak tone in the encoding Kind (an index into KINDS), written once per process
// when first asked for; removed at exit.
struct TFile {
  std::string Path;
  explicit TFile(int Kind)
      : Path((std::filesystem::temp_directory_path() / ("zb_overview_bench_1gib." + std::string(KINDS[Kind])))
                 .string()) {
    std::vector<float> Values(1 << 20);
    std::mt19937 Rng(1);
    std::normal_distribution<float> N(0.0f, 0.01f);
    for (size_t I = 0; I < Values.size(); ++I)
      Values[I] = N(Rng) + (I % 2 ? 0.0f : 0.006f * static_cast<float>(I % 16) / 16);
    std::vector<unsigned char> Block;
    for (float V : Values) {
      if (Kind == 0) {
        const int16_t S = static_cast<int16_t>(V * 32768.0f);
        Block.insert(Block.end(),
                     {static_cast<unsigned char>(S & 0xFF), static_cast<unsigned char>(S >> 8 & 0xFF)});
      } else if (Kind == 1) {
        unsigned char B[4];
        std::memcpy(B, &V, 4);
        Block.insert(Block.end(), B, B + 4);
      } else {
        Block.push_back(static_cast<unsigned char>(std::clamp(V * 128.0f * 10 + 127.5f, 0.0f, 255.0f)));
      }
    }
    std::FILE *F = std::fopen(Path.c_str(), "wb");
    for (int64_t W = 0; F && W < FILE_BYTES; W += static_cast<int64_t>(Block.size()))
      std::fwrite(Block.data(), 1, Block.size(), F);
    if (F)
      std::fclose(F);
  }
  ~TFile() {
    std::error_code Ec;
    std::filesystem::remove(Path, Ec);
  }
};

const std::string &GiBFile(int64_t Kind) {
  static const TFile Int16(0);
  if (Kind == 1) {
    static const TFile Float(1);
    return Float.Path;
  }
  if (Kind == 2) {
    static const TFile UInt8(2);
    return UInt8.Path;
  }
  return Int16.Path;
}

TOverviewImage Strip() {
  TOverviewImage I;
  I.Width = 1000, I.Height = 44;
  I.Db.assign(static_cast<size_t>(I.Width) * I.Height, -std::numeric_limits<float>::infinity());
  I.Pass.assign(static_cast<size_t>(I.Width), 0);
  return I;
}

void BM_Overview1GiB_Sampled(benchmark::State &State) {
  const TIQSource Src(GiBFile(0), "");
  const std::atomic<bool> Never{false};
  for (auto _ : State) {
    TOverviewImage I = Strip();
    OverviewSampledPass(Src, I, Never);
    benchmark::DoNotOptimize(I.Db.data());
  }
}
BENCHMARK(BM_Overview1GiB_Sampled)->Unit(benchmark::kMillisecond)->UseRealTime();

// Args: threads (0: one per processor, as the viewer runs it), encoding.
void BM_Overview1GiB_Full(benchmark::State &State) {
  const TIQSource Src(GiBFile(State.range(1)), "");
  const std::atomic<bool> Never{false};
  for (auto _ : State) {
    TOverviewImage I = Strip();
    OverviewFullPass(Src, I, Never, nullptr, static_cast<int32_t>(State.range(0)));
    benchmark::DoNotOptimize(I.Db.data());
  }
  State.SetLabel(KINDS[State.range(1)]);
}
BENCHMARK(BM_Overview1GiB_Full)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Arg: encoding. The file's bytes from the page cache, 4 MiB at a time.
void BM_Read1GiB_Raw(benchmark::State &State) {
  std::vector<char> Buf(4 << 20);
  for (auto _ : State) {
    std::FILE *F = std::fopen(GiBFile(State.range(0)).c_str(), "rb");
    size_t Total = 0, N = 0;
    while (F && (N = std::fread(Buf.data(), 1, Buf.size(), F)) > 0)
      Total += N;
    if (F)
      std::fclose(F);
    benchmark::DoNotOptimize(Total);
  }
  State.SetLabel(KINDS[State.range(0)]);
}
BENCHMARK(BM_Read1GiB_Raw)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Arg: encoding. The same through the reader the full pass uses, stretch after stretch of its
// size: 16-bit values where the file holds 16- or 8-bit ones, else converted samples.
void BM_Read1GiB_Samples(benchmark::State &State) {
  const TIQSource Src(GiBFile(State.range(0)), "");
  for (auto _ : State) {
    TIQStretchReader R(Src);
    const int64_t Len = R.StretchSamples();
    std::vector<int16_t> Values(static_cast<size_t>(2 * Len));
    TComplexArray Samples(static_cast<size_t>(Len));
    int64_t Got = 0;
    for (int64_t At = 0; At < Src.TotalSamples(); At += Len)
      Got += static_cast<int64_t>(R.Int16Scale() > 0 ? R.ReadInt16(At, Values) : R.Read(At, Samples));
    benchmark::DoNotOptimize(Got);
  }
  State.SetLabel(KINDS[State.range(0)]);
}
BENCHMARK(BM_Read1GiB_Samples)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
