// The viewer's adjustable settings: the values, the texts the settings dialog shows for
// them, and the reading of edited texts back into values. The same rules serve the Win32
// dialog and the command-line tool's --set options.
#pragma once

#include "base/uGlobals.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TViewerSettings {
  double SampleRate = DEF_SAMPLE_RATE;
  double CenterFreq = 0.0;
  bool HasCenterFreq = false;
  int32_t PSD_NFFT = DEF_PSD_NFFT;
  int32_t WF_NFFT = DEF_WF_NFFT;
  double WFWindowSec = DEF_PREVIEW_SEC;
  double WFOverlap = DEF_WF_OVERLAP;
  double MagMinDb = DEF_MAG_MIN_DB;
  double MagMaxDb = DEF_MAG_MAX_DB;
  double PlayChunkSec = DEF_PLAY_CHUNK_SEC;
  int32_t AvgSegments = DEF_AVG_SEGMENTS;
};

// The dialog's rows, in order.
enum TSettingsField : int32_t {
  sfSampleRate = 0,
  sfCenterFreq,
  sfPSD_NFFT,
  sfWF_NFFT,
  sfWFWindowSec,
  sfWFOverlap,
  sfMagMinDb,
  sfMagMaxDb,
  sfPlayChunkSec,
  sfAvgSegments,
  sfCount
};

// FFT sizes above this are refused: a larger PSD transform would stall the viewer for
// seconds and claim gigabytes, and nothing larger is needed to resolve a recording.
inline constexpr int32_t MAX_SETTINGS_NFFT = 1 << 20;

using TSettingsTexts = std::array<std::string, sfCount>;

// Dialog label of a row ("Sample Rate (Hz):").
const char *SettingsFieldLabel(TSettingsField F);
// Short name of a row for command lines ("sample_rate").
const char *SettingsFieldKey(TSettingsField F);
// The row whose key is Key; false when there is none.
bool FindSettingsField(const std::string &Key, TSettingsField &F);
// What a row accepts, for help texts and refusals ("a number greater than 0").
const char *SettingsFieldRule(TSettingsField F);

// The texts the dialog opens with.
TSettingsTexts FormatSettingsTexts(const TViewerSettings &S);

// A decimal integer in the 32-bit range as the whole text; leading blanks allowed, nothing after.
bool TryGetInt(const std::string &Text, int32_t &V);
// A decimal number (optional sign, optional exponent) as the whole trimmed text; "," counts as ".".
// Values that overflow to infinity are refused.
bool TryGetFloat(const std::string &Text, double &V);

// Reads one row's text into S when it is accepted. On refusal S is unchanged and Error (when
// given) receives "<label> <text>: must be <rule>".
bool ApplySettingsField(TViewerSettings &S, TSettingsField F, const std::string &Text,
                        std::string *Error = nullptr);

// All rows in order (refused ones keep their value), then a level range that is empty or
// reversed is widened to 10 dB above the minimum. Returns the refusals, one text each.
std::vector<std::string> ApplySettingsTexts(TViewerSettings &S, const TSettingsTexts &Texts);
// The level-range rule alone.
void FixLevelRange(TViewerSettings &S);
