// TGLRenderer: draws one complete viewer frame into the current OpenGL context through the
// entry-point table of uWinGL (header, PSD plot and grid, waterfall image, signal overlays,
// time axis, status line) and answers coordinate questions for mouse picking.
// Portable: no window-system calls; the caller makes the context current and swaps buffers.
#pragma once

#include "base/uGlobals.h"
#include "render/uColormap.h"
#include "render/uWinGL.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

// One annotated signal: a marker at its frequency, labelled "#<Index> <Modulation>".
struct TSignalOverlay {
  double FreqHz = 0.0;        // absolute frequency, Hz (centre frequency plus the signal's offset)
  int32_t Index = 0;          // the signal's number, shown in its label
  std::string Modulation;     // shown in its label
  bool InHopperGroup = false; // member of a hopper group: marker without label
};
using TSignalOverlayArray = std::vector<TSignalOverlay>;

// One frequency-hopper group: a bracket over its band and a summary label.
struct THopperGroupOverlay {
  double FLoHz = 0.0; // lowest hop frequency, Hz
  double FHiHz = 0.0; // highest hop frequency, Hz
  int32_t Count = 0;  // number of hops (member signals)
};
using THopperGroupOverlayArray = std::vector<THopperGroupOverlay>;

inline constexpr int32_t MAX_OVERLAY_LABELS = 250; // most signal labels per frame
inline constexpr int32_t DASHLEN = 6;              // play-position line: dash, pixels
inline constexpr int32_t GAPLEN = 4;               // play-position line: gap, pixels

// A marker of the viewer's tools: a line at its frequency, and a cross in the waterfall at its
// time when it has one.
struct TFrameMarker {
  double FreqHz = 0.0;
  bool HasTime = false;
  double TimeSec = 0.0;
};

// Everything one frame shows, for callers that prefer one record to fourteen arguments.
struct TFrameInputs {
  TFloatArray Freqs;  // PSD bin frequencies, Hz, ascending
  TFloatArray PSD_DB; // PSD levels, dB, same length as Freqs
  double MinDb = 0.0, MaxDb = 0.0;
  double FreqLo = 0.0, FreqHi = 0.0; // plot span, Hz
  double CenterFreqHz = 0.0, SampleRateHz = 0.0;
  double PlayPosSec = 0.0, FileDurSec = 0.0, WfLenSec = 0.0;
  TSignalOverlayArray Signals;
  THopperGroupOverlayArray HopperGroups;
  std::string StatusText;
  // Tools of the viewer, drawn over the frame only by Render(const TFrameInputs &); empty: none.
  TFloatArray PeakDb;                                    // peak-hold trace, same bins as PSD_DB
  std::vector<TFrameMarker> Markers;                     // numbered 1, 2, ...
  std::string MarkerText;                                // readout, right-aligned in the status line
  std::vector<std::pair<std::string, std::string>> Help; // help overlay: key and what it does
  // Overview strip (when SetOverviewStrip gave it room): the time window shown, as fractions
  // of the recording (Lo < 0: none), and a text over the strip (progress).
  double OverviewWinLo = -1.0, OverviewWinHi = -1.0;
  std::string OverviewText;
};

// MapDbToColor of uColormap, evaluated in line: the same bytes.
TRGB MapDbToColorInline(float Db, float MinDb, float MaxDb);

// Decimals that write every multiple of Step exactly (0.2 -> 1, 0.025 -> 3, 5 -> 0), at most
// MAX_STEP_DECIMALS: frequency labels carry at least these, so neighbouring lines never read
// the same however narrow the span.
inline constexpr int32_t MAX_STEP_DECIMALS = 6;
int32_t StepDecimals(double Step);

// Integer rectangle in renderer pixels, origin bottom-left, y up.
struct TPixelRect {
  int32_t Left = 0, Bottom = 0, Width = 0, Height = 0;
};

class TGLRenderer {
public:
  // Sets the margins; the layout is computed by the first Resize.
  TGLRenderer();
  // Deletes the waterfall texture (without effect when no context is current any more).
  virtual ~TGLRenderer();
  TGLRenderer(const TGLRenderer &) = delete;
  TGLRenderer &operator=(const TGLRenderer &) = delete;

  // Drawable size in pixels; 0 or less becomes 1. Recomputes the layout.
  void Resize(int32_t AWidth, int32_t AHeight);

  // Converts the display rows (newest first, Rows[r][c] dB of bin c) to colours and uploads
  // them as the waterfall texture: row 0 along the top edge, bin 0 at the left. Rows that
  // are missing or shorter than NFFT keep their previous texels. RowCount <= 0 or NFFT <= 0
  // changes nothing. Needs the renderer's context current.
  // Where the visible bins outnumber the waterfall's pixel columns, the texture holds one texel
  // per column, the strongest level of the bins whose centres fall in that column: filtering
  // thousands of bins down to a few hundred pixels would sample two bins per pixel and drop the
  // rest, narrow carriers included. Otherwise it holds one texel per bin. Likewise, where rows
  // outnumber the waterfall's pixel rows, every texel row shows the strongest level of a run of
  // at least rows / pixel rows neighbouring rows and is drawn unfiltered, so a burst of one row
  // is never skipped. Columns and runs follow the layout of the latest Resize and the band view,
  // so call Resize first.
  void UpdateWaterfallTexture(std::span<const TSingleArray> Rows, int32_t RowCount, int32_t NFFT, float MinDb,
                              float MaxDb);

  // The same image straight from a ring of rows, doing only the work that changed: the rows
  // pushed since the previous call are coloured and uploaded (glTexSubImage2D) into the texture
  // rows of their ring slots, and the drawing shifts the texture vertically so that the newest
  // row is at the top. The texture holds what UpdateWaterfallTexture would give for the ring's
  // display list (newest first), rotated, except that runs of rows pooled in time are cut at
  // fixed ring slots here (so that a push changes only the runs at both ends) and at fixed
  // display rows there.
  //   Ring     the ring's slots; Ring.size() is its capacity. Slots holding rows have NFFT values.
  //   WriteIdx the slot the next row will go to: the newest row is in slot WriteIdx - 1, the
  //            k-th newest in WriteIdx - 1 - k, both modulo Ring.size().
  //   RowCount slots holding rows (at most Ring.size()).
  //   NewRows  rows pushed into the ring since the previous call (0: none); any other change
  //            (a refill, a seek, rows rewritten) is passed as a negative number. A count that
  //            does not fit the previous call's WriteIdx, or a change of size, range or layout,
  //            also rebuilds the whole image, as does every call while the ring is not yet full.
  // RowCount <= 0, NFFT <= 0 or an empty ring change nothing. Needs the renderer's context current.
  void UpdateWaterfallRing(std::span<const TSingleArray> Ring, int32_t WriteIdx, int32_t RowCount,
                           int32_t NewRows, int32_t NFFT, float MinDb, float MaxDb);
  // The same for rows rewritten in place (a window filled piece by piece): only the listed ring
  // slots are coloured and uploaded, where the texture holds this full ring as the previous call
  // left it; otherwise the whole image is rebuilt as UpdateWaterfallRing does for a refill.
  void UpdateWaterfallSlots(std::span<const TSingleArray> Ring, int32_t WriteIdx, int32_t RowCount,
                            std::span<const int32_t> Slots, int32_t NFFT, float MinDb, float MaxDb);

  // The part of the band the waterfall shows, as fractions of the whole span (0 = the lowest
  // frequency, 1 = the highest); clamped into 0..1, an empty or inverted view shows the whole
  // band. Takes effect at the next texture update, which rebuilds the columns when they change.
  void SetBandView(double S0, double S1);
  double BandViewLo() const { return FView0; }
  double BandViewHi() const { return FView1; }
  // Off: one texel per bin whatever the width, minified by the driver's linear filter (the
  // drawing before the columns; kept for comparisons). On by default.
  void SetColumnMaxHold(bool On) { FColumnMaxHold = On; }
  // Columns the texture pools into; 0 while it holds one texel per bin.
  int32_t PooledColumns() const { return FPoolCols; }

  // Draws one frame (no buffer swap). Returns at once when glViewport is not loaded.
  void Render(const TFloatArray &Freqs, const TFloatArray &PSD_DB, double MinDb, double MaxDb, double FreqLo,
              double FreqHi, double CenterFreqHz, double SampleRateHz, double PlayPosSec, double FileDurSec,
              double WfLenSec, const TSignalOverlayArray &Signals,
              const THopperGroupOverlayArray &HopperGroups, const std::string &StatusText);
  void Render(const TFrameInputs &In);

  // Frequency (Hz) under window x, from the span of the latest frame; 0 while the plot has no width.
  double GetFreqAtWindowX(int32_t WinX) const;
  // Whether a point in window client coordinates (y down) lies on the PSD plot or the waterfall.
  bool IsWindowXYInPlot(int32_t WinX, int32_t WinY) const;
  // Hz spanned by PixelTol pixels horizontally; 0 while the plot has no width.
  double GetFreqTolHz(int32_t PixelTol) const;
  // Room for the overview strip under the waterfall: Height pixels (0: none, the usual layout).
  void SetOverviewStrip(int32_t Height);
  int32_t OverviewStripHeight() const { return FStripH; }
  TPixelRect StripRect() const;
  // The strip's picture, RGB top row first (W x H); W or H 0 removes it. Needs the context.
  void UpdateOverviewTexture(const std::vector<uint8_t> &RGB, int32_t W, int32_t H);
  // Fraction of the strip (0..1 across) at window point (y down); false outside the strip.
  bool GetOverviewFracAt(int32_t WinX, int32_t WinY, double &Frac) const;
  // Time (s) at window y (y down) in the waterfall of the latest frame; false outside it.
  bool GetTimeAtWindowY(int32_t WinY, double &TSec) const;

  // Read-only views of the state, for diagnostics and tests.
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  TPixelRect PsdRect() const { return {FPsdLeft, FPsdBottom, FPsdWidth, FPsdHeight}; }
  TPixelRect WfRect() const { return {FWfLeft, FWfBottom, FWfWidth, FWfHeight}; }
  GLuint WaterfallTex() const { return FWaterfallTex; }
  // Texels across: the bins, or the pooled columns (PooledColumns).
  int32_t TexWidth() const { return FTexWidth; }
  int32_t TexHeight() const { return FTexHeight; }
  // RGB staging bytes; each texture row starts at a multiple of 4 bytes (the default unpack
  // alignment), so rows of 3 * TexWidth bytes are padded when TexWidth is not a multiple of 4.
  const std::vector<uint8_t> &TexData() const { return FTexData; }
  int32_t TexRowStride() const { return TexStride(FTexWidth); }
  // Texture row shown at the top of the waterfall (0 after UpdateWaterfallTexture).
  int32_t TexTopRow() const { return FTexTopRow; }

private:
  void CalcLayout();
  void PrepareStaging(int32_t NFFT, int32_t RowCount, bool &NeedNewTex);
  void UploadWhole(bool NeedNewTex);
  void ColourRow(const TSingleArray &Row, int32_t TexRow);
  // Settles the texture's columns for NFFT bins; true when they differ from the previous plan.
  bool PlanColumns(int32_t NFFT);
  // Rows per run for RowCount rows in the waterfall's height (1: every row its own texel row).
  int32_t RowGroupFor(int32_t RowCount) const;
  // Gives every texture row the strongest level of its run and colours it (All: every run; else
  // the runs near the ends and those holding rows given since); rows whose colours changed are
  // added to Dirty.
  void PoolRunsInTime(std::vector<int32_t> &Dirty, bool All);
  void UploadRows(std::vector<int32_t> &Rows);
  void DrawPSDRegion(const TFloatArray &Freqs, const TFloatArray &PSD_DB, double MinDb, double MaxDb,
                     double FreqLo, double FreqHi);
  void DrawGrid(int32_t ALeft, int32_t ABottom, int32_t AWidth, int32_t AHeight, double XMin, double XMax,
                double YMin, double YMax);
  void DrawWaterfallRegion();
  void DrawSignalOverlays(const TSignalOverlayArray &Signals, const THopperGroupOverlayArray &HopperGroups,
                          double FreqLo, double FreqHi);
  void DrawWaterfallTimeAxis(double PlayPosSec, double FileDurSec, double WfLenSec);
  void DrawDashedHLine(int32_t Y, int32_t X1, int32_t X2, float R, float G, float B);
  void DrawTools(const TFrameInputs &In);
  void DrawTextAt(int32_t X, int32_t Y, const std::string &S, float R, float G, float B);
  void DrawChar(int32_t X, int32_t Y, unsigned char Ch, float R, float G, float B);
  void FillRect(float X1, float Y1, float X2, float Y2);
  void StrokeRect(float X1, float Y1, float X2, float Y2); // the outline, as one closed line strip
  static int32_t TexStride(int32_t W) { return (W * 3 + 3) / 4 * 4; }

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  GLuint FWaterfallTex = 0;
  int32_t FTexWidth = 0;
  int32_t FTexHeight = 0;
  std::vector<uint8_t> FTexData;
  int32_t FTexTopRow = 0;
  TDbColorTable FColours;
  // Column plan: FPoolCols columns (0: one texel per bin); column c pools bins FColFirst[c] ..
  // FColFirst[c + 1] - 1. Planned for FPlanNFFT bins, the view and the waterfall width.
  bool FColumnMaxHold = true;
  double FView0 = 0.0, FView1 = 1.0;
  int32_t FPoolCols = 0, FPlanNFFT = 0, FPlanWidth = 0;
  double FPlanView0 = 0.0, FPlanView1 = 1.0;
  bool FPlanMaxHold = true;
  std::vector<int32_t> FColFirst;
  std::vector<float> FPoolRow;
  // What the texture holds after UpdateWaterfallRing; FRingSlots 0 when it holds something else.
  int32_t FRingSlots = 0, FRingWriteIdx = 0;
  // Row plan: where rows outnumber the waterfall's pixel rows, the rows (in time order from the
  // newest) are cut into runs of at least FRowGroup rows and every texel row shows the strongest
  // level of its run, sampled without filtering: a run is taller than a pixel, so every run, and
  // with it a burst of one row, reaches the screen. Runs are cut where ring slots are multiples
  // of FRowGroup (FRunsBySlot) or display rows are, so that a push changes the runs at the two
  // ends only. FTexLevels: each texture row's own levels, FTexHasLevels: 1 where it has
  // any, plus 2 where they came since the last pooling.
  int32_t FRowGroup = 1;
  bool FRunsBySlot = false;
  GLint FTexMinFilter = 0;
  std::vector<float> FTexLevels, FRunMax;
  std::vector<uint8_t> FTexHasLevels, FRunRGB;
  std::vector<int32_t> FDirtyRows;
  std::vector<std::pair<int32_t, int32_t>> FRuns; // display rows [first, end)
  int32_t FPsdLeft = 0, FPsdBottom = 0, FPsdWidth = 0, FPsdHeight = 0;
  int32_t FWfLeft = 0, FWfBottom = 0, FWfWidth = 0, FWfHeight = 0;
  int32_t FMarginLeft = 60;
  int32_t FMarginRight = 8;
  int32_t FMarginTop = 54;
  int32_t FMarginBottom = 20;
  int32_t FGap = 22;       // vertical space between waterfall and PSD
  int32_t FTimeAxisW = 52; // room for the time-axis labels left of the plots
  double FLastFreqLo = 0.0, FLastFreqHi = 0.0;
  double FLastTimeBot = 0.0, FLastTimeTop = 0.0; // time span of the latest waterfall
  int32_t FStripH = 0;
  GLuint FOverviewTex = 0;
};
