// zb_gpu_check: compares the GPU PSD with the CPU PSD on recordings it generates, and times
// both and the automatic choice over NFFT 1024..65536 and averaging 1..64. For a Linux machine
// with an NVIDIA GPU; the libraries come through the dynamic linker's own search (LD_LIBRARY_PATH
// included). Exit status 0 when the GPU path ran and agreed, 1 when no libraries or no device
// were found or a GPU call failed, 2 when the results disagree. "--runs N" times each cell by
// the median of N runs (default 5).
#include "dsp/uCudaFFT.h"
#include "dsp/uFFT.h"
#include "viewer/uHeadlessPlatform.h"
#include "viewer/uViewerCore.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

// Two tones and a chirp in noise: every bin well above the floor, a wide dynamic range.
TComplexArray Recording(size_t N, unsigned Seed) {
  std::mt19937 Rng(Seed);
  std::normal_distribution<double> G(0.0, 0.02);
  TComplexArray S(N);
  for (size_t I = 0; I < N; ++I) {
    const double T = static_cast<double>(I);
    const double A = 2 * std::numbers::pi * 0.1 * T, B = -2 * std::numbers::pi * 0.37 * T,
                 C = 2 * std::numbers::pi * (0.2 * T + 1e-7 * T * T);
    S[I].Re = static_cast<float>(0.8 * std::cos(A) + 0.003 * std::cos(B) + 0.05 * std::cos(C) + G(Rng));
    S[I].Im = static_cast<float>(0.8 * std::sin(A) + 0.003 * std::sin(B) + 0.05 * std::sin(C) + G(Rng));
  }
  return S;
}

int GRuns = 5;

// Median of GRuns runs after one warm-up, in milliseconds.
template <typename F> double TimeMs(F Run) {
  Run();
  std::vector<double> Ms;
  for (int I = 0; I < GRuns; ++I) {
    const auto T0 = std::chrono::steady_clock::now();
    Run();
    Ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count());
  }
  std::sort(Ms.begin(), Ms.end());
  return Ms[Ms.size() / 2];
}

// CPU, GPU and the automatic choice side by side; the automatic choice measures on its first call
// (not timed here), as the viewer's first PSD of a size does.
void PrintTable(TCudaFFTEngine &Engine) {
  std::printf("%6s %4s %11s %11s %8s %6s %11s\n", "NFFT", "avg", "CPU ms", "GPU ms", "CPU/GPU", "auto",
              "auto ms");
  double SlowestAuto = 0.0;
  for (int32_t NFFT = 1024; NFFT <= 65536; NFFT *= 2)
    for (int32_t Avg = 1; Avg <= 64; Avg *= 2) {
      const TComplexArray S = Recording(static_cast<size_t>(NFFT) * static_cast<size_t>(Avg), 99);
      TFloatArray F, P;
      const double Cpu = TimeMs([&] { ComputePSD(S, 1e6, NFFT, Avg, F, P); });
      const double Gpu = TimeMs([&] { Engine.ComputePSD_GPU(S, 1e6, NFFT, Avg, F, P); });
      bool OnGpu = Engine.ComputePSD_Best(S, 1e6, NFFT, Avg, F, P);
      const double Auto = TimeMs([&] { OnGpu = Engine.ComputePSD_Best(S, 1e6, NFFT, Avg, F, P); });
      SlowestAuto = std::max(SlowestAuto, Auto / Cpu);
      std::printf("%6d %4d %11.3f %11.3f %8.2f %6s %11.3f\n", NFFT, Avg, Cpu, Gpu, Cpu / Gpu,
                  OnGpu ? "GPU" : "CPU", Auto);
    }
  std::printf("automatic choice: at most %.2f times the CPU's time over the table\n", SlowestAuto);
}

// The viewer's own path on a generated int16 recording: its first PSD looks for the engine, the
// root text names it and the status line says which engine computed the PSD.
void CheckViewer() {
  const std::string Path = "/tmp/zb_gpu_check_viewer.cs16";
  {
    const TComplexArray S = Recording(1 << 20, 7);
    std::vector<int16_t> Raw;
    Raw.reserve(S.size() * 2);
    for (const auto &C : S) {
      Raw.push_back(static_cast<int16_t>(std::lround(C.Re * 16000.0f)));
      Raw.push_back(static_cast<int16_t>(std::lround(C.Im * 16000.0f)));
    }
    std::ofstream Out(Path, std::ios::binary);
    Out.write(reinterpret_cast<const char *>(Raw.data()),
              static_cast<std::streamsize>(Raw.size() * sizeof(int16_t)));
  }
  try {
    THeadlessPlatform Platform;
    TViewerCore Core(Platform);
    Core.Open(Path);
    std::printf("viewer: root text \"%s\", status \"%s\"\n", Platform.RootText.c_str(),
                Platform.StatusText.c_str());
  } catch (const std::exception &E) {
    std::printf("viewer: could not open the generated recording: %s\n", E.what());
  }
  std::remove(Path.c_str());
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "--runs")
    GRuns = std::max(1, std::atoi(argv[2]));
  TCudaFFTEngine Engine;
  if (!Engine.Available()) {
    std::printf("libraries: no CUDA runtime with cuFFT and a device found (runtime: %s)\n",
                Engine.RuntimePath().empty() ? "none" : Engine.RuntimePath().c_str());
    CheckViewer();
    return 1;
  }
  std::printf("libraries: %s + %s\n", Engine.RuntimePath().c_str(), Engine.CufftPath().c_str());
  std::printf("devices: %d; batched transforms: %s; page-locked buffers: %s\n", Engine.DeviceCount(),
              Engine.Batched() ? "yes" : "no", Engine.PageLocked() ? "yes" : "no");

  double Worst = 0.0, WorstAll = 0.0;
  int WorstN = 0, WorstAvg = 0;
  unsigned Seed = 1;
  for (int32_t NFFT = 256; NFFT <= 65536; NFFT *= 4)
    for (int32_t Avg : {1, 4, 16, 64}) {
      const TComplexArray S = Recording(static_cast<size_t>(NFFT) * static_cast<size_t>(Avg), Seed++);
      TFloatArray Fc, Pc, Fg, Pg;
      ComputePSD(S, 1e6, NFFT, Avg, Fc, Pc);
      if (!Engine.ComputePSD_GPU(S, 1e6, NFFT, Avg, Fg, Pg)) {
        std::printf("ComputePSD_GPU failed at NFFT %d, averaging %d\n", NFFT, Avg);
        return 1;
      }
      const double Peak = *std::max_element(Pc.begin(), Pc.end());
      for (size_t I = 0; I < Pc.size(); ++I) {
        const double D = std::fabs(Pg[I] - Pc[I]);
        WorstAll = std::max(WorstAll, D);
        if (Pc[I] > Peak - 80.0 && D > Worst) {
          Worst = D;
          WorstN = NFFT;
          WorstAvg = Avg;
        }
      }
    }
  std::printf("largest |GPU - CPU|: %.6f dB over bins within 80 dB of the peak (NFFT %d, averaging %d); "
              "%.6f dB over all bins; NFFT 256..65536, averaging 1..64\n",
              Worst, WorstN, WorstAvg, WorstAll);

  PrintTable(Engine);
  CheckViewer();
  return Worst <= 0.01 ? 0 : 2;
}
