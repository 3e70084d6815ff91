#include "osmesa_view_tools.h"

#include "commands.h"

#include "viewer/uOverview.h"
#include "viewer/uViewerCore.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

bool ParseNumber(const std::string &S, double &V) {
  if (S.empty())
    return false;
  char *End = nullptr;
  V = std::strtod(S.c_str(), &End);
  return End && *End == '\0' && std::isfinite(V);
}

void ParseZoom(const std::string &S, double &Lo, double &Hi) {
  const size_t C = S.find(':');
  if (C == std::string::npos || !ParseNumber(S.substr(0, C), Lo) || !ParseNumber(S.substr(C + 1), Hi) ||
      !(Lo < Hi))
    throw CliError("--zoom " + S + ": must be LO_MHZ:HI_MHZ with LO below HI");
}

void ParseMarker(const std::string &S, double &MHz, bool &HasTime, double &Sec) {
  const size_t At = S.find('@');
  HasTime = At != std::string::npos;
  if (!ParseNumber(S.substr(0, At), MHz) || (HasTime && (!ParseNumber(S.substr(At + 1), Sec) || Sec < 0)))
    throw CliError("--marker " + S + ": must be MHZ or MHZ@SECONDS");
}

} // namespace

void AddViewToolOptions(CLI::App &Cmd, TViewToolOptions &O) {
  Cmd.add_option("--zoom", O.Zoom, "show only this band, LO_MHZ:HI_MHZ");
  Cmd.add_option("--marker", O.Markers, "marker at a frequency, in the waterfall at a time (at most 2)")
      ->type_name("MHZ[@SEC]");
  Cmd.add_flag("--auto-levels", O.AutoLevels, "level range from the levels in view");
  Cmd.add_option("--peak-hold", O.PeakHoldSec, "play this many seconds with the peak-hold trace on");
  Cmd.add_flag("--help-overlay", O.Help, "draw the key help over the frame");
  Cmd.add_flag("--overview", O.Overview, "draw the overview strip of the whole recording (computed in full)");
}

void CheckViewToolOptions(const TViewToolOptions &O) {
  double A = 0, B = 0;
  bool T = false;
  if (!O.Zoom.empty())
    ParseZoom(O.Zoom, A, B);
  if (O.Markers.size() > 2)
    throw CliError("--marker: at most two markers");
  for (const std::string &M : O.Markers)
    ParseMarker(M, A, T, B);
  if (!std::isfinite(O.PeakHoldSec) || O.PeakHoldSec < 0)
    throw CliError("--peak-hold must be a number of seconds, 0 or more");
}

void ApplyViewToolOptions(const TViewToolOptions &O, TViewerCore &C) {
  if (!O.Zoom.empty()) {
    double Lo = 0, Hi = 0;
    ParseZoom(O.Zoom, Lo, Hi);
    if (!C.ZoomToHz(Lo * 1e6, Hi * 1e6)) {
      double FLo = 0, FHi = 0;
      C.FullSpan(FLo, FHi);
      throw CliError("--zoom " + O.Zoom + ": outside the recording's band, " +
                     FormatFixed(FLo / 1e6, 6, '.') + " to " + FormatFixed(FHi / 1e6, 6, '.') + " MHz");
    }
  }
  if (O.PeakHoldSec > 0) {
    C.SetPeakHold(true);
    const int64_t Ticks = std::max<int64_t>(1, RoundI64(O.PeakHoldSec / C.FPlayChunkSec));
    C.StartPlay();
    for (int64_t I = 0; I < Ticks && C.FPlaying; ++I) {
      C.HandleTimer();
      C.UpdatePeakHold();
    }
    C.StopPlay();
  }
  for (size_t I = 0; I < O.Markers.size(); ++I) {
    double MHz = 0, Sec = 0;
    bool HasTime = false;
    ParseMarker(O.Markers[I], MHz, HasTime, Sec);
    C.SetMarker(static_cast<int32_t>(I), MHz * 1e6, HasTime, Sec);
  }
  if (O.AutoLevels)
    C.AutoLevels();
  C.FHelpVisible = O.Help;
}

void DrawViewToolOptions(const TViewToolOptions &O, TViewerCore &C) {
  if (!O.Overview)
    return;
  C.ToggleOverview(); // the frame it draws starts the worker
  while (C.OverviewJob() && !C.OverviewJob()->Finished())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (C.OverviewJob() && !C.OverviewJob()->Failure().empty())
    throw CliError("overview failed: " + C.OverviewJob()->Failure());
}
