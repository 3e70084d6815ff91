// `zembrola signals`: the viewer's signal model of a recording's sidecar as JSON: hopper
// groups, each signal with its interval, legend sequence text and tooltip text, and optionally
// the signal the mouse would pick at a frequency and time.
#include "commands.h"

#include "base/uFileStream.h"
#include "metadata/uMetadata.h"
#include "viewer/uSignalModel.h"
#include "viewer/uViewerSettings.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace {

struct TSignalsOptions {
  std::string File;
  std::optional<std::string> Center;
  std::optional<double> Pick;
  double Tol = 0.0;
  double At = 0.0;
};

void RunSignals(const TSignalsOptions &O) {
  if (!FileExists(O.File))
    throw CliError("no such file: " + O.File);
  if (O.Pick && !(std::isfinite(*O.Pick) && std::isfinite(O.Tol) && O.Tol >= 0 && std::isfinite(O.At)))
    throw CliError("--pick, --tol and --at must be finite numbers, --tol 0 or more");
  const TIQMetadata M = LoadMetadata(O.File);

  // The centre frequency the viewer settles on, replaced as its settings dialog would.
  TViewerSettings S;
  S.CenterFreq = M.HasCenterFreq ? M.CenterFreqHz : 0.0;
  S.HasCenterFreq = M.HasCenterFreq;
  TSignalModel Model;
  Model.Assign(M.Signals, S.CenterFreq);
  if (O.Center && !ApplySettingsField(S, sfCenterFreq, *O.Center))
    throw CliError("--center " + *O.Center + ": must be " + SettingsFieldRule(sfCenterFreq));
  const double Center = S.CenterFreq;

  nlohmann::ordered_json Groups = nlohmann::ordered_json::array();
  for (int32_t G = 0; G < Model.FHopperGroupCount; ++G) {
    const THopperGroup H = Model.GroupAt(G, Center);
    Groups.push_back({{"lo_hz", H.FLoHz}, {"hi_hz", H.FHiHz}, {"count", H.Count}});
  }
  nlohmann::ordered_json Signals = nlohmann::ordered_json::array();
  for (int32_t I = 0; I < Model.FSignalCount; ++I) {
    const TSignalInfo &Sig = Model.FSignals[static_cast<size_t>(I)];
    double Start = 0, End = 0;
    Model.SignalInterval(I, Start, End);
    Signals.push_back(
        {{"index", Sig.Index},
         {"name", Sig.Name},
         {"carrier_hz", Center + Sig.OffsetHz},
         {"hopper_member", static_cast<bool>(Model.FIsHopperMember[static_cast<size_t>(I)])},
         {"start_s", Start},
         {"end_s", End < OPEN_END_BOUND ? nlohmann::ordered_json(End) : nlohmann::ordered_json()},
         {"sequence", SequenceText(Sig)},
         {"info", Model.SignalInfoText(I, Center, '.')}});
  }
  nlohmann::ordered_json J = {{"groups", Groups}, {"signals", Signals}};
  if (O.Pick)
    J["pick"] = Model.PickSignalAt(Center, *O.Pick, O.Tol, O.At);
  // Sidecar text is 8-bit as written: bytes that are not UTF-8 become U+FFFD.
  std::printf("%s\n", J.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

static RegisterCommands reg([](CLI::App &App) {
  auto O = std::make_shared<TSignalsOptions>();
  CLI::App *Cmd =
      App.add_subcommand("signals", "Print the sidecar's signals as the viewer models them, as JSON");
  Cmd->add_option("file", O->File, "the recording")->required();
  Cmd->add_option("--center", O->Center, "centre frequency in Hz, as entered in the settings dialog");
  auto *Pick = Cmd->add_option("--pick", O->Pick, "frequency in Hz to pick a signal at");
  Cmd->add_option("--tol", O->Tol, "how far from --pick a carrier may be, Hz")->needs(Pick);
  Cmd->add_option("--at", O->At, "time in seconds the pick is for")->needs(Pick);
  Cmd->callback([O] { RunSignals(*O); });
});

} // namespace
