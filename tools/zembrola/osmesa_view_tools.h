// The view tools' options of `zembrola render` (zoom, markers, auto levels, peak hold), kept
// apart from the command so that each can grow on its own.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

class TViewerCore;

struct TViewToolOptions {
  std::string Zoom;                 // LO_MHZ:HI_MHZ
  std::vector<std::string> Markers; // MHZ[@SEC]
  bool AutoLevels = false;
  double PeakHoldSec = 0.0;
  bool Help = false;
  bool Overview = false;
};

void AddViewToolOptions(CLI::App &Cmd, TViewToolOptions &O);
// Checks the options' syntax before any work; throws CliError.
void CheckViewToolOptions(const TViewToolOptions &O);
// Applies them to an opened viewer, in the order zoom, peak hold (playing), markers, levels.
void ApplyViewToolOptions(const TViewToolOptions &O, TViewerCore &C);
// The part that needs the renderer set: the overview strip, computed to its end.
void DrawViewToolOptions(const TViewToolOptions &O, TViewerCore &C);
