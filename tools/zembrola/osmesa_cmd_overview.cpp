// `zembrola overview`: the whole recording as one horizontal waterfall picture (time along the
// width, frequency up), computed as the viewer's overview strip computes it.
#include "commands.h"
#include "osmesa_png.h"

#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"
#include "viewer/uOverview.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

namespace {

struct TOverviewOptions {
  std::string File, Out, Size = "1000x120";
  bool Sampled = false;
};

void RunOverview(const TOverviewOptions &O) {
  int W = 0, H = 0;
  const size_t X = O.Size.find_first_of("xX");
  try {
    if (X == std::string::npos)
      throw std::invalid_argument("no x");
    W = std::stoi(O.Size.substr(0, X));
    H = std::stoi(O.Size.substr(X + 1));
  } catch (const std::exception &) {
    W = H = 0;
  }
  if (W < 1 || H < 1 || W > 8192 || H > 4096)
    throw CliError("--size " + O.Size + ": must be WIDTHxHEIGHT, width 1..8192, height 1..4096 pixels");
  RequireFile(O.File);
  const TIQMetadata M = LoadMetadata(O.File);
  const TIQSource Src = OpenRecording(O.File, M);
  if (Src.TotalSamples() <= 0)
    throw CliError("cannot show " + O.File + ": it holds no complete sample");
  TOverviewImage Img;
  Img.Width = W;
  Img.Height = H;
  Img.Db.assign(static_cast<size_t>(W) * H, -std::numeric_limits<float>::infinity());
  Img.Pass.assign(static_cast<size_t>(W), 0);
  const std::atomic<bool> Never{false};
  const auto T0 = std::chrono::steady_clock::now();
  OverviewSampledPass(Src, Img, Never);
  const auto T1 = std::chrono::steady_clock::now();
  if (!O.Sampled)
    OverviewFullPass(Src, Img, Never);
  const auto T2 = std::chrono::steady_clock::now();
  float Lo = 0, Hi = 0;
  OverviewLevels(Img, Lo, Hi);
  WritePng(O.Out, W, H, OverviewRGB(Img, Lo, Hi));
  const auto Ms = [](auto D) { return std::chrono::duration<double, std::milli>(D).count(); };
  std::printf("%s: %dx%d, %lld samples, transform %d, levels %.0f..%.0f dB; sampled pass %.0f ms",
              O.Out.c_str(), W, H, static_cast<long long>(Src.TotalSamples()), OverviewNFFT(H), Lo, Hi,
              Ms(T1 - T0));
  if (!O.Sampled)
    std::printf(", full pass %.0f ms", Ms(T2 - T1));
  std::printf("\n");
}

static RegisterCommands reg([](CLI::App &App) {
  auto O = std::make_shared<TOverviewOptions>();
  CLI::App *Cmd = App.add_subcommand(
      "overview",
      "Render the whole recording as one horizontal waterfall (time across, frequency up) to a PNG");
  Cmd->add_option("file", O->File, "the recording")->required();
  Cmd->add_option("-o,--output", O->Out, "PNG file to write")->required();
  Cmd->add_option("--size", O->Size, "picture size WIDTHxHEIGHT")->capture_default_str();
  Cmd->add_flag("--sampled", O->Sampled, "only the quick sampled pass (a few transforms per column)");
  Cmd->callback([O] { RunOverview(*O); });
});

} // namespace
