// TViewerCore: everything one open viewer knows and does that is not a window: the opened
// recording, the waterfall ring, the PSD, playback, seeking and the settings. It talks to the
// window system only through IViewerPlatform and draws through a TGLRenderer that its owner
// creates (nullptr: nothing is drawn). Portable: never includes <windows.h>.
//
// Entry points meant for window procedures and timers (marked "contained" below) never throw:
// a failure while reading the recording stops playback and is reported in the status line,
// and the viewer stays usable. The pipeline steps under them throw and are public for tests.
#pragma once

#include "base/uGlobals.h"
#include "formats/uIQFormats.h"
#include "formats/uValueSources.h"
#include "metadata/uMetadata.h"
#include "viewer/uBandView.h"
#include "viewer/uSignalModel.h"
#include "viewer/uViewerKeys.h"
#include "viewer/uViewerPlatform.h"
#include "viewer/uViewerSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class TGLRenderer;
class TWindowFill;
class TOverviewJob;
struct TFrameInputs;

inline constexpr int32_t TARGET_ROWS = 600; // displayed waterfall rows CalcWFParams aims at

// Trackbar notification codes, as the slider reports them (low word of the scroll message).
enum TSliderCode : uint16_t {
  scLineUp = 0,
  scLineDown = 1,
  scPageUp = 2,
  scPageDown = 3,
  scThumbPosition = 4,
  scThumbTrack = 5, // TB_THUMBTRACK: the thumb is being dragged
  scTop = 6,
  scBottom = 7,
  scEndTrack = 8,
};

// Play button texts (UTF-8).
inline constexpr const char *PLAY_TEXT = "\xE2\x96\xB6 Play";
inline constexpr const char *STOP_TEXT = "|| Stop";

// What the mouse at one point of the drawing window shows.
struct TMouseInfo {
  bool InPlot = false;  // the point lies on the PSD plot or the waterfall
  std::string Readout;  // frequency under the mouse, "%.6f MHz"; empty outside the plot
  int32_t Pick = -1;    // index of the signal under the mouse, -1 when none (or overlay off)
  std::string InfoText; // that signal's description, empty when none
};

inline constexpr int32_t PICK_TOL_PX = 8; // how near the mouse a signal's marker must be, pixels

// How long a request for a new waterfall window waits for its rows before the frame is drawn
// with those that are in: a small window is then shown whole at once, a large one within the
// frame budget with the rest to follow.
inline constexpr int32_t FIRST_FRAME_WAIT_MS = 40;
// A window of no more samples than this is loaded at once even where the fill runs in the
// background: a few milliseconds, and no frame with half a waterfall.
inline constexpr int64_t SYNC_FILL_SAMPLES = int64_t{1} << 21;
// Least time between two redraws of a window that is still filling.
inline constexpr int32_t FILL_REDRAW_MS = 200;
// The status line's lead while the waterfall is still being filled.
inline constexpr const char *FILLING_TEXT = "Filling waterfall";

class TViewerCore {
public:
  explicit TViewerCore(IViewerPlatform &APlatform);
  ~TViewerCore();
  TViewerCore(const TViewerCore &) = delete;
  TViewerCore &operator=(const TViewerCore &) = delete;

  // --- Opening (failures pass on to the caller, who discards the viewer) ---
  // Opens the recording, reads its sidecar, settles sample rate and centre frequency.
  void LoadFile(const std::string &AFileName);
  // Sets FWF_NFFT, FWFDecimation and FWFHistory from rate, window and overlap.
  void CalcWFParams();
  // The renderer to draw with (owned by the caller; nullptr: no drawing).
  void SetRenderer(TGLRenderer *ARenderer) { FRenderer = ARenderer; }
  TGLRenderer *Renderer() const { return FRenderer; }
  // The rest of the opening: ring, slider range, first waterfall window, first PSD, first frame.
  void ShowFirstFrame();
  // LoadFile and CalcWFParams: the opening every viewer runs before its drawing is set up and
  // ShowFirstFrame follows. With FNeedSamples a recording without one complete sample throws.
  void OpenRecording(const std::string &AFileName);
  // OpenRecording and ShowFirstFrame, for callers that set the renderer beforehand.
  void Open(const std::string &AFileName);
  // Shows another recording in this viewer (flipping through a folder). The file is opened and
  // its sidecar read aside first; only when that succeeds are playback and the drag's settling
  // stopped and the per-file state replaced (source, sidecar, signals, rate, centre, ring,
  // position, slider, texts) and the first frame drawn. Settings, renderer and context stay.
  // False, with the previous file still shown untouched, when the file cannot be opened; a read
  // failure after that is reported in the status line as elsewhere; with FNeedSamples, so is a
  // recording without one complete sample. Never throws.
  bool OpenNext(const std::string &AFileName) noexcept;

  // --- Contained entry points (never throw) ---
  void StartPlay() noexcept;
  void StopPlay() noexcept;
  void TogglePlay() noexcept;
  void ResetPlay() noexcept;
  void StepOnce() noexcept;
  void HandleTimer() noexcept;     // timer 1: one play tick
  void HandleSeekTimer() noexcept; // timer 2: the drag has rested
  void HandleTimerId(int32_t Id) noexcept;
  void HandleSliderChange(uint16_t ScrollCode) noexcept;
  void ToggleOverlay() noexcept;
  // The settings in force, and new ones applied with the recomputation that follows them.
  TViewerSettings GetSettings() const;
  void ApplySettings(const TViewerSettings &S) noexcept;
  void RenderFrame() noexcept;
  void CloseFile() noexcept; // stops playback, timers and the window fill; releases the recording

  // --- The waterfall window's fill ---
  // (Re)starts filling the ring with the rows of TLo .. THi seconds: what opening, heavy seeks,
  // reset, settings and the next file call. With FBackgroundFill the rows come from worker
  // threads and land through DrainWindowFill; a fill in flight is cancelled first, and nothing
  // it computed lands in the new ring. Without it, the window is loaded before the return.
  void StartWindowFill(double TLo, double THi);
  bool WindowFilling() const { return FFill != nullptr; }
  // Rows finished by the workers into the ring, and the frame redrawn (timer TIMER_FILL_ID, or
  // the message the platform's WakeForFill posts).
  void DrainWindowFill() noexcept;
  // Waits for the fill in flight and lands all of it (for callers that need the whole window).
  void FinishWindowFill() noexcept;
  // Cancels every fill and joins its threads.
  void StopWindowFill() noexcept;

  // The last contained failure's status text; empty when none happened since opening.
  const std::string &LastFailure() const { return FLastFailure; }

  // --- Pipeline and seeking steps (may throw on read failures) ---
  void InitWaterfallBuffer();
  void PushWaterfallRows(std::span<const TSingleArray> Rows, int32_t Count);
  int32_t BuildDisplayRows();
  void GetWindowBounds(double &TLo, double &THi) const;
  void LoadWaterfallWindow(double TLo, double THi);
  void UpdatePSD();
  void SeekLight();
  void SeekHeavy();
  void SeekForwardAppend(int64_t OldPos, int64_t NewPos);
  void PoolRowsTo(const TRowBuffer &InRows, int32_t InCount, int32_t K, TRowBuffer &OutRows) const;
  void UpdateSliderRange();
  void SetSliderPos(double Sec);
  double GetSliderPos();
  // What RenderFrame hands the renderer.
  TFrameInputs BuildFrameInputs() const;
  // Readout and picked signal at client point (X, Y) of the drawing window (y down), through
  // the renderer's mapping of its latest frame; nothing without a renderer.
  TMouseInfo MouseAt(int32_t X, int32_t Y) const;
  // The display list of the latest BuildDisplayRows, newest row first.
  const TRowBuffer &DisplayRows() const { return FDisplayRows; }
  // Rows pushed since the display list was last built; -1 after the ring was rebuilt.
  int32_t NewRowsSinceFrame() const { return FNewRowsSinceFrame; }

  // --- View tools: zoom and pan, markers, contrast, help (uViewerView.cpp; contained) ---
  // Wheel steps over the plots at client point (X, Y): positive zooms in around the pointer's
  // frequency, negative out. False when the point is not on the PSD plot or the waterfall.
  bool WheelAt(int32_t X, int32_t Y, int32_t Steps) noexcept;
  // Left button down / pointer moved with it down / up, at client points; Mods as in
  // uViewerKeys. A press and release without a move places a marker (the second one with
  // Shift); a move of a few pixels or more pans the band instead.
  void ButtonDown(int32_t X, int32_t Y, uint8_t Mods) noexcept;
  void ButtonDrag(int32_t X, int32_t Y) noexcept;
  void ButtonUp(int32_t X, int32_t Y) noexcept;
  // Double-click: back to the whole band.
  void DoubleClickAt(int32_t X, int32_t Y) noexcept;
  // A key typed into the viewer: true when the viewer claims it (and has acted on it).
  bool HandleViewerKey(uint32_t Key, uint8_t Mods) noexcept;
  bool DoViewAction(TViewerAction A) noexcept;
  // Frequency span of the whole band (the PSD's, or centre +- half the rate without one).
  void FullSpan(double &Lo, double &Hi) const;
  // Shows LoHz .. HiHz (clipped to the band); false when it lies outside it.
  bool ZoomToHz(double LoHz, double HiHz);
  void ResetZoom() { FBandView.Reset(); }
  // Places marker I (0 or 1) at a frequency, with a time when it lies in the waterfall.
  void SetMarker(int32_t I, double FreqHz, bool HasTime = false, double TimeSec = 0.0);
  void ClearMarkers();
  // Moves the first marker to the strongest PSD bin in view (without a time).
  bool MarkerToPeak();
  // Level range from the levels in view: the 5th percentile of the PSD bins and waterfall
  // levels shown, to 3 dB above the strongest, in whole dB.
  bool AutoLevels();
  void SetPeakHold(bool On);
  // Folds the latest PSD into the peak hold (every frame does; a seek starts it afresh).
  void UpdatePeakHold();
  // Level of marker I: the waterfall row under its time, else the PSD; NaN without data.
  double MarkerLevel(int32_t I) const;
  // The readout of the markers ("M1 ... MHz ... dB", and the deltas between two).
  std::string MarkerReadout() const;

  // The overview strip: shown or hidden (hiding cancels its worker); while its worker runs a
  // timer redraws the frame so that the strip fills in.
  void ToggleOverview() noexcept;
  bool OverviewShown() const { return FOverviewOn; }
  TOverviewJob *OverviewJob() const { return FOverviewJob.get(); }
  // Seeks to the strip's point as the slider does (Track: the pointer is still moving).
  bool SeekFromOverview(int32_t X, int32_t Y, bool Track) noexcept;
  void HandleOverviewTimer() noexcept;

  // Draws the frame and reads it back: RGB, top row first (false without a context).
  bool RenderToRGB(std::vector<uint8_t> &RGB, int32_t &W, int32_t &H);
  // The name a saved frame is offered under: the recording's name and the position.
  std::string ExportName() const;
  // Saves the frame as PNG where the platform's save dialog says; the status line tells.
  bool ExportFrame() noexcept;

  struct TMarker {
    bool Set = false;
    double FreqHz = 0.0;
    bool HasTime = false;
    double TimeSec = 0.0;
  };
  TBandView FBandView;
  TMarker FMarkers[2];
  bool FPeakHoldOn = false;
  TFloatArray FPeakDb;       // max of every PSD since peak hold was switched on or the last seek
  int64_t FPeakLastPos = -1; // play position of the latest PSD folded in
  bool FHelpVisible = false;

  // --- State (read by the window adapter and by tests) ---
  std::string FFileName;
  std::shared_ptr<TIQSource> FIQSource; // shared with the workers of a fill in flight
  TIQMetadata FMeta;
  int64_t FTotalSamples = 0;
  double FDurationSec = 0.0;
  double FSampleRate = DEF_SAMPLE_RATE;
  double FCenterFreq = 0.0;
  bool FHasCenterFreq = false;
  TSettledValues FValues; // rate and centre as settled, with their sources
  int32_t FPSD_NFFT = DEF_PSD_NFFT;
  int32_t FWF_NFFT = DEF_WF_NFFT;
  int32_t FWFHistory = DEF_WF_HISTORY;
  double FWFOverlap = DEF_WF_OVERLAP;
  int32_t FWFDecimation = 1;
  double FWFWindowSec = DEF_PREVIEW_SEC;
  double FMagMinDb = DEF_MAG_MIN_DB;
  double FMagMaxDb = DEF_MAG_MAX_DB;
  double FPlayChunkSec = DEF_PLAY_CHUNK_SEC;
  int32_t FAvgSegments = DEF_AVG_SEGMENTS;
  bool FPlaying = false;
  int64_t FPlayPosition = 0;
  uintptr_t FPlayTimerID = 0, FSeekTimerID = 0;
  bool FSliderUpdating = false;
  TRowBuffer FWaterfallBuf;
  int32_t FWFWriteIdx = 0, FWFRowCount = 0;
  TFloatArray FPSDFreqs, FPSDDb;
  bool FOverlayVisible = true;
  TSignalModel FSignalModel;    // the sidecar's signals and hopper groups, built by LoadFile
  char FDecimalSep = '.';       // decimal separator of the texts that describe signals
  bool FBackgroundFill = false; // fill the window on worker threads (the host's viewer does)
  // Refuse a recording without one complete sample (a host that then shows it otherwise).
  bool FNeedSamples = false;
  int32_t FFirstFrameWaitMs = FIRST_FRAME_WAIT_MS;
  // Called on a worker thread before it reads piece P of a background fill (tests slow or fail
  // the reader through it).
  std::function<void(int64_t P)> FFillBeforePiece;

private:
  template <class Fn> void Contain(const char *What, Fn &&Body) noexcept;
  // Hands the ring to the renderer's texture (needs the context current).
  void UploadWaterfall();
  void ReportFailure(const char *What, const std::string &Detail) noexcept;
  // The view tools' part of a frame: the band view handed to the renderer and the frame's
  // zoomed span, markers, peak trace and help; UpdatePeakHold folds the latest PSD in.
  void ApplyViewTools(TFrameInputs &In) const;
  double ZoomMinWidth() const;
  int32_t FDownX = 0, FDownY = 0, FLastDragX = 0;
  uint8_t FDownMods = 0;
  bool FButtonDown = false, FPanning = false, FStripDrag = false;
  // The markers before the latest click placed one: a double-click's first click is a click
  // too, and the double-click takes its marker back.
  TMarker FMarkersBeforeClick[2];
  bool FClickPlacedMarker = false;
  bool FOverviewOn = false;
  std::unique_ptr<TOverviewJob> FOverviewJob;
  // Before each frame: the peak hold and the overview strip brought up to date.
  void PrepareViewTools();
  void KillSeekTimer();
  void StopPlayNoThrow() noexcept;
  // Reads through the source and notes a read that came back shorter than the recording
  // promised (a file truncated, replaced or removed since it was opened).
  TComplexArray ReadSegment(int64_t Start, int64_t Count);
  // ReadSegment's notes around a read made elsewhere (by a worker thread): before it, and after
  // it with the count asked for and the count that came back.
  void NoteReadStart(int64_t Start);
  void NoteReadEnd(int64_t Start, int64_t Count, int64_t Got);
  // The ring sized FWFHistory x FWF_NFFT and empty, rows of the right length kept as they are;
  // ClearRingFrom zeroes the slots from Slot on.
  void ShapeRing();
  void ClearRingFrom(size_t Slot);
  // LoadWaterfallWindow's rows into the shaped ring, from slot 0 on (FWFRowCount of them).
  void FillWindowRows(double TLo, double THi);
  // Where the rows of TLo .. THi come from: false when the window gives no row.
  struct TWindowPlan {
    int64_t StartSample = 0, ChunkSamples = 0, TotalChunks = 0, PieceChunks = 1;
  };
  bool PlanWindow(double TLo, double THi, TWindowPlan &W) const;
  // The status line, with the filling lead while a fill is in flight.
  void SetStatus(const std::string &S);
  // Lands finished pieces and commits a finished fill; true when the ring changed. Contained:
  // a read failure of the fill is reported, else it is thrown like a synchronous load's.
  bool PumpFill(bool Contained);
  void CommitFill(TWindowFill &Job);
  void RetireFill() noexcept;
  void ReapRetired() noexcept;
  void UpdateFillTimer() noexcept;

  IViewerPlatform &FPlatform;
  TGLRenderer *FRenderer = nullptr;
  TRowBuffer FDisplayRows;
  TRowBuffer FAppendRows; // the rows of the latest forward append, kept for their storage
  int32_t FNewRowsSinceFrame = -1;
  // Ring slots a filling window rewrote since the last frame, while nothing else changed (then
  // only they are coloured again); FSlotsDirty without slots listed means the whole ring.
  std::vector<int32_t> FDirtySlots;
  bool FSlotsDirty = false;
  std::string FReadFault;  // first short read of the running entry point
  double FFaultPosSec = 0; // where it happened
  std::string FLastFailure;
  const char *FContainWhat = "open";                  // the entry point running, for failures found later
  std::unique_ptr<TWindowFill> FFill;                 // the fill in flight
  std::vector<std::unique_ptr<TWindowFill>> FRetired; // cancelled, their threads not yet joined
  const char *FFillWhat = "open";                     // the entry point that started it
  int64_t FFillPushed = 0;                            // rows pushed on top of it since it started
  int64_t FFillRowsIn = 0;                            // its rows landed so far
  bool FFillTimerOn = false;
  bool FFillUndrawn = false; // rows landed since the fill's last redraw
  double FFillDrawnAt = 0;   // platform clock of that redraw
  std::string FStatusBase;   // the status text without the filling lead
  bool FFlipping = false;    // OpenNext's first frame is being drawn
};

// Round half to even, saturated to the target type (NaN gives 0).
int64_t RoundI64(double V);
int32_t RoundI32(double V);
