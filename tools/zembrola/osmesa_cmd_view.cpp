// `zembrola render`: the viewer's frame of a recording, drawn by the same viewer core the
// plug-in runs, on a headless platform with an offscreen context.
#include "commands.h"
#include "osmesa_png.h"
#include "osmesa_view_tools.h"

#include "base/uFileStream.h"
#include "render/osmesa_uWinGL.h"
#include "render/uGLRenderer.h"
#include "viewer/uHeadlessPlatform.h"
#include "viewer/uViewerCore.h"
#include "viewer/uViewerSettings.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TViewOptions {
  std::string File;
  std::string Out;
  double PosSec = 0.0;
  std::string Size = "800x600";
  double PlaySec = 0.0;
  std::vector<std::string> Sets;
  std::string Overlay = "on";
  bool FirstFrame = false;
  TViewToolOptions Tools;
};

void ParseSize(const std::string &S, int &W, int &H) {
  const size_t X = S.find_first_of("xX");
  int32_t A = 0, B = 0;
  if (X == std::string::npos || !TryGetInt(S.substr(0, X), A) || !TryGetInt(S.substr(X + 1), B) || A < 1 ||
      B < 1 || A > 8192 || B > 8192)
    throw CliError("--size " + S + ": must be WIDTHxHEIGHT, each 1..8192 pixels");
  W = A;
  H = B;
}

std::string SettingsHelp() {
  std::string H = "set a viewer setting as in its settings dialog (repeatable):";
  for (int32_t I = 0; I < sfCount; ++I) {
    const auto F = static_cast<TSettingsField>(I);
    H += std::string("\n  ") + SettingsFieldKey(F) + " - " + SettingsFieldLabel(F) + " " +
         SettingsFieldRule(F);
  }
  return H;
}

// The --set options applied to S in the dialog's row order, as the dialog reads its fields.
void ApplySets(const std::vector<std::string> &Sets, TViewerSettings &S) {
  TSettingsTexts Texts = FormatSettingsTexts(S);
  bool Given[sfCount] = {};
  for (const std::string &Set : Sets) {
    const size_t Eq = Set.find('=');
    TSettingsField F = sfCount;
    if (Eq == std::string::npos || !FindSettingsField(Set.substr(0, Eq), F)) {
      std::string Keys;
      for (int32_t I = 0; I < sfCount; ++I)
        Keys += std::string(I ? ", " : "") + SettingsFieldKey(static_cast<TSettingsField>(I));
      throw CliError("--set " + Set + ": expected KEY=VALUE with KEY one of " + Keys);
    }
    Texts[F] = Set.substr(Eq + 1);
    Given[F] = true;
  }
  for (int32_t I = 0; I < sfCount; ++I) {
    const auto F = static_cast<TSettingsField>(I);
    if (Given[I] && !ApplySettingsField(S, F, Texts[F]))
      throw CliError("--set " + std::string(SettingsFieldKey(F)) + "=" + Texts[F] +
                     " refused: " + SettingsFieldLabel(F) + " must be " + SettingsFieldRule(F));
  }
  FixLevelRange(S);
}

void RunView(const TViewOptions &O) {
  int W = 0, H = 0;
  ParseSize(O.Size, W, H);
  if (!std::isfinite(O.PosSec) || O.PosSec < 0)
    throw CliError("--pos must be a number of seconds, 0 or more");
  if (!std::isfinite(O.PlaySec) || O.PlaySec < 0)
    throw CliError("--play must be a number of seconds, 0 or more");
  std::error_code Ec;
  if (std::filesystem::is_directory(O.File, Ec))
    throw CliError("cannot show " + O.File + ": it is a folder");
  if (!FileExists(O.File))
    throw CliError("cannot show " + O.File + ": no such file");

  if (O.Overlay != "on" && O.Overlay != "off")
    throw CliError("--overlay must be on or off");
  CheckViewToolOptions(O.Tools);

  THeadlessPlatform P;
  P.Width = W;
  P.Height = H;
  TViewerCore C(P);
  try {
    C.LoadFile(O.File);
  } catch (const std::exception &E) {
    throw CliError("cannot show " + O.File + ": " + E.what());
  }
  if (C.FTotalSamples <= 0)
    throw CliError("cannot show " + O.File + ": it holds no complete sample");

  TViewerSettings S = C.GetSettings();
  ApplySets(O.Sets, S);
  // The position is set before the settings are applied, so that the one recomputation they
  // start loads the waterfall around it.
  const int64_t Pos = RoundI64(O.PosSec * S.SampleRate);
  C.FPlayPosition = std::clamp<int64_t>(Pos, 0, C.FTotalSamples - 1);
  // As the plug-in opens: the rows from worker threads, the frame drawn with those that are in
  // when the first frame's wait is over.
  C.FBackgroundFill = O.FirstFrame;
  C.ApplySettings(S);
  C.SetSliderPos(static_cast<double>(C.FPlayPosition) / C.FSampleRate);
  if (O.PlaySec > 0 && C.LastFailure().empty()) {
    const int64_t Ticks = std::max<int64_t>(1, RoundI64(O.PlaySec / C.FPlayChunkSec));
    C.StartPlay();
    for (int64_t I = 0; I < Ticks && C.FPlaying; ++I)
      C.HandleTimer();
  }
  if (C.LastFailure().empty())
    ApplyViewToolOptions(O.Tools, C);
  if (!C.LastFailure().empty())
    throw CliError("cannot show " + O.File + ": " + C.LastFailure());

  TOSMesaDestroyContext Ctx(W, H);
  TGLRenderer R;
  P.OnMakeCurrent = [&Ctx] {
    Ctx.MakeCurrent();
    return true;
  };
  C.FOverlayVisible = O.Overlay == "on";
  C.SetRenderer(&R);
  DrawViewToolOptions(O.Tools, C);
  C.RenderFrame();
  Ctx.Finish();
  C.SetRenderer(nullptr);
  WritePng(O.Out, W, H, Ctx.RGBTopDown());
  std::printf("%s: %dx%d at %.3f s of %.3f s; %s\n", O.Out.c_str(), W, H,
              static_cast<double>(C.FPlayPosition) / C.FSampleRate, C.FDurationSec, P.StatusText.c_str());
}

static RegisterCommands reg([](CLI::App &App) {
  auto O = std::make_shared<TViewOptions>();
  CLI::App *Cmd = App.add_subcommand("render", "Render the viewer's frame of a recording to a PNG");
  Cmd->add_option("file", O->File, "the recording")->required();
  Cmd->add_option("-o,--output", O->Out, "PNG file to write")->required();
  Cmd->add_option("--pos", O->PosSec, "play position in seconds")->capture_default_str();
  Cmd->add_option("--size", O->Size, "frame size WIDTHxHEIGHT")->capture_default_str();
  Cmd->add_option("--play", O->PlaySec, "play this many seconds from --pos by ticks before drawing");
  Cmd->add_option("--overlay", O->Overlay, "signal markers and hopper brackets: on or off")
      ->capture_default_str();
  Cmd->add_option("--set", O->Sets, SettingsHelp())->type_name("KEY=VALUE");
  Cmd->add_flag("--first-frame", O->FirstFrame,
                "draw the frame as it stands after the first frame's wait, the waterfall maybe still filling "
                "(default: the complete window)");
  AddViewToolOptions(*Cmd, O->Tools);
  Cmd->callback([O] { RunView(*O); });
});

} // namespace
