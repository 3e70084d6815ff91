// Reads the few fields of the metadata that the viewer can use and walks over the rest:
// global (datatype, sample rate), the first capture (frequency) and the annotations.
#include "metadata/uSigMF.h"

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "base/uLog.h"
#include "metadata/uJson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

std::string LowerExt(const std::string &Path, size_t &Dot) {
  const size_t Sep = Path.find_last_of("/\\:");
  Dot = Path.find_last_of('.');
  if (Dot == std::string::npos || (Sep != std::string::npos && Dot < Sep))
    return {};
  std::string E = Path.substr(Dot);
  for (char &C : E)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return E;
}

// An annotation as written, converted once rate and centre are known (they may come after it).
struct TRawAnnotation {
  std::string Label, Comment;
  double Start = 0, Count = 0, Lo = 0, Hi = 0;
  bool HasStart = false, HasCount = false, HasLo = false, HasHi = false;
};

std::string Seconds(double V) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%.9gs", V);
  return Buf;
}

// Line breaks and tabs would break the one-line texts of the tooltip and legend.
std::string OneLine(std::string S) {
  for (char &C : S)
    if (static_cast<unsigned char>(C) < 0x20)
      C = ' ';
  return S;
}

struct TSigMFReader {
  explicit TSigMFReader(TJsonReader &AR) : R(AR) {}
  TJsonReader &R;
  std::string DataType;
  bool HasDataType = false;
  double Rate = 0, Center = 0, Channels = 1, HeaderBytes = 0;
  bool HasRate = false, HasCenter = false, LaterHeaders = false;
  std::vector<TRawAnnotation> Anns;
  int64_t Dropped = 0;
  size_t Text = 0;

  bool Number(double &V) {
    TJsonScalar S;
    if (!R.ReadScalar(S) || S.Type != TJsonScalar::jNumber)
      return false;
    V = S.Number;
    return true;
  }
  bool String(std::string &V) {
    TJsonScalar S;
    if (!R.ReadScalar(S) || S.Type != TJsonScalar::jString)
      return false;
    V = std::move(S.String);
    return true;
  }

  void Global() {
    if (R.Peek() != '{')
      return R.Skip();
    R.BeginObject();
    std::string Key;
    while (R.NextMember(Key)) {
      if (Key == "core:datatype")
        HasDataType = String(DataType);
      else if (Key == "core:sample_rate")
        HasRate = Number(Rate);
      else if (Key == "core:num_channels") {
        if (!Number(Channels))
          Channels = 1;
      } else
        R.Skip();
    }
  }

  void Captures() {
    if (R.Peek() != '[')
      return R.Skip();
    R.BeginArray();
    for (bool First = true; R.NextItem(); First = false) {
      if (R.Peek() != '{') {
        R.Skip();
        continue;
      }
      if (!First) {
        LaterCapture();
        continue;
      }
      R.BeginObject();
      std::string Key;
      while (R.NextMember(Key)) {
        if (Key == "core:frequency")
          HasCenter = Number(Center);
        else if (Key == "core:header_bytes") {
          if (!Number(HeaderBytes))
            HeaderBytes = 0;
        } else
          R.Skip();
      }
    }
  }

  // Later captures count only for header bytes between their samples, which are not read.
  void LaterCapture() {
    R.BeginObject();
    std::string Key;
    double Bytes = 0;
    while (R.NextMember(Key))
      if (Key != "core:header_bytes")
        R.Skip();
      else if (Number(Bytes) && Bytes > 0)
        LaterHeaders = true;
  }

  void Annotations() {
    if (R.Peek() != '[')
      return R.Skip();
    R.BeginArray();
    while (R.NextItem()) {
      if (R.Peek() != '{') {
        R.Skip();
        continue;
      }
      TRawAnnotation A;
      R.BeginObject();
      std::string Key;
      while (R.NextMember(Key)) {
        if (Key == "core:label")
          String(A.Label);
        else if (Key == "core:comment")
          String(A.Comment);
        else if (Key == "core:sample_start")
          A.HasStart = Number(A.Start);
        else if (Key == "core:sample_count")
          A.HasCount = Number(A.Count);
        else if (Key == "core:freq_lower_edge")
          A.HasLo = Number(A.Lo);
        else if (Key == "core:freq_upper_edge")
          A.HasHi = Number(A.Hi);
        else
          R.Skip();
      }
      const size_t Bytes = A.Label.size() + A.Comment.size();
      if (static_cast<int32_t>(Anns.size()) >= SIDECAR_MAX_SIGNALS ||
          Text + Bytes > SIDECAR_MAX_SIGNAL_TEXT) {
        ++Dropped;
        continue;
      }
      Text += Bytes;
      Anns.push_back(std::move(A));
    }
  }

  void Document() {
    if (R.Peek() != '{')
      throw EJsonError("the document is not a JSON object");
    R.BeginObject();
    std::string Key;
    while (R.NextMember(Key)) {
      if (Key == "global")
        Global();
      else if (Key == "captures")
        Captures();
      else if (Key == "annotations")
        Annotations();
      else
        R.Skip();
    }
    R.End();
  }
};

TSignalInfo ToSignal(const TRawAnnotation &A, int32_t Index, double Rate, bool HasRate, double Center) {
  TSignalInfo S;
  S.Index = Index;
  S.Name = OneLine(A.Label);
  S.Comment = OneLine(A.Comment);
  // The band's centre; with one edge only, that edge is the best there is.
  if (A.HasLo && A.HasHi)
    S.OffsetHz = (A.Lo + A.Hi) / 2 - Center;
  else if (A.HasLo || A.HasHi)
    S.OffsetHz = (A.HasLo ? A.Lo : A.Hi) - Center;
  if (HasRate) {
    if (A.HasStart && A.Start > 0)
      S.DelayStr = Seconds(A.Start / Rate);
    if (A.HasCount && A.Count > 0)
      S.DurationStr = Seconds(A.Count / Rate);
  }
  return S;
}

} // namespace

bool IsSigMFName(const std::string &Path) {
  size_t Dot = 0;
  const std::string E = LowerExt(Path, Dot);
  return E == ".sigmf-data" || E == ".sigmf-meta";
}

std::string SigMFMetaPath(const std::string &Path) {
  if (!IsSigMFName(Path))
    return {};
  size_t Dot = 0;
  LowerExt(Path, Dot);
  // Keep the case the name is written in: NAME.SIGMF-DATA goes with NAME.SIGMF-META.
  const bool Upper = Path.find_first_of("abcdefghijklmnopqrstuvwxyz", Dot) == std::string::npos;
  return Path.substr(0, Dot) + (Upper ? ".SIGMF-META" : ".sigmf-meta");
}

bool LoadSigMF(const std::string &MetaPath, TIQMetadata &M) {
  TFCloseFile F(MetaPath);
  auto Refuse = [&](const std::string &Why) {
    LogFmt("LoadSigMF: [%s] %s", MetaPath, Why);
    M.Notes.push_back("metadata file left unread: " + Why);
    return false;
  };
  if (F.Size() > SIGMF_MAX_META_BYTES)
    return Refuse("larger than " + std::to_string(SIGMF_MAX_META_BYTES) + " bytes");
  TJsonLimits L;
  L.MaxBytes = SIGMF_MAX_META_BYTES;
  L.MaxString = SIDECAR_MAX_LINE;
  bool First = true;
  TJsonReader R(
      [&](char *Dst, size_t N) {
        size_t Got = F.ReadSome(Dst, N);
        // A UTF-8 byte-order mark is not JSON, but editors write one.
        if (First && Got >= 3 && static_cast<unsigned char>(Dst[0]) == 0xEF &&
            static_cast<unsigned char>(Dst[1]) == 0xBB && static_cast<unsigned char>(Dst[2]) == 0xBF) {
          std::memmove(Dst, Dst + 3, Got - 3);
          Got -= 3;
        }
        First = false;
        return Got;
      },
      L);
  TSigMFReader S(R);
  try {
    S.Document();
  } catch (const EJsonError &E) {
    return Refuse(std::string("not valid JSON (") + E.what() + ")");
  }
  M.Found = true;
  if (S.HasDataType) {
    // The data file's layout travels with the type to the reader: channels interleaved per
    // sample and bytes before the first sample.
    M.FormatHint = "sigmf:" + TrimBlank(S.DataType);
    if (S.Channels >= 2)
      M.FormatHint += ",channels=" + std::to_string(std::llround(std::min(S.Channels, 1e6)));
    if (S.HeaderBytes > 0)
      M.FormatHint += ",header_bytes=" + std::to_string(std::llround(std::min(S.HeaderBytes, 1e18)));
    if (S.LaterHeaders)
      M.Notes.push_back("header bytes between later captures are read as samples");
  }
  if (S.HasRate) {
    M.SampleRateHz = S.Rate;
    M.HasSampleRate = IsUsableSampleRate(S.Rate);
    if (!M.HasSampleRate)
      M.Notes.push_back("core:sample_rate is not a usable rate");
  }
  if (S.HasCenter) {
    M.CenterFreqHz = S.Center;
    M.HasCenterFreq = true;
  }
  const bool RateForTimes = M.HasSampleRate;
  for (size_t I = 0; I < S.Anns.size(); ++I)
    M.Signals.push_back(ToSignal(S.Anns[I], static_cast<int32_t>(I), S.Rate, RateForTimes, S.Center));
  M.SignalCount = static_cast<int32_t>(M.Signals.size());
  if (S.Dropped > 0)
    M.Notes.push_back(std::to_string(S.Dropped) + " annotation" + (S.Dropped == 1 ? "" : "s") +
                      " skipped: at most " + std::to_string(SIDECAR_MAX_SIGNALS) + " signals and " +
                      std::to_string(SIDECAR_MAX_SIGNAL_TEXT / (1024 * 1024)) +
                      " MiB of signal text are kept");
  if (R.StringsCut() > 0)
    M.Notes.push_back(std::to_string(R.StringsCut()) + " text value(s) cut to " +
                      std::to_string(SIDECAR_MAX_LINE) + " bytes");
  return true;
}
