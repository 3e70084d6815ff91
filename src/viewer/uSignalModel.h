// The viewer's model of the sidecar's signals: frequency-hopper groups, when each signal is on,
// which signal lies under the mouse, the texts that describe a signal (tooltip and legend), and
// the overlay arrays the renderer draws. Portable; numbers in texts take the caller's decimal
// separator (the user's in the plug-in, '.' in the command-line tool).
#pragma once

#include "metadata/uMetadata.h"
#include "render/uGLRenderer.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr double FAR_FUTURE = 1e18;     // end time of a signal that does not end, seconds
inline constexpr double OPEN_END_BOUND = 1e17; // end times at or above this are shown as open

// One frequency-hopper group: band of its members' carriers and how many there are.
struct THopperGroup {
  double FLoHz = 0.0;
  double FHiHz = 0.0;
  int32_t Count = 0;
};

// Reads "Hopper a/b, Folge c/d" (capital H, decimal integers). False for anything else; the
// outputs are 0 or partly filled then.
bool TryParseHopperComment(const std::string &Comment, int32_t &Hop, int32_t &HopCount, int32_t &Folge,
                           int32_t &FolgeCount);
// A time text as seconds: one trailing 's' or 'S' allowed, ',' counts as '.'; else 0.
double ParseSecs(const std::string &S);

// "%.<Decimals>f" of V with '.' replaced by DecSep; a result that rounds to zero carries no sign.
std::string FormatFixed(double V, int32_t Decimals, char DecSep);

class TSignalModel {
public:
  // Copies the signals and builds the hopper groups with carriers at CenterHz + offset.
  void Assign(const std::vector<TSignalInfo> &Signals, double CenterHz);
  // Rebuilds FIsHopperMember and the groups from FSignals.
  void BuildHopperGroups(double CenterHz);

  // Start and end of signal Idx in seconds; E is FAR_FUTURE for loops and missing or zero durations.
  void SignalInterval(int32_t Idx, double &S, double &E) const;
  // Index into FSignals of the signal to show at FreqHz (within TolHz) at time TSec, or -1:
  // one that is on beats a nearer one that is off; then the nearest, then the lower index.
  int32_t PickSignalAt(double CenterHz, double FreqHz, double TolHz, double TSec) const;
  // Six lines joined by CR LF describing signal Idx.
  std::string SignalInfoText(int32_t Idx, double CenterHz, char DecSep) const;
  // Group bounds for the centre frequency in force now: the groups follow a changed centre
  // frequency like the markers of their members do.
  THopperGroup GroupAt(int32_t G, double CenterHz) const;
  // The renderer's overlay arrays; both empty when Visible is false.
  void FillOverlays(double CenterHz, bool Visible, TSignalOverlayArray &Signals,
                    THopperGroupOverlayArray &Groups) const;

  std::vector<TSignalInfo> FSignals;
  int32_t FSignalCount = 0;
  std::vector<bool> FIsHopperMember;
  std::vector<THopperGroup> FHopperGroups;
  int32_t FHopperGroupCount = 0;
  double FGroupsCenterHz = 0.0; // the centre frequency the group bounds were computed with
};

// --- Legend table ---
inline constexpr int32_t LEGEND_COLS = 9;
extern const std::array<const char *, LEGEND_COLS> COLHEADERS;
extern const std::array<int32_t, LEGEND_COLS> BASECOLWIDTHS; // at 96 dots per inch

// "Loop", or repeat ("3x"), pause (" P=") and delay (" D=") where they say something.
std::string SequenceText(const TSignalInfo &S);
// Text of legend column Col (0..8) for signal S.
std::string LegendCellText(const TSignalInfo &S, int32_t Col, double CenterHz, char DecSep);
