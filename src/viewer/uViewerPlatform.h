// What the viewer core needs from its window system: texts, the position slider, the two
// timers, a clock and the drawing context. The Win32 form implements it over its windows;
// the headless platform records the calls for tests, benchmarks and the command-line tool.
// Portable: never includes <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int32_t TIMER_PLAY_ID = 1;            // play timer of the root window
inline constexpr int32_t TIMER_PLAY_MS = 33;           // play timer period
inline constexpr int32_t TIMER_SEEK_ID = 2;            // seek debounce timer of the root window
inline constexpr int32_t TIMER_SEEK_DEBOUNCE_MS = 110; // debounce delay
inline constexpr int32_t TIMER_FILL_ID = 4; // hands the window's rows from the workers to the frame
inline constexpr int32_t TIMER_FILL_MS = TIMER_PLAY_MS; // no more redraws than playback makes
inline constexpr int32_t SLIDER_RANGE_MAX = 10000;      // slider positions 0 .. 10000

class IViewerPlatform {
public:
  virtual ~IViewerPlatform() = default;

  virtual void SetStatusText(const std::string &S) = 0;     // the status line
  virtual void SetRootText(const std::string &S) = 0;       // the root window's text
  virtual void SetPlayButtonText(const std::string &S) = 0; // UTF-8

  virtual void SetSliderRange(int32_t Min, int32_t Max) = 0;
  virtual void SetSliderPos(int32_t Pos) = 0;
  virtual int32_t GetSliderPos() = 0;

  // Starts (or restarts) timer Id with the period Ms; returns 0 when it could not be started.
  virtual uintptr_t StartTimer(int32_t Id, int32_t Ms) = 0;
  virtual void KillTimer(int32_t Id) = 0;

  // Monotonic clock in seconds, for the timings in the status line.
  virtual double PerfSeconds() = 0;

  // Makes the drawing context current; false when there is none (nothing is drawn then).
  virtual bool MakeCurrent() = 0;
  // Client size of the drawing area in pixels.
  virtual void DrawableSize(int32_t &W, int32_t &H) = 0;
  // Shows the frame just drawn (buffer swap).
  virtual void Present() = 0;

  // Called on a worker thread when the waterfall's fill has finished: asks for the core's
  // DrainWindowFill on the viewer's own thread soon, ahead of the drain timer (a posted
  // message). Must be safe to call from any thread; doing nothing leaves it to the timer.
  virtual void WakeForFill() noexcept {}
  // Asks the user where to save Bytes (a file offered as Suggested, a name without folder) and
  // writes them there; false when cancelled, refused or not possible (no dialog on this
  // platform), with the reason in Why (empty when cancelled). Saved: the name written.
  virtual bool SaveFileAs(const std::string & /*Suggested*/, const std::vector<uint8_t> & /*Bytes*/,
                          std::string & /*Saved*/, std::string & /*Why*/) {
    return false;
  }
};
