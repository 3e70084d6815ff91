// TWindowFill: the rows of one waterfall window, read and transformed by worker threads while
// the viewer's own thread keeps serving its window. The window goes in pieces of whole chunks;
// the pieces nearest a focus sample go first. The owner takes the finished pieces on its own
// thread (TakeDone) and puts their rows where they belong; the workers touch nothing but the
// recording (read-only) and the job's own rows. Portable: never includes <windows.h>.
#pragma once

#include "base/uGlobals.h"
#include "formats/uIQFormats.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct TWindowFillPlan {
  std::shared_ptr<const TIQSource> Source; // kept alive by the job while its workers read it
  int64_t StartSample = 0;
  int64_t TotalChunks = 0;  // rows the window gives when every read comes back whole
  int64_t ChunkSamples = 0; // samples behind one row
  int64_t PieceChunks = 1;  // chunks one worker reads and transforms at a time
  int64_t FocusSample = 0;  // the pieces nearest it go first
  int32_t NFFT = 0;
  int32_t Decimation = 1;
  double Overlap = 0.0;
  int32_t Threads = 1;
  // Called on a worker before it reads piece P (tests slow the reader or make it fail here).
  std::function<void(int64_t P)> BeforePiece;
  // Called on the last worker when it has finished (from any thread).
  std::function<void()> OnFinished;
};

// Unloading the library with a viewer still open: every fill in the process is cancelled, and
// the caller waits up to Seconds until each worker has left the fill's code (not until its thread
// has ended: that needs the loader lock the unloading thread holds). True when all have left.
bool CancelAllWindowFills(double Seconds) noexcept;

class TWindowFill {
public:
  struct TPiece {
    int64_t Got = 0;      // samples the read gave
    int32_t RowCount = 0; // rows computed from them
    std::exception_ptr Error;
  };

  // Starts the workers; throws when not one thread could be started.
  explicit TWindowFill(TWindowFillPlan APlan);
  ~TWindowFill(); // cancels and joins
  TWindowFill(const TWindowFill &) = delete;
  TWindowFill &operator=(const TWindowFill &) = delete;

  // Workers stop before their next piece; the pieces done so far stay readable.
  void Cancel() noexcept;
  void Join() noexcept;
  // Every worker has returned (all pieces done, a short piece ended the window, or cancelled).
  bool Finished() const;
  // Waits until the workers have finished or Seconds have passed; true when finished.
  bool WaitFinished(double Seconds);
  // Pieces finished since the last call, in the order they finished.
  std::vector<int64_t> TakeDone();

  const TWindowFillPlan &Plan() const { return FPlan; }
  int64_t Pieces() const { return FPieces; }
  int64_t PieceStart(int64_t P) const {
    return FPlan.StartSample + P * FPlan.PieceChunks * FPlan.ChunkSamples;
  }
  int64_t PieceWant(int64_t P) const {
    return std::min(FPlan.PieceChunks, FPlan.TotalChunks - P * FPlan.PieceChunks) * FPlan.ChunkSamples;
  }
  int64_t PieceFirstRow(int64_t P) const { return P * FPlan.PieceChunks; }
  // Valid for a piece once TakeDone has handed it out (or after Join).
  const TPiece &Piece(int64_t P) const { return FDone[static_cast<size_t>(P)]; }
  const TSingleArray &Row(int64_t C) const { return FRows[static_cast<size_t>(C)]; }
  const TRowBuffer &Rows() const { return FRows; }
  // Pieces handed out by TakeDone so far.
  int64_t PiecesTaken() const { return FTaken; }

private:
  void Work() noexcept;
  bool Stopped() const noexcept; // cancelled, on its own or with every fill

  TWindowFillPlan FPlan;
  int64_t FPieces = 0;
  std::vector<int64_t> FOrder; // pieces by distance from the focus
  TRowBuffer FRows;            // one row per chunk, written by the worker of its piece
  std::vector<TPiece> FDone;
  std::atomic<int64_t> FNext{0};
  std::atomic<int64_t> FStopAt; // the first piece that came back short or failed
  std::atomic<bool> FCancelled{false};
  uint64_t FEpoch = 0; // CancelAllWindowFills' count when it started
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<int64_t> FFinishedPieces; // guarded by FMutex
  int32_t FRunning = 0;                 // workers still running, guarded by FMutex
  int64_t FTaken = 0;
  std::vector<std::thread> FThreads;
};
