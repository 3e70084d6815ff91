// Subcommands `info` and `samples`: what the plug-in makes of a recording, as JSON, and its
// samples as text, read through the same code the viewer uses.
#include "commands.h"

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "base/uText.h"
#include "formats/uFileNames.h"
#include "formats/uIQFormats.h"
#include "formats/uValueSources.h"
#include "metadata/uMetadata.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace {

nlohmann::ordered_json SignalJson(const TSignalInfo &S) {
  return {{"index", S.Index},          {"name", S.Name},
          {"comment", S.Comment},      {"modulation", S.Modulation},
          {"offset_hz", S.OffsetHz},   {"amplitude", S.Amplitude},
          {"loop_mode", S.LoopMode},   {"repeat", S.RepeatStr},
          {"pause", S.PauseStr},       {"delay", S.DelayStr},
          {"duration", S.DurationStr}, {"params", S.ParamStr}};
}

// Sidecar text is single-byte text in the writer's code page; JSON wants UTF-8. The text is
// converted here, where it leaves the system; inside, it stays as read.
std::string SidecarTextToUtf8(const std::string &S, const std::string &Encoding) {
  if (Encoding == "utf-8")
    return Utf8Repaired(S);
  if (Encoding == "latin1")
    return Latin1ToUtf8(S);
  if (Encoding == "cp1252")
    return Cp1252ToUtf8(S);
  // auto: text that is valid UTF-8 is almost certainly meant as such; anything else is taken
  // as Windows-1252, the code page the generators on Western systems write.
  return IsValidUtf8(S) ? S : Cp1252ToUtf8(S);
}

void ConvertStrings(nlohmann::ordered_json &J, const std::string &Encoding) {
  if (J.is_string())
    J = SidecarTextToUtf8(J.get<std::string>(), Encoding);
  else if (J.is_structured())
    for (auto &V : J)
      ConvertStrings(V, Encoding);
}

void RunInfo(const std::string &Path, const std::string &Encoding) {
  RequireFile(Path);
  const TIQMetadata M = LoadMetadata(Path);
  const TIQSource Src = OpenRecording(Path, M);
  const TIQFormatInfo &F = Src.GetFormatInfo();
  // A rate or centre the file's name gives counts as detected when the file's own header gives
  // none.
  const TFileNameInfo Named = ParseRecordingFileName(Path);
  const bool HasDetectedRate = F.HasDetectedSampleRate || Named.HasSampleRate;
  const double DetectedRate = F.HasDetectedSampleRate ? F.DetectedSampleRate : Named.SampleRateHz;
  const bool HasDetectedCentre = F.HasDetectedCenterFreq || Named.HasCenterFreq;
  const double DetectedCentre = F.HasDetectedCenterFreq ? F.DetectedCenterFreqHz : Named.CenterFreqHz;
  const TSettledValues V = SettleRateAndCentre(SidecarValuesOf(M), F, Named);

  nlohmann::ordered_json Signals = nlohmann::ordered_json::array();
  for (const TSignalInfo &S : M.Signals)
    Signals.push_back(SignalJson(S));
  ConvertStrings(Signals, Encoding);
  nlohmann::ordered_json Notes = nlohmann::ordered_json::array();
  for (const std::string &N : SidecarNotes(M))
    Notes.push_back(SidecarTextToUtf8(N, Encoding));

  const double Rate = V.SampleRateHz;

  nlohmann::ordered_json J = {
      {"file", Utf8Repaired(Path)},
      {"format",
       {{"kind", IQKindName(F.Kind)},
        {"name", Utf8Repaired(F.Name)},
        {"header_bytes", F.HeaderBytes},
        {"detected_sample_rate", DetectedRate},
        {"has_detected_sample_rate", HasDetectedRate},
        {"detected_center_freq_hz", DetectedCentre},
        {"has_detected_center_freq", HasDetectedCentre}}},
      {"total_samples", Src.TotalSamples()},
      {"sidecar",
       {{"found", M.Found},
        {"format_hint", SidecarTextToUtf8(M.FormatHint, Encoding)},
        {"sample_rate_hz", M.SampleRateHz},
        {"has_sample_rate", M.HasSampleRate},
        {"center_freq_hz", M.CenterFreqHz},
        {"has_center_freq", M.HasCenterFreq},
        {"signals", Signals},
        {"notes", Notes},
        {"kind", M.Kind}}},
      {"sample_rate_hz", Rate},
      {"duration_sec", static_cast<double>(Src.TotalSamples()) / Rate},
      {"sources",
       {{"sample_rate", ValueSourceName(V.RateSource)}, {"center_freq", ValueSourceName(V.CenterSource)}}},
  };
  std::printf("%s\n", J.dump(2).c_str());
}

void RunSamples(const std::string &Path, int64_t Start, int64_t Count) {
  if (Start < 0)
    throw CliError("--start must not be negative");
  if (Count < 0 || Count > 0x7FFFFFFF)
    throw CliError("--count must be between 0 and 2147483647");
  RequireFile(Path);
  const TIQSource Src = OpenRecording(Path, LoadMetadata(Path));
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
  std::string Encoding = "auto";
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
  Info->add_option("--sidecar-encoding", Args().Encoding,
                   "How the sidecar's text is written: auto (UTF-8 when valid, else Windows-1252), utf-8, "
                   "cp1252 or latin1 (default auto)")
      ->check(CLI::IsMember({"auto", "utf-8", "cp1252", "latin1"}));
  Info->callback([] { RunInfo(Args().InfoFile, Args().Encoding); });

  auto *Samples = App.add_subcommand("samples", "Print complex samples as 're im' lines");
  Samples->allow_windows_style_options(false);
  Samples->add_option("FILE", Args().SamplesFile, "Recording")->required();
  Samples->add_option("--start", Args().Start, "First sample index (default 0)");
  Samples->add_option("--count", Args().Count, "Number of samples (default 16)");
  Samples->callback([] { RunSamples(Args().SamplesFile, Args().Start, Args().Count); });
});

} // namespace
