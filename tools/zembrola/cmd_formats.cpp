// Subcommands `info` and `samples`: what the plug-in makes of a recording, as JSON, and its
// samples as text, read through the same code the viewer uses.
#include "commands.h"

#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"
#include "base/uGlobals.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace {

void RequireFile(const std::string &Path) {
  if (!FileExists(Path))
    throw CliError("no such file: " + Path);
}

nlohmann::ordered_json SignalJson(const TSignalInfo &S) {
  return {{"index", S.Index},          {"name", S.Name},
          {"comment", S.Comment},      {"modulation", S.Modulation},
          {"offset_hz", S.OffsetHz},   {"amplitude", S.Amplitude},
          {"loop_mode", S.LoopMode},   {"repeat", S.RepeatStr},
          {"pause", S.PauseStr},       {"delay", S.DelayStr},
          {"duration", S.DurationStr}, {"params", S.ParamStr}};
}

// Sidecar text is 8-bit as written; replace bytes that are not valid UTF-8 so that the JSON
// writer never fails on a sidecar in a legacy code page.
std::string Utf8Safe(const std::string &S) {
  std::string Out;
  size_t I = 0;
  while (I < S.size()) {
    const unsigned char C = static_cast<unsigned char>(S[I]);
    size_t Len = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : (C >> 3) == 30 ? 4 : 0;
    bool Ok = Len > 0 && I + Len <= S.size();
    for (size_t K = 1; Ok && K < Len; ++K)
      Ok = (static_cast<unsigned char>(S[I + K]) & 0xC0) == 0x80;
    if (Ok) {
      Out.append(S, I, Len);
      I += Len;
    } else {
      Out += "\xEF\xBF\xBD";
      ++I;
    }
  }
  return Out;
}

void CleanStrings(nlohmann::ordered_json &J) {
  if (J.is_string())
    J = Utf8Safe(J.get<std::string>());
  else if (J.is_structured())
    for (auto &V : J)
      CleanStrings(V);
}

void RunInfo(const std::string &Path) {
  RequireFile(Path);
  const TIQSource Src(Path, ReadFormatHint(Path));
  const TIQMetadata M = LoadMetadata(Path);
  const TIQFormatInfo &F = Src.GetFormatInfo();

  nlohmann::ordered_json Signals = nlohmann::ordered_json::array();
  for (const TSignalInfo &S : M.Signals)
    Signals.push_back(SignalJson(S));

  // The rate the viewer settles on: sidecar, else the file's own, else the default.
  double Rate = DEF_SAMPLE_RATE;
  if (M.HasSampleRate)
    Rate = M.SampleRateHz;
  else if (Src.GetHasDetectedSampleRate() && Src.GetDetectedSampleRate() > 0)
    Rate = Src.GetDetectedSampleRate();

  nlohmann::ordered_json J = {
      {"file", Path},
      {"format",
       {{"kind", IQKindName(F.Kind)},
        {"name", F.Name},
        {"header_bytes", F.HeaderBytes},
        {"detected_sample_rate", F.DetectedSampleRate},
        {"has_detected_sample_rate", F.HasDetectedSampleRate}}},
      {"total_samples", Src.TotalSamples()},
      {"sidecar",
       {{"found", FileExists(SidecarPath(Path))},
        {"format_hint", ReadFormatHint(Path)},
        {"sample_rate_hz", M.SampleRateHz},
        {"has_sample_rate", M.HasSampleRate},
        {"center_freq_hz", M.CenterFreqHz},
        {"has_center_freq", M.HasCenterFreq},
        {"signals", Signals}}},
      {"sample_rate_hz", Rate},
      {"duration_sec", static_cast<double>(Src.TotalSamples()) / Rate},
  };
  CleanStrings(J);
  std::printf("%s\n", J.dump(2).c_str());
}

void RunSamples(const std::string &Path, int64_t Start, int64_t Count) {
  if (Start < 0)
    throw CliError("--start must not be negative");
  if (Count < 0 || Count > 0x7FFFFFFF)
    throw CliError("--count must be between 0 and 2147483647");
  RequireFile(Path);
  const TIQSource Src(Path, ReadFormatHint(Path));
  // Read in blocks so that a large count never needs one huge buffer.
  constexpr int64_t BLOCK = 1 << 20;
  int64_t Pos = Start, Left = Count;
  while (Left > 0) {
    const int32_t N = static_cast<int32_t>(Left < BLOCK ? Left : BLOCK);
    const TComplexArray S = Src.LoadSegment(Pos, N);
    for (const TComplexSample &X : S)
      std::printf("%.9g %.9g\n", static_cast<double>(X.Re), static_cast<double>(X.Im));
    if (static_cast<int32_t>(S.size()) < N)
      break;
    Pos += N;
    Left -= N;
  }
}

struct TFormatArgs {
  std::string InfoFile;
  std::string SamplesFile;
  int64_t Start = 0;
  int64_t Count = 16;
};

TFormatArgs &Args() {
  static TFormatArgs A;
  return A;
}

RegisterCommands reg([](CLI::App &App) {
  auto *Info = App.add_subcommand("info", "Print the detected format, sample count and sidecar as JSON");
  // Paths such as /tmp/x (under Wine) are files, not Windows-style options.
  Info->allow_windows_style_options(false);
  Info->add_option("FILE", Args().InfoFile, "Recording")->required();
  Info->callback([] { RunInfo(Args().InfoFile); });

  auto *Samples = App.add_subcommand("samples", "Print complex samples as 're im' lines");
  Samples->allow_windows_style_options(false);
  Samples->add_option("FILE", Args().SamplesFile, "Recording")->required();
  Samples->add_option("--start", Args().Start, "First sample index (default 0)");
  Samples->add_option("--count", Args().Count, "Number of samples (default 16)");
  Samples->callback([] { RunSamples(Args().SamplesFile, Args().Start, Args().Count); });
});

} // namespace
