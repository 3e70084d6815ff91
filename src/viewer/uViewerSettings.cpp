// Settings values, dialog texts and their validation.
#include "viewer/uViewerSettings.h"

#include "base/uStrUtils.h"
#include "dsp/uFFT.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

struct TFieldInfo {
  const char *Label;
  const char *Key;
  const char *Rule;
};

constexpr TFieldInfo FIELDS[sfCount] = {
    {"Sample Rate (Hz):", "sample_rate", "a number greater than 0"},
    {"Center Freq (Hz):", "center_freq", "a number"},
    {"PSD NFFT:", "psd_nfft", "an integer from 64 to 1048576"},
    {"WF NFFT:", "wf_nfft", "an integer from 64 to 1048576"},
    {"WF History (s):", "window", "a number of at least 1"},
    {"WF Overlap:", "overlap", "a number from 0 up to (not including) 1"},
    {"Min dB:", "min_db", "a number"},
    {"Max dB:", "max_db", "a number"},
    {"Chunk (sec):", "chunk", "a number greater than 0"},
    {"Avg Segments:", "avg", "an integer of at least 1"},
};

bool IsBlank(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

std::string Printf(const char *Fmt, double V) {
  char Buf[512];
  std::snprintf(Buf, sizeof Buf, Fmt, V);
  return Buf;
}

// Digits with an optional '.', then an optional exponent; at least one mantissa digit.
bool IsDecimalNumber(const std::string &S, size_t I) {
  size_t Digits = 0;
  while (I < S.size() && S[I] >= '0' && S[I] <= '9') {
    ++I;
    ++Digits;
  }
  if (I < S.size() && S[I] == '.') {
    ++I;
    while (I < S.size() && S[I] >= '0' && S[I] <= '9') {
      ++I;
      ++Digits;
    }
  }
  if (Digits == 0)
    return false;
  if (I < S.size() && (S[I] == 'e' || S[I] == 'E')) {
    ++I;
    if (I < S.size() && (S[I] == '+' || S[I] == '-'))
      ++I;
    size_t ExpDigits = 0;
    while (I < S.size() && S[I] >= '0' && S[I] <= '9') {
      ++I;
      ++ExpDigits;
    }
    if (ExpDigits == 0)
      return false;
  }
  return I == S.size();
}

} // namespace

const char *SettingsFieldLabel(TSettingsField F) {
  return FIELDS[F].Label;
}
const char *SettingsFieldKey(TSettingsField F) {
  return FIELDS[F].Key;
}
const char *SettingsFieldRule(TSettingsField F) {
  return FIELDS[F].Rule;
}

bool FindSettingsField(const std::string &Key, TSettingsField &F) {
  for (int32_t I = 0; I < sfCount; ++I)
    if (Key == FIELDS[I].Key) {
      F = static_cast<TSettingsField>(I);
      return true;
    }
  return false;
}

TSettingsTexts FormatSettingsTexts(const TViewerSettings &S) {
  TSettingsTexts T;
  T[sfSampleRate] = Printf("%.0f", S.SampleRate);
  T[sfCenterFreq] = Printf("%.0f", S.CenterFreq);
  T[sfPSD_NFFT] = std::to_string(S.PSD_NFFT);
  T[sfWF_NFFT] = std::to_string(S.WF_NFFT);
  // Always with a point, whatever the locale.
  std::string W = Printf("%.1f", S.WFWindowSec);
  for (char &C : W)
    if (C == ',')
      C = '.';
  T[sfWFWindowSec] = W;
  T[sfWFOverlap] = Printf("%.2f", S.WFOverlap);
  T[sfMagMinDb] = Printf("%.1f", S.MagMinDb);
  T[sfMagMaxDb] = Printf("%.1f", S.MagMaxDb);
  T[sfPlayChunkSec] = Printf("%.3f", S.PlayChunkSec);
  T[sfAvgSegments] = std::to_string(S.AvgSegments);
  return T;
}

bool TryGetInt(const std::string &Text, int32_t &V) {
  size_t I = 0;
  while (I < Text.size() && IsBlank(Text[I]))
    ++I;
  bool Neg = false;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
    Neg = Text[I] == '-';
    ++I;
  }
  if (I == Text.size())
    return false;
  int64_t Acc = 0;
  for (; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C < '0' || C > '9')
      return false;
    Acc = Acc * 10 + (C - '0');
    if (Acc > int64_t{INT32_MAX} + 1)
      return false;
  }
  if (Neg)
    Acc = -Acc;
  if (Acc < INT32_MIN || Acc > INT32_MAX)
    return false;
  V = static_cast<int32_t>(Acc);
  return true;
}

bool TryGetFloat(const std::string &Text, double &V) {
  std::string S = TrimBlank(Text);
  for (char &C : S)
    if (C == ',')
      C = '.';
  size_t Start = 0;
  if (!S.empty() && (S[0] == '+' || S[0] == '-'))
    Start = 1;
  if (!IsDecimalNumber(S, Start))
    return false;
  // from_chars ignores the locale; it takes a '-' but no '+'.
  const char *First = S.data() + (S[0] == '+' ? 1 : 0);
  double R = 0.0;
  const auto Res = std::from_chars(First, S.data() + S.size(), R, std::chars_format::general);
  if (Res.ec != std::errc() || Res.ptr != S.data() + S.size() || !std::isfinite(R))
    return false;
  V = R;
  return true;
}

bool ApplySettingsField(TViewerSettings &S, TSettingsField F, const std::string &Text, std::string *Error) {
  double D = 0.0;
  int32_t N = 0;
  bool Ok = false;
  switch (F) {
  case sfSampleRate:
    if ((Ok = TryGetFloat(Text, D) && D > 0))
      S.SampleRate = D;
    break;
  case sfCenterFreq:
    if ((Ok = TryGetFloat(Text, D))) {
      S.CenterFreq = D;
      S.HasCenterFreq = D != 0;
    }
    break;
  case sfPSD_NFFT:
    if ((Ok = TryGetInt(Text, N) && N >= 64 && N <= MAX_SETTINGS_NFFT))
      S.PSD_NFFT = NextPow2(N);
    break;
  case sfWF_NFFT:
    if ((Ok = TryGetInt(Text, N) && N >= 64 && N <= MAX_SETTINGS_NFFT))
      S.WF_NFFT = NextPow2(N);
    break;
  case sfWFWindowSec:
    if ((Ok = TryGetFloat(Text, D) && D >= 1))
      S.WFWindowSec = D;
    break;
  case sfWFOverlap:
    if ((Ok = TryGetFloat(Text, D) && D >= 0 && D < 1))
      S.WFOverlap = D;
    break;
  case sfMagMinDb:
    if ((Ok = TryGetFloat(Text, D)))
      S.MagMinDb = D;
    break;
  case sfMagMaxDb:
    if ((Ok = TryGetFloat(Text, D)))
      S.MagMaxDb = D;
    break;
  case sfPlayChunkSec:
    if ((Ok = TryGetFloat(Text, D) && D > 0))
      S.PlayChunkSec = D;
    break;
  case sfAvgSegments:
    if ((Ok = TryGetInt(Text, N) && N >= 1))
      S.AvgSegments = N;
    break;
  case sfCount:
    break;
  }
  if (!Ok && Error)
    *Error = std::string(FIELDS[F].Label) + " \"" + Text + "\": must be " + FIELDS[F].Rule;
  return Ok;
}

void FixLevelRange(TViewerSettings &S) {
  if (S.MagMinDb >= S.MagMaxDb)
    S.MagMaxDb = S.MagMinDb + 10;
}

std::vector<std::string> ApplySettingsTexts(TViewerSettings &S, const TSettingsTexts &Texts) {
  std::vector<std::string> Refused;
  for (int32_t I = 0; I < sfCount; ++I) {
    std::string Err;
    if (!ApplySettingsField(S, static_cast<TSettingsField>(I), Texts[static_cast<size_t>(I)], &Err))
      Refused.push_back(Err);
  }
  FixLevelRange(S);
  return Refused;
}
