// Sidecar of a recording: the text file of the same name (extension .txt, or .TXT), or the
// JSON metadata of a NAME.sigmf-data recording. Sample rate, centre frequency, the signals,
// and the recording-format hint.
#pragma once

#include "base/uStrUtils.h"

#include <cstdint>
#include <string>
#include <vector>

struct TSignalInfo {
  int32_t Index = -1;      // number in square brackets on the line; -1 when none
  std::string Name;        // name=
  std::string Comment;     // comment= up to a double blank, trimmed
  std::string Modulation;  // modulation=
  double OffsetHz = 0;     // offset_hz=, from the centre frequency
  double Amplitude = 0;    // amplitude=
  bool LoopMode = false;   // loop_mode=
  std::string RepeatStr;   // repeat=, as text
  std::string PauseStr;    // pause=, as text
  std::string DelayStr;    // delay=, as text
  std::string DurationStr; // duration=, as text
  std::string ParamStr;    // everything after params= to the end of the line
};

struct TIQMetadata {
  double SampleRateHz = 0;
  double CenterFreqHz = 0;
  bool HasSampleRate = false; // the last sample_rate_hz line gave a usable rate (IsUsableSampleRate)
  bool HasCenterFreq = false; // any center_freq_hz line was read
  std::vector<TSignalInfo> Signals;
  int32_t SignalCount = 0;
  // Learnt in the same single pass over the file:
  bool Found = false;             // the sidecar exists
  std::string FormatHint;         // as ReadFormatHint gives it
  std::string SampleRateText;     // value of the last sample_rate_hz line as written; empty when none
  std::vector<std::string> Notes; // what was left out for being past the bounds below
  std::string Kind;               // "text", "receiver" or "sigmf" when Found; else empty
  std::string SidecarFile;        // the file read; empty when none
};

// Bounds of what a sidecar may hold; beyond them lines and signals are skipped with a note.
inline constexpr size_t SIDECAR_MAX_LINE = 8192;                    // bytes per line
inline constexpr int32_t SIDECAR_MAX_SIGNALS = 10000;               // signal lines kept
inline constexpr size_t SIDECAR_MAX_SIGNAL_TEXT = 16 * 1024 * 1024; // bytes of signal text kept

// Sidecar path of a recording: the file name's extension replaced by (or, without one,
// extended with) ".txt".
std::string SidecarPath(const std::string &IQPath);

// The sidecar file that exists: SidecarPath, else the same with ".TXT" (case-sensitive file
// systems); empty when neither does.
std::string FindSidecarFile(const std::string &IQPath);

// The file that holds the samples: NAME.sigmf-data for NAME.sigmf-meta, else IQPath itself.
// The viewer, the thumbnail and the tool open their sample source on it.
std::string RecordingDataPath(const std::string &IQPath);

// Parsed sidecar, or the initial record when there is none. The text sidecar comes first; a
// recording named .c16 or .c8 also takes "sample_rate=" and "center_frequency=" lines from
// it (own keys win). Without a text sidecar, a .sigmf-data or .sigmf-meta recording reads its
// JSON metadata; broken JSON counts as no sidecar, with a note. Reads the file once, as a
// stream: memory is bounded by the limits above whatever the file holds. Throws
// EFileStreamError when the sidecar exists but cannot be read.
TIQMetadata LoadMetadata(const std::string &IQPath);

// Trimmed value of the first "output_format=" line; empty when none.
std::string ReadFormatHint(const std::string &IQPath);

// Whole trimmed text as a decimal number with '.', optional sign and exponent; else 0.
double ParseFloat(const std::string &S);

// Line helpers. Positions count from 1; 0 means not found.
int32_t FindToken(const std::string &S, const std::string &Token, int32_t StartPos);
std::string ExtractBetween(const std::string &S, int32_t AStart, int32_t AEnd);
std::string ExtractToken(const std::string &S, const std::string &Key);
int32_t FindDoubleSpace(const std::string &S, int32_t StartPos);
int32_t ExtractIndex(const std::string &S);
bool IsTruthy(const std::string &S);
