#include "viewer/uSignalModel.h"

#include "base/uLog.h"
#include "base/uStrUtils.h"
#include "viewer/uViewerSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const std::array<const char *, LEGEND_COLS> COLHEADERS = {
    "#", "Name", "Mod", "Sequenz", "Freq MHz", "Offset kHz", "Ampl", "Parameter", "Kommentar"};
const std::array<int32_t, LEGEND_COLS> BASECOLWIDTHS = {35, 70, 60, 120, 90, 90, 60, 220, 260};

namespace {

// Text before the first Sep read as an integer into V; Rest gets what follows Sep.
bool TakeIntBefore(const std::string &S, char Sep, int32_t &V, std::string &Rest) {
  const size_t P = S.find(Sep);
  if (P == std::string::npos || !TryGetInt(S.substr(0, P), V))
    return false;
  Rest = S.substr(P + 1);
  return true;
}

std::string Printf(const char *F, int32_t A, const std::string &B) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, F, A);
  return Buf + B;
}

} // namespace

bool TryParseHopperComment(const std::string &Comment, int32_t &Hop, int32_t &HopCount, int32_t &Folge,
                           int32_t &FolgeCount) {
  Hop = HopCount = Folge = FolgeCount = 0;
  std::string S = TrimBlank(Comment);
  if (S.rfind("Hopper ", 0) != 0)
    return false;
  S.erase(0, 7);
  if (!TakeIntBefore(S, '/', Hop, S) || !TakeIntBefore(S, ',', HopCount, S))
    return false;
  S = TrimBlank(S);
  if (S.rfind("Folge ", 0) != 0)
    return false;
  S.erase(0, 6);
  if (!TakeIntBefore(S, '/', Folge, S))
    return false;
  return TryGetInt(TrimBlank(S), FolgeCount);
}

double ParseSecs(const std::string &S) {
  std::string T = TrimBlank(S);
  if (!T.empty() && (T.back() == 's' || T.back() == 'S'))
    T.pop_back();
  std::replace(T.begin(), T.end(), ',', '.');
  return ParseFloat(T);
}

std::string FormatFixed(double V, int32_t Decimals, char DecSep) {
  char Buf[400];
  std::snprintf(Buf, sizeof Buf, "%.*f", static_cast<int>(Decimals), V);
  std::string R = Buf;
  // "-0.0000" says nothing "0.0000" does not.
  if (!R.empty() && R[0] == '-' && R.find_first_of("123456789") == std::string::npos)
    R.erase(0, 1);
  std::replace(R.begin(), R.end(), '.', DecSep);
  return R;
}

// ---------------------------------------------------------------------------------------

void TSignalModel::Assign(const std::vector<TSignalInfo> &Signals, double CenterHz) {
  FSignals = Signals;
  FSignalCount = static_cast<int32_t>(FSignals.size());
  BuildHopperGroups(CenterHz);
}

void TSignalModel::BuildHopperGroups(double CenterHz) {
  FIsHopperMember.assign(FSignals.size(), false);
  FHopperGroups.clear();
  FHopperGroupCount = 0;
  FGroupsCenterHz = CenterHz;

  struct TRun {
    int32_t First, Last;
  };
  std::vector<TRun> Runs;
  bool Open = false;
  for (int32_t I = 0; I < FSignalCount; ++I) {
    int32_t Hop = 0, HopCount = 0, Folge = 0, FolgeCount = 0;
    if (TryParseHopperComment(FSignals[I].Comment, Hop, HopCount, Folge, FolgeCount)) {
      if (!Open || (Hop == 1 && Folge == 1)) {
        Runs.push_back({I, I});
        Open = true;
      } else {
        Runs.back().Last = I;
      }
    } else {
      Open = false;
    }
  }
  for (const TRun &R : Runs) {
    if (R.First >= R.Last)
      continue;
    THopperGroup G;
    G.FLoHz = G.FHiHz = CenterHz + FSignals[R.First].OffsetHz;
    for (int32_t I = R.First; I <= R.Last; ++I) {
      const double F = CenterHz + FSignals[I].OffsetHz;
      G.FLoHz = std::min(G.FLoHz, F);
      G.FHiHz = std::max(G.FHiHz, F);
      FIsHopperMember[I] = true;
    }
    G.Count = R.Last - R.First + 1;
    FHopperGroups.push_back(G);
  }
  FHopperGroupCount = static_cast<int32_t>(FHopperGroups.size());
  LogFmt("BuildHopperGroups: %d group(s) from %d signal(s)", FHopperGroupCount, FSignalCount);
}

void TSignalModel::SignalInterval(int32_t Idx, double &S, double &E) const {
  const TSignalInfo &Sig = FSignals[static_cast<size_t>(Idx)];
  S = ParseSecs(Sig.DelayStr);
  const double D = ParseSecs(Sig.DurationStr);
  if (!Sig.LoopMode && !TrimBlank(Sig.DurationStr).empty() && D != 0)
    E = S + D;
  else
    E = FAR_FUTURE;
}

int32_t TSignalModel::PickSignalAt(double CenterHz, double FreqHz, double TolHz, double TSec) const {
  int32_t Best = -1, ActiveBest = -1;
  double BestD = 0, ActiveBestD = 0;
  for (int32_t I = 0; I < FSignalCount; ++I) {
    const double Dist = std::fabs(CenterHz + FSignals[I].OffsetHz - FreqHz);
    if (!(Dist <= TolHz)) // a NaN distance is never within reach
      continue;
    if (Best == -1 || Dist < BestD) {
      Best = I;
      BestD = Dist;
    }
    double S = 0, E = 0;
    SignalInterval(I, S, E);
    if (S <= TSec && TSec < E && (ActiveBest == -1 || Dist < ActiveBestD)) {
      ActiveBest = I;
      ActiveBestD = Dist;
    }
  }
  return ActiveBest != -1 ? ActiveBest : Best;
}

std::string TSignalModel::SignalInfoText(int32_t Idx, double CenterHz, char DecSep) const {
  const TSignalInfo &Sig = FSignals[static_cast<size_t>(Idx)];
  double S = 0, E = 0;
  SignalInterval(Idx, S, E);
  const std::string StartTxt = FormatFixed(S, 4, DecSep) + "s";
  std::string EndTxt, DurTxt;
  if (Sig.LoopMode) {
    EndTxt = DurTxt = "Loop";
  } else if (E < OPEN_END_BOUND) {
    EndTxt = FormatFixed(E, 4, DecSep) + "s";
    DurTxt = FormatFixed(E - S, 4, DecSep) + "s";
  } else {
    EndTxt = "unbegrenzt";
    DurTxt = "unbegrenzt (bis Ende)";
  }
  const char *NL = "\r\n";
  return Printf("#%d  ", Sig.Index, Sig.Name) + NL + "Mod: " + Sig.Modulation + NL +
         "Freq: " + FormatFixed((CenterHz + Sig.OffsetHz) / 1e6, 4, DecSep) + " MHz" + NL +
         "Start: " + StartTxt + "   Ende: " + EndTxt + "   Dauer: " + DurTxt + NL + "Param: " + Sig.ParamStr +
         NL + "Komm: " + Sig.Comment;
}

THopperGroup TSignalModel::GroupAt(int32_t G, double CenterHz) const {
  THopperGroup R = FHopperGroups[static_cast<size_t>(G)];
  if (CenterHz != FGroupsCenterHz) {
    R.FLoHz += CenterHz - FGroupsCenterHz;
    R.FHiHz += CenterHz - FGroupsCenterHz;
  }
  return R;
}

void TSignalModel::FillOverlays(double CenterHz, bool Visible, TSignalOverlayArray &Signals,
                                THopperGroupOverlayArray &Groups) const {
  Signals.clear();
  Groups.clear();
  if (!Visible)
    return;
  Signals.reserve(FSignals.size());
  for (int32_t I = 0; I < FSignalCount; ++I) {
    const TSignalInfo &Sig = FSignals[I];
    Signals.push_back({CenterHz + Sig.OffsetHz, Sig.Index, Sig.Modulation, FIsHopperMember[I]});
  }
  Groups.reserve(FHopperGroups.size());
  for (int32_t G = 0; G < FHopperGroupCount; ++G) {
    const THopperGroup H = GroupAt(G, CenterHz);
    Groups.push_back({H.FLoHz, H.FHiHz, H.Count});
  }
}

// ---------------------------------------------------------------------------------------
// Legend

std::string SequenceText(const TSignalInfo &S) {
  if (S.LoopMode)
    return "Loop";
  std::string T;
  if (!S.RepeatStr.empty() && S.RepeatStr != "1")
    T = S.RepeatStr + "x";
  if (!S.PauseStr.empty() && ParseSecs(S.PauseStr) != 0)
    T = TrimBlank(T + " P=" + S.PauseStr);
  if (!S.DelayStr.empty() && ParseSecs(S.DelayStr) != 0)
    T = TrimBlank(T + " D=" + S.DelayStr);
  return T;
}

std::string LegendCellText(const TSignalInfo &S, int32_t Col, double CenterHz, char DecSep) {
  switch (Col) {
  case 0:
    return std::to_string(S.Index);
  case 1:
    return S.Name;
  case 2:
    return S.Modulation;
  case 3:
    return SequenceText(S);
  case 4:
    return FormatFixed((CenterHz + S.OffsetHz) / 1e6, 4, DecSep);
  case 5: {
    // Zero and positive values carry '+', negative ones '-', decided on the shown digits.
    std::string T = FormatFixed(S.OffsetHz / 1000.0, 1, DecSep);
    return T[0] == '-' || !std::isfinite(S.OffsetHz) ? T : "+" + T;
  }
  case 6:
    return FormatFixed(S.Amplitude, 4, DecSep);
  case 7:
    return S.ParamStr;
  case 8:
    return S.Comment;
  default:
    return {};
  }
}
