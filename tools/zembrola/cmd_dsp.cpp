// Subcommands `psd`, `rows` and `thumb`: the spectra and the preview image of a recording,
// computed by the plug-in's own code, as text and as a BMP file.
#include "commands.h"

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "dsp/uCudaFFT.h"
#include "dsp/uFFT.h"
#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"
#include "thumbnail/uThumbnail.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

namespace {

// Stands for "not given": one transform's worth. Any negative count the user gives is refused.
constexpr int64_t DEFAULT_COUNT = std::numeric_limits<int64_t>::min();

void CheckNfft(int32_t NFFT) {
  if (NFFT < 1 || NFFT > (1 << 30) || (NFFT & (NFFT - 1)) != 0)
    throw CliError("--nfft must be a power of two between 1 and 1073741824");
}

// Samples [Start, Start + Count) of the recording; Count < 0 means one transform's worth.
TComplexArray ReadSamples(const TIQSource &Src, int64_t Start, int64_t Count, int32_t NFFT) {
  if (Start < 0)
    throw CliError("--start must not be negative");
  if (Count == DEFAULT_COUNT)
    Count = NFFT;
  else if (Count < 0)
    throw CliError("--count must not be negative (" + std::to_string(Count) + " given)");
  if (Count > std::numeric_limits<int32_t>::max())
    throw CliError("--count must be between 0 and 2147483647");
  TComplexArray S = Src.LoadSegment(Start, static_cast<int32_t>(Count));
  if (S.size() < static_cast<size_t>(NFFT))
    throw CliError("not enough samples for one " + std::to_string(NFFT) + "-point transform: " +
                   std::to_string(S.size()) + " read from sample " + std::to_string(Start));
  return S;
}

struct TDspArgs {
  std::string File;
  int64_t Start = 0;
  int64_t Count = DEFAULT_COUNT;
  int32_t PsdNfft = DEF_PSD_NFFT;
  int32_t Avg = DEF_AVG_SEGMENTS;
  int32_t WfNfft = DEF_WF_NFFT;
  double Overlap = DEF_WF_OVERLAP;
  int32_t MaxRows = 0;
  int32_t Decimation = 1;
  std::string Size;
  std::string Out;
  std::string Engine = "cpu";
};

TDspArgs &Args() {
  static TDspArgs A;
  return A;
}

void RunPsd() {
  const TDspArgs &A = Args();
  CheckNfft(A.PsdNfft);
  RequireFile(A.File);
  const TIQMetadata M = LoadMetadata(A.File);
  WarnSidecarNotes(M);
  const TIQSource Src = OpenRecording(A.File, M);
  const double Rate = SettledSampleRate(A.File, M, Src);
  const TComplexArray S = ReadSamples(Src, A.Start, A.Count, A.PsdNfft);
  TFloatArray Freqs, Db;
  bool OnGpu = false;
  std::string Why; // for auto: why this engine
  if (A.Engine != "cpu") {
    EnsureCudaEngine();
    if (!CudaEngine->Available()) {
      if (A.Engine == "gpu")
        throw CliError("--engine gpu: no CUDA runtime with cuFFT and a device found");
      Why = "no CUDA runtime with cuFFT and a device";
    } else if (A.Engine == "gpu") {
      OnGpu = CudaEngine->ComputePSD_GPU(S, Rate, A.PsdNfft, A.Avg, Freqs, Db);
      if (!OnGpu)
        throw CliError("--engine gpu: the GPU could not compute the PSD");
    } else {
      // As the viewer does: both engines timed on this PSD, the faster one's result printed.
      OnGpu = CudaEngine->ComputePSD_Best(S, Rate, A.PsdNfft, A.Avg, Freqs, Db);
      const int64_t Segments = std::clamp<int64_t>(
          std::min<int64_t>(A.Avg, static_cast<int64_t>(S.size() / static_cast<size_t>(A.PsdNfft))), 1,
          std::numeric_limits<int32_t>::max());
      if (const auto V = CudaEngine->Verdict(A.PsdNfft, Segments)) {
        char Buf[96];
        std::snprintf(Buf, sizeof Buf, "GPU %.3f ms, CPU %.3f ms", V->GpuMs, V->CpuMs);
        Why = Buf;
      } else {
        Why = "the GPU could not compute the PSD";
      }
    }
  }
  if (!OnGpu && Db.empty())
    ComputePSD(S, Rate, A.PsdNfft, A.Avg, Freqs, Db);
  if (A.Engine == "auto")
    std::fprintf(stderr, "engine: %s - %s\n",
                 OnGpu ? ("gpu (" + CudaEngine->DeviceName() + ")").c_str() : "cpu", Why.c_str());
  for (size_t I = 0; I < Db.size(); ++I)
    std::printf("%.17g %.17g\n", Freqs[I], Db[I]);
}

void RunRows() {
  const TDspArgs &A = Args();
  CheckNfft(A.WfNfft);
  RequireFile(A.File);
  const TIQMetadata M = LoadMetadata(A.File);
  WarnSidecarNotes(M);
  const TIQSource Src = OpenRecording(A.File, M);
  const double Rate = SettledSampleRate(A.File, M, Src);
  const TComplexArray S = ReadSamples(Src, A.Start, A.Count, A.WfNfft);
  // Room for every row the samples can give.
  const int64_t Hop = WaterfallHop(A.WfNfft, A.Overlap);
  int64_t Capacity = static_cast<int64_t>(S.size() - static_cast<size_t>(A.WfNfft)) / Hop + 1;
  if (A.MaxRows > 0 && A.MaxRows < Capacity)
    Capacity = A.MaxRows;
  TRowBuffer Rows(static_cast<size_t>(Capacity));
  int32_t Count = 0;
  ComputeWaterfallRows(S, Rate, A.WfNfft, A.Overlap, A.MaxRows, Rows, Count, A.Decimation);
  std::string Line;
  char Buf[32];
  for (int32_t R = 0; R < Count; ++R) {
    Line.clear();
    for (float V : Rows[static_cast<size_t>(R)]) {
      std::snprintf(Buf, sizeof Buf, "%.9g", static_cast<double>(V));
      if (!Line.empty())
        Line += ' ';
      Line += Buf;
    }
    std::printf("%s\n", Line.c_str());
  }
}

void ParseSize(const std::string &S, int32_t &W, int32_t &H) {
  const size_t X = S.find_first_of("xX");
  auto Num = [&](const std::string &T) -> int32_t {
    if (T.empty() || T.size() > 9 || T.find_first_not_of("0123456789") != std::string::npos)
      throw CliError("--size must be WIDTHxHEIGHT, e.g. 256x192");
    return static_cast<int32_t>(std::stol(T));
  };
  if (X == std::string::npos)
    throw CliError("--size must be WIDTHxHEIGHT, e.g. 256x192");
  W = Num(S.substr(0, X));
  H = Num(S.substr(X + 1));
}

struct TFCloseOut {
  void operator()(std::FILE *F) const { std::fclose(F); }
};

void RunThumb() {
  const TDspArgs &A = Args();
  int32_t W = 0, H = 0;
  ParseSize(A.Size, W, H);
  RequireFile(A.File);
  std::vector<uint8_t> Pixels;
  std::string Why;
  if (!GenerateThumbnailPixels(A.File, W, H, Pixels, &Why))
    throw CliError("no preview made for " + A.File + ": " + Why);
  const auto Info = ThumbnailInfoHeader(W, H);
  const uint64_t Offset = 14 + Info.size();
  const uint64_t FileSize = Offset + Pixels.size();
  if (FileSize > 0xFFFFFFFFu)
    throw CliError("preview too large for a BMP file");
  uint8_t Head[14] = {'B', 'M'};
  for (int I = 0; I < 4; ++I) {
    Head[2 + I] = static_cast<uint8_t>(FileSize >> (8 * I));
    Head[10 + I] = static_cast<uint8_t>(Offset >> (8 * I));
  }
  std::unique_ptr<std::FILE, TFCloseOut> F(std::fopen(A.Out.c_str(), "wb"));
  if (!F)
    throw CliError("cannot write " + A.Out);
  bool Ok = std::fwrite(Head, 1, sizeof Head, F.get()) == sizeof Head &&
            std::fwrite(Info.data(), 1, Info.size(), F.get()) == Info.size() &&
            std::fwrite(Pixels.data(), 1, Pixels.size(), F.get()) == Pixels.size();
  Ok = std::fclose(F.release()) == 0 && Ok;
  if (!Ok)
    throw CliError("cannot write " + A.Out);
}

RegisterCommands reg([](CLI::App &App) {
  auto *Psd = App.add_subcommand("psd", "Print the averaged PSD as 'freq_hz db' lines (Hz from the centre)");
  Psd->add_option("FILE", Args().File, "Recording")->required();
  Psd->add_option("--start", Args().Start, "First sample index (default 0)");
  Psd->add_option("--count", Args().Count, "Number of samples (default: the FFT size)");
  Psd->add_option("--nfft", Args().PsdNfft, "FFT size, a power of two (default 2048)");
  Psd->add_option("--avg", Args().Avg, "Blocks averaged at most (default 1)");
  Psd->add_option("--engine", Args().Engine,
                  "cpu (default), gpu (CUDA runtime with cuFFT, else fail) or auto (both timed, the faster "
                  "one's result; says which ran and why on standard error)")
      ->check(CLI::IsMember({"cpu", "gpu", "auto"}));
  Psd->callback(RunPsd);

  auto *Rows =
      App.add_subcommand("rows", "Print waterfall rows, one line of dB values per row, oldest first");
  Rows->add_option("FILE", Args().File, "Recording")->required();
  Rows->add_option("--start", Args().Start, "First sample index (default 0)");
  Rows->add_option("--count", Args().Count, "Number of samples (default: the FFT size)");
  Rows->add_option("--nfft", Args().WfNfft, "FFT size, a power of two (default 256)");
  Rows->add_option("--overlap", Args().Overlap, "Frame overlap fraction (default 0)");
  Rows->add_option("--max-rows", Args().MaxRows,
                   "Keep at most this many of the newest rows (default 0: all)");
  Rows->add_option("--decimation", Args().Decimation, "Max-hold over this many raw rows (default 1)");
  Rows->callback(RunRows);

  auto *Thumb = App.add_subcommand("thumb", "Write the preview bitmap the plug-in gives the file manager");
  Thumb->add_option("FILE", Args().File, "Recording")->required();
  Thumb->add_option("--size", Args().Size, "WIDTHxHEIGHT in pixels")->required();
  Thumb->add_option("-o", Args().Out, "Output BMP file")->required();
  Thumb->callback(RunThumb);
});

} // namespace
