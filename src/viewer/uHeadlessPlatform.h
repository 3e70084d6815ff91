// A viewer platform without windows: it records what the core shows (texts, slider, timers)
// and runs timers on a virtual clock. Tests, benchmarks and the command-line tool drive the
// core through it; an offscreen context can be plugged in through the two drawing hooks.
#pragma once

#include "viewer/uViewerPlatform.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class TViewerCore;

class THeadlessPlatform : public IViewerPlatform {
public:
  void SetStatusText(const std::string &S) override;
  void SetRootText(const std::string &S) override { RootText = S; }
  void SetPlayButtonText(const std::string &S) override { PlayButtonText = S; }
  void SetSliderRange(int32_t Min, int32_t Max) override;
  void SetSliderPos(int32_t Pos) override;
  int32_t GetSliderPos() override { return SliderPos; }
  uintptr_t StartTimer(int32_t Id, int32_t Ms) override;
  void KillTimer(int32_t Id) override { Timers.erase(Id); }
  double PerfSeconds() override;
  bool MakeCurrent() override { return OnMakeCurrent ? OnMakeCurrent() : false; }
  void DrawableSize(int32_t &W, int32_t &H) override {
    W = Width;
    H = Height;
  }
  void Present() override;
  void WakeForFill() noexcept override { ++FillWakes; }
  // Saves to SavePath when it is set (as a user who picks that file), else cancels; the name
  // offered is kept in SaveSuggested.
  bool SaveFileAs(const std::string &Suggested, const std::vector<uint8_t> &Bytes, std::string &Saved,
                  std::string &Why) override;
  std::string SavePath, SaveSuggested;

  // The user drags or clicks the slider: moves the thumb (clamped to the range) without the
  // program's own guard; the caller then hands the notification to the core.
  void UserMovesSlider(int32_t Pos);
  bool TimerActive(int32_t Id) const { return Timers.count(Id) != 0; }
  // Advances the virtual clock by Ms milliseconds, handing every timer expiry on the way to
  // the core in time order (a timer started or killed by a handler takes effect at once).
  void Advance(TViewerCore &Core, int64_t Ms);

  std::string StatusText, RootText, PlayButtonText;
  std::vector<std::string> StatusHistory; // every status text, oldest first
  int32_t SliderMin = 0, SliderMax = 0, SliderPos = 0;
  int32_t SliderSets = 0; // how often the program moved the slider
  int32_t Width = 800, Height = 600;
  int32_t Presents = 0;
  int64_t NowMs = 0;
  std::atomic<int32_t> FillWakes{0};   // wakes asked for by finished fills (from worker threads)
  bool RefuseTimers = false;           // as when the window system has no timer left: StartTimer gives 0
  std::function<bool()> OnMakeCurrent; // nullptr: no drawing context
  std::function<void()> OnPresent;

private:
  struct TTimer {
    int32_t PeriodMs = 0;
    int64_t DueMs = 0;
  };
  std::map<int32_t, TTimer> Timers;
};
