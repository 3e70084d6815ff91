// TGtkViewer: one open viewer as GTK2 widgets inside a host's container. The portable core
// does the work; this side builds the widgets, forwards their events and shows the frames the
// renderer draws into an offscreen Mesa context.
#pragma once

#include <gtk/gtk.h>

#include "viewer/uViewerController.h"
#include "viewer/uViewerCore.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct osmesa_context;
class TGLRenderer;

// The offscreen context one viewer draws with; its colour buffer follows the drawing area's
// size. Move-only, released with the object.
class TOSMesaContextOwner {
public:
  TOSMesaContextOwner();
  ~TOSMesaContextOwner();
  TOSMesaContextOwner(const TOSMesaContextOwner &) = delete;
  TOSMesaContextOwner &operator=(const TOSMesaContextOwner &) = delete;

  // Binds the context to a buffer of W x H (at least 1 x 1); false when Mesa refuses.
  bool MakeCurrent(int32_t W, int32_t H);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // RGBA bytes, bottom row first.
  const std::vector<uint8_t> &Pixels() const { return FBuffer; }

private:
  osmesa_context *FCtx = nullptr;
  int32_t FWidth = 0, FHeight = 0;
  std::vector<uint8_t> FBuffer;
};

// Key codes of the viewer's key table for a GDK key value (0 when it has none).
uint32_t GdkKeyToViewerKey(guint KeyVal);

class TGtkViewer : public IViewerPlatform {
public:
  // Builds the widgets inside Parent (a GTK container) and opens FileName (UTF-8 path); throws
  // when the file cannot be shown, leaving nothing behind. T0 is the moment the host asked for
  // the viewer (PerfSeconds clock), for the open-to-first-frame time.
  TGtkViewer(GtkWidget *Parent, const std::string &FileName, double T0);
  ~TGtkViewer() override;
  TGtkViewer(const TGtkViewer &) = delete;
  TGtkViewer &operator=(const TGtkViewer &) = delete;

  GtkWidget *Root() const { return FRoot; }
  // Shows FileName in the same widgets, context and renderer; false (the old file still shown)
  // when it cannot be shown.
  bool LoadNext(const std::string &FileName, double T0) noexcept;
  TViewerCore &Core() { return *FCore; }

  // IViewerPlatform
  void SetStatusText(const std::string &S) override;
  void SetRootText(const std::string &S) override { FRootText = S; }
  void SetPlayButtonText(const std::string &S) override;
  void SetSliderRange(int32_t Min, int32_t Max) override;
  void SetSliderPos(int32_t Pos) override;
  int32_t GetSliderPos() override;
  uintptr_t StartTimer(int32_t Id, int32_t Ms) override;
  void KillTimer(int32_t Id) override;
  double PerfSeconds() override;
  bool MakeCurrent() override;
  void DrawableSize(int32_t &W, int32_t &H) override;
  void Present() override;
  void WakeForFill() noexcept override;
  bool SaveFileAs(const std::string &Suggested, const std::vector<uint8_t> &Bytes, std::string &Saved,
                  std::string &Why) override;

  // The frame as drawn onto the clipboard as an image; false when none is drawn yet.
  bool CopyFrame();

private:
  struct TTimer {
    TGtkViewer *Owner = nullptr;
    int32_t Id = 0;
    guint Source = 0;
    int32_t PeriodMs = 0;
    double DueSec = 0; // next expiry; periods are kept from due time to due time
  };

  void BuildWidgets(GtkWidget *Parent);
  // Stops timers and playback and releases context, renderer and tooltip.
  void ReleaseAll() noexcept;
  void CreateDrawing();
  void Blit(int32_t X, int32_t Y, int32_t W, int32_t H);
  void OnButton(TViewerButton B);
  void ShowHover(const THoverView &V);
  void ShowTooltip(const std::string &Text);
  TTimer *TimerOf(int32_t Id);
  void ScheduleTimer(TTimer &T);
  void LogTiming(const char *Fmt, ...) __attribute__((format(printf, 2, 3)));

  static void OnDestroy(GtkWidget *W, gpointer Self);
  static void OnRealize(GtkWidget *W, gpointer Self);
  static gboolean OnExpose(GtkWidget *W, GdkEventExpose *E, gpointer Self);
  static gboolean OnMotion(GtkWidget *W, GdkEventMotion *E, gpointer Self);
  static gboolean OnLeave(GtkWidget *W, GdkEventCrossing *E, gpointer Self);
  static gboolean OnAreaPress(GtkWidget *W, GdkEventButton *E, gpointer Self);
  static gboolean OnKey(GtkWidget *W, GdkEventKey *E, gpointer Self);
  static gboolean OnAreaRelease(GtkWidget *W, GdkEventButton *E, gpointer Self);
  static gboolean OnScroll(GtkWidget *W, GdkEventScroll *E, gpointer Self);
  static void OnButtonClicked(GtkButton *Btn, gpointer Self);
  static void OnSliderValue(GtkRange *R, gpointer Self);
  static gboolean OnSliderPress(GtkWidget *W, GdkEventButton *E, gpointer Self);
  static gboolean OnSliderRelease(GtkWidget *W, GdkEventButton *E, gpointer Self);
  static gboolean OnTimer(gpointer Data);
  static gboolean OnFillWake(gpointer Self);

  GtkWidget *FRoot = nullptr; // vertical box: toolbar, drawing area, slider, status row
  GtkWidget *FButtons[VIEWER_BUTTON_COUNT] = {};
  GtkWidget *FArea = nullptr, *FSlider = nullptr, *FStatus = nullptr, *FFreq = nullptr;
  GtkWidget *FTip = nullptr, *FTipLabel = nullptr; // popup window of the signal tooltip
  bool FDestroyed = false;                         // the widgets are going: show nothing more
  bool FSliderDrag = false;                        // the slider's thumb is held by the mouse
  bool FInDialog = false;                          // a modal dialog of this viewer runs its own loop
  bool FDeletePending = false;                     // the widgets went while it ran: the viewer goes after it
  THoverState FHover;
  TTimer FTimers[4]; // play, seek debounce, window fill, overview strip
  // The idle callback a worker's WakeForFill queued, at most one; none once the viewer closes.
  std::mutex FWakeLock;
  guint FWakeSource = 0;
  bool FWakeClosed = false;
  std::unique_ptr<TOSMesaContextOwner> FGL;
  std::unique_ptr<TGLRenderer> FRenderer;
  std::unique_ptr<TViewerCore> FCore;
  std::vector<uint8_t> FFrame; // the frame shown: RGBx, top row first
  int32_t FFrameW = 0, FFrameH = 0;
  std::string FRootText;
  double FOpenT0 = 0;       // when the host asked for the file now shown
  bool FFirstShown = false; // its first frame reached the screen
  double FPlayT0 = -1;      // wall time and position when playback started, for the log
  double FPlayPos0 = 0;
};
