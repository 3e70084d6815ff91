// Recording-tool file-name conventions. Each rule asks for the whole shape of the name, so
// that an ordinary name with a number in it is never taken for one of them.
#include "formats/uFileNames.h"

#include "base/uGlobals.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace {

std::string Lower(std::string S) {
  for (char &C : S)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return S;
}

bool IsDigits(const std::string &S, size_t Count) {
  if (S.size() != Count)
    return false;
  for (char C : S)
    if (C < '0' || C > '9')
      return false;
  return true;
}

// Digits with at most one '.', nothing else; false for anything else or a value that is not
// finite and positive.
bool ParsePositive(const std::string &S, double &V) {
  if (S.empty() || S.size() > 32)
    return false;
  size_t Dots = 0, Digits = 0;
  for (char C : S) {
    if (C == '.')
      ++Dots;
    else if (C >= '0' && C <= '9')
      ++Digits;
    else
      return false;
  }
  if (Dots > 1 || Digits == 0)
    return false;
  const auto [End, Ec] = std::from_chars(S.data(), S.data() + S.size(), V);
  return Ec == std::errc() && End == S.data() + S.size() && std::isfinite(V) && V > 0;
}

// A number with a unit suffix: none, k, M or G (the caller says which suffixes it allows and
// whether a trailing "Hz" is wanted).
bool ParseScaled(std::string S, bool WantHz, bool AllowBare, double &V) {
  if (WantHz) {
    if (S.size() < 3 || S.compare(S.size() - 2, 2, "Hz") != 0)
      return false;
    S.resize(S.size() - 2);
  }
  double Scale = 1;
  if (!S.empty()) {
    switch (S.back()) {
    case 'k':
    case 'K':
      Scale = 1e3;
      break;
    case 'M':
      Scale = 1e6;
      break;
    case 'G':
      Scale = 1e9;
      break;
    default:
      if (!AllowBare)
        return false;
    }
    if (Scale != 1)
      S.pop_back();
  }
  if (!ParsePositive(S, V))
    return false;
  V = std::nearbyint(V * Scale * 1e3) / 1e3; // 433.92M is 433920000 Hz exactly, not 433919999.99
  return true;
}

std::vector<std::string> Split(const std::string &S, char Sep) {
  std::vector<std::string> R(1);
  for (char C : S) {
    if (C == Sep)
      R.emplace_back();
    else
      R.back().push_back(C);
  }
  return R;
}

void SetRate(TFileNameInfo &I, double V) {
  if (IsUsableSampleRate(V)) {
    I.SampleRateHz = V;
    I.HasSampleRate = true;
  }
}

void SetCenter(TFileNameInfo &I, double V) {
  I.CenterFreqHz = V;
  I.HasCenterFreq = true;
}

// Captures named like g001_433.92M_250k.cu8: the last two fields of the stem are the centre
// and the rate, each with its unit letter.
bool FreqRate(const std::vector<std::string> &F, const std::string &Ext, TFileNameInfo &I) {
  if (F.size() < 3 || !(Ext == "cu8" || Ext == "cs8" || Ext == "cs16" || Ext == "cf32"))
    return false;
  double Freq = 0, Rate = 0;
  if (!ParseScaled(F[F.size() - 2], false, false, Freq) || !ParseScaled(F.back(), false, false, Rate))
    return false;
  SetCenter(I, Freq);
  SetRate(I, Rate);
  I.Convention = "freq_rate";
  return true;
}

// gqrx_20140531_112235_433920000_2000000_fc.raw: complex float32, rate and centre in Hz.
bool Gqrx(const std::vector<std::string> &F, const std::string &Ext, TFileNameInfo &I) {
  if (Ext != "raw" || F.size() != 6 || Lower(F[0]) != "gqrx" || !IsDigits(F[1], 8) || !IsDigits(F[2], 6) ||
      F[5] != "fc")
    return false;
  double Freq = 0, Rate = 0;
  if (!ParsePositive(F[3], Freq) || !ParsePositive(F[4], Rate))
    return false;
  SetCenter(I, Freq);
  SetRate(I, Rate);
  I.FormatHint = "gqrx";
  I.HasFormatHint = true;
  I.Convention = "gqrx";
  return true;
}

// baseband_100000000Hz_12-34-56_01-02-2023.wav: the field after the prefix is the centre.
bool Baseband(const std::vector<std::string> &F, TFileNameInfo &I) {
  double Freq = 0;
  if (F.size() < 2 || Lower(F[0]) != "baseband" || !ParseScaled(F[1], true, true, Freq))
    return false;
  SetCenter(I, Freq);
  I.Convention = "baseband";
  return true;
}

// rec_20200101_120000Z_100000000Hz_IQ.wav, rec_20200101_120000Z_7100kHz_RF.wav: the
// field before the closing IQ or RF is the centre.
bool IqRfWav(const std::vector<std::string> &F, const std::string &Ext, TFileNameInfo &I) {
  if (Ext != "wav" || F.size() < 3 || !(F.back() == "IQ" || F.back() == "RF"))
    return false;
  double Freq = 0;
  if (!ParseScaled(F[F.size() - 2], true, true, Freq))
    return false;
  SetCenter(I, Freq);
  I.Convention = F.back() == "IQ" ? "IQ wav" : "RF wav";
  return true;
}

} // namespace

TFileNameInfo ParseRecordingFileName(const std::string &FileName) {
  TFileNameInfo I;
  const size_t Sep = FileName.find_last_of("/\\:");
  const std::string Name = Sep == std::string::npos ? FileName : FileName.substr(Sep + 1);
  const size_t Dot = Name.find_last_of('.');
  if (Dot == std::string::npos || Dot == 0)
    return I;
  const std::string Ext = Lower(Name.substr(Dot + 1));
  // The dots inside the frequencies belong to the fields: split the stem on '_' only.
  const std::vector<std::string> F = Split(Name.substr(0, Dot), '_');
  if (Gqrx(F, Ext, I) || Baseband(F, I) || IqRfWav(F, Ext, I) || FreqRate(F, Ext, I))
    return I;
  return TFileNameInfo{};
}
