// Where a recording's sample rate and centre frequency come from. The viewer, the thumbnail
// and the tool all settle them here, so that they agree and can say which source won.
#pragma once

#include "formats/uFileNames.h"
#include "formats/uIQFormats.h"

#include <string>

enum class TValueSource : uint8_t {
  Sidecar,       // the text sidecar
  SigMF,         // NAME.sigmf-meta
  SdrIqHeader,   // the .sdriq header
  Vita49Context, // a VITA-49 context packet
  WavFmt,        // the WAV fmt chunk (rate)
  WavAuxi,       // the WAV auxi chunk (centre)
  FileName,      // the recording's file name
  Default,       // DEF_SAMPLE_RATE (rate only)
  None,          // no centre known
};

// As `zembrola info` and the information box name it: "sidecar", "sigmf", "sdriq header",
// "vita-49 context", "wav fmt", "wav auxi", "file name", "default", "none".
const char *ValueSourceName(TValueSource S);

// What the sidecar (text or SigMF) said; filled by the caller from its metadata.
struct TSidecarValues {
  bool IsSigMF = false;
  bool HasSampleRate = false;
  double SampleRateHz = 0;
  bool HasCenterFreq = false;
  double CenterFreqHz = 0;
};

// The sidecar record's values (TIQMetadata, which this floor cannot include by name).
template <class TMeta> TSidecarValues SidecarValuesOf(const TMeta &M) {
  return {M.Kind == "sigmf", M.HasSampleRate, M.SampleRateHz, M.HasCenterFreq, M.CenterFreqHz};
}

struct TSettledValues {
  double SampleRateHz = DEF_SAMPLE_RATE;
  TValueSource RateSource = TValueSource::Default;
  bool HasCenterFreq = false;
  double CenterFreqHz = 0;
  TValueSource CenterSource = TValueSource::None;
};

// The sidecar wins, then the recording's own header, context packet or chunk, then the file's
// name; a rate falls back to DEF_SAMPLE_RATE. Only usable rates (IsUsableSampleRate) and
// finite centres count.
TSettledValues SettleRateAndCentre(const TSidecarValues &Sidecar, const TIQFormatInfo &Info,
                                   const TFileNameInfo &Named);
