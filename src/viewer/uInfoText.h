// The facts the information box lists about the open recording: file, format, samples,
// duration, rate and centre with their sources, the sidecar used and the signal count.
// Portable, so that the text is tested without a window.
#pragma once

#include <string>
#include <vector>

class TViewerCore;

struct TInfoRow {
  std::string Label;
  std::string Value;
};

inline constexpr const char *INFO_TITLE = "Information";

// One row per fact, in the order shown. Numbers use the core's decimal separator.
std::vector<TInfoRow> RecordingInfoRows(const TViewerCore &Core);
// The rows as "Label: value" lines joined by CR LF, as a multi-line edit control wants them.
std::string RecordingInfoText(const TViewerCore &Core);
