// The viewer's view tools: frequency zoom and pan, two markers with their readout, automatic
// levels, a peak-hold trace and the key help. They only change what the next frame shows: no
// FFT is run for them, the renderer redraws the texture and PSD it already has.
#include "base/uStrUtils.h"
#include "formats/uFileNames.h"
#include "render/uGLRenderer.h"
#include "render/uPngEncode.h"
#include "render/uWinGL.h"
#include "viewer/uOverview.h"
#include "viewer/uViewerCore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// Pixels a pressed pointer must move before a click becomes a drag.
constexpr int32_t DRAG_START_PX = 3;
// Auto levels: the noise percentile and the headroom above the strongest level.
constexpr double AUTO_NOISE_PERCENTILE = 0.05;
constexpr double AUTO_HEADROOM_DB = 3.0;
// Most waterfall levels auto levels looks at (the ring is sampled evenly beyond that).
constexpr size_t AUTO_MAX_LEVELS = 1 << 18;

std::string Fixed(double V, int Dec) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%.*f", Dec, V);
  return Buf;
}

} // namespace

void TViewerCore::FullSpan(double &Lo, double &Hi) const {
  if (FPSDFreqs.size() >= 2) {
    Lo = FPSDFreqs.front();
    Hi = FPSDFreqs.back();
    return;
  }
  Lo = -FSampleRate * 0.5;
  Hi = FSampleRate * 0.5;
  if (FHasCenterFreq) {
    Lo += FCenterFreq;
    Hi += FCenterFreq;
  }
}

double TViewerCore::ZoomMinWidth() const {
  return static_cast<double>(ZOOM_MIN_BINS) / std::max({FPSD_NFFT, FWF_NFFT, ZOOM_MIN_BINS});
}

bool TViewerCore::ZoomToHz(double LoHz, double HiHz) {
  double Lo = 0, Hi = 0;
  FullSpan(Lo, Hi);
  return FBandView.SetHz(Lo, Hi, LoHz, HiHz, ZoomMinWidth());
}

void TViewerCore::ApplyViewTools(TFrameInputs &In) const {
  if (FRenderer)
    FRenderer->SetBandView(FBandView.S0, FBandView.S1);
  if (FBandView.Zoomed()) {
    const double Lo = In.FreqLo, Hi = In.FreqHi;
    In.FreqLo = FBandView.LoHz(Lo, Hi);
    In.FreqHi = FBandView.HiHz(Lo, Hi);
  }
  if (FPeakHoldOn && FPeakDb.size() == In.Freqs.size())
    In.PeakDb = FPeakDb;
  for (const TMarker &M : FMarkers)
    if (M.Set)
      In.Markers.push_back({M.FreqHz, M.HasTime, M.TimeSec});
  In.MarkerText = MarkerReadout();
  if (FOverviewOn && FDurationSec > 0) {
    double TLo = 0, THi = 0;
    GetWindowBounds(TLo, THi);
    In.OverviewWinLo = TLo / FDurationSec;
    In.OverviewWinHi = THi / FDurationSec;
    double Done = 0;
    if (FOverviewJob && !FOverviewJob->Finished()) {
      FOverviewJob->Snapshot(Done);
      In.OverviewText = "Overview " + std::to_string(static_cast<int>(Done * 100)) + "%";
    } else if (FOverviewJob && !FOverviewJob->Failure().empty()) {
      In.OverviewText = "Overview failed: " + FOverviewJob->Failure();
    }
  }
  if (FHelpVisible)
    for (const TViewerKey &K : ViewerKeys())
      In.Help.emplace_back(K.KeyText, K.Description);
}

void TViewerCore::UpdatePeakHold() {
  if (!FPeakHoldOn) {
    FPeakDb.clear();
    return;
  }
  // A seek starts the hold afresh: any move other than playing or stepping forward by about
  // one chunk.
  const int64_t Chunk = std::max<int64_t>(RoundI64(FSampleRate * FPlayChunkSec), FPSD_NFFT);
  const int64_t Moved = FPlayPosition - FPeakLastPos;
  if (FPeakLastPos >= 0 && (Moved < 0 || Moved > 2 * Chunk))
    FPeakDb.clear();
  FPeakLastPos = FPlayPosition;
  if (FPeakDb.size() != FPSDDb.size()) {
    FPeakDb = FPSDDb;
    return;
  }
  for (size_t I = 0; I < FPSDDb.size(); ++I)
    FPeakDb[I] = std::max(FPeakDb[I], FPSDDb[I]);
}

void TViewerCore::SetPeakHold(bool On) {
  FPeakHoldOn = On;
  FPeakDb.clear();
  FPeakLastPos = -1;
  if (On)
    UpdatePeakHold();
}

void TViewerCore::SetMarker(int32_t I, double FreqHz, bool HasTime, double TimeSec) {
  if (I < 0 || I > 1 || !std::isfinite(FreqHz))
    return;
  FMarkers[I] = {true, FreqHz, HasTime && std::isfinite(TimeSec), TimeSec};
}

void TViewerCore::ClearMarkers() {
  FMarkers[0] = FMarkers[1] = TMarker{};
}

double TViewerCore::MarkerLevel(int32_t I) const {
  const double NaN = std::numeric_limits<double>::quiet_NaN();
  if (I < 0 || I > 1 || !FMarkers[I].Set)
    return NaN;
  const TMarker &M = FMarkers[I];
  double Lo = 0, Hi = 0;
  FullSpan(Lo, Hi);
  const double Span = Hi - Lo;
  if (M.HasTime && FWFRowCount > 0 && FWF_NFFT > 0 && Span > 0) {
    // The waterfall row shown at that time: the rows fill the window from its start, newest on
    // top, so the k-th newest lies k rows below the top.
    double TLo = 0, THi = 0;
    GetWindowBounds(TLo, THi);
    const int32_t N = std::min<int32_t>(FWFRowCount, static_cast<int32_t>(FWaterfallBuf.size()));
    if (THi > TLo && N > 0) {
      const double Rel = std::clamp((THi - M.TimeSec) / (THi - TLo), 0.0, 1.0);
      const int32_t K = std::min(static_cast<int32_t>(Rel * N), N - 1);
      const int32_t H = static_cast<int32_t>(FWaterfallBuf.size());
      const TSingleArray &Row = FWaterfallBuf[static_cast<size_t>(((FWFWriteIdx - 1 - K) % H + H) % H)];
      const double Bin = (M.FreqHz - Lo) / Span * FWF_NFFT;
      if (!Row.empty() && Bin >= 0 && Bin < static_cast<double>(Row.size()))
        return Row[static_cast<size_t>(Bin)];
    }
  }
  if (FPSDFreqs.size() < 2 || FPSDDb.size() != FPSDFreqs.size())
    return NaN;
  const auto It = std::lower_bound(FPSDFreqs.begin(), FPSDFreqs.end(), M.FreqHz);
  size_t K = static_cast<size_t>(It - FPSDFreqs.begin());
  if (K == FPSDFreqs.size() || (K > 0 && M.FreqHz - FPSDFreqs[K - 1] < FPSDFreqs[K] - M.FreqHz))
    K = K == 0 ? 0 : K - 1;
  return FPSDDb[K];
}

std::string TViewerCore::MarkerReadout() const {
  std::string S;
  for (int32_t I = 0; I < 2; ++I) {
    if (!FMarkers[I].Set)
      continue;
    const double L = MarkerLevel(I);
    S +=
        (S.empty() ? "M" : "  M") + std::to_string(I + 1) + " " + Fixed(FMarkers[I].FreqHz / 1e6, 6) + " MHz";
    if (FMarkers[I].HasTime)
      S += " " + Fixed(FMarkers[I].TimeSec, 3) + "s";
    if (std::isfinite(L))
      S += " " + Fixed(L, 1) + " dB";
  }
  if (FMarkers[0].Set && FMarkers[1].Set) {
    S += "  df " + Fixed((FMarkers[1].FreqHz - FMarkers[0].FreqHz) / 1e3, 3) + " kHz";
    if (FMarkers[0].HasTime && FMarkers[1].HasTime)
      S += " dt " + Fixed(FMarkers[1].TimeSec - FMarkers[0].TimeSec, 3) + "s";
    const double D = MarkerLevel(1) - MarkerLevel(0);
    if (std::isfinite(D))
      S += " dL " + Fixed(D, 1) + " dB";
  }
  return S;
}

bool TViewerCore::MarkerToPeak() {
  if (FPSDFreqs.size() < 2 || FPSDDb.size() != FPSDFreqs.size())
    return false;
  double Lo = 0, Hi = 0;
  FullSpan(Lo, Hi);
  const double VLo = FBandView.LoHz(Lo, Hi), VHi = FBandView.HiHz(Lo, Hi);
  size_t Best = FPSDDb.size();
  for (size_t I = 0; I < FPSDDb.size(); ++I)
    if (FPSDFreqs[I] >= VLo && FPSDFreqs[I] <= VHi && (Best == FPSDDb.size() || FPSDDb[I] > FPSDDb[Best]))
      Best = I;
  if (Best == FPSDDb.size())
    return false;
  SetMarker(0, FPSDFreqs[Best]);
  return true;
}

bool TViewerCore::AutoLevels() {
  double Lo = 0, Hi = 0;
  FullSpan(Lo, Hi);
  const double VLo = FBandView.LoHz(Lo, Hi), VHi = FBandView.HiHz(Lo, Hi);
  std::vector<double> Levels;
  double Peak = -std::numeric_limits<double>::infinity();
  for (size_t I = 0; I < FPSDDb.size() && I < FPSDFreqs.size(); ++I)
    if (FPSDFreqs[I] >= VLo && FPSDFreqs[I] <= VHi && std::isfinite(FPSDDb[I])) {
      Levels.push_back(FPSDDb[I]);
      Peak = std::max(Peak, FPSDDb[I]);
    }
  // The waterfall's bins in view: every one for the strongest, an even sample of them for the
  // percentile. The rows that hold data are the FWFRowCount slots before the write index.
  const int32_t H = static_cast<int32_t>(FWaterfallBuf.size());
  const int32_t N = std::min<int32_t>(FWFRowCount, H);
  if (N > 0 && FWF_NFFT > 0) {
    const size_t B0 = static_cast<size_t>(std::clamp(FBandView.S0 * FWF_NFFT, 0.0, double(FWF_NFFT)));
    const size_t B1 = static_cast<size_t>(std::clamp(FBandView.S1 * FWF_NFFT, 0.0, double(FWF_NFFT)));
    const size_t Every = std::max<size_t>(1, (B1 - B0) * static_cast<size_t>(N) / AUTO_MAX_LEVELS);
    size_t Count = 0;
    for (int32_t K = 0; K < N; ++K) {
      const TSingleArray &Row = FWaterfallBuf[static_cast<size_t>(((FWFWriteIdx - 1 - K) % H + H) % H)];
      for (size_t B = B0; B < B1 && B < Row.size(); ++B, ++Count) {
        if (!std::isfinite(Row[B]))
          continue;
        Peak = std::max<double>(Peak, Row[B]);
        if (Count % Every == 0)
          Levels.push_back(Row[B]);
      }
    }
  }
  if (Levels.empty())
    return false;
  const auto Nth = Levels.begin() + static_cast<ptrdiff_t>(AUTO_NOISE_PERCENTILE * (Levels.size() - 1));
  std::nth_element(Levels.begin(), Nth, Levels.end());
  const double Noise = *Nth;
  TViewerSettings S = GetSettings();
  S.MagMinDb = std::floor(Noise);
  S.MagMaxDb = std::ceil(Peak + AUTO_HEADROOM_DB);
  FixLevelRange(S);
  FMagMinDb = S.MagMinDb;
  FMagMaxDb = S.MagMaxDb;
  return true;
}

void TViewerCore::PrepareViewTools() {
  UpdatePeakHold();
  FRenderer->SetOverviewStrip(FOverviewOn ? OVERVIEW_STRIP_H : 0);
  if (!FOverviewOn)
    return;
  const TPixelRect S = FRenderer->StripRect();
  if (!FOverviewJob && S.Width > 0 && S.Height > 0 && FIQSource) {
    // The same file and format hint the viewer opened.
    const std::string Hint =
        FMeta.FormatHint.empty() ? ParseRecordingFileName(FFileName).FormatHint : FMeta.FormatHint;
    FOverviewJob = std::make_unique<TOverviewJob>(FIQSource->GetFileName(), Hint, S.Width, S.Height);
    FPlatform.StartTimer(TIMER_OVERVIEW_ID, TIMER_OVERVIEW_MS);
  }
  if (FOverviewJob) {
    double Done = 0;
    const TOverviewImage Img = FOverviewJob->Snapshot(Done);
    float Lo = 0, Hi = 0;
    OverviewLevels(Img, Lo, Hi);
    FRenderer->UpdateOverviewTexture(OverviewRGB(Img, Lo, Hi), Img.Width, Img.Height);
  }
}

void TViewerCore::ToggleOverview() noexcept {
  FOverviewOn = !FOverviewOn;
  if (!FOverviewOn) {
    FOverviewJob.reset();
    try {
      FPlatform.KillTimer(TIMER_OVERVIEW_ID);
    } catch (...) {
    }
  }
  RenderFrame();
}

void TViewerCore::HandleOverviewTimer() noexcept {
  const bool Done = !FOverviewJob || FOverviewJob->Finished();
  RenderFrame();
  if (Done) {
    try {
      FPlatform.KillTimer(TIMER_OVERVIEW_ID);
    } catch (...) {
    }
  }
}

bool TViewerCore::SeekFromOverview(int32_t X, int32_t Y, bool Track) noexcept {
  double Frac = 0;
  if (!FOverviewOn || !FRenderer || !FRenderer->GetOverviewFracAt(X, Y, Frac))
    return false;
  try {
    SetSliderPos(std::clamp(Frac, 0.0, 1.0) * FDurationSec);
  } catch (...) {
  }
  HandleSliderChange(Track ? scThumbTrack : scThumbPosition);
  return true;
}

bool TViewerCore::RenderToRGB(std::vector<uint8_t> &RGB, int32_t &W, int32_t &H) {
  if (!FRenderer || !FPlatform.MakeCurrent() || !GL.glReadPixels || !GL.glFinish)
    return false;
  FPlatform.DrawableSize(W, H);
  FRenderer->Resize(W, H);
  W = FRenderer->Width(), H = FRenderer->Height();
  PrepareViewTools();
  const TFrameInputs In = BuildFrameInputs();
  UploadWaterfall();
  FRenderer->Render(In);
  GL.glFinish();
  // RGBA rows need no padding whatever the width; the frame's rows come bottom first.
  std::vector<uint8_t> RGBA(static_cast<size_t>(W) * static_cast<size_t>(H) * 4);
  GL.glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, RGBA.data());
  RGB.resize(static_cast<size_t>(W) * static_cast<size_t>(H) * 3);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X)
      for (int32_t C = 0; C < 3; ++C)
        RGB[(static_cast<size_t>(Y) * W + X) * 3 + C] =
            RGBA[(static_cast<size_t>(H - 1 - Y) * W + X) * 4 + C];
  FPlatform.Present();
  return true;
}

std::string TViewerCore::ExportName() const {
  std::string Name = FFileName.substr(FFileName.find_last_of("/\\") + 1);
  const size_t Dot = Name.find_last_of('.');
  if (Dot != std::string::npos && Dot > 0)
    Name.resize(Dot);
  return Name + "_" + Fixed(static_cast<double>(FPlayPosition) / FSampleRate, 3) + "s.png";
}

bool TViewerCore::ExportFrame() noexcept {
  try {
    std::vector<uint8_t> RGB;
    int32_t W = 0, H = 0;
    if (!RenderToRGB(RGB, W, H)) {
      FPlatform.SetStatusText("Save failed: no picture to save");
      return false;
    }
    std::string Saved, Why;
    if (FPlatform.SaveFileAs(ExportName(), EncodePng(W, H, RGB), Saved, Why)) {
      FPlatform.SetStatusText("Saved " + Saved);
      return true;
    }
    if (!Why.empty())
      FPlatform.SetStatusText("Save failed: " + Why);
  } catch (const std::exception &E) {
    try {
      FPlatform.SetStatusText(std::string("Save failed: ") + E.what());
    } catch (...) {
    }
  } catch (...) {
  }
  return false;
}

bool TViewerCore::DoViewAction(TViewerAction A) noexcept {
  try {
    const double Mid = (FBandView.S0 + FBandView.S1) / 2, Quarter = (FBandView.S1 - FBandView.S0) / 4;
    switch (A) {
    case TViewerAction::ZoomIn:
      FBandView.ZoomAround(Mid, ZOOM_STEP, ZoomMinWidth());
      break;
    case TViewerAction::ZoomOut:
      FBandView.ZoomAround(Mid, 1.0 / ZOOM_STEP, ZoomMinWidth());
      break;
    case TViewerAction::ZoomReset:
      FBandView.Reset();
      break;
    case TViewerAction::PanLeft:
      FBandView.PanBy(-Quarter);
      break;
    case TViewerAction::PanRight:
      FBandView.PanBy(Quarter);
      break;
    case TViewerAction::MarkerToPeak:
      MarkerToPeak();
      break;
    case TViewerAction::ClearMarkers:
      ClearMarkers();
      break;
    case TViewerAction::AutoLevels:
      AutoLevels();
      break;
    case TViewerAction::PeakHold:
      SetPeakHold(!FPeakHoldOn);
      break;
    case TViewerAction::Help:
      FHelpVisible = !FHelpVisible;
      break;
    case TViewerAction::Overview:
      ToggleOverview();
      return true;
    case TViewerAction::Export:
      ExportFrame();
      return true;
    default:
      return false;
    }
  } catch (...) {
    return true; // claimed; the frame below shows the state as it is
  }
  RenderFrame();
  return true;
}

bool TViewerCore::HandleViewerKey(uint32_t Key, uint8_t Mods) noexcept {
  const TViewerKey *K = FindViewerKey(Key, Mods);
  return K && DoViewAction(K->Action);
}

bool TViewerCore::WheelAt(int32_t X, int32_t Y, int32_t Steps) noexcept {
  if (!FRenderer || Steps == 0 || !FRenderer->IsWindowXYInPlot(X, Y))
    return false;
  try {
    double Lo = 0, Hi = 0;
    FullSpan(Lo, Hi);
    if (!(Hi > Lo))
      return true;
    const double At = (FRenderer->GetFreqAtWindowX(X) - Lo) / (Hi - Lo);
    FBandView.ZoomAround(At, std::pow(ZOOM_STEP, std::clamp(Steps, -20, 20)), ZoomMinWidth());
  } catch (...) {
  }
  RenderFrame();
  return true;
}

void TViewerCore::ButtonDown(int32_t X, int32_t Y, uint8_t Mods) noexcept {
  FStripDrag = SeekFromOverview(X, Y, true);
  FButtonDown = !FStripDrag && FRenderer && FRenderer->IsWindowXYInPlot(X, Y);
  FPanning = false;
  FDownX = FLastDragX = X;
  FDownY = Y;
  FDownMods = Mods;
}

void TViewerCore::ButtonDrag(int32_t X, int32_t /*Y*/) noexcept {
  if (FStripDrag && FRenderer) {
    // Held to the strip's edges while dragging, as a slider thumb is.
    const TPixelRect S = FRenderer->StripRect();
    SeekFromOverview(std::clamp(X, S.Left, S.Left + S.Width), FRenderer->Height() - (S.Bottom + S.Height / 2),
                     true);
    return;
  }
  if (!FButtonDown || !FRenderer)
    return;
  if (!FPanning && std::abs(X - FDownX) < DRAG_START_PX)
    return;
  FPanning = true;
  const int32_t W = FRenderer->PsdRect().Width;
  if (W <= 0 || X == FLastDragX)
    return;
  // The band follows the pointer: dragging right shows lower frequencies.
  FBandView.PanBy(-static_cast<double>(X - FLastDragX) / W * (FBandView.S1 - FBandView.S0));
  FLastDragX = X;
  RenderFrame();
}

void TViewerCore::ButtonUp(int32_t X, int32_t Y) noexcept {
  if (FStripDrag && FRenderer) {
    FStripDrag = false;
    const TPixelRect S = FRenderer->StripRect();
    SeekFromOverview(std::clamp(X, S.Left, S.Left + S.Width), FRenderer->Height() - (S.Bottom + S.Height / 2),
                     false);
    return;
  }
  const bool Click = FButtonDown && !FPanning;
  FButtonDown = FPanning = false;
  // Only the latest click's marker can be taken back; it stays so until the next release, since
  // GTK sends a double-click's second press before the double-click itself.
  FClickPlacedMarker = false;
  if (!Click || !FRenderer || !FRenderer->IsWindowXYInPlot(X, Y))
    return;
  try {
    double TSec = 0;
    const bool InWaterfall = FRenderer->GetTimeAtWindowY(Y, TSec);
    std::copy(std::begin(FMarkers), std::end(FMarkers), std::begin(FMarkersBeforeClick));
    FClickPlacedMarker = true;
    SetMarker((FDownMods & KMOD_SHIFT) ? 1 : 0, FRenderer->GetFreqAtWindowX(X), InWaterfall, TSec);
  } catch (...) {
  }
  RenderFrame();
}

void TViewerCore::DoubleClickAt(int32_t X, int32_t Y) noexcept {
  if (!FRenderer || !FRenderer->IsWindowXYInPlot(X, Y))
    return;
  FButtonDown = FPanning = false;
  if (FClickPlacedMarker)
    std::copy(std::begin(FMarkersBeforeClick), std::end(FMarkersBeforeClick), std::begin(FMarkers));
  FClickPlacedMarker = false;
  FBandView.Reset();
  RenderFrame();
}
