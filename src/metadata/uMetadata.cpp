// Sidecar parser. Plain substring scans per line; malformed values give 0, -1, false or
// empty strings, never an error.
#include "metadata/uMetadata.h"

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "metadata/uSigMF.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// Calls OnLine(Line, Number) for each line of the file, read a block at a time. Lines end
// with LF, CR LF or CR; a UTF-8 byte-order mark at the start is dropped. A line longer than
// SIDECAR_MAX_LINE is passed cut to that length with Overlong set. OnLine returns false to
// stop.
template <class F> void ForEachLine(const std::string &FileName, F &&OnLine) {
  TFCloseFile File(FileName);
  std::vector<char> Buf(64 * 1024);
  std::string Cur;
  bool Overlong = false, Pending = false, AfterCR = false, First = true;
  int64_t Number = 0;
  auto Emit = [&]() {
    ++Number;
    const bool Go = OnLine(Cur, Number, Overlong);
    Cur.clear();
    Overlong = Pending = false;
    return Go;
  };
  for (;;) {
    size_t Got = File.ReadSome(Buf.data(), Buf.size());
    if (Got == 0)
      break;
    size_t I = 0;
    if (First) {
      First = false;
      if (Got >= 3 && static_cast<unsigned char>(Buf[0]) == 0xEF &&
          static_cast<unsigned char>(Buf[1]) == 0xBB && static_cast<unsigned char>(Buf[2]) == 0xBF)
        I = 3;
    }
    for (; I < Got; ++I) {
      const char C = Buf[I];
      if (AfterCR) {
        AfterCR = false;
        if (C == '\n')
          continue;
      }
      if (C == '\r' || C == '\n') {
        AfterCR = C == '\r';
        if (!Emit())
          return;
      } else if (Cur.size() < SIDECAR_MAX_LINE) {
        Cur.push_back(C);
        Pending = true;
      } else {
        Overlong = true;
      }
    }
  }
  if (Pending || Overlong)
    Emit();
}

bool StartsWith(const std::string &S, const char *Prefix) {
  return S.rfind(Prefix, 0) == 0;
}

// Keys of the sidecar that handheld receivers write beside NAME.C16 and NAME.C8.
struct TReceiverKeys {
  bool Keyed = false; // the recording's extension says such a sidecar may be there
  double Rate = 0, Center = 0;
  bool HasRate = false, HasCenter = false;
};

bool IsReceiverRecording(const std::string &IQPath) {
  const size_t Sep = IQPath.find_last_of("/\\:");
  const size_t Dot = IQPath.find_last_of('.');
  if (Dot == std::string::npos || (Sep != std::string::npos && Dot < Sep))
    return false;
  std::string E = IQPath.substr(Dot);
  for (char &C : E)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return E == ".c16" || E == ".c8";
}

void ParseHeaderLine(const std::string &Line, TIQMetadata &M, TReceiverKeys &P) {
  const size_t Eq = Line.find('=');
  if (Eq == std::string::npos)
    return;
  const std::string Key = TrimBlank(Line.substr(0, Eq));
  const std::string Value = TrimBlank(Line.substr(Eq + 1));
  if (Key == "sample_rate_hz") {
    M.SampleRateText = Value;
    M.SampleRateHz = ParseFloat(Value);
    // A rate that is no use (1e308 makes every frequency infinite, 1e-310 every duration)
    // counts as none.
    M.HasSampleRate = IsUsableSampleRate(M.SampleRateHz);
  } else if (Key == "center_freq_hz") {
    M.CenterFreqHz = ParseFloat(Value);
    M.HasCenterFreq = true;
  } else if (P.Keyed && Key == "sample_rate") {
    P.Rate = ParseFloat(Value);
    P.HasRate = IsUsableSampleRate(P.Rate);
  } else if (P.Keyed && Key == "center_frequency") {
    P.Center = ParseFloat(Value);
    P.HasCenter = true;
  }
}

TSignalInfo ParseSignalLine(const std::string &Line) {
  TSignalInfo S;
  S.Index = ExtractIndex(Line);
  S.Modulation = ExtractToken(Line, "modulation=");
  S.Name = ExtractToken(Line, "name=");
  S.RepeatStr = ExtractToken(Line, "repeat=");
  S.PauseStr = ExtractToken(Line, "pause=");
  S.DelayStr = ExtractToken(Line, "delay=");
  S.DurationStr = ExtractToken(Line, "duration=");
  S.LoopMode = IsTruthy(ExtractToken(Line, "loop_mode="));
  S.OffsetHz = ParseFloat(ExtractToken(Line, "offset_hz="));
  S.Amplitude = ParseFloat(ExtractToken(Line, "amplitude="));

  const std::string CommentKey = "comment=";
  const int32_t CPos = FindToken(Line, CommentKey, 1);
  if (CPos > 0) {
    const int32_t Start = CPos + static_cast<int32_t>(CommentKey.size());
    const int32_t End = FindDoubleSpace(Line, Start);
    S.Comment =
        TrimBlank(End > 0 ? ExtractBetween(Line, Start, End) : Line.substr(static_cast<size_t>(Start - 1)));
  }
  const std::string ParamsKey = "params=";
  const int32_t PPos = FindToken(Line, ParamsKey, 1);
  if (PPos > 0)
    S.ParamStr = Line.substr(static_cast<size_t>(PPos - 1) + ParamsKey.size());
  return S;
}

} // namespace

std::string SidecarPath(const std::string &IQPath) {
  // The extension belongs to the last path component only: a dot in a folder name is
  // not an extension.
  const size_t Sep = IQPath.find_last_of("/\\:");
  const size_t NameStart = Sep == std::string::npos ? 0 : Sep + 1;
  const size_t Dot = IQPath.find_last_of('.');
  if (Dot == std::string::npos || Dot < NameStart)
    return IQPath + ".txt";
  return IQPath.substr(0, Dot) + ".txt";
}

double ParseFloat(const std::string &S) {
  const std::string T = TrimBlank(S);
  if (T.empty())
    return 0;
  // Only sign, digits, '.', and an exponent: strtod alone would also take hex, inf, nan
  // and a locale's decimal comma.
  size_t I = 0;
  if (T[I] == '+' || T[I] == '-')
    ++I;
  size_t Digits = 0;
  while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
    ++I;
    ++Digits;
  }
  if (I < T.size() && T[I] == '.') {
    ++I;
    while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
      ++I;
      ++Digits;
    }
  }
  if (Digits == 0)
    return 0;
  if (I < T.size() && (T[I] == 'e' || T[I] == 'E')) {
    ++I;
    if (I < T.size() && (T[I] == '+' || T[I] == '-'))
      ++I;
    size_t ExpDigits = 0;
    while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
      ++I;
      ++ExpDigits;
    }
    if (ExpDigits == 0)
      return 0;
  }
  if (I != T.size())
    return 0;
  // from_chars never looks at the locale: the host process may have set a decimal comma.
  const char *First = T.c_str() + (T[0] == '+' ? 1 : 0);
  double V = 0;
  const auto [End, Ec] = std::from_chars(First, T.c_str() + T.size(), V);
  if (Ec != std::errc() || End != T.c_str() + T.size() || !std::isfinite(V))
    return 0;
  return V;
}

int32_t FindToken(const std::string &S, const std::string &Token, int32_t StartPos) {
  if (StartPos < 1)
    StartPos = 1;
  if (Token.empty() || static_cast<size_t>(StartPos - 1) > S.size())
    return 0;
  const size_t P = S.find(Token, static_cast<size_t>(StartPos - 1));
  return P == std::string::npos ? 0 : static_cast<int32_t>(P + 1);
}

std::string ExtractBetween(const std::string &S, int32_t AStart, int32_t AEnd) {
  if (AStart < 1 || AStart >= AEnd || static_cast<size_t>(AStart) > S.size() + 1)
    return {};
  const size_t From = static_cast<size_t>(AStart - 1);
  const size_t To = std::min(static_cast<size_t>(AEnd - 1), S.size());
  return From < To ? S.substr(From, To - From) : std::string();
}

std::string ExtractToken(const std::string &S, const std::string &Key) {
  const int32_t P = FindToken(S, Key, 1);
  if (P == 0)
    return {};
  const int32_t Start = P + static_cast<int32_t>(Key.size());
  const int32_t Blank = FindToken(S, " ", Start);
  if (Blank == 0)
    return static_cast<size_t>(Start - 1) < S.size() ? S.substr(static_cast<size_t>(Start - 1))
                                                     : std::string();
  return ExtractBetween(S, Start, Blank);
}

int32_t FindDoubleSpace(const std::string &S, int32_t StartPos) {
  if (StartPos < 1)
    StartPos = 1;
  for (size_t J = static_cast<size_t>(StartPos - 1); J + 1 < S.size(); ++J)
    if (S[J] == ' ' && S[J + 1] == ' ')
      return static_cast<int32_t>(J + 1);
  return 0;
}

int32_t ExtractIndex(const std::string &S) {
  const size_t Open = S.find('[');
  if (Open == std::string::npos)
    return -1;
  const size_t Close = S.find(']', Open + 1);
  if (Close == std::string::npos)
    return -1;
  const std::string T = S.substr(Open + 1, Close - Open - 1);
  // A plain decimal integer that fits in 32 bits, optional sign; nothing else around it.
  size_t I = 0;
  bool Neg = false;
  if (I < T.size() && (T[I] == '+' || T[I] == '-')) {
    Neg = T[I] == '-';
    ++I;
  }
  if (I == T.size())
    return -1;
  int64_t V = 0;
  for (; I < T.size(); ++I) {
    if (T[I] < '0' || T[I] > '9')
      return -1;
    V = V * 10 + (T[I] - '0');
    if (V > 2147483648LL)
      return -1;
  }
  if (Neg)
    V = -V;
  if (V > 2147483647LL)
    return -1;
  return static_cast<int32_t>(V);
}

bool IsTruthy(const std::string &S) {
  std::string T = TrimBlank(S);
  for (char &C : T)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return T == "true" || T == "1" || T == "yes";
}

std::string FindSidecarFile(const std::string &IQPath) {
  const std::string Path = SidecarPath(IQPath);
  if (FileExists(Path))
    return Path;
  const std::string Upper = Path.substr(0, Path.size() - 4) + ".TXT";
  return FileExists(Upper) ? Upper : std::string();
}

std::string RecordingDataPath(const std::string &IQPath) {
  if (!IsSigMFName(IQPath))
    return IQPath;
  // The extension's last four letters tell the two apart; the case of the name is kept.
  std::string Tail = IQPath.substr(IQPath.size() - 4);
  const bool Upper = Tail.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos;
  for (char &C : Tail)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  if (Tail == "meta")
    return IQPath.substr(0, IQPath.size() - 4) + (Upper ? "DATA" : "data");
  return IQPath;
}

TIQMetadata LoadMetadata(const std::string &IQPath) {
  TIQMetadata M;
  const std::string Path = FindSidecarFile(IQPath);
  if (Path.empty()) {
    const std::string Meta = SigMFMetaPath(IQPath);
    if (!Meta.empty() && FileExists(Meta) && LoadSigMF(Meta, M)) {
      M.Kind = "sigmf";
      M.SidecarFile = Meta;
    }
    return M;
  }
  M.Found = true;
  M.Kind = "text";
  M.SidecarFile = Path;
  TReceiverKeys P;
  P.Keyed = IsReceiverRecording(IQPath);
  bool InSignals = false, HintSeen = false;
  int64_t Overlong = 0, FirstOverlong = 0, SignalsDropped = 0;
  size_t SignalText = 0;
  ForEachLine(Path, [&](const std::string &Raw, int64_t Number, bool IsOverlong) {
    if (IsOverlong) {
      // Half a line could parse as something else; it is left out whole.
      if (Overlong++ == 0)
        FirstOverlong = Number;
      return true;
    }
    const std::string Line = TrimBlank(Raw);
    if (Line.empty())
      return true;
    if (!HintSeen && StartsWith(Line, "output_format=")) {
      M.FormatHint = TrimBlank(Line.substr(14));
      HintSeen = true;
    }
    if (Line == "signals=") {
      InSignals = true;
    } else if (InSignals) {
      if (Line.find("modulation=") != std::string::npos) {
        if (M.SignalCount >= SIDECAR_MAX_SIGNALS || SignalText + 3 * Line.size() > SIDECAR_MAX_SIGNAL_TEXT) {
          ++SignalsDropped;
          return true;
        }
        // Each field is a piece of the line; comment and params may overlap, hence 3 x.
        SignalText += 3 * Line.size();
        M.Signals.push_back(ParseSignalLine(Line));
        M.SignalCount = static_cast<int32_t>(M.Signals.size());
      }
    } else {
      ParseHeaderLine(Line, M, P);
    }
    return true;
  });
  if (P.HasRate || P.HasCenter)
    M.Kind = "receiver";
  if (P.HasRate && !M.HasSampleRate && M.SampleRateText.empty()) {
    M.SampleRateHz = P.Rate;
    M.HasSampleRate = true;
  }
  if (P.HasCenter && !M.HasCenterFreq) {
    M.CenterFreqHz = P.Center;
    M.HasCenterFreq = true;
  }
  if (Overlong > 0)
    M.Notes.push_back(std::to_string(Overlong) + " line" + (Overlong == 1 ? "" : "s") + " longer than " +
                      std::to_string(SIDECAR_MAX_LINE) + " bytes skipped (the first is line " +
                      std::to_string(FirstOverlong) + ")");
  if (SignalsDropped > 0)
    M.Notes.push_back(std::to_string(SignalsDropped) + " signal line" + (SignalsDropped == 1 ? "" : "s") +
                      " skipped: at most " + std::to_string(SIDECAR_MAX_SIGNALS) + " signals and " +
                      std::to_string(SIDECAR_MAX_SIGNAL_TEXT / (1024 * 1024)) +
                      " MiB of signal text are kept");
  return M;
}

std::string ReadFormatHint(const std::string &IQPath) {
  const std::string Path = FindSidecarFile(IQPath);
  if (Path.empty()) {
    const std::string Meta = SigMFMetaPath(IQPath);
    TIQMetadata M;
    if (!Meta.empty() && FileExists(Meta) && LoadSigMF(Meta, M))
      return M.FormatHint;
    return {};
  }
  std::string Hint;
  ForEachLine(Path, [&](const std::string &Raw, int64_t, bool IsOverlong) {
    if (IsOverlong)
      return true;
    const std::string Line = TrimBlank(Raw);
    if (!StartsWith(Line, "output_format="))
      return true;
    Hint = TrimBlank(Line.substr(14));
    return false;
  });
  return Hint;
}
