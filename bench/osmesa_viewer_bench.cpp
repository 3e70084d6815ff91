// The viewer core end to end on an offscreen 800 x 600 context: opening a recording up to the
// first frame and up to the complete window, and one play tick (forward append, PSD, texture,
// frame), at three sample rates.
#include "dsp/uFFT.h"
#include "render/osmesa_uWinGL.h"
#include "render/uGLRenderer.h"
#include "viewer/uHeadlessPlatform.h"
#include "viewer/uViewerCore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <unistd.h>
#endif

namespace {

std::string TempPath(const std::string &Name) {
  return (std::filesystem::temp_directory_path() / ("zb_viewer_bench_" + Name)).string();
}

// Removes the bench recordings when the process ends.
struct TTempFiles {
  std::vector<std::string> Paths;
  ~TTempFiles() {
    for (const auto &P : Paths) {
      std::error_code Ec;
      std::filesystem::remove(P, Ec);
      std::filesystem::remove(P.substr(0, P.size() - 5) + ".txt", Ec);
    }
  }
} GTempFiles;

// 10 s of int16 at 2 MS/s: noise with a few tones, written once.
const std::string &RealRecording() {
  static const std::string Path = [] {
    const std::string P = TempPath("10s_2e6.cs16");
    GTempFiles.Paths.push_back(P);
    std::ofstream Out(P, std::ios::binary);
    std::mt19937 Rng(7);
    std::normal_distribution<double> N(0.0, 300.0);
    std::vector<int16_t> Buf(2 * 1000000);
    for (int Block = 0; Block < 20; ++Block) {
      for (size_t I = 0; I < Buf.size() / 2; ++I) {
        const double T = static_cast<double>(Block * 1000000 + static_cast<int>(I));
        const double Ph = 2 * 3.141592653589793 * (0.1 * T + 1e-9 * T * T);
        Buf[2 * I] = static_cast<int16_t>(N(Rng) + 6000 * std::cos(Ph));
        Buf[2 * I + 1] = static_cast<int16_t>(N(Rng) + 6000 * std::sin(Ph));
      }
      Out.write(reinterpret_cast<const char *>(Buf.data()), static_cast<std::streamsize>(Buf.size() * 2));
    }
    return P;
  }();
  return Path;
}

// Seconds of int16 silence at Rate as a sparse file, with a sidecar giving the rate; Tag names
// another file of the same kind.
std::string SparseRecording(double Rate, double Seconds, const std::string &Tag = "") {
  static std::map<std::pair<double, std::string>, std::string> Made;
  auto It = Made.find({Rate, Tag});
  if (It != Made.end())
    return It->second;
  const std::string Stem = TempPath("sparse_" + std::to_string(static_cast<long long>(Rate)) + Tag);
  const std::string P = Stem + ".cs16";
  GTempFiles.Paths.push_back(P);
  { std::ofstream Out(P, std::ios::binary); }
  std::filesystem::resize_file(P, static_cast<uintmax_t>(std::llround(Rate * Seconds)) * 4);
  std::ofstream(Stem + ".txt") << "sample_rate_hz=" << static_cast<long long>(Rate) << "\n";
  Made[{Rate, Tag}] = P;
  return P;
}

// A headless platform that draws into Ctx.
void DrawInto(THeadlessPlatform &P, TOSMesaDestroyContext &Ctx) {
  P.OnMakeCurrent = [&Ctx] {
    Ctx.MakeCurrent();
    return true;
  };
  P.OnPresent = [&Ctx] { Ctx.Finish(); };
}

struct TOffscreenViewer {
  TOSMesaDestroyContext Ctx{800, 600};
  TGLRenderer Renderer;
  THeadlessPlatform P;
  TViewerCore C{P};
  TOffscreenViewer() {
    DrawInto(P, Ctx);
    C.SetRenderer(&Renderer);
  }
  ~TOffscreenViewer() { C.SetRenderer(nullptr); }
};

void OpenToFirstFrame(benchmark::State &State, int32_t Threads) {
  const std::string &File = RealRecording();
  TOSMesaDestroyContext Ctx(800, 600);
  SetWaterfallThreads(Threads);
  int64_t Transforms = 0;
  for (auto _ : State) {
    TGLRenderer Renderer;
    THeadlessPlatform P;
    DrawInto(P, Ctx);
    TViewerCore C(P);
    C.SetRenderer(&Renderer);
    C.Open(File);
    C.SetRenderer(nullptr);
    if (P.Presents != 1 || C.FWFRowCount < 600)
      State.SkipWithError("no complete first frame");
    Transforms = int64_t{C.FWFRowCount} * C.FWFDecimation;
  }
  // The threads the window load uses (the calling one included).
  State.counters["threads"] = WaterfallThreadsFor(Transforms, 4096);
  SetWaterfallThreads(0);
}

// The whole window loaded before the first frame, as the tool's default and the tests do.
void BM_OpenSync_Real2e6(benchmark::State &State) {
  OpenToFirstFrame(State, 0);
}
BENCHMARK(BM_OpenSync_Real2e6)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same on the calling thread alone: what is left when the machine has no core to spare.
void BM_OpenSync_Real2e6_OneThread(benchmark::State &State) {
  OpenToFirstFrame(State, 1);
}
BENCHMARK(BM_OpenSync_Real2e6_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening as the plug-in does (window filled by workers) or the whole window first, timed on
// the viewer's thread; after the first frame, the viewer's thread is modelled as the host's
// message loop: it drains when the fill's wake arrives or the drain timer is due, and sleeps
// otherwise. Each call it makes on the way is a stall of the host.
// Processor time of the calling thread, ms: what the host's thread itself worked, apart from
// the time other processes of a loaded machine took from it.
double ThreadCpuMs() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) * 1e3 + static_cast<double>(T.tv_nsec) / 1e6;
}

struct TOpenTimes {
  double FirstFrameMs = 0, CompleteMs = 0, LongestStallMs = 0, LongestStallCpuMs = 0;
  int32_t RowsAtFirstFrame = 0;
  bool Ok = false;
};

TOpenTimes OpenAndFill(const std::string &File, TOSMesaDestroyContext &Ctx, bool Background,
                       bool ToComplete) {
  using Clock = std::chrono::steady_clock;
  auto Ms = [](Clock::duration D) { return std::chrono::duration<double, std::milli>(D).count(); };
  TOpenTimes T;
  TGLRenderer Renderer;
  THeadlessPlatform P;
  DrawInto(P, Ctx);
  TViewerCore C(P);
  C.SetRenderer(&Renderer);
  C.FBackgroundFill = Background;
  const double C0 = ThreadCpuMs();
  const auto T0 = Clock::now();
  C.Open(File);
  const auto T1 = Clock::now();
  T.FirstFrameMs = T.LongestStallMs = Ms(T1 - T0);
  T.LongestStallCpuMs = ThreadCpuMs() - C0;
  T.RowsAtFirstFrame = C.WindowFilling() ? -1 : C.FWFRowCount;
  auto Due = T1 + std::chrono::milliseconds(TIMER_FILL_MS);
  while (ToComplete && C.WindowFilling()) {
    const auto Now = Clock::now();
    if (P.FillWakes.exchange(0) > 0 || Now >= Due) {
      const double Cpu = ThreadCpuMs();
      C.DrainWindowFill();
      const auto After = Clock::now();
      T.LongestStallMs = std::max(T.LongestStallMs, Ms(After - Now));
      T.LongestStallCpuMs = std::max(T.LongestStallCpuMs, ThreadCpuMs() - Cpu);
      Due = After + std::chrono::milliseconds(TIMER_FILL_MS);
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  T.CompleteMs = Ms(Clock::now() - T0);
  T.Ok = P.Presents >= 1 && C.LastFailure().empty() && (!ToComplete || C.FWFRowCount >= 600);
  C.SetRenderer(nullptr);
  return T; // the core's destructor cancels and joins what is left, outside the timing
}

void OpenBench(benchmark::State &State, double Rate, bool Background, bool ToComplete) {
  const std::string File = SparseRecording(Rate, 12);
  TOSMesaDestroyContext Ctx(800, 600);
  double Stall = 0, StallCpu = 0;
  for (auto _ : State) {
    const TOpenTimes T = OpenAndFill(File, Ctx, Background, ToComplete);
    if (!T.Ok)
      State.SkipWithError("no frame, or the window did not complete");
    State.SetIterationTime((ToComplete ? T.CompleteMs : T.FirstFrameMs) / 1000.0);
    Stall = std::max(Stall, T.LongestStallMs);
    StallCpu = std::max(StallCpu, T.LongestStallCpuMs);
  }
  State.counters["longest_stall_ms"] = Stall;
  State.counters["longest_stall_cpu_ms"] = StallCpu;
}

// Named by their rates as the viewer's figures are quoted: BM_OpenToFirstFrame/2e6 and so on.
const bool GOpenRegistered = [] {
  for (const auto &[Tag, Rate] : {std::pair{"2e6", 2e6}, {"20e6", 20e6}, {"100e6", 100e6}}) {
    benchmark::RegisterBenchmark((std::string("BM_OpenToFirstFrame/") + Tag).c_str(), OpenBench, Rate, true,
                                 false)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark((std::string("BM_OpenToCompleteWindow/") + Tag).c_str(), OpenBench, Rate,
                                 true, true)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark((std::string("BM_OpenToCompleteWindow_Sync/") + Tag).c_str(), OpenBench,
                                 Rate, false, true)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  }
  return true;
}();

// One viewer per rate, opened once: opening at 100 MS/s computes a 10 s window of a
// gigasample, which the benchmark's repeated runs should not pay again.
TOffscreenViewer &PlayingViewer(double Rate) {
  static std::map<double, std::unique_ptr<TOffscreenViewer>> Viewers;
  auto &V = Viewers[Rate];
  if (!V) {
    V = std::make_unique<TOffscreenViewer>();
    V->C.Open(SparseRecording(Rate, 12));
    V->C.StartPlay();
  }
  return *V;
}

void BM_PlayTick(benchmark::State &State, double Rate) {
  TOffscreenViewer &V = PlayingViewer(Rate);
  // From 5.5 s to 6.5 s every tick moves the window (its right edge stays inside the 12 s);
  // the slider moved while playing only sets the position, as in the viewer.
  auto Rewind = [&] {
    V.P.UserMovesSlider(SLIDER_RANGE_MAX * 55 / 120);
    V.C.HandleSliderChange(scThumbPosition);
  };
  Rewind();
  for (auto _ : State) {
    if (V.C.FPlayPosition > static_cast<int64_t>(Rate * 6.5))
      Rewind();
    V.C.HandleTimer();
  }
  if (!V.C.LastFailure().empty() || !V.C.FPlaying)
    State.SkipWithError("playback stopped");
  State.counters["rows"] = V.C.FWFHistory;
  State.counters["nfft"] = V.C.FWF_NFFT;
}
// Named by their rates as the viewer's figures are quoted: BM_PlayTick/2e6 and so on.
const bool GPlayTickRegistered = [] {
  for (const auto &[Name, Rate] :
       {std::pair{"BM_PlayTick/2e6", 2e6}, {"BM_PlayTick/20e6", 20e6}, {"BM_PlayTick/100e6", 100e6}})
    benchmark::RegisterBenchmark(Name, BM_PlayTick, Rate)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0)
        ->UseRealTime();
  return true;
}();

#if defined(__linux__)
int64_t ResidentBytes() {
  std::ifstream In("/proc/self/statm");
  int64_t Size = 0, Resident = 0;
  In >> Size >> Resident;
  return Resident * sysconf(_SC_PAGESIZE);
}

// Resident memory growth while opening a 5 GiB recording and playing 100 ticks, beyond the
// ring (no renderer: the texture is not counted). Reported as counters, in MiB.
void BM_Memory5GiB100Ticks(benchmark::State &State) {
  const std::string File = SparseRecording(2e6 + 1, (5.0 * (1 << 30)) / 4 / (2e6 + 1));
  for (auto _ : State) {
    const int64_t Before = ResidentBytes();
    int64_t Peak = 0;
    THeadlessPlatform P;
    TViewerCore C(P);
    C.Open(File);
    P.UserMovesSlider(5000);
    C.HandleSliderChange(scThumbPosition);
    C.StartPlay();
    for (int I = 0; I < 100; ++I) {
      C.HandleTimer();
      Peak = std::max(Peak, ResidentBytes() - Before);
    }
    const double Ring = static_cast<double>(C.FWFHistory) * C.FWF_NFFT * 4;
    State.counters["ring_MiB"] = Ring / 1048576.0;
    State.counters["growth_beyond_ring_MiB"] = (static_cast<double>(Peak) - Ring) / 1048576.0;
  }
}
BENCHMARK(BM_Memory5GiB100Ticks)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

// Flipping to the next file in an open viewer as the plug-in runs it (window filled by workers;
// context, renderer and texture kept), timed like BM_OpenToFirstFrame/2e6 from the call to its
// first frame, on a recording of the same size and rate. Each flip goes to the other of two
// files, so that every one opens and reads a file anew; the previous file's window is complete
// before the next flip (outside the timing), as when the user has looked at it.
void BM_FlipToNextFile(benchmark::State &State) {
  using Clock = std::chrono::steady_clock;
  const std::string A = SparseRecording(2e6, 12);
  const std::string B = SparseRecording(2e6, 12, "next");
  TOffscreenViewer V;
  V.C.FBackgroundFill = true;
  V.C.Open(A);
  V.C.FinishWindowFill();
  bool ToB = true;
  double Stall = 0;
  for (auto _ : State) {
    const int32_t Presents = V.P.Presents;
    const auto T0 = Clock::now();
    const bool Shown = V.C.OpenNext(ToB ? B : A);
    const double Ms = std::chrono::duration<double, std::milli>(Clock::now() - T0).count();
    State.SetIterationTime(Ms / 1000.0);
    Stall = std::max(Stall, Ms);
    if (!Shown || V.P.Presents != Presents + 1 || V.C.FFileName != (ToB ? B : A))
      State.SkipWithError("no first frame of the next file");
    V.C.FinishWindowFill();
    if (V.C.FWFRowCount < 600 || !V.C.LastFailure().empty())
      State.SkipWithError("the next file's window did not complete");
    ToB = !ToB;
  }
  State.counters["longest_stall_ms"] = Stall;
}
BENCHMARK(BM_FlipToNextFile)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace
