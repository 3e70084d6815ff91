// Overview of a whole recording: a horizontal waterfall, time along the width (one column per
// stretch of the recording), frequency up the height, each pixel the strongest level of the
// bins and transforms it covers. Computed in two passes: a quick sampled pass (a few transforms
// per column spread over its stretch), then a full pass that max-holds every transform, column
// by column. TOverviewJob runs both on a worker thread that the host's thread never waits for,
// except for the moment it takes to cancel. Portable.
#pragma once

#include "base/uGlobals.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TIQSource;

inline constexpr int32_t TIMER_OVERVIEW_ID = 7; // refreshes the strip while it is computed
inline constexpr int32_t TIMER_OVERVIEW_MS = 250;
inline constexpr int32_t OVERVIEW_STRIP_H = 44;       // strip height in the viewer, pixels
inline constexpr int32_t OVERVIEW_SAMPLED_BLOCKS = 4; // transforms per column in the sampled pass
inline constexpr int32_t OVERVIEW_MIN_NFFT = 64;
inline constexpr int32_t OVERVIEW_MAX_NFFT = 1024;
inline constexpr int64_t OVERVIEW_READ_SAMPLES = 1 << 18; // most samples read at once by the exact fallback

// Levels of the strip: Height rows of Width columns, row 0 the lowest frequency.
struct TOverviewImage {
  int32_t Width = 0, Height = 0;
  std::vector<float> Db;     // Width * Height, row after row
  std::vector<uint8_t> Pass; // per column: 0 nothing yet, 1 sampled, 2 full
  float At(int32_t X, int32_t Y) const { return Db[static_cast<size_t>(Y) * Width + X]; }
};

// The transform size for a strip Height pixels high: the power of two at or above twice the
// height, within OVERVIEW_MIN_NFFT .. OVERVIEW_MAX_NFFT.
int32_t OverviewNFFT(int32_t Height);
// The samples column X of Width covers: [First, End).
void OverviewColumnRange(int64_t Total, int32_t Width, int32_t X, int64_t &First, int64_t &End);

// The passes, synchronous. Each returns false when Cancel was set (the image is then partly
// done). Column(X) is called after each column is written (may be empty).
bool OverviewSampledPass(const TIQSource &Src, TOverviewImage &Img, const std::atomic<bool> &Cancel,
                         std::mutex *Lock = nullptr);
bool OverviewFullColumn(const TIQSource &Src, TOverviewImage &Img, int32_t X, const std::atomic<bool> &Cancel,
                        std::mutex *Lock = nullptr);
// Every column by the full pass, on Threads threads (0: one per processor) that take the columns
// in order, so the picture still refines from the left; Done (may be null) counts the columns
// finished. A read failure on any thread stops the others and is thrown here.
bool OverviewFullPass(const TIQSource &Src, TOverviewImage &Img, const std::atomic<bool> &Cancel,
                      std::mutex *Lock = nullptr, int32_t Threads = 0, std::atomic<int32_t> *Done = nullptr);

// Level range for the picture: the 5th percentile of the levels to 3 dB above the strongest
// (the same rule as the viewer's automatic levels); -10 .. 45 dB while nothing is computed.
void OverviewLevels(const TOverviewImage &Img, float &MinDb, float &MaxDb);
// The picture as RGB bytes, top row (highest frequency) first, coloured like the waterfall.
std::vector<uint8_t> OverviewRGB(const TOverviewImage &Img, float MinDb, float MaxDb);

// Both passes on a worker thread.
class TOverviewJob {
public:
  // Opens its own source for the file (the viewer's is not shared across threads).
  TOverviewJob(std::string FileName, std::string FormatHint, int32_t Width, int32_t Height);
  // Cancels and joins: returns as soon as the worker has finished its current transform block.
  ~TOverviewJob();
  TOverviewJob(const TOverviewJob &) = delete;
  TOverviewJob &operator=(const TOverviewJob &) = delete;

  void Cancel();
  // A copy of the image as it stands, and the share of columns the full pass has done (0..1).
  TOverviewImage Snapshot(double &FullDone) const;
  bool Finished() const { return FFinished.load(); }
  // The failure that stopped the worker (unreadable file), empty when none.
  std::string Failure() const;

private:
  void Run(std::string FileName, std::string FormatHint);
  mutable std::mutex FLock;
  TOverviewImage FImg;
  std::atomic<bool> FCancel{false}, FFinished{false};
  std::atomic<int32_t> FColumnsDone{0};
  std::string FFailure;
  std::thread FThread;
};
