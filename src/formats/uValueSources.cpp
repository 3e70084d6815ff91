#include "formats/uValueSources.h"

#include <cmath>

const char *ValueSourceName(TValueSource S) {
  switch (S) {
  case TValueSource::Sidecar:
    return "sidecar";
  case TValueSource::SigMF:
    return "sigmf";
  case TValueSource::SdrIqHeader:
    return "sdriq header";
  case TValueSource::Vita49Context:
    return "vita-49 context";
  case TValueSource::WavFmt:
    return "wav fmt";
  case TValueSource::WavAuxi:
    return "wav auxi";
  case TValueSource::FileName:
    return "file name";
  case TValueSource::Default:
    return "default";
  case TValueSource::None:
    break;
  }
  return "none";
}

namespace {

// Which part of the recording itself gave a detected value; only these kinds detect any.
TValueSource OwnSource(TIQKind Kind, bool Centre) {
  switch (Kind) {
  case iqkSdrIq:
    return TValueSource::SdrIqHeader;
  case iqkVita49:
    return TValueSource::Vita49Context;
  case iqkWav:
    return Centre ? TValueSource::WavAuxi : TValueSource::WavFmt;
  default:
    return TValueSource::None;
  }
}

} // namespace

TSettledValues SettleRateAndCentre(const TSidecarValues &Sidecar, const TIQFormatInfo &Info,
                                   const TFileNameInfo &Named) {
  TSettledValues V;
  const TValueSource FromSidecar = Sidecar.IsSigMF ? TValueSource::SigMF : TValueSource::Sidecar;
  const TValueSource Own = OwnSource(Info.Kind, false);
  if (Sidecar.HasSampleRate && IsUsableSampleRate(Sidecar.SampleRateHz)) {
    V.SampleRateHz = Sidecar.SampleRateHz;
    V.RateSource = FromSidecar;
  } else if (Info.HasDetectedSampleRate && IsUsableSampleRate(Info.DetectedSampleRate) &&
             Own != TValueSource::None) {
    V.SampleRateHz = Info.DetectedSampleRate;
    V.RateSource = Own;
  } else if (Named.HasSampleRate && IsUsableSampleRate(Named.SampleRateHz)) {
    V.SampleRateHz = Named.SampleRateHz;
    V.RateSource = TValueSource::FileName;
  }
  const TValueSource OwnCentre = OwnSource(Info.Kind, true);
  if (Sidecar.HasCenterFreq && std::isfinite(Sidecar.CenterFreqHz)) {
    V.CenterFreqHz = Sidecar.CenterFreqHz;
    V.CenterSource = FromSidecar;
  } else if (Info.HasDetectedCenterFreq && std::isfinite(Info.DetectedCenterFreqHz) &&
             OwnCentre != TValueSource::None) {
    V.CenterFreqHz = Info.DetectedCenterFreqHz;
    V.CenterSource = OwnCentre;
  } else if (Named.HasCenterFreq && std::isfinite(Named.CenterFreqHz)) {
    V.CenterFreqHz = Named.CenterFreqHz;
    V.CenterSource = TValueSource::FileName;
  }
  V.HasCenterFreq = V.CenterSource != TValueSource::None;
  return V;
}
