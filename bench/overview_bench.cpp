// The overview of a 1 GiB recording (int16, 268 million samples) into a 1000 x 44 strip: the
// sampled pass, the full pass, and beside them reading the same file from the page cache, raw
// and through the sample reader the passes use.
#include "formats/uIQFormats.h"
#include "viewer/uOverview.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int64_t FILE_BYTES = int64_t{1} << 30;

// Noise with a weak tone, written once per process; removed at exit.
const std::string &GiBFile() {
  static const struct TFile {
    std::string Path = (std::filesystem::temp_directory_path() / "zb_overview_bench_1gib.cs16").string();
    TFile() {
      std::vector<int16_t> Block(1 << 20);
      std::mt19937 Rng(1);
      std::normal_distribution<float> N(0.0f, 300.0f);
      for (size_t I = 0; I < Block.size(); ++I)
        Block[I] = static_cast<int16_t>(N(Rng) + (I % 2 ? 0 : 200.0f * static_cast<float>(I % 16) / 16));
      std::FILE *F = std::fopen(Path.c_str(), "wb");
      for (int64_t W = 0; F && W < FILE_BYTES; W += static_cast<int64_t>(Block.size() * 2))
        std::fwrite(Block.data(), 2, Block.size(), F);
      if (F)
        std::fclose(F);
    }
    ~TFile() {
      std::error_code Ec;
      std::filesystem::remove(Path, Ec);
    }
  } File;
  return File.Path;
}

TOverviewImage Strip() {
  TOverviewImage I;
  I.Width = 1000, I.Height = 44;
  I.Db.assign(static_cast<size_t>(I.Width) * I.Height, -std::numeric_limits<float>::infinity());
  I.Pass.assign(static_cast<size_t>(I.Width), 0);
  return I;
}

void BM_Overview1GiB_Sampled(benchmark::State &State) {
  const TIQSource Src(GiBFile(), "");
  const std::atomic<bool> Never{false};
  for (auto _ : State) {
    TOverviewImage I = Strip();
    OverviewSampledPass(Src, I, Never);
    benchmark::DoNotOptimize(I.Db.data());
  }
}
BENCHMARK(BM_Overview1GiB_Sampled)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg: threads (0: one per processor, as the viewer runs it).
void BM_Overview1GiB_Full(benchmark::State &State) {
  const TIQSource Src(GiBFile(), "");
  const std::atomic<bool> Never{false};
  for (auto _ : State) {
    TOverviewImage I = Strip();
    OverviewFullPass(Src, I, Never, nullptr, static_cast<int32_t>(State.range(0)));
    benchmark::DoNotOptimize(I.Db.data());
  }
}
BENCHMARK(BM_Overview1GiB_Full)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The file's bytes from the page cache, 4 MiB at a time.
void BM_Read1GiB_Raw(benchmark::State &State) {
  std::vector<char> Buf(4 << 20);
  for (auto _ : State) {
    std::FILE *F = std::fopen(GiBFile().c_str(), "rb");
    size_t Total = 0, N = 0;
    while (F && (N = std::fread(Buf.data(), 1, Buf.size(), F)) > 0)
      Total += N;
    if (F)
      std::fclose(F);
    benchmark::DoNotOptimize(Total);
  }
}
BENCHMARK(BM_Read1GiB_Raw)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same through the reader the full pass uses, stretch after stretch of its size: 16-bit
// values as stored where the file holds them, else converted samples.
void BM_Read1GiB_Samples(benchmark::State &State) {
  const TIQSource Src(GiBFile(), "");
  for (auto _ : State) {
    TIQStretchReader R(Src);
    const int64_t Len = R.StretchSamples();
    std::vector<int16_t> Values(static_cast<size_t>(2 * Len));
    TComplexArray Samples(static_cast<size_t>(Len));
    int64_t Got = 0;
    for (int64_t At = 0; At < Src.TotalSamples(); At += Len)
      Got += static_cast<int64_t>(R.HasInt16() ? R.ReadInt16(At, Values) : R.Read(At, Samples));
    benchmark::DoNotOptimize(Got);
  }
}
BENCHMARK(BM_Read1GiB_Samples)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
