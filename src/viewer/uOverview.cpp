#include "viewer/uOverview.h"

#include "dsp/uFFT.h"
#include "dsp/uPowerHold.h"
#include "formats/uIQFormats.h"
#include "render/uColormap.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace {

// Folds one row of NFFT levels into column X, bins pooled into the Height pixels by max-hold.
void FoldRow(TOverviewImage &Img, int32_t X, const TSingleArray &Row) {
  const int64_t N = static_cast<int64_t>(Row.size()), H = Img.Height;
  if (N == 0)
    return;
  for (int64_t Y = 0; Y < H; ++Y) {
    const int64_t A = std::min(Y * N / H, N - 1), B = std::max(A + 1, std::min((Y + 1) * N / H, N));
    float M = Img.Db[static_cast<size_t>(Y * Img.Width + X)];
    for (int64_t K = A; K < B; ++K)
      M = Row[static_cast<size_t>(K)] > M ? Row[static_cast<size_t>(K)] : M;
    Img.Db[static_cast<size_t>(Y * Img.Width + X)] = M;
  }
}

void ClearColumn(TOverviewImage &Img, int32_t X) {
  for (int32_t Y = 0; Y < Img.Height; ++Y)
    Img.Db[static_cast<size_t>(Y) * Img.Width + X] = -std::numeric_limits<float>::infinity();
}

// The max-held row of all transforms of Samples (no overlap); false when none fits.
bool PooledRow(const TComplexArray &Samples, int32_t NFFT, TRowBuffer &Rows) {
  int32_t Count = 0;
  ComputeWaterfallPooledRows(Samples, NFFT, 0.0, 1, Rows, Count);
  return Count > 0;
}

} // namespace

int32_t OverviewNFFT(int32_t Height) {
  const int32_t Want = std::clamp(Height, 1, OVERVIEW_MAX_NFFT) * 2;
  return std::clamp(NextPow2(Want), OVERVIEW_MIN_NFFT, OVERVIEW_MAX_NFFT);
}

void OverviewColumnRange(int64_t Total, int32_t Width, int32_t X, int64_t &First, int64_t &End) {
  // 128-bit-free: Total * X fits as long as Total < 2^63 / Width, true for any file.
  First = static_cast<int64_t>(static_cast<long double>(Total) * X / Width);
  End = static_cast<int64_t>(static_cast<long double>(Total) * (X + 1) / Width);
}

bool OverviewSampledPass(const TIQSource &Src, TOverviewImage &Img, const std::atomic<bool> &Cancel,
                         std::mutex *Lock) {
  const int32_t NFFT = OverviewNFFT(Img.Height);
  TRowBuffer Rows(1);
  for (int32_t X = 0; X < Img.Width; ++X) {
    if (Cancel.load(std::memory_order_relaxed))
      return false;
    int64_t First = 0, End = 0;
    OverviewColumnRange(Src.TotalSamples(), Img.Width, X, First, End);
    // Blocks spread evenly over the column's stretch; a short stretch gives fewer.
    std::vector<TSingleArray> Got;
    const int64_t Len = End - First;
    for (int32_t B = 0; B < OVERVIEW_SAMPLED_BLOCKS; ++B) {
      const int64_t At = First + (Len - NFFT) * B / std::max(OVERVIEW_SAMPLED_BLOCKS - 1, 1);
      if (Len < NFFT && B > 0)
        break;
      const TComplexArray S = Src.LoadSegment(std::max<int64_t>(At, 0), NFFT);
      if (PooledRow(S, NFFT, Rows))
        Got.push_back(Rows[0]);
    }
    std::unique_lock<std::mutex> L;
    if (Lock)
      L = std::unique_lock<std::mutex>(*Lock);
    if (Img.Pass[static_cast<size_t>(X)] >= 2)
      continue;
    ClearColumn(Img, X);
    for (const TSingleArray &R : Got)
      FoldRow(Img, X, R);
    Img.Pass[static_cast<size_t>(X)] = 1;
  }
  return true;
}

namespace {

// What a thread of the full pass keeps from column to column: the open file, the held powers and
// one stretch's buffer.
struct TColumnWork {
  TIQStretchReader Reader;
  TPowerHold Hold;
  int64_t Stretch; // samples per read, whole transforms
  TComplexArray Samples;
  std::vector<int16_t> Values;
  TColumnWork(const TIQSource &Src, int32_t NFFT)
      : Reader(Src), Hold(NFFT), Stretch(std::max<int64_t>(Reader.StretchSamples() / NFFT * NFFT, NFFT)) {
    if (Reader.Int16Scale() > 0)
      Values.resize(static_cast<size_t>(2 * Stretch));
    else
      Samples.resize(static_cast<size_t>(Stretch));
  }
};

// The column's row by the double-precision transform, for a stretch whose powers single
// precision cannot hold (samples that are not numbers, or beyond its range).
bool ExactColumnRow(const TIQSource &Src, int64_t First, int64_t End, int32_t NFFT,
                    const std::atomic<bool> &Cancel, TSingleArray &Max) {
  TComplexArray Buf(static_cast<size_t>(std::max<int64_t>(OVERVIEW_READ_SAMPLES / NFFT * NFFT, NFFT)));
  const int64_t Read = static_cast<int64_t>(Buf.size());
  TRowBuffer Rows(1);
  Max.clear();
  for (int64_t At = First; At < End || At == First; At += Read) {
    if (Cancel.load(std::memory_order_relaxed))
      return false;
    const int64_t Want = std::max<int64_t>(std::min(Read, End - At), NFFT);
    const size_t Got = Src.ReadSegment(At, std::span<TComplexSample>(Buf.data(), static_cast<size_t>(Want)));
    int32_t Count = 0;
    ComputeWaterfallPooledRows(std::span<const TComplexSample>(Buf.data(), Got), NFFT, 0.0, 1, Rows, Count,
                               1);
    if (Count == 0)
      break;
    if (Max.empty())
      Max = Rows[0];
    else
      for (size_t K = 0; K < Max.size(); ++K)
        Max[K] = std::max(Max[K], Rows[0][K]);
  }
  return true;
}

// Column X from every whole transform of its stretch; a column shorter than one transform takes
// one from its start.
bool FullColumnThrough(const TIQSource &Src, TOverviewImage &Img, int32_t X, const std::atomic<bool> &Cancel,
                       std::mutex *Lock, TColumnWork &W) {
  const int32_t NFFT = W.Hold.Size();
  int64_t First = 0, End = 0;
  OverviewColumnRange(Src.TotalSamples(), Img.Width, X, First, End);
  W.Hold.Reset();
  for (int64_t At = First; At < End || At == First; At += W.Stretch) {
    if (Cancel.load(std::memory_order_relaxed))
      return false;
    const size_t Want = static_cast<size_t>(std::max<int64_t>(std::min(W.Stretch, End - At), NFFT));
    size_t Got = 0;
    if (const float Scale = W.Reader.Int16Scale(); Scale > 0) {
      Got = W.Reader.ReadInt16(At, std::span<int16_t>(W.Values.data(), 2 * Want));
      W.Hold.AddInt16(std::span<const int16_t>(W.Values.data(), 2 * Got), Scale);
    } else {
      Got = W.Reader.Read(At, std::span<TComplexSample>(W.Samples.data(), Want));
      W.Hold.Add(std::span<const TComplexSample>(W.Samples.data(), Got));
    }
    if (Got < static_cast<size_t>(NFFT))
      break;
  }
  TSingleArray Row;
  if (W.Hold.Finite())
    W.Hold.Levels(Row);
  else if (!ExactColumnRow(Src, First, End, NFFT, Cancel, Row))
    return false;
  std::unique_lock<std::mutex> L;
  if (Lock)
    L = std::unique_lock<std::mutex>(*Lock);
  ClearColumn(Img, X);
  FoldRow(Img, X, Row);
  Img.Pass[static_cast<size_t>(X)] = 2;
  return true;
}

} // namespace

bool OverviewFullColumn(const TIQSource &Src, TOverviewImage &Img, int32_t X, const std::atomic<bool> &Cancel,
                        std::mutex *Lock) {
  TColumnWork W(Src, OverviewNFFT(Img.Height));
  return FullColumnThrough(Src, Img, X, Cancel, Lock, W);
}

bool OverviewFullPass(const TIQSource &Src, TOverviewImage &Img, const std::atomic<bool> &Cancel,
                      std::mutex *Lock, int32_t Threads, std::atomic<int32_t> *Done) {
  if (Img.Width <= 0)
    return true;
  if (Threads <= 0)
    Threads = static_cast<int32_t>(std::max(std::thread::hardware_concurrency(), 1u));
  Threads = std::clamp(Threads, 1, Img.Width);
  std::atomic<int32_t> Next{0};
  std::atomic<bool> Stopped{false};
  std::mutex Failed;
  std::exception_ptr Error;
  RunOnThreads(Threads, [&] {
    try {
      TColumnWork W(Src, OverviewNFFT(Img.Height));
      for (int32_t X = Next++; X < Img.Width && !Stopped.load(); X = Next++) {
        if (!FullColumnThrough(Src, Img, X, Cancel, Lock, W)) {
          Stopped.store(true);
          return;
        }
        if (Done)
          ++*Done;
      }
    } catch (...) {
      // The first failure stops the other threads and reaches the caller.
      const std::lock_guard<std::mutex> G(Failed);
      if (!Error)
        Error = std::current_exception();
      Stopped.store(true);
    }
  });
  if (Error)
    std::rethrow_exception(Error);
  return !Stopped.load();
}

void OverviewLevels(const TOverviewImage &Img, float &MinDb, float &MaxDb) {
  std::vector<float> L;
  for (float V : Img.Db)
    if (std::isfinite(V))
      L.push_back(V);
  if (L.empty()) {
    MinDb = -10.0f, MaxDb = 45.0f;
    return;
  }
  const auto Nth = L.begin() + static_cast<ptrdiff_t>(0.05 * static_cast<double>(L.size() - 1));
  std::nth_element(L.begin(), Nth, L.end());
  MinDb = std::floor(*Nth);
  MaxDb = std::ceil(*std::max_element(L.begin(), L.end()) + 3.0f);
  if (MaxDb <= MinDb)
    MaxDb = MinDb + 10.0f;
}

std::vector<uint8_t> OverviewRGB(const TOverviewImage &Img, float MinDb, float MaxDb) {
  std::vector<uint8_t> Out;
  Out.reserve(static_cast<size_t>(Img.Width) * Img.Height * 3);
  for (int32_t Y = Img.Height - 1; Y >= 0; --Y)
    for (int32_t X = 0; X < Img.Width; ++X) {
      const TRGB C = MapDbToColor(Img.At(X, Y), MinDb, MaxDb);
      Out.insert(Out.end(), {C.R, C.G, C.B});
    }
  return Out;
}

TOverviewJob::TOverviewJob(std::string FileName, std::string FormatHint, int32_t Width, int32_t Height) {
  FImg.Width = std::max(Width, 1);
  FImg.Height = std::max(Height, 1);
  FImg.Db.assign(static_cast<size_t>(FImg.Width) * FImg.Height, -std::numeric_limits<float>::infinity());
  FImg.Pass.assign(static_cast<size_t>(FImg.Width), 0);
  FThread = std::thread([this, F = std::move(FileName), H = std::move(FormatHint)]() mutable {
    Run(std::move(F), std::move(H));
  });
}

TOverviewJob::~TOverviewJob() {
  Cancel();
}

void TOverviewJob::Cancel() {
  FCancel.store(true);
  if (FThread.joinable())
    FThread.join();
}

void TOverviewJob::Run(std::string FileName, std::string FormatHint) {
  try {
    const TIQSource Src(FileName, FormatHint);
    if (Src.TotalSamples() > 0 && OverviewSampledPass(Src, FImg, FCancel, &FLock))
      OverviewFullPass(Src, FImg, FCancel, &FLock, 0, &FColumnsDone);
  } catch (const std::exception &E) {
    const std::lock_guard<std::mutex> G(FLock);
    FFailure = E.what();
  } catch (...) {
    const std::lock_guard<std::mutex> G(FLock);
    FFailure = "unknown failure";
  }
  FFinished.store(true);
}

TOverviewImage TOverviewJob::Snapshot(double &FullDone) const {
  const std::lock_guard<std::mutex> G(FLock);
  FullDone = static_cast<double>(FColumnsDone.load()) / FImg.Width;
  return FImg;
}

std::string TOverviewJob::Failure() const {
  const std::lock_guard<std::mutex> G(FLock);
  return FFailure;
}
