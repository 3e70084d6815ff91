#include "viewer/uInfoText.h"

#include "viewer/uViewerCore.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Printf(const char *F, double V, const char *Unit, char Sep) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, F, V);
  std::string S = Buf;
  for (char &C : S)
    if (C == '.')
      C = Sep;
  return S + Unit;
}

// Hz in the unit that keeps the number short, with every digit the value has up to 1 Hz.
std::string Hz(double V, char Sep) {
  const double A = std::fabs(V);
  if (A >= 1e9)
    return Printf("%.9g", V / 1e9, " GHz", Sep);
  if (A >= 1e6)
    return Printf("%.9g", V / 1e6, " MHz", Sep);
  if (A >= 1e3)
    return Printf("%.9g", V / 1e3, " kHz", Sep);
  return Printf("%.9g", V, " Hz", Sep);
}

} // namespace

std::vector<TInfoRow> RecordingInfoRows(const TViewerCore &Core) {
  const char Sep = Core.FDecimalSep;
  const TSettledValues &V = Core.FValues;
  std::vector<TInfoRow> R;
  R.push_back({"File", Core.FFileName});
  R.push_back({"Format", Core.FIQSource ? Core.FIQSource->GetFormatName() : std::string()});
  R.push_back({"Samples", std::to_string(Core.FTotalSamples)});
  R.push_back({"Duration", Printf("%.3f", Core.FDurationSec, " s", Sep)});
  // A value entered in the settings since the file was opened is the settings' own.
  const bool RateKept = Core.FSampleRate == V.SampleRateHz;
  const bool CentreKept = Core.FHasCenterFreq == V.HasCenterFreq && Core.FCenterFreq == V.CenterFreqHz;
  R.push_back({"Sample rate", Hz(Core.FSampleRate, Sep) + " (" +
                                  (RateKept ? ValueSourceName(V.RateSource) : "settings") + ")"});
  R.push_back({"Centre frequency",
               !Core.FHasCenterFreq ? std::string("unknown (none)")
                                    : Hz(Core.FCenterFreq, Sep) + " (" +
                                          (CentreKept ? ValueSourceName(V.CenterSource) : "settings") + ")"});
  R.push_back({"Sidecar", Core.FMeta.SidecarFile.empty() ? std::string("none") : Core.FMeta.SidecarFile});
  R.push_back({"Signals", std::to_string(Core.FSignalModel.FSignalCount)});
  return R;
}

std::string RecordingInfoText(const TViewerCore &Core) {
  std::string T;
  for (const TInfoRow &Row : RecordingInfoRows(Core)) {
    if (!T.empty())
      T += "\r\n";
    T += Row.Label + ": " + Row.Value;
  }
  return T;
}
