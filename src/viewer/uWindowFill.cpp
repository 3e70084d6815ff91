// The waterfall window's rows on worker threads.
#include "viewer/uWindowFill.h"

#include "dsp/uFFT.h"

#include <chrono>
#include <cstdlib>
#include <numeric>
#include <thread>

namespace {
// Process-wide, for CancelAllWindowFills: a worker counts itself from before its thread starts
// until its last step, and each call of CancelAllWindowFills stops the fills started before it.
std::atomic<int32_t> GWorkersInside{0};
std::atomic<uint64_t> GCancelEpoch{0};
} // namespace

bool CancelAllWindowFills(double Seconds) noexcept {
  GCancelEpoch.fetch_add(1);
  // Polled, not waited on a condition: the worker's last touch of this code is one decrement.
  const auto Until = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(Seconds, 0.0));
  while (GWorkersInside.load() > 0) {
    if (std::chrono::steady_clock::now() >= Until)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TWindowFill::TWindowFill(TWindowFillPlan APlan) : FPlan(std::move(APlan)), FEpoch(GCancelEpoch.load()) {
  const int64_t PC = std::max<int64_t>(FPlan.PieceChunks, 1);
  FPlan.PieceChunks = PC;
  FPieces = FPlan.TotalChunks > 0 ? (FPlan.TotalChunks + PC - 1) / PC : 0;
  FStopAt.store(FPieces);
  FRows.resize(static_cast<size_t>(std::max<int64_t>(FPlan.TotalChunks, 0)));
  FDone.resize(static_cast<size_t>(FPieces));
  FOrder.resize(static_cast<size_t>(FPieces));
  FFinishedPieces.reserve(static_cast<size_t>(FPieces)); // no allocation on the workers' side
  std::iota(FOrder.begin(), FOrder.end(), int64_t{0});
  // Nearest the focus first; ties go to the earlier piece, so a window opened at its start
  // fills from the start.
  auto Distance = [&](int64_t P) {
    const int64_t Mid = PieceStart(P) + PieceWant(P) / 2;
    return Mid > FPlan.FocusSample ? Mid - FPlan.FocusSample : FPlan.FocusSample - Mid;
  };
  std::stable_sort(FOrder.begin(), FOrder.end(),
                   [&](int64_t A, int64_t B) { return Distance(A) < Distance(B); });
  const int32_t Want =
      static_cast<int32_t>(std::clamp<int64_t>(FPlan.Threads, 1, std::max<int64_t>(FPieces, 1)));
  std::lock_guard<std::mutex> Lock(FMutex);
  try {
    for (int32_t T = 0; T < Want; ++T) {
      GWorkersInside.fetch_add(1);
      try {
        FThreads.emplace_back([this] {
          Work();
          GWorkersInside.fetch_sub(1);
        });
      } catch (...) {
        GWorkersInside.fetch_sub(1);
        throw;
      }
      ++FRunning;
    }
  } catch (...) {
    // The pieces go to the threads there are; without any the caller loads the window itself.
    if (FThreads.empty())
      throw;
  }
}

TWindowFill::~TWindowFill() {
  Cancel();
  Join();
}

void TWindowFill::Cancel() noexcept {
  FCancelled.store(true, std::memory_order_relaxed);
}

bool TWindowFill::Stopped() const noexcept {
  return FCancelled.load(std::memory_order_relaxed) || GCancelEpoch.load(std::memory_order_relaxed) != FEpoch;
}

void TWindowFill::Join() noexcept {
  for (std::thread &T : FThreads)
    if (T.joinable())
      T.join();
}

bool TWindowFill::Finished() const {
  std::lock_guard<std::mutex> Lock(FMutex);
  return FRunning == 0;
}

bool TWindowFill::WaitFinished(double Seconds) {
  std::unique_lock<std::mutex> Lock(FMutex);
  const auto Until =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(std::max(Seconds, 0.0)));
  return FChanged.wait_until(Lock, Until, [&] { return FRunning == 0; });
}

std::vector<int64_t> TWindowFill::TakeDone() {
  std::vector<int64_t> Out;
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    Out.swap(FFinishedPieces);
  }
  FTaken += static_cast<int64_t>(Out.size());
  return Out;
}

void TWindowFill::Work() noexcept {
  for (;;) {
    const int64_t I = FNext.fetch_add(1, std::memory_order_relaxed);
    if (I >= FPieces || Stopped())
      break;
    const int64_t P = FOrder[static_cast<size_t>(I)];
    if (P > FStopAt.load(std::memory_order_relaxed))
      continue; // after a piece that ended the window: never shown
    TPiece &D = FDone[static_cast<size_t>(P)];
    const int64_t Want = PieceWant(P);
    bool Short = true;
    try {
      if (FPlan.BeforePiece)
        FPlan.BeforePiece(P);
      const TComplexArray S =
          FPlan.Source->LoadSegment(PieceStart(P), static_cast<int32_t>(std::min<int64_t>(Want, INT32_MAX)));
      D.Got = static_cast<int64_t>(S.size());
      if (D.Got >= FPlan.NFFT)
        ComputeWaterfallChunkRows(
            S, FPlan.ChunkSamples, FPlan.NFFT, FPlan.Overlap, FPlan.Decimation,
            std::span<TSingleArray>(FRows).subspan(static_cast<size_t>(PieceFirstRow(P)),
                                                   static_cast<size_t>(Want / FPlan.ChunkSamples)),
            D.RowCount, 1);
      Short = D.Got < Want;
    } catch (...) {
      D.Error = std::current_exception();
    }
    if (Short) {
      int64_t Cur = FStopAt.load(std::memory_order_relaxed);
      while (P < Cur && !FStopAt.compare_exchange_weak(Cur, P, std::memory_order_relaxed)) {
      }
    }
    std::lock_guard<std::mutex> Lock(FMutex);
    FFinishedPieces.push_back(P);
    FChanged.notify_all();
  }
  bool Last = false;
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    Last = --FRunning == 0;
    FChanged.notify_all();
  }
  // A cancelled fill is nobody's business any more.
  if (Last && FPlan.OnFinished && !Stopped())
    FPlan.OnFinished();
}
