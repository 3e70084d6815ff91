#include "dsp/uFFTRows.h"

#include "dsp/uFFTHooks.h"
#include "dsp/uFFTKernels.h"
#include "dsp/uFFTLevels.h"
#include "dsp/uFFTMath.h"
#include "dsp/uFFTPower.h"

#include <atomic>
#include <exception>
#include <thread>

namespace {

std::atomic<int32_t> GWaterfallThreads{0};

// Each thread gets at least this many transformed points (about half a millisecond of work):
// starting and joining a thread costs tens of microseconds on an idle machine, and far more when
// the cores are busy and the new thread waits to be scheduled. One chunk of the viewer's window
// (8 transforms of 4096) therefore stays on the calling thread; many chunks in one call spread.
constexpr int64_t MIN_POINTS_PER_THREAD = 65536;
constexpr int32_t MAX_WATERFALL_THREADS = 16;
constexpr int64_t PIECES_PER_THREAD = 4;

} // namespace

namespace fftimpl {

namespace {

// Max-held power of transforms K0 .. K1 - 1 of row R into Out. A part that starts at the row's
// first transform holds exactly as the whole row would; a later part starts from 0, below the
// power floor, so it carries the largest number among its transforms and nothing else. Merged
// into the first part with the same strictly-greater rule, the parts give the whole row's result
// bit for bit, including its NaN rule (a NaN held from the first transform stays, a later NaN
// never replaces a number).
void HoldPart(const TRowsJob &J, TWork &Wk, int64_t R, int64_t K0, int64_t K1, double *Out) {
  if (K0 > 0)
    std::fill(Out, Out + J.N, 0.0);
  for (int64_t K = K0; K < K1; ++K) {
    TransformBlock(*J.T, J.Block(R, K), Wk);
    if (K == 0)
      HoldPower<true>(Wk, J.N, Out);
    else
      HoldPower<false>(Wk, J.N, Out);
  }
}

void ComputeRowsSerial(const TRowsJob &J) {
  TWork Wk(J.N);
  TLineDoubles Power(J.N);
  for (int64_t R = 0; R < J.Count; ++R) {
    HoldPart(J, Wk, R, 0, J.RowBegin(R + 1) - J.RowBegin(R), Power.data());
    StoreRowDb(Power.data(), J.N, J.Rows[R]);
  }
}

// A row whose transforms are shared between slices: each slice keeps its part here.
struct TPartRow {
  int64_t Row = -1;
  bool Head = false; // holds the row's first transform
  TLineDoubles Power;
};

struct TSlice {
  int64_t G0 = 0, G1 = 0; // transforms [G0, G1) of Count * Dec, in row order
  TPartRow Parts[2];      // its first and its last row, when they are shared
  std::exception_ptr Error;
};

// Phase 1: the slice's transforms. Rows it holds entirely are finished here; of a shared row it
// keeps its part.
void RunSlicePhase1(const TRowsJob &J, TSlice &S) {
  TWork Wk(J.N);
  TLineDoubles Power(J.N);
  const int64_t FirstRow = J.RowOf(S.G0);
  for (int64_t R = FirstRow; R < J.Count && J.RowBegin(R) < S.G1; ++R) {
    const int64_t Begin = J.RowBegin(R), End = J.RowBegin(R + 1);
    if (End == Begin)
      continue;
    const int64_t K0 = std::max(S.G0, Begin) - Begin;
    const int64_t K1 = std::min(S.G1, End) - Begin;
    if (K0 == 0 && K1 == End - Begin) {
      HoldPart(J, Wk, R, K0, K1, Power.data());
      StoreRowDb(Power.data(), J.N, J.Rows[R]);
      continue;
    }
    TPartRow &P = S.Parts[R == FirstRow ? 0 : 1];
    P.Row = R;
    P.Head = K0 == 0;
    P.Power.resize(J.N);
    HoldPart(J, Wk, R, K0, K1, P.Power.data());
    if (P.Head) // only this slice touches the row's array before phase 2
      J.Rows[R].resize(J.N);
  }
}

// Phase 2: the shared rows merged and converted; call Index of All.size() takes its share of the bins.
void RunSlicePhase2(const TRowsJob &J, const std::vector<TSlice> &All, size_t Index) {
  const size_t Slices = All.size();
  const size_t B0 = J.N * Index / Slices, B1 = J.N * (Index + 1) / Slices;
  for (size_t H = 0; H < Slices; ++H)
    for (const TPartRow &Head : All[H].Parts) {
      if (Head.Row < 0 || !Head.Head)
        continue;
      // The other parts of the row, in the slices that follow.
      std::vector<const double *> Tails;
      for (size_t S = H + 1; S < Slices; ++S)
        for (const TPartRow &Tail : All[S].Parts)
          if (Tail.Row == Head.Row && !Tail.Head)
            Tails.push_back(Tail.Power.data());
      TSingleArray &Row = J.Rows[Head.Row];
      for (size_t I = B0; I < B1; ++I) {
        double V = Head.Power[I];
        for (const double *T : Tails)
          V = T[I] > V ? T[I] : V;
        Row[I] = WaterfallDb(V);
      }
    }
}

void ComputeRowsParallel(const TRowsJob &J, int32_t Threads) {
  const int64_t Total = J.Total();
  // Several pieces per thread, taken in turn by whichever thread is free: on a busy machine a
  // worker may wait long to be scheduled, and the calling thread then does its share instead of
  // waiting for it.
  const int64_t Pieces = std::min<int64_t>(Total, int64_t{Threads} * PIECES_PER_THREAD);
  std::vector<TSlice> Slices(static_cast<size_t>(Pieces));
  // Whole rows per piece while there are enough of them and they are alike; otherwise the
  // transforms are split evenly and rows are shared.
  const bool WholeRows = J.Count >= Pieces && J.Cum.empty();
  for (int64_t S = 0; S < Pieces; ++S) {
    auto Bound = [&](int64_t K) { return WholeRows ? J.RowBegin(J.Count * K / Pieces) : Total * K / Pieces; };
    Slices[static_cast<size_t>(S)].G0 = Bound(S);
    Slices[static_cast<size_t>(S)].G1 = Bound(S + 1);
  }
  bool Shared = false;
  for (const TSlice &S : Slices)
    Shared = Shared || (S.G0 < Total && J.RowBegin(J.RowOf(S.G0)) != S.G0);

  std::atomic<int64_t> Next{0};
  auto Run = [&] {
    for (;;) {
      const int64_t S = Next.fetch_add(1, std::memory_order_relaxed);
      if (S >= Pieces)
        return;
      try {
        RunSlicePhase1(J, Slices[static_cast<size_t>(S)]);
      } catch (...) {
        Slices[static_cast<size_t>(S)].Error = std::current_exception();
      }
    }
  };
  RunOnThreads(Threads, Run);
  for (const TSlice &S : Slices)
    if (S.Error)
      std::rethrow_exception(S.Error);
  // The shared rows merged and converted once every part is there (a few rows at most).
  if (Shared)
    for (size_t S = 0; S < Slices.size(); ++S)
      RunSlicePhase2(J, Slices, S);
}

} // namespace

TRowsJob MakeRowsJob(const TFFTTables &T, const TComplexSample *FirstSample, int64_t Hop, int64_t Dec,
                     int64_t Count, int64_t RowStride, TSingleArray *Rows) {
  TRowsJob J;
  J.T = &T;
  J.FirstSample = FirstSample;
  J.N = T.N;
  J.Hop = Hop;
  J.Dec = Dec;
  J.Count = Count;
  J.RowStride = RowStride;
  J.Rows = Rows;
  return J;
}

void ChooseDecimation(int64_t TotalRaw, int32_t Decimation, int64_t &Dec, int64_t &Blocks) {
  Dec = std::max<int32_t>(Decimation, 1);
  Blocks = TotalRaw;
  if (Dec > 1) {
    Blocks = TotalRaw / Dec;
    if (Blocks <= 0) {
      Blocks = 1;
      Dec = TotalRaw;
    }
  }
}

void RunRowsJob(const TRowsJob &J, int32_t NFFT, int32_t Threads) {
  const int64_t Transforms = J.Total();
  Threads = Threads > 0 ? static_cast<int32_t>(std::min<int64_t>(Threads, Transforms))
                        : WaterfallThreadsFor(Transforms, NFFT);
  if (Threads <= 1)
    ComputeRowsSerial(J);
  else
    ComputeRowsParallel(J, Threads);
}
void ComputeWaterfallRowsOn(const TComplexArray &Samples, int32_t NFFT, double Overlap, int32_t MaxRows,
                            TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation, int32_t Threads) {
  RowCount = 0;
  if (Decimation < 1)
    Decimation = 1;
  if (!ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT))
    return;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Hop = WaterfallHop(NFFT, Overlap);
  const int64_t TotalRaw = static_cast<int64_t>(Samples.size() - N) / Hop + 1;
  int64_t Dec = 0, Blocks = 0;
  ChooseDecimation(TotalRaw, Decimation, Dec, Blocks);
  const int64_t DecRowCount = (MaxRows > 0 && MaxRows < Blocks) ? MaxRows : Blocks;
  const int64_t Count = std::min<int64_t>(DecRowCount, static_cast<int64_t>(Rows.size()));
  if (Count <= 0)
    return;
  const auto T = GetTables(N);
  // Only the raw rows of the selected blocks are computed. The maximum is taken on the linear
  // power: float(10 log10 x) never decreases as x grows, so the maximum of the dB values is the
  // dB value of the maximum, and a later equal value would not have replaced the first anyway.
  RunRowsJob(MakeRowsJob(*T, Samples.data() + static_cast<size_t>((Blocks - DecRowCount) * Dec * Hop), Hop,
                         Dec, Count, Dec * Hop, Rows.data()),
             NFFT, Threads);
  RowCount = static_cast<int32_t>(Count);
}

} // namespace fftimpl

int32_t WaterfallThreadsFor(int64_t Transforms, int32_t NFFT) {
  const int32_t Forced = GWaterfallThreads.load(std::memory_order_relaxed);
  if (Forced > 0)
    return static_cast<int32_t>(std::clamp<int64_t>(Transforms, 1, Forced));
  return AutoWaterfallThreads(Transforms, NFFT);
}

void RunOnThreads(int32_t Threads, const std::function<void()> &Work) {
  std::vector<std::thread> Workers;
  struct TJoin {
    std::vector<std::thread> &W;
    ~TJoin() {
      for (std::thread &T : W)
        if (T.joinable())
          T.join();
    }
  } Join{Workers};
  try {
    Workers.reserve(static_cast<size_t>(std::max(Threads - 1, 0)));
    for (int32_t T = 1; T < Threads; ++T)
      Workers.emplace_back(Work);
  } catch (...) {
    // No more threads to be had: the pieces go to those there are.
  }
  Work();
}

void SetWaterfallThreads(int32_t Count) {
  GWaterfallThreads.store(Count < 0 ? 0 : Count, std::memory_order_relaxed);
}

int32_t AutoWaterfallThreads(int64_t Transforms, int32_t NFFT) {
  const int64_t Cores = std::max<int64_t>(1, std::thread::hardware_concurrency());
  const int64_t ByWork = Transforms * std::max<int64_t>(NFFT, 1) / MIN_POINTS_PER_THREAD;
  const int64_t T = std::min({Cores, ByWork, Transforms, int64_t{MAX_WATERFALL_THREADS}});
  return static_cast<int32_t>(std::max<int64_t>(T, 1));
}
