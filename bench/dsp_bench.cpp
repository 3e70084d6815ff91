// Spectral analysis workloads of the viewer and the previews, each three ways: the plug-in's
// transform, the literal evaluation of the algorithm (per-stage twiddle recurrence, per-sample
// window cosine, every raw row to dB before the max-hold) and FFTW in double precision doing
// the same work. Compare the "fast", "plain" and "fftw" lines of one workload.
#include "dsp/uFFT.h"
#include "dsp/uFFTPlain.h"
#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"
#include "thumbnail/uThumbnail.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <random>
#include <vector>

namespace {

TComplex64Array RandomBlock(size_t N) {
  std::mt19937 Gen(1234);
  std::uniform_real_distribution<double> D(-1.0, 1.0);
  TComplex64Array X(N);
  for (auto &V : X)
    V = {D(Gen), D(Gen)};
  return X;
}

TComplexArray RandomSamples(size_t N, uint32_t Seed) {
  std::mt19937 Gen(Seed);
  std::normal_distribution<float> D(0.0f, 0.3f);
  TComplexArray X(N);
  for (auto &V : X)
    V = {D(Gen), D(Gen)};
  return X;
}

// FFTW plan for an in-place forward transform of N points.
class TFftwPlan {
public:
  explicit TFftwPlan(size_t N) : FN(N) {
    FBuf = fftw_alloc_complex(N);
    FPlan = fftw_plan_dft_1d(static_cast<int>(N), FBuf, FBuf, FFTW_FORWARD, FFTW_MEASURE);
  }
  ~TFftwPlan() {
    fftw_destroy_plan(FPlan);
    fftw_free(FBuf);
  }
  TFftwPlan(const TFftwPlan &) = delete;
  TFftwPlan &operator=(const TFftwPlan &) = delete;
  fftw_complex *Buf() { return FBuf; }
  void Run() { fftw_execute(FPlan); }
  size_t Size() const { return FN; }

private:
  size_t FN;
  fftw_complex *FBuf;
  fftw_plan FPlan;
};

std::vector<double> HannTable(size_t N) {
  std::vector<double> W(N);
  for (size_t I = 0; I < N; ++I)
    W[I] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(I) / static_cast<double>(N)));
  return W;
}

// Windowed FFTW transform of one block, squared magnitudes shifted so that index N/2 is 0 Hz.
void FftwBlockPower(TFftwPlan &P, const std::vector<double> &W, const TComplexSample *X, double *Power) {
  const size_t N = P.Size();
  fftw_complex *B = P.Buf();
  for (size_t I = 0; I < N; ++I) {
    B[I][0] = W[I] * static_cast<double>(X[I].Re);
    B[I][1] = W[I] * static_cast<double>(X[I].Im);
  }
  P.Run();
  const size_t Half = N / 2;
  for (size_t I = 0; I < N; ++I) {
    const size_t K = I < Half ? I + Half : I - Half;
    Power[I] = B[K][0] * B[K][0] + B[K][1] * B[K][1];
  }
}

// ---- the transform alone ----

void BM_FFT_Fast(benchmark::State &State) {
  const TComplex64Array In = RandomBlock(static_cast<size_t>(State.range(0)));
  TComplex64Array Buf = In;
  for (auto _ : State) {
    std::memcpy(Buf.data(), In.data(), In.size() * sizeof(TComplex64));
    FFT(Buf);
    benchmark::DoNotOptimize(Buf.data());
    benchmark::ClobberMemory();
  }
}

void BM_FFT_Plain(benchmark::State &State) {
  const TComplex64Array In = RandomBlock(static_cast<size_t>(State.range(0)));
  TComplex64Array Buf = In;
  for (auto _ : State) {
    std::memcpy(Buf.data(), In.data(), In.size() * sizeof(TComplex64));
    FFTPlain(Buf);
    benchmark::DoNotOptimize(Buf.data());
    benchmark::ClobberMemory();
  }
}

void BM_FFT_Fftw(benchmark::State &State) {
  const TComplex64Array In = RandomBlock(static_cast<size_t>(State.range(0)));
  TFftwPlan P(In.size());
  for (auto _ : State) {
    std::memcpy(P.Buf(), In.data(), In.size() * sizeof(TComplex64));
    P.Run();
    benchmark::DoNotOptimize(P.Buf());
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_FFT_Fast)->Arg(256)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(BM_FFT_Plain)->Arg(256)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(BM_FFT_Fftw)->Arg(256)->Arg(1024)->Arg(2048)->Arg(4096);

// ---- one PSD of 2048 points ----

void BM_ComputePSD2048_Fast(benchmark::State &State) {
  const TComplexArray S = RandomSamples(2048, 5);
  TFloatArray F, P;
  for (auto _ : State) {
    ComputePSD(S, 2e6, 2048, 1, F, P);
    benchmark::DoNotOptimize(P.data());
  }
}

void BM_ComputePSD2048_Plain(benchmark::State &State) {
  const TComplexArray S = RandomSamples(2048, 5);
  TFloatArray F, P;
  for (auto _ : State) {
    ComputePSDPlain(S, 2e6, 2048, 1, F, P);
    benchmark::DoNotOptimize(P.data());
  }
}

void BM_ComputePSD2048_Fftw(benchmark::State &State) {
  const size_t N = 2048;
  const TComplexArray S = RandomSamples(N, 5);
  TFftwPlan Plan(N);
  const std::vector<double> W = HannTable(N);
  std::vector<double> Power(N);
  TFloatArray F, P;
  for (auto _ : State) {
    F.assign(N, 0.0);
    P.assign(N, 0.0);
    FftwBlockPower(Plan, W, S.data(), Power.data());
    for (size_t I = 0; I < N; ++I) {
      P[I] = 10.0 * std::log10(Power[I] < 1e-12 ? 1e-12 : Power[I]);
      F[I] = (static_cast<double>(I) - 1024.0) * 2e6 / 2048.0;
    }
    benchmark::DoNotOptimize(P.data());
  }
}

BENCHMARK(BM_ComputePSD2048_Fast);
BENCHMARK(BM_ComputePSD2048_Plain);
BENCHMARK(BM_ComputePSD2048_Fftw);

// ---- the CPU side of the GPU check's table: one PSD of NFFT points averaged over Avg blocks ----

void BM_ComputePSD_Table(benchmark::State &State) {
  const int32_t N = static_cast<int32_t>(State.range(0)), Avg = static_cast<int32_t>(State.range(1));
  const TComplexArray S = RandomSamples(static_cast<size_t>(N) * static_cast<size_t>(Avg), 9);
  TFloatArray F, P;
  for (auto _ : State) {
    ComputePSD(S, 2e6, N, Avg, F, P);
    benchmark::DoNotOptimize(P.data());
  }
}

BENCHMARK(BM_ComputePSD_Table)
    ->Args({1024, 1})
    ->Args({4096, 1})
    ->Args({4096, 64})
    ->Args({65536, 1})
    ->Args({65536, 64})
    ->Unit(benchmark::kMicrosecond);

// ---- the waterfall window of 10 s at 2 MS/s, as the viewer loads it ----

// 20,000,000 int16 I/Q samples, NFFT 4096, decimation 8: the viewer reads chunks of
// 4096 x 8 samples and asks for one row per chunk, with a row buffer of capacity 2.
constexpr int64_t WF_SAMPLES = 20000000;
constexpr int32_t WF_NFFT = 4096;
constexpr int32_t WF_DECIMATION = 8;

const std::vector<int16_t> &WaterfallRecording() {
  static const std::vector<int16_t> Data = [] {
    std::vector<int16_t> D(2 * static_cast<size_t>(WF_SAMPLES));
    std::mt19937 Gen(77);
    std::normal_distribution<float> Noise(0.0f, 600.0f);
    for (size_t I = 0; I < static_cast<size_t>(WF_SAMPLES); ++I) {
      // noise plus a slowly sweeping tone, so that rows differ and the max-hold has work
      const double Ph = 2 * std::numbers::pi * (0.1 * I + 1e-9 * static_cast<double>(I) * I);
      D[2 * I] = static_cast<int16_t>(std::lround(Noise(Gen) + 3000 * std::cos(Ph)));
      D[2 * I + 1] = static_cast<int16_t>(std::lround(Noise(Gen) + 3000 * std::sin(Ph)));
    }
    return D;
  }();
  return Data;
}

// What the raw int16 reader hands out for one chunk.
void LoadChunk(const std::vector<int16_t> &Rec, int64_t Start, int64_t Count, TComplexArray &Out) {
  const int64_t N = std::min(Count, WF_SAMPLES - Start);
  Out.resize(static_cast<size_t>(std::max<int64_t>(N, 0)));
  for (int64_t I = 0; I < N; ++I)
    Out[static_cast<size_t>(I)] = {Rec[2 * (Start + I)] / 32768.0f, Rec[2 * (Start + I) + 1] / 32768.0f};
}

using TRowsFn = void (*)(const TComplexArray &, double, int32_t, double, int32_t, TRowBuffer &, int32_t &,
                         int32_t);

// Runs the whole window and returns the rows in load order.
std::vector<TSingleArray> WaterfallWindow(TRowsFn Fn) {
  const auto &Rec = WaterfallRecording();
  const int64_t Chunk = int64_t(WF_NFFT) * WF_DECIMATION;
  TComplexArray Samples;
  TRowBuffer Rows(2);
  std::vector<TSingleArray> Out;
  Out.reserve(611);
  for (int64_t Pos = 0; Pos + WF_NFFT <= WF_SAMPLES; Pos += Chunk) {
    LoadChunk(Rec, Pos, Chunk, Samples);
    if (Samples.size() < static_cast<size_t>(WF_NFFT))
      break;
    int32_t Count = 0;
    Fn(Samples, 2e6, WF_NFFT, 0.0, 1, Rows, Count, WF_DECIMATION);
    if (Count > 0)
      Out.push_back(Rows[0]);
  }
  return Out;
}

// The same workload through FFTW double: one row per chunk, max-hold over its whole transforms
// in linear power, then dB.
std::vector<TSingleArray> WaterfallWindowFftw(TFftwPlan &Plan, const std::vector<double> &W) {
  const auto &Rec = WaterfallRecording();
  const size_t N = WF_NFFT;
  const int64_t Chunk = int64_t(WF_NFFT) * WF_DECIMATION;
  TComplexArray Samples;
  std::vector<double> Power(N), Max(N);
  std::vector<TSingleArray> Out;
  Out.reserve(611);
  for (int64_t Pos = 0; Pos + WF_NFFT <= WF_SAMPLES; Pos += Chunk) {
    LoadChunk(Rec, Pos, Chunk, Samples);
    if (Samples.size() < N)
      break;
    const size_t Raw = Samples.size() / N;
    const size_t Dec = Raw >= static_cast<size_t>(WF_DECIMATION) ? WF_DECIMATION : Raw;
    for (size_t R = 0; R < Dec; ++R) {
      FftwBlockPower(Plan, W, Samples.data() + R * N, R == 0 ? Max.data() : Power.data());
      if (R > 0)
        for (size_t I = 0; I < N; ++I)
          Max[I] = Power[I] > Max[I] ? Power[I] : Max[I];
    }
    TSingleArray Row(N);
    for (size_t I = 0; I < N; ++I)
      Row[I] = static_cast<float>(10.0 * std::log10(Max[I] < 1e-12 ? 1e-12 : Max[I]));
    Out.push_back(std::move(Row));
  }
  return Out;
}

void CheckSameRows(benchmark::State &State, const std::vector<TSingleArray> &A,
                   const std::vector<TSingleArray> &B, bool Exact) {
  if (A.size() != B.size()) {
    State.SkipWithError("row counts differ");
    return;
  }
  double MaxDiff = 0;
  size_t Unequal = 0;
  for (size_t R = 0; R < A.size(); ++R)
    for (size_t I = 0; I < A[R].size(); ++I) {
      Unequal += std::memcmp(&A[R][I], &B[R][I], sizeof(float)) != 0;
      MaxDiff = std::max(MaxDiff, std::fabs(static_cast<double>(A[R][I]) - B[R][I]));
    }
  State.counters["rows"] = static_cast<double>(A.size());
  State.counters["unequal_values"] = static_cast<double>(Unequal);
  State.counters["max_diff_db"] = MaxDiff;
  if (Exact && Unequal != 0)
    State.SkipWithError("rows differ from the literal evaluation");
}

// The plug-in's rows with the thread count the call picks for itself (Arg 0) or a fixed one.
void BM_Waterfall10s_Fast(benchmark::State &State) {
  // Checked once against the literal evaluation: the rows must be identical.
  static const std::vector<TSingleArray> Plain = WaterfallWindow(ComputeWaterfallRowsPlain);
  SetWaterfallThreads(static_cast<int32_t>(State.range(0)));
  std::vector<TSingleArray> Rows;
  for (auto _ : State) {
    Rows = WaterfallWindow(ComputeWaterfallRows);
    benchmark::DoNotOptimize(Rows.data());
  }
  SetWaterfallThreads(0);
  State.counters["threads"] =
      static_cast<double>(State.range(0) > 0 ? State.range(0) : AutoWaterfallThreads(WF_DECIMATION, WF_NFFT));
  CheckSameRows(State, Rows, Plain, true);
}

// The same window handed over 64 chunks per call (ComputeWaterfallChunkRows), so that every call
// has enough transforms to share among the threads; the rows are those of the chunk-by-chunk loop.
void BM_Waterfall10s_FastBatched(benchmark::State &State) {
  static const std::vector<TSingleArray> Plain = WaterfallWindow(ComputeWaterfallRowsPlain);
  const auto &Rec = WaterfallRecording();
  const int64_t Chunk = int64_t(WF_NFFT) * WF_DECIMATION;
  constexpr int64_t CHUNKS_PER_CALL = 64;
  TComplexArray Samples;
  TRowBuffer Rows(CHUNKS_PER_CALL);
  std::vector<TSingleArray> Out;
  for (auto _ : State) {
    Out.clear();
    for (int64_t Pos = 0; Pos + WF_NFFT <= WF_SAMPLES; Pos += Chunk * CHUNKS_PER_CALL) {
      LoadChunk(Rec, Pos, Chunk * CHUNKS_PER_CALL, Samples);
      int32_t Count = 0;
      ComputeWaterfallChunkRows(Samples, Chunk, WF_NFFT, 0.0, WF_DECIMATION, Rows, Count);
      Out.insert(Out.end(), Rows.begin(), Rows.begin() + Count);
    }
    benchmark::DoNotOptimize(Out.data());
  }
  State.counters["threads"] =
      static_cast<double>(AutoWaterfallThreads(CHUNKS_PER_CALL * WF_DECIMATION, WF_NFFT));
  CheckSameRows(State, Out, Plain, true);
}

void BM_Waterfall10s_Plain(benchmark::State &State) {
  std::vector<TSingleArray> Rows;
  for (auto _ : State) {
    Rows = WaterfallWindow(ComputeWaterfallRowsPlain);
    benchmark::DoNotOptimize(Rows.data());
  }
  State.counters["rows"] = static_cast<double>(Rows.size());
}

void BM_Waterfall10s_Fftw(benchmark::State &State) {
  TFftwPlan Plan(WF_NFFT);
  const std::vector<double> W = HannTable(WF_NFFT);
  std::vector<TSingleArray> Rows;
  for (auto _ : State) {
    Rows = WaterfallWindowFftw(Plan, W);
    benchmark::DoNotOptimize(Rows.data());
  }
  // Different rounding, same spectra: reported, not required to be identical.
  CheckSameRows(State, Rows, WaterfallWindow(ComputeWaterfallRows), false);
}

BENCHMARK(BM_Waterfall10s_Fast)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Waterfall10s_FastBatched)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Waterfall10s_Plain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Waterfall10s_Fftw)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- one preview of a 100,000-sample recording ----

constexpr int32_t THUMB_W = 256;
constexpr int32_t THUMB_H = 192;

const std::string &ThumbnailRecording() {
  static const std::string Path = [] {
    const std::string P = (std::filesystem::temp_directory_path() / "zb_bench_thumb.cs16").string();
    std::vector<int16_t> D(2 * 100000);
    std::mt19937 Gen(9);
    std::normal_distribution<float> Noise(0.0f, 300.0f);
    for (size_t I = 0; I < 100000; ++I) {
      const double Ph = 2 * std::numbers::pi * 0.0371 * static_cast<double>(I);
      D[2 * I] = static_cast<int16_t>(std::lround(Noise(Gen) + 9000 * std::cos(Ph)));
      D[2 * I + 1] = static_cast<int16_t>(std::lround(Noise(Gen) + 9000 * std::sin(Ph)));
    }
    std::FILE *F = std::fopen(P.c_str(), "wb");
    if (F) {
      std::fwrite(D.data(), sizeof(int16_t), D.size(), F);
      std::fclose(F);
    }
    return P;
  }();
  return Path;
}

void BM_Thumbnail100k_Fast(benchmark::State &State) {
  const std::string &Path = ThumbnailRecording();
  std::vector<uint8_t> Pixels;
  for (auto _ : State) {
    if (!GenerateThumbnailPixels(Path, THUMB_W, THUMB_H, Pixels))
      State.SkipWithError("no preview");
    benchmark::DoNotOptimize(Pixels.data());
  }
}

// The preview's steps with the literal evaluation in place of the plug-in's transform (the
// recording has no sidecar: 2 MHz, 100,000 samples, PSD of 1024 points, rows of 256).
void BM_Thumbnail100k_Plain(benchmark::State &State) {
  const std::string &Path = ThumbnailRecording();
  std::vector<uint8_t> Pixels(static_cast<size_t>(ThumbnailStride(THUMB_W) * THUMB_H));
  for (auto _ : State) {
    const TIQSource Src(Path, ReadFormatHint(Path));
    const TComplexArray S = Src.LoadSegment(0, 100000);
    TThumbnailSpectra T;
    TFloatArray F;
    ComputePSDPlain(S, 2e6, 1024, 1, F, T.PsdDb);
    T.Rows.resize(THUMB_H);
    ComputeWaterfallRowsPlain(S, 2e6, 256, 0.0, THUMB_H, T.Rows, T.RowCount, 1);
    PaintThumbnail(T, THUMB_W, THUMB_H, Pixels.data());
    benchmark::DoNotOptimize(Pixels.data());
  }
}

void BM_Thumbnail100k_Fftw(benchmark::State &State) {
  const std::string &Path = ThumbnailRecording();
  std::vector<uint8_t> Pixels(static_cast<size_t>(ThumbnailStride(THUMB_W) * THUMB_H));
  TFftwPlan Psd(1024), Wf(256);
  const std::vector<double> WPsd = HannTable(1024), WWf = HannTable(256);
  std::vector<double> Power(1024);
  for (auto _ : State) {
    const TIQSource Src(Path, ReadFormatHint(Path));
    const TComplexArray S = Src.LoadSegment(0, 100000);
    TThumbnailSpectra T;
    FftwBlockPower(Psd, WPsd, S.data(), Power.data());
    T.PsdDb.resize(1024);
    for (size_t I = 0; I < 1024; ++I)
      T.PsdDb[I] = 10.0 * std::log10(Power[I] < 1e-12 ? 1e-12 : Power[I]);
    // The newest THUMB_H rows of 256 points.
    const size_t Total = S.size() / 256;
    const size_t First = Total > THUMB_H ? Total - THUMB_H : 0;
    T.Rows.resize(THUMB_H);
    for (size_t R = First; R < Total; ++R) {
      FftwBlockPower(Wf, WWf, S.data() + R * 256, Power.data());
      TSingleArray &Row = T.Rows[R - First];
      Row.resize(256);
      for (size_t I = 0; I < 256; ++I)
        Row[I] = static_cast<float>(10.0 * std::log10(Power[I] < 1e-12 ? 1e-12 : Power[I]));
    }
    T.RowCount = static_cast<int32_t>(Total - First);
    PaintThumbnail(T, THUMB_W, THUMB_H, Pixels.data());
    benchmark::DoNotOptimize(Pixels.data());
  }
}

BENCHMARK(BM_Thumbnail100k_Fast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Thumbnail100k_Plain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Thumbnail100k_Fftw)->Unit(benchmark::kMicrosecond);

} // namespace
