// The viewer's pipeline (recording to waterfall ring, PSD and frame), playback and seeking.
#include "viewer/uViewerCore.h"

#include "base/uLog.h"
#include "dsp/uCudaFFT.h"
#include "dsp/uFFT.h"
#include "formats/uFileNames.h"
#include "render/uGLRenderer.h"
#include "viewer/uOverview.h"
#include "viewer/uWindowFill.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

std::string Fmt(const char *F, double A) {
  char Buf[256];
  std::snprintf(Buf, sizeof Buf, F, A);
  return Buf;
}

std::string Fmt(const char *F, double A, double B) {
  char Buf[256];
  std::snprintf(Buf, sizeof Buf, F, A, B);
  return Buf;
}

bool UsableRate(double R) {
  return std::isfinite(R) && R > 0;
}

} // namespace

int64_t RoundI64(double V) {
  if (std::isnan(V))
    return 0;
  const double R = std::nearbyint(V); // the default rounding mode: halves to even
  if (R >= 9.2233720368547758e18)
    return INT64_MAX;
  if (R <= -9.2233720368547758e18)
    return INT64_MIN;
  return static_cast<int64_t>(R);
}

int32_t RoundI32(double V) {
  const int64_t R = RoundI64(V);
  return static_cast<int32_t>(std::clamp<int64_t>(R, INT32_MIN, INT32_MAX));
}

TViewerCore::TViewerCore(IViewerPlatform &APlatform) : FPlatform(APlatform) {}

TViewerCore::~TViewerCore() {
  CloseFile();
}

// ---------------------------------------------------------------------------------------
// Opening

void TViewerCore::LoadFile(const std::string &AFileName) {
  StopWindowFill(); // nothing of the previous recording may land in this one's ring
  FFileName = AFileName;
  LogFmt("LoadFile: [%s]", FFileName);
  // The sidecar is read once: its format hint decides how the recording is opened. What the
  // file's name says counts only where neither the sidecar nor the file itself says it.
  FMeta = LoadMetadata(FFileName);
  const TFileNameInfo Named = ParseRecordingFileName(FFileName);
  FIQSource = std::make_unique<TIQSource>(RecordingDataPath(FFileName),
                                          FMeta.FormatHint.empty() ? Named.FormatHint : FMeta.FormatHint);
  FTotalSamples = FIQSource->TotalSamples();
  LogFmt("LoadFile: Format=[%s] TotalSamples=%d", FIQSource->GetFormatName(), FTotalSamples);
  // The sidecar wins, then the recording's own header, the file's name last.
  FValues = SettleRateAndCentre(SidecarValuesOf(FMeta), FIQSource->GetFormatInfo(), Named);
  FSampleRate = FValues.SampleRateHz;
  FCenterFreq = FValues.CenterFreqHz;
  FHasCenterFreq = FValues.HasCenterFreq;
  FDurationSec = static_cast<double>(FTotalSamples) / FSampleRate;
  FSignalModel.Assign(FMeta.Signals, FCenterFreq);
  FLastFailure.clear();
}

void TViewerCore::CalcWFParams() {
  if (!(FSampleRate > 0) || !(FWFWindowSec > 0))
    return;
  const double IdealNFFT = FWFWindowSec * FSampleRate / ((1.0 - FWFOverlap) * TARGET_ROWS);
  FWF_NFFT = std::clamp(NextPow2(RoundI32(IdealNFFT)), 256, 4096);
  const int32_t Hop = std::max<int32_t>(1, RoundI32((1.0 - FWFOverlap) * FWF_NFFT));
  const double RawRowsPerSec = FSampleRate / Hop;
  const int64_t Needed =
      std::max<int64_t>(1, std::min<int64_t>(INT32_MAX, RoundI64(std::ceil(FWFWindowSec * RawRowsPerSec))));
  const int32_t NeededRows = static_cast<int32_t>(Needed);
  FWFDecimation = std::max(1, NeededRows / TARGET_ROWS);
  FWFHistory = std::max(10, static_cast<int32_t>((int64_t{NeededRows} + FWFDecimation - 1) / FWFDecimation));
}

void TViewerCore::ShowFirstFrame() {
  // The ring is set up by LoadWaterfallWindow; setting it up here as well would fill it twice.
  UpdateSliderRange();
  FContainWhat = "open";
  Log("Create: calling StartWindowFill");
  StartWindowFill(0, FWFWindowSec);
  Log("Create: calling UpdatePSD");
  UpdatePSD();
  Log("Create: calling RenderFrame");
  RenderFrame();
}

void TViewerCore::OpenRecording(const std::string &AFileName) {
  LoadFile(AFileName);
  if (FNeedSamples && FTotalSamples <= 0)
    throw std::runtime_error("no complete sample in " + AFileName);
  LogFmt("Create: LoadFile done TotalSamples=%d SampleRate=%.0f", FTotalSamples, FSampleRate);
  CalcWFParams();
  LogFmt("Create: WF NFFT=%d History=%d Decim=%d", FWF_NFFT, FWFHistory, FWFDecimation);
}

void TViewerCore::Open(const std::string &AFileName) {
  OpenRecording(AFileName);
  ShowFirstFrame();
}

namespace {

// What a core that only opens a file aside runs on: opening touches no window.
class TNoWindows final : public IViewerPlatform {
public:
  void SetStatusText(const std::string &) override {}
  void SetRootText(const std::string &) override {}
  void SetPlayButtonText(const std::string &) override {}
  void SetSliderRange(int32_t, int32_t) override {}
  void SetSliderPos(int32_t) override {}
  int32_t GetSliderPos() override { return 0; }
  uintptr_t StartTimer(int32_t, int32_t) override { return 0; }
  void KillTimer(int32_t) override {}
  double PerfSeconds() override { return 0.0; }
  bool MakeCurrent() override { return false; }
  void DrawableSize(int32_t &W, int32_t &H) override { W = H = 0; }
  void Present() override {}
};

} // namespace

bool TViewerCore::OpenNext(const std::string &AFileName) noexcept {
  // Opened by a core of its own, so that a file that cannot be opened leaves nothing of this
  // one changed, and the rate, centre and signals are the new file's alone (not the previous
  // file's where the new one names none).
  TNoWindows NoWindows;
  std::unique_ptr<TViewerCore> Aside;
  try {
    LogFmt("OpenNext: [%s]", AFileName);
    // A name that is gone would open as an empty recording; the viewer would show nothing.
    if (!FileExists(AFileName))
      return false;
    Aside = std::make_unique<TViewerCore>(NoWindows);
    Aside->LoadFile(AFileName);
    if (FNeedSamples && Aside->FTotalSamples <= 0) {
      Log("OpenNext: no complete sample");
      return false;
    }
  } catch (const std::exception &E) {
    LogFmt("OpenNext: cannot open: %s", E.what());
    return false;
  } catch (...) {
    Log("OpenNext: cannot open");
    return false;
  }
  // Everything still at work on the previous file stops before its source goes: playback, the
  // drag's settling and whatever else reads the source.
  CloseFile();
  FFileName = std::move(Aside->FFileName);
  FIQSource = std::move(Aside->FIQSource);
  FMeta = std::move(Aside->FMeta);
  FTotalSamples = Aside->FTotalSamples;
  FDurationSec = Aside->FDurationSec;
  FSampleRate = Aside->FSampleRate;
  FCenterFreq = Aside->FCenterFreq;
  FHasCenterFreq = Aside->FHasCenterFreq;
  FValues = Aside->FValues;
  FSignalModel = std::move(Aside->FSignalModel);
  FPlayPosition = 0;
  FLastFailure.clear();
  // A file too short for one PSD leaves the PSD alone: it must not show the previous file's.
  FPSDFreqs.clear();
  FPSDDb.clear();
  CalcWFParams();
  FFlipping = true;
  Contain("open", [&] {
    SetSliderPos(0.0);
    ShowFirstFrame();
  });
  FFlipping = false;
  return true;
}

// ---------------------------------------------------------------------------------------
// Failure containment

TComplexArray TViewerCore::ReadSegment(int64_t Start, int64_t Count) {
  if (!FIQSource || Count <= 0)
    return {};
  NoteReadStart(Start);
  const int32_t N = static_cast<int32_t>(std::min<int64_t>(Count, INT32_MAX));
  TComplexArray S = FIQSource->LoadSegment(Start, N);
  NoteReadEnd(Start, N, static_cast<int64_t>(S.size()));
  return S;
}

void TViewerCore::NoteReadStart(int64_t Start) {
  if (FReadFault.empty()) // where an exception would come from
    FFaultPosSec = static_cast<double>(std::max<int64_t>(Start, 0)) / FSampleRate;
}

void TViewerCore::NoteReadEnd(int64_t Start, int64_t Count, int64_t Got) {
  const int64_t From = std::max<int64_t>(Start, 0);
  const int64_t Expected = std::clamp<int64_t>(FTotalSamples - From, 0, Count);
  if (Got < Expected && FReadFault.empty()) {
    FFaultPosSec = static_cast<double>(From + Got) / FSampleRate;
    // The file that holds the samples, which for a metadata file is not the one opened.
    const std::string &DataFile = FIQSource->GetFileName();
    if (!FileExists(DataFile)) {
      FReadFault = "the recording file is gone";
    } else {
      FReadFault = "the recording ends early";
      const TIQFormatInfo &Info = FIQSource->GetFormatInfo();
      if (IsRawKind(Info.Kind)) { // raw samples: the length follows from the size
        const int64_t NewTotal =
            std::min(FTotalSamples, GetTotalSamples(DataFile, Info.RawFmt, Info.HeaderBytes));
        FReadFault += Fmt(", now at %.2f s", static_cast<double>(NewTotal) / FSampleRate);
        // From now on the recording is read up to its new end, so that reset, seeks and
        // settings work again instead of failing on the same missing samples.
        FTotalSamples = std::max<int64_t>(NewTotal, 0);
        FDurationSec = static_cast<double>(FTotalSamples) / FSampleRate;
        FPlayPosition = std::clamp<int64_t>(FPlayPosition, 0, FTotalSamples);
      }
      FReadFault += " (file truncated or replaced)";
    }
  }
}

void TViewerCore::ReportFailure(const char *What, const std::string &Detail) noexcept {
  try {
    StopPlayNoThrow();
    if (FSeekTimerID != 0) {
      FPlatform.KillTimer(TIMER_SEEK_ID);
      FSeekTimerID = 0;
    }
    FLastFailure = Fmt("Read error at %.2f s", FFaultPosSec) + " (" + What + "): " + Detail;
    SetStatus(FLastFailure);
    LogFmt("ReportFailure: %s", FLastFailure);
  } catch (...) {
    // Nothing more can be said without memory; the viewer state is already consistent.
  }
}

template <class Fn> void TViewerCore::Contain(const char *What, Fn &&Body) noexcept {
  FReadFault.clear();
  FContainWhat = What;
  try {
    Body();
  } catch (const std::exception &E) {
    ReportFailure(What, E.what());
    RenderFrame(); // what was read before the failure is still shown
    return;
  } catch (...) {
    ReportFailure(What, "unknown failure");
    return;
  }
  if (!FReadFault.empty()) {
    const std::string Detail = FReadFault;
    ReportFailure(What, Detail);
  }
}

// ---------------------------------------------------------------------------------------
// Waterfall ring

void TViewerCore::InitWaterfallBuffer() {
  ShapeRing();
  ClearRingFrom(0);
}

void TViewerCore::ShapeRing() {
  const size_t H = static_cast<size_t>(std::max(FWFHistory, 1));
  const size_t N = static_cast<size_t>(std::max(FWF_NFFT, 0));
  // Rows of the right length keep their storage (and their old values, for the caller to clear).
  FWaterfallBuf.resize(H);
  for (TSingleArray &Row : FWaterfallBuf)
    if (Row.size() != N)
      Row.assign(N, 0.0f);
  FWFWriteIdx = 0;
  FWFRowCount = 0;
  FNewRowsSinceFrame = -1;
}

void TViewerCore::ClearRingFrom(size_t Slot) {
  for (size_t I = Slot; I < FWaterfallBuf.size(); ++I)
    std::fill(FWaterfallBuf[I].begin(), FWaterfallBuf[I].end(), 0.0f);
}

void TViewerCore::PushWaterfallRows(std::span<const TSingleArray> Rows, int32_t Count) {
  const int32_t H = static_cast<int32_t>(FWaterfallBuf.size());
  if (H == 0)
    return;
  Count = std::min<int32_t>(Count, static_cast<int32_t>(Rows.size()));
  for (int32_t I = 0; I < Count; ++I) {
    const TSingleArray &Row = Rows[static_cast<size_t>(I)];
    if (Row.size() != static_cast<size_t>(FWF_NFFT))
      continue;
    std::copy(Row.begin(), Row.end(), FWaterfallBuf[static_cast<size_t>(FWFWriteIdx)].begin());
    FWFWriteIdx = (FWFWriteIdx + 1) % H;
    if (FWFRowCount < H)
      ++FWFRowCount;
    if (FNewRowsSinceFrame >= 0)
      ++FNewRowsSinceFrame;
    if (FFill) // the fill's oldest rows scroll out under it
      ++FFillPushed;
  }
}

int32_t TViewerCore::BuildDisplayRows() {
  const int32_t H = static_cast<int32_t>(FWaterfallBuf.size());
  int32_t N = std::min(FWFRowCount, H);
  if (N <= 0)
    return 0;
  // Newest first; the ring keeps them oldest first from the write index. The list keeps its
  // storage between calls, so this is a copy without allocation.
  FDisplayRows.resize(static_cast<size_t>(N));
  for (int32_t I = 0; I < N; ++I)
    FDisplayRows[static_cast<size_t>(I)] =
        FWaterfallBuf[static_cast<size_t>((2 * H + FWFWriteIdx - 1 - I) % H)];
  FNewRowsSinceFrame = 0;
  return N;
}

void TViewerCore::UploadWaterfall() {
  // The renderer reads the ring itself and colours only the rows pushed since the last frame;
  // copying the ring into a display list every frame would cost more than drawing it.
  const int32_t Count = std::min<int32_t>(FWFRowCount, FWaterfallBuf.size());
  if (FSlotsDirty && FNewRowsSinceFrame == 0)
    FRenderer->UpdateWaterfallSlots(FWaterfallBuf, FWFWriteIdx, Count, FDirtySlots, FWF_NFFT,
                                    static_cast<float>(FMagMinDb), static_cast<float>(FMagMaxDb));
  else
    FRenderer->UpdateWaterfallRing(FWaterfallBuf, FWFWriteIdx, Count, FSlotsDirty ? -1 : FNewRowsSinceFrame,
                                   FWF_NFFT, static_cast<float>(FMagMinDb), static_cast<float>(FMagMaxDb));
  FNewRowsSinceFrame = 0;
  FSlotsDirty = false;
  FDirtySlots.clear();
}

void TViewerCore::GetWindowBounds(double &TLo, double &THi) const {
  double EffWin = FWFWindowSec;
  if (FDurationSec > 0 && FDurationSec < EffWin)
    EffWin = FDurationSec;
  const double PlayPosSec = static_cast<double>(FPlayPosition) / FSampleRate;
  const double Half = EffWin * 0.5;
  if (FDurationSec <= EffWin || PlayPosSec < Half) {
    TLo = 0;
    THi = EffWin;
  } else if (PlayPosSec <= FDurationSec - Half) {
    TLo = PlayPosSec - Half;
    THi = PlayPosSec + Half;
  } else {
    TLo = std::max(0.0, FDurationSec - EffWin);
    THi = std::max(TLo + EffWin, FDurationSec);
  }
}

void TViewerCore::LoadWaterfallWindow(double TLo, double THi) {
  ShapeRing();
  // Slots the new rows did not reach are cleared afterwards instead of before, so that the
  // others are written once; also when the reading fails part of the way.
  try {
    FillWindowRows(TLo, THi);
  } catch (...) {
    ClearRingFrom(static_cast<size_t>(FWFRowCount));
    throw;
  }
  ClearRingFrom(static_cast<size_t>(FWFRowCount));
  FNewRowsSinceFrame = -1;
}

bool TViewerCore::PlanWindow(double TLo, double THi, TWindowPlan &W) const {
  if (!(FSampleRate > 0) || FWF_NFFT <= 0 || !FIQSource)
    return false;
  W.ChunkSamples = std::max<int64_t>(int64_t{FWF_NFFT} * FWFDecimation, FWF_NFFT);
  W.StartSample = std::max<int64_t>(0, RoundI64(TLo * FSampleRate));
  const int64_t EndSample = std::min<int64_t>(RoundI64(THi * FSampleRate), FTotalSamples);
  // Only chunks that start NFFT samples or more before the window's end give rows; each is read
  // whole, also past the window's end, as a chunk on its own would be.
  if (EndSample - W.StartSample < FWF_NFFT)
    return false;
  W.TotalChunks = (EndSample - FWF_NFFT - W.StartSample) / W.ChunkSamples + 1;
  // The window goes in pieces of a few chunks, each read and turned into rows by one thread while
  // its samples are still in that core's cache; the threads take the pieces in turn, so the rows
  // are the same whatever their number. Each piece's rows are those of one call per chunk.
  constexpr int64_t PIECE_SAMPLES = int64_t{1} << 17; // 1 MiB of samples
  W.PieceChunks = std::clamp<int64_t>(PIECE_SAMPLES / W.ChunkSamples, 1, W.TotalChunks);
  return true;
}

void TViewerCore::FillWindowRows(double TLo, double THi) {
  TWindowPlan W;
  if (!PlanWindow(TLo, THi, W))
    return;
  // The calling thread works too.
  const int64_t ChunkSamples = W.ChunkSamples, StartSample = W.StartSample, TotalChunks = W.TotalChunks;
  const int64_t PieceChunks = W.PieceChunks;
  const int64_t Pieces = (TotalChunks + PieceChunks - 1) / PieceChunks;
  // Rows go straight into the ring's slots when the window fits, where pushing them would put
  // them; a longer window goes through a buffer and is pushed, the oldest rows overwritten.
  const int64_t H = static_cast<int64_t>(FWaterfallBuf.size());
  TRowBuffer Spill;
  std::span<TSingleArray> Rows;
  if (TotalChunks <= H) {
    Rows = std::span<TSingleArray>(FWaterfallBuf).first(static_cast<size_t>(TotalChunks));
  } else {
    Spill.resize(static_cast<size_t>(TotalChunks));
    Rows = Spill;
  }

  struct TPiece {
    int64_t Got = 0;
    int32_t RowCount = 0;
    std::exception_ptr Error;
  };
  std::vector<TPiece> Done(static_cast<size_t>(Pieces));
  auto PieceStart = [&](int64_t P) { return StartSample + P * PieceChunks * ChunkSamples; };
  auto PieceWant = [&](int64_t P) {
    return std::min(PieceChunks, TotalChunks - P * PieceChunks) * ChunkSamples;
  };
  std::atomic<int64_t> Next{0};
  std::atomic<int64_t> StopAt{Pieces}; // the first piece that came back short or failed
  const TIQSource &Src = *FIQSource;
  auto Run = [&] {
    for (;;) {
      const int64_t P = Next.fetch_add(1, std::memory_order_relaxed);
      if (P >= Pieces || P > StopAt.load(std::memory_order_relaxed))
        return;
      TPiece &D = Done[static_cast<size_t>(P)];
      const int64_t Want = PieceWant(P);
      bool Short = true;
      try {
        const TComplexArray S =
            Src.LoadSegment(PieceStart(P), static_cast<int32_t>(std::min<int64_t>(Want, INT32_MAX)));
        D.Got = static_cast<int64_t>(S.size());
        if (D.Got >= FWF_NFFT)
          ComputeWaterfallChunkRows(
              S, ChunkSamples, FWF_NFFT, FWFOverlap, FWFDecimation,
              Rows.subspan(static_cast<size_t>(P * PieceChunks), static_cast<size_t>(Want / ChunkSamples)),
              D.RowCount, 1);
        Short = D.Got < Want;
      } catch (...) {
        D.Error = std::current_exception();
      }
      if (Short) { // later pieces would not have been read
        int64_t Cur = StopAt.load(std::memory_order_relaxed);
        while (P < Cur && !StopAt.compare_exchange_weak(Cur, P, std::memory_order_relaxed)) {
        }
      }
    }
  };
  const int32_t Threads = static_cast<int32_t>(
      std::min<int64_t>(Pieces, WaterfallThreadsFor(TotalChunks * std::max(FWFDecimation, 1), FWF_NFFT)));
  RunOnThreads(Threads, Run);

  // The pieces in order, as reading one after the other would have met them.
  int64_t Count = 0;
  auto Commit = [&] {
    if (Spill.empty()) {
      FWFRowCount = static_cast<int32_t>(Count);
      FWFWriteIdx = static_cast<int32_t>(Count % H);
    } else {
      PushWaterfallRows(std::span<const TSingleArray>(Spill).first(static_cast<size_t>(Count)),
                        static_cast<int32_t>(Count));
    }
  };
  for (int64_t P = 0; P < Pieces; ++P) {
    const TPiece &D = Done[static_cast<size_t>(P)];
    NoteReadStart(PieceStart(P));
    if (D.Error) {
      Commit(); // what was read before the failure is still shown
      std::rethrow_exception(D.Error);
    }
    const int64_t Want = PieceWant(P);
    NoteReadEnd(PieceStart(P), std::min<int64_t>(Want, INT32_MAX), D.Got);
    if (D.Got < FWF_NFFT)
      break;
    Count += D.RowCount;
    if (D.Got < Want)
      break;
  }
  Commit();
}

// ---------------------------------------------------------------------------------------
// PSD

void TViewerCore::UpdatePSD() {
  const double ChunkD = std::max<double>(std::nearbyint(FSampleRate * FPlayChunkSec), FPSD_NFFT);
  int64_t ChunkSamples = std::min<int64_t>(RoundI64(ChunkD), INT32_MAX);
  // Only the first FAvgSegments blocks enter the PSD; reading more would cost time and memory
  // for nothing (at 100 MS/s a chunk is 3.3 million samples). The result is the same.
  ChunkSamples =
      std::min<int64_t>(ChunkSamples, std::max<int64_t>(int64_t{FAvgSegments} * FPSD_NFFT, FPSD_NFFT));

  const double T0 = FPlatform.PerfSeconds();
  const TComplexArray Samples = ReadSegment(FPlayPosition, ChunkSamples);
  const double T1 = FPlatform.PerfSeconds();
  const double IOms = (T1 - T0) * 1000.0;
  if (static_cast<int64_t>(Samples.size()) < FPSD_NFFT) {
    SetStatus("Not enough samples");
    return;
  }
  const int32_t Segs = std::max<int32_t>(1, static_cast<int32_t>(Samples.size()) / FPSD_NFFT);
  const int32_t Avg = std::min(Segs, FAvgSegments);

  // The GPU engine is looked for once per process, by whichever viewer first computes a PSD;
  // only that viewer's title tells which engine the process has.
  if (!CudaEngine) {
    EnsureCudaEngine();
    FPlatform.SetRootText(CudaEngine->Available() ? "Zembrola [GPU: " + CudaEngine->DeviceName() + "]"
                                                  : std::string("Zembrola [CPU only - no CUDA]"));
  }
  const double T2 = FPlatform.PerfSeconds();
  TFloatArray Freqs, PSD;
  // The engine takes whichever of GPU and CPU it measured faster for this size and averaging; a
  // failed GPU attempt falls back to the CPU for this call only.
  const bool UsedGPU = CudaEngine->ComputePSD_Best(Samples, FSampleRate, FPSD_NFFT, Avg, Freqs, PSD);
  const double PSDms = (FPlatform.PerfSeconds() - T2) * 1000.0;

  FPSDFreqs = std::move(Freqs);
  FPSDDb = std::move(PSD);
  if (FHasCenterFreq)
    for (double &F : FPSDFreqs)
      F += FCenterFreq;
  const double PosSec = static_cast<double>(FPlayPosition) / FSampleRate;
  char Buf[256];
  if (UsedGPU)
    std::snprintf(Buf, sizeof Buf, "Pos: %.2f/%.2fs | [GPU:%s] IO:%.0fms PSD:%.0fms", PosSec, FDurationSec,
                  CudaEngine->DeviceName().c_str(), IOms, PSDms);
  else
    std::snprintf(Buf, sizeof Buf, "Pos: %.2f/%.2fs | [CPU] IO:%.0fms PSD:%.0fms", PosSec, FDurationSec, IOms,
                  PSDms);
  SetStatus(Buf);
}

// ---------------------------------------------------------------------------------------
// Frame

TFrameInputs TViewerCore::BuildFrameInputs() const {
  TFrameInputs In;
  In.Freqs = FPSDFreqs;
  In.PSD_DB = FPSDDb;
  In.MinDb = FMagMinDb;
  In.MaxDb = FMagMaxDb;
  if (FPSDFreqs.size() >= 2) {
    In.FreqLo = FPSDFreqs.front();
    In.FreqHi = FPSDFreqs.back();
  } else {
    In.FreqLo = -FSampleRate * 0.5;
    In.FreqHi = FSampleRate * 0.5;
    if (FHasCenterFreq) {
      In.FreqLo += FCenterFreq;
      In.FreqHi += FCenterFreq;
    }
  }
  In.CenterFreqHz = FCenterFreq;
  In.SampleRateHz = FSampleRate;
  In.PlayPosSec = static_cast<double>(FPlayPosition) / FSampleRate;
  In.FileDurSec = FDurationSec;
  In.WfLenSec = FWFWindowSec;
  FSignalModel.FillOverlays(FCenterFreq, FOverlayVisible, In.Signals, In.HopperGroups);
  In.StatusText = Fmt("%.2f / %.2f s", In.PlayPosSec, FDurationSec);
  ApplyViewTools(In);
  return In;
}

TMouseInfo TViewerCore::MouseAt(int32_t X, int32_t Y) const {
  TMouseInfo M;
  if (!FRenderer || !FRenderer->IsWindowXYInPlot(X, Y))
    return M;
  M.InPlot = true;
  const double FreqHz = FRenderer->GetFreqAtWindowX(X);
  M.Readout = FormatFixed(FreqHz / 1e6, 6, FDecimalSep) + " MHz";
  if (FSignalModel.FSignalCount > 0 && FOverlayVisible) {
    const double TSec = static_cast<double>(FPlayPosition) / FSampleRate;
    M.Pick = FSignalModel.PickSignalAt(FCenterFreq, FreqHz, FRenderer->GetFreqTolHz(PICK_TOL_PX), TSec);
    if (M.Pick >= 0)
      M.InfoText = FSignalModel.SignalInfoText(M.Pick, FCenterFreq, FDecimalSep);
  }
  return M;
}

void TViewerCore::RenderFrame() noexcept {
  if (!FRenderer)
    return;
  try {
    if (!FPlatform.MakeCurrent())
      return;
    int32_t W = 0, H = 0;
    FPlatform.DrawableSize(W, H);
    FRenderer->Resize(W, H);
    PrepareViewTools();
    const TFrameInputs In = BuildFrameInputs(); // sets the band view the texture is built for
    UploadWaterfall();
    FRenderer->Render(In);
    FPlatform.Present();
  } catch (const std::exception &E) {
    try {
      FPlatform.SetStatusText(std::string("Drawing failed: ") + E.what());
    } catch (...) {
    }
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------
// Playback

void TViewerCore::StartPlay() noexcept {
  if (FPlaying)
    return;
  try {
    FPlaying = true;
    FPlatform.SetPlayButtonText(STOP_TEXT);
    FPlayTimerID = FPlatform.StartTimer(TIMER_PLAY_ID, TIMER_PLAY_MS);
    if (FPlayTimerID == 0) {
      // Without its timer playback would never advance: say so instead of showing "Stop".
      StopPlayNoThrow();
      SetStatus("Playback not started: no timer available");
    }
  } catch (...) {
    StopPlayNoThrow();
  }
}

void TViewerCore::StopPlayNoThrow() noexcept {
  if (!FPlaying)
    return;
  FPlaying = false;
  try {
    if (FPlayTimerID != 0) {
      FPlatform.KillTimer(TIMER_PLAY_ID);
      FPlayTimerID = 0;
    }
    FPlatform.SetPlayButtonText(PLAY_TEXT);
    SetStatus(Fmt("Stopped at %.2f s", static_cast<double>(FPlayPosition) / FSampleRate));
  } catch (...) {
    FPlayTimerID = 0;
  }
}

void TViewerCore::StopPlay() noexcept {
  StopPlayNoThrow();
}

void TViewerCore::TogglePlay() noexcept {
  if (FPlaying)
    StopPlay();
  else
    StartPlay();
}

void TViewerCore::KillSeekTimer() {
  if (FSeekTimerID != 0) {
    FPlatform.KillTimer(TIMER_SEEK_ID);
    FSeekTimerID = 0;
  }
}

void TViewerCore::HandleTimer() noexcept {
  if (!FPlaying)
    return;
  Contain("play", [&] {
    if (FPlayPosition >= FTotalSamples) {
      StopPlay();
      SetStatus("Playback finished");
      return;
    }
    int64_t NewPos = FPlayPosition + RoundI64(FSampleRate * FPlayChunkSec);
    NewPos = std::min(NewPos, FTotalSamples);
    SeekForwardAppend(FPlayPosition, NewPos);
    UpdatePSD();
    RenderFrame();
    SetSliderPos(static_cast<double>(FPlayPosition) / FSampleRate);
  });
}

void TViewerCore::StepOnce() noexcept {
  Contain("step", [&] {
    StopPlay();
    const int32_t H = std::max(FWFHistory, 1);
    const int64_t StepSamples = std::max<int64_t>(1, RoundI64(FSampleRate * FWFWindowSec / H));
    int64_t NewPos = FPlayPosition + StepSamples;
    NewPos = std::min(NewPos, FTotalSamples - 1);
    if (NewPos <= FPlayPosition)
      return;
    SeekForwardAppend(FPlayPosition, NewPos);
    UpdatePSD();
    RenderFrame();
    SetSliderPos(static_cast<double>(FPlayPosition) / FSampleRate);
  });
}

void TViewerCore::ResetPlay() noexcept {
  Contain("reset", [&] {
    StopPlay();
    KillSeekTimer();
    FPlayPosition = 0;
    SetSliderPos(0);
    StartWindowFill(0, FWFWindowSec);
    UpdatePSD();
    RenderFrame();
    SetStatus("Reset to 0.00 s");
  });
}

void TViewerCore::HandleSeekTimer() noexcept {
  Contain("seek", [&] {
    KillSeekTimer();
    SeekHeavy();
  });
}

void TViewerCore::HandleTimerId(int32_t Id) noexcept {
  if (Id == TIMER_PLAY_ID)
    HandleTimer();
  else if (Id == TIMER_SEEK_ID)
    HandleSeekTimer();
  else if (Id == TIMER_FILL_ID)
    DrainWindowFill();
  else if (Id == TIMER_OVERVIEW_ID)
    HandleOverviewTimer();
}

void TViewerCore::HandleSliderChange(uint16_t ScrollCode) noexcept {
  if (FSliderUpdating)
    return;
  Contain("seek", [&] {
    FPlayPosition = std::max<int64_t>(0, RoundI64(GetSliderPos() * FSampleRate));
    if (FPlayPosition >= FTotalSamples)
      FPlayPosition = FTotalSamples - 1;
    if (FPlaying)
      return;
    if (ScrollCode == scThumbTrack) {
      SeekLight();
      KillSeekTimer();
      FSeekTimerID = FPlatform.StartTimer(TIMER_SEEK_ID, TIMER_SEEK_DEBOUNCE_MS);
      if (FSeekTimerID == 0) // no timer to settle the drag: settle it now
        SeekHeavy();
    } else {
      KillSeekTimer();
      SeekHeavy();
    }
  });
}

void TViewerCore::ToggleOverlay() noexcept {
  FOverlayVisible = !FOverlayVisible;
  RenderFrame();
}

void TViewerCore::CloseFile() noexcept {
  StopPlayNoThrow();
  StopWindowFill();
  try {
    KillSeekTimer();
  } catch (...) {
    FSeekTimerID = 0;
  }
  FOverviewJob.reset(); // cancels its worker at once
  FIQSource.reset();
}

// ---------------------------------------------------------------------------------------
// Seeking

void TViewerCore::SeekLight() {
  UpdatePSD();
  RenderFrame();
}

void TViewerCore::SeekHeavy() {
  double TLo = 0, THi = 0;
  GetWindowBounds(TLo, THi);
  StartWindowFill(TLo, THi);
  UpdatePSD();
  RenderFrame();
}

void TViewerCore::SeekForwardAppend(int64_t OldPos, int64_t NewPos) {
  double TLoOld = 0, THiOld = 0, TLoNew = 0, THiNew = 0;
  FPlayPosition = OldPos;
  GetWindowBounds(TLoOld, THiOld);
  FPlayPosition = NewPos;
  GetWindowBounds(TLoNew, THiNew);
  const double NewTime = THiNew - THiOld;
  double WinSpan = THiNew - TLoNew;
  if (WinSpan <= 0)
    WinSpan = 1e-9;
  const int64_t K64 = NewTime > 0 ? RoundI64(FWFHistory * NewTime / WinSpan) : 0;
  if (K64 >= FWFHistory) {
    StartWindowFill(TLoNew, THiNew);
    return;
  }
  if (K64 <= 0)
    return;
  const int32_t K = static_cast<int32_t>(K64);
  const int64_t StartSample = RoundI64(THiOld * FSampleRate);
  const int64_t NSamples = std::max<int64_t>(RoundI64(NewTime * FSampleRate), FWF_NFFT);
  const TComplexArray Samples = ReadSegment(StartSample, NSamples);
  // The new raw spectra pooled straight into K rows (PoolRowsTo's grouping), in one call that
  // spreads the transforms over the worker threads.
  FAppendRows.resize(static_cast<size_t>(K));
  int32_t Count = 0;
  ComputeWaterfallPooledRows(Samples, FWF_NFFT, FWFOverlap, K, FAppendRows, Count);
  if (Count > 0)
    PushWaterfallRows(FAppendRows, Count);
}

void TViewerCore::PoolRowsTo(const TRowBuffer &InRows, int32_t InCount, int32_t K,
                             TRowBuffer &OutRows) const {
  if (K <= 0) {
    OutRows.clear();
    return;
  }
  const size_t N = static_cast<size_t>(std::max(FWF_NFFT, 0));
  OutRows.assign(static_cast<size_t>(K), TSingleArray(N, 0.0f));
  InCount = std::min<int32_t>(InCount, static_cast<int32_t>(InRows.size()));
  if (InCount <= 0)
    return;
  for (int32_t J = 0; J < K; ++J) {
    const int32_t A = static_cast<int32_t>(int64_t{J} * InCount / K);
    int32_t B = static_cast<int32_t>((int64_t{J} + 1) * InCount / K);
    if (A >= B)
      B = A + 1;
    B = std::min(B, InCount);
    TSingleArray &Out = OutRows[static_cast<size_t>(J)];
    const TSingleArray &First = InRows[static_cast<size_t>(A)];
    std::copy_n(First.begin(), std::min(N, First.size()), Out.begin());
    for (int32_t R = A + 1; R < B; ++R) {
      const TSingleArray &In = InRows[static_cast<size_t>(R)];
      const size_t M = std::min(N, In.size());
      for (size_t Bin = 0; Bin < M; ++Bin)
        if (In[Bin] > Out[Bin])
          Out[Bin] = In[Bin];
    }
  }
}

void TViewerCore::UpdateSliderRange() {
  FPlatform.SetSliderRange(0, SLIDER_RANGE_MAX);
}

void TViewerCore::SetSliderPos(double Sec) {
  if (!(FDurationSec > 0))
    return;
  FSliderUpdating = true;
  const int64_t Pos =
      std::clamp<int64_t>(RoundI64(Sec / FDurationSec * SLIDER_RANGE_MAX), 0, SLIDER_RANGE_MAX);
  try {
    FPlatform.SetSliderPos(static_cast<int32_t>(Pos));
  } catch (...) {
    FSliderUpdating = false;
    throw;
  }
  FSliderUpdating = false;
}

double TViewerCore::GetSliderPos() {
  return static_cast<double>(FPlatform.GetSliderPos()) / SLIDER_RANGE_MAX * FDurationSec;
}

// ---------------------------------------------------------------------------------------
// Settings

TViewerSettings TViewerCore::GetSettings() const {
  TViewerSettings S;
  S.SampleRate = FSampleRate;
  S.CenterFreq = FCenterFreq;
  S.HasCenterFreq = FHasCenterFreq;
  S.PSD_NFFT = FPSD_NFFT;
  S.WF_NFFT = FWF_NFFT;
  S.WFWindowSec = FWFWindowSec;
  S.WFOverlap = FWFOverlap;
  S.MagMinDb = FMagMinDb;
  S.MagMaxDb = FMagMaxDb;
  S.PlayChunkSec = FPlayChunkSec;
  S.AvgSegments = FAvgSegments;
  return S;
}

void TViewerCore::ApplySettings(const TViewerSettings &S) noexcept {
  Contain("settings", [&] {
    StopPlay();
    // Values the dialog refuses are kept out here too: they would divide by zero or ask the
    // FFT for a size it does not take.
    if (UsableRate(S.SampleRate))
      FSampleRate = S.SampleRate;
    FCenterFreq = S.CenterFreq;
    FHasCenterFreq = S.HasCenterFreq;
    if (S.PSD_NFFT >= 64 && S.PSD_NFFT <= MAX_SETTINGS_NFFT)
      FPSD_NFFT = NextPow2(S.PSD_NFFT);
    if (S.WF_NFFT >= 64 && S.WF_NFFT <= MAX_SETTINGS_NFFT)
      FWF_NFFT = NextPow2(S.WF_NFFT);
    FWFWindowSec = S.WFWindowSec;
    FWFOverlap = S.WFOverlap;
    FMagMinDb = S.MagMinDb;
    FMagMaxDb = S.MagMaxDb;
    FPlayChunkSec = S.PlayChunkSec;
    FAvgSegments = S.AvgSegments;
    if (FMagMinDb >= FMagMaxDb)
      FMagMaxDb = FMagMinDb + 10;
    FDurationSec = static_cast<double>(FTotalSamples) / FSampleRate;
    CalcWFParams();
    UpdateSliderRange();
    double TLo = 0, THi = 0;
    GetWindowBounds(TLo, THi);
    StartWindowFill(TLo, THi);
    UpdatePSD();
    RenderFrame();
  });
}

// ---------------------------------------------------------------------------------------
// The window's fill on worker threads

void TViewerCore::SetStatus(const std::string &S) {
  FStatusBase = S;
  if (!FFill) {
    FPlatform.SetStatusText(S);
    return;
  }
  const int64_t Total = std::max<int64_t>(FFill->Plan().TotalChunks, 1);
  char Lead[64];
  std::snprintf(Lead, sizeof Lead, "%s %d%% | ", FILLING_TEXT,
                static_cast<int>(std::min<int64_t>(FFillRowsIn * 100 / Total, 99)));
  FPlatform.SetStatusText(Lead + S);
}

void TViewerCore::StartWindowFill(double TLo, double THi) {
  RetireFill();
  ReapRetired();
  TWindowPlan W;
  if (!FBackgroundFill || !PlanWindow(TLo, THi, W) || W.TotalChunks * W.ChunkSamples <= SYNC_FILL_SAMPLES) {
    LoadWaterfallWindow(TLo, THi);
    UpdateFillTimer();
    return;
  }
  // The ring takes the shape the finished window has, empty; rows land in their slots as
  // they come, so that the frame shows each where it will stay.
  ShapeRing();
  ClearRingFrom(0);
  const int64_t H = static_cast<int64_t>(FWaterfallBuf.size());
  FWFRowCount = static_cast<int32_t>(std::min(W.TotalChunks, H));
  FWFWriteIdx = static_cast<int32_t>(W.TotalChunks % H);
  FNewRowsSinceFrame = -1;

  TWindowFillPlan Plan;
  Plan.Source = FIQSource;
  Plan.StartSample = W.StartSample;
  Plan.TotalChunks = W.TotalChunks;
  Plan.ChunkSamples = W.ChunkSamples;
  Plan.PieceChunks = W.PieceChunks;
  Plan.FocusSample = FPlayPosition;
  Plan.NFFT = FWF_NFFT;
  Plan.Decimation = FWFDecimation;
  Plan.Overlap = FWFOverlap;
  Plan.Threads = WaterfallThreadsFor(W.TotalChunks * std::max(FWFDecimation, 1), FWF_NFFT);
  Plan.BeforePiece = FFillBeforePiece;
  Plan.OnFinished = [&P = FPlatform] { P.WakeForFill(); };
  try {
    FFill = std::make_unique<TWindowFill>(std::move(Plan));
  } catch (const std::system_error &) {
    // No thread to be had: the window is loaded here as it always could be.
    LoadWaterfallWindow(TLo, THi);
    UpdateFillTimer();
    return;
  }
  FFillWhat = FContainWhat;
  FFillDrawnAt = FPlatform.PerfSeconds(); // the caller draws the first frame
  FFillUndrawn = false;
  FFillPushed = 0;
  FFillRowsIn = 0;
  UpdateFillTimer();
  if (!FFillTimerOn) { // nothing would ever land the rows: wait for them
    FinishWindowFill();
    return;
  }
  // A short wait shows a small window whole at once; a large one is drawn with what is in. A
  // flip does not hold up the host for it: the next file's frame is drawn at once with the rows
  // that are in, and redrawn when the wait would have ended (or when the window is whole).
  if (FFlipping)
    FFillDrawnAt += FFirstFrameWaitMs / 1000.0 - FILL_REDRAW_MS / 1000.0;
  else
    FFill->WaitFinished(FFirstFrameWaitMs / 1000.0);
  PumpFill(false); // a failure found by then is the caller's, as a synchronous load's would be
}

bool TViewerCore::PumpFill(bool Contained) {
  ReapRetired();
  if (!FFill)
    return false;
  TWindowFill &Job = *FFill;
  const int64_t T = Job.Plan().TotalChunks;
  const int64_t H = static_cast<int64_t>(FWaterfallBuf.size());
  // Finished is asked before the pieces are taken, so that a finished fill has handed them all.
  const bool Finished = Job.Finished();
  bool Landed = false;
  for (const int64_t P : Job.TakeDone()) {
    const TWindowFill::TPiece &D = Job.Piece(P);
    FFillRowsIn += D.RowCount;
    for (int64_t R = 0; R < D.RowCount; ++R) {
      const int64_t C = Job.PieceFirstRow(P) + R;
      // Row C is the C-th oldest of the window; rows pushed since the fill began put the T + H
      // newest in the ring, so older ones have scrolled out already.
      if (C < T + FFillPushed - H)
        continue;
      const TSingleArray &Row = Job.Row(C);
      TSingleArray &Slot = FWaterfallBuf[static_cast<size_t>(C % H)];
      if (Row.size() == Slot.size()) {
        std::copy(Row.begin(), Row.end(), Slot.begin());
        Landed = true;
        // Only these slots need colouring again, while no other change is waiting for the frame.
        if (FNewRowsSinceFrame == 0)
          FDirtySlots.push_back(static_cast<int32_t>(C % H));
      }
    }
  }
  if (Landed)
    FSlotsDirty = true;
  if (!Finished)
    return Landed;
  // The last piece is in: the fill's reads are committed in order, as one read after the
  // other would have met them, and failures are reported here on the viewer's thread.
  std::unique_ptr<TWindowFill> Done = std::move(FFill);
  Done->Join();
  UpdateFillTimer();
  if (Contained) {
    Contain(FFillWhat, [&] { CommitFill(*Done); });
  } else {
    CommitFill(*Done);
    SetStatus(FStatusBase); // the filling lead goes
  }
  return true;
}

void TViewerCore::CommitFill(TWindowFill &Job) {
  const int64_t T = Job.Plan().TotalChunks;
  const int64_t H = static_cast<int64_t>(FWaterfallBuf.size());
  int64_t Count = 0;
  // Rows the reads did not reach leave the ring as a synchronous load would have left it.
  auto Place = [&] {
    if (Count >= T)
      return;
    if (FFillPushed == 0 && T <= H) {
      FWFRowCount = static_cast<int32_t>(Count);
      FWFWriteIdx = static_cast<int32_t>(Count % H);
      ClearRingFrom(static_cast<size_t>(Count));
    } else if (FFillPushed == 0) {
      ShapeRing();
      PushWaterfallRows(std::span<const TSingleArray>(Job.Rows()).first(static_cast<size_t>(Count)),
                        static_cast<int32_t>(Count));
      ClearRingFrom(static_cast<size_t>(FWFRowCount));
    } else {
      for (int64_t C = std::max(Count, T + FFillPushed - H); C < T; ++C)
        std::fill(FWaterfallBuf[static_cast<size_t>(C % H)].begin(),
                  FWaterfallBuf[static_cast<size_t>(C % H)].end(), 0.0f);
    }
    FNewRowsSinceFrame = -1;
  };
  for (int64_t P = 0; P < Job.Pieces(); ++P) {
    const TWindowFill::TPiece &D = Job.Piece(P);
    NoteReadStart(Job.PieceStart(P));
    if (D.Error) {
      Place(); // what was read before the failure is still shown
      std::rethrow_exception(D.Error);
    }
    const int64_t Want = Job.PieceWant(P);
    NoteReadEnd(Job.PieceStart(P), std::min<int64_t>(Want, INT32_MAX), D.Got);
    if (D.Got < Job.Plan().NFFT)
      break;
    Count += D.RowCount;
    if (D.Got < Want)
      break;
  }
  Place();
}

void TViewerCore::DrainWindowFill() noexcept {
  bool Draw = false;
  try {
    FFillUndrawn = PumpFill(true) || FFillUndrawn;
    // A redraw converts the whole texture and competes with the workers for the processor, so
    // a filling window is redrawn only every few ticks; its last rows at once.
    const double Now = FPlatform.PerfSeconds();
    Draw = FFillUndrawn && (!FFill || Now - FFillDrawnAt >= FILL_REDRAW_MS / 1000.0);
    if (Draw) {
      FFillUndrawn = false;
      FFillDrawnAt = Now;
      SetStatus(FStatusBase); // the share filled so far, or the lead gone
    }
  } catch (...) {
    // Only an allocation can fail here; the next tick tries again.
  }
  if (Draw)
    RenderFrame();
}

void TViewerCore::FinishWindowFill() noexcept {
  if (FFill)
    FFill->WaitFinished(1e9);
  DrainWindowFill();
}

void TViewerCore::RetireFill() noexcept {
  if (!FFill)
    return;
  FFill->Cancel();
  try {
    FRetired.push_back(std::move(FFill));
  } catch (...) {
    FFill.reset(); // joined here instead
  }
  FFill.reset();
}

void TViewerCore::ReapRetired() noexcept {
  // Cancelled fills end after the piece each worker is on; they are joined once they have.
  std::erase_if(FRetired, [](const std::unique_ptr<TWindowFill> &J) { return J->Finished(); });
}

void TViewerCore::StopWindowFill() noexcept {
  RetireFill();
  FRetired.clear(); // cancels and joins each
  UpdateFillTimer();
}

void TViewerCore::UpdateFillTimer() noexcept {
  const bool Want = FFill != nullptr || !FRetired.empty();
  try {
    if (Want && !FFillTimerOn)
      FFillTimerOn = FPlatform.StartTimer(TIMER_FILL_ID, TIMER_FILL_MS) != 0;
    else if (!Want && FFillTimerOn) {
      FFillTimerOn = false;
      FPlatform.KillTimer(TIMER_FILL_ID);
    }
  } catch (...) {
  }
}
