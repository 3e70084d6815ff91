#include "viewer/gtk2_uViewerWidget.h"

#include <gdk/gdkkeysyms.h>

#include "base/uLog.h"
#include "base/uText.h"
#include "render/osmesa_uWinGL.h"
#include "render/uGLRenderer.h"
#include "render/uWinGL.h"
#include "viewer/gtk2_uDialogs.h"
#include "viewer/uOverview.h"
#include "viewer/uViewerKeys.h"
#include "viewer/uViewerLayout.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

extern "C" {
// The few offscreen entry points used; the system header would bring the gl* prototypes along.
using OSMesaContext = osmesa_context *;
OSMesaContext OSMesaCreateContextExt(GLenum format, GLint depthBits, GLint stencilBits, GLint accumBits,
                                     OSMesaContext sharelist);
void OSMesaDestroyContext(OSMesaContext ctx);
unsigned char OSMesaMakeCurrent(OSMesaContext ctx, void *buffer, GLenum type, GLsizei width, GLsizei height);
}

namespace {

constexpr GLenum OSMESA_RGBA_FORMAT = 0x1908; // GL_RGBA
constexpr int32_t TIP_OFFSET = 18;            // tooltip position right of and below the mouse

// Texts from the core as GTK takes them: UTF-8 as it is, other bytes read as Windows-1252.
std::string ToGtk(const std::string &S) {
  return IsValidUtf8(S) ? S : Cp1252ToUtf8(S);
}

void SetBg(GtkWidget *W, uint8_t R, uint8_t G, uint8_t B) {
  GdkColor C{0, static_cast<guint16>(R * 257), static_cast<guint16>(G * 257), static_cast<guint16>(B * 257)};
  gtk_widget_modify_bg(W, GTK_STATE_NORMAL, &C);
}

void SetFg(GtkWidget *W, uint8_t R, uint8_t G, uint8_t B) {
  GdkColor C{0, static_cast<guint16>(R * 257), static_cast<guint16>(G * 257), static_cast<guint16>(B * 257)};
  gtk_widget_modify_fg(W, GTK_STATE_NORMAL, &C);
}

// Runs a signal handler's body; nothing may unwind into GTK's (C) main loop.
template <class Fn> void Guard(const char *Where, Fn &&Body) noexcept {
  try {
    Body();
  } catch (const std::exception &E) {
    LogFmt("%s EXCEPTION: %s", Where, E.what());
  } catch (...) {
    LogFmt("%s EXCEPTION", Where);
  }
}

} // namespace

// ---------------------------------------------------------------------------------------
// Offscreen context

TOSMesaContextOwner::TOSMesaContextOwner() {
  FCtx = OSMesaCreateContextExt(OSMESA_RGBA_FORMAT, 24, 8, 0, nullptr);
  if (!FCtx)
    throw std::runtime_error("offscreen context: OSMesaCreateContextExt failed");
  if (!MakeCurrent(1, 1) || !LoadOpenGLOffscreen()) {
    OSMesaDestroyContext(FCtx);
    FCtx = nullptr;
    throw std::runtime_error("offscreen context: OpenGL entry points missing");
  }
}

TOSMesaContextOwner::~TOSMesaContextOwner() {
  if (FCtx)
    OSMesaDestroyContext(FCtx);
}

bool TOSMesaContextOwner::MakeCurrent(int32_t W, int32_t H) {
  W = std::max(W, 1);
  H = std::max(H, 1);
  if (W != FWidth || H != FHeight) {
    FBuffer.assign(static_cast<size_t>(W) * static_cast<size_t>(H) * 4, 0);
    FWidth = W;
    FHeight = H;
  }
  return OSMesaMakeCurrent(FCtx, FBuffer.data(), GL_UNSIGNED_BYTE, W, H) != 0;
}

// ---------------------------------------------------------------------------------------
// Keys

uint32_t GdkKeyToViewerKey(guint KeyVal) {
  if (KeyVal >= GDK_a && KeyVal <= GDK_z)
    return static_cast<uint32_t>('A' + (KeyVal - GDK_a));
  if (KeyVal >= GDK_A && KeyVal <= GDK_Z)
    return static_cast<uint32_t>('A' + (KeyVal - GDK_A));
  if (KeyVal >= GDK_0 && KeyVal <= GDK_9)
    return static_cast<uint32_t>('0' + (KeyVal - GDK_0));
  if (KeyVal >= GDK_F1 && KeyVal <= GDK_F24)
    return KEY_F1 + static_cast<uint32_t>(KeyVal - GDK_F1);
  switch (KeyVal) {
  case GDK_Escape:
    return KEY_ESCAPE;
  case GDK_space:
    return KEY_SPACE;
  case GDK_Home:
    return KEY_HOME;
  case GDK_Left:
    return KEY_LEFT;
  case GDK_Right:
    return KEY_RIGHT;
  case GDK_plus:
  case GDK_equal:
    return KEY_OEM_PLUS;
  case GDK_minus:
    return KEY_OEM_MINUS;
  case GDK_KP_Add:
    return KEY_ADD;
  case GDK_KP_Subtract:
    return KEY_SUBTRACT;
  default:
    return 0;
  }
}

// ---------------------------------------------------------------------------------------
// Construction

TGtkViewer::TGtkViewer(GtkWidget *Parent, const std::string &FileName, double T0) : FOpenT0(T0) {
  constexpr int32_t Ids[4] = {TIMER_PLAY_ID, TIMER_SEEK_ID, TIMER_FILL_ID, TIMER_OVERVIEW_ID};
  for (int32_t I = 0; I < 4; ++I) {
    FTimers[I].Owner = this;
    FTimers[I].Id = Ids[I];
  }
  FCore = std::make_unique<TViewerCore>(*this);
  // The host's thread only draws: the window's rows come from worker threads. A recording
  // without a sample is left to the host's own viewer.
  FCore->FBackgroundFill = true;
  FCore->FNeedSamples = true;
  // The file first: one that cannot be shown leaves no widget behind in the host.
  FCore->OpenRecording(FileName);
  BuildWidgets(Parent);
  try {
    FCore->ShowFirstFrame();
  } catch (...) {
    // The widgets are the host's now: take them out again without the viewer going with them.
    g_signal_handlers_disconnect_by_func(FRoot, reinterpret_cast<gpointer>(OnDestroy), this);
    ReleaseAll();
    gtk_widget_destroy(FRoot);
    throw;
  }
  LogTiming("open %s\n", FileName.c_str());
  LogTiming("loaded_ms %.1f\n", (PerfSeconds() - T0) * 1000.0);
  Log("Create: done");
}

TGtkViewer::~TGtkViewer() {
  ReleaseAll();
}

void TGtkViewer::ReleaseAll() noexcept {
  FDestroyed = true;
  if (FCore) {
    FCore->CloseFile(); // joins the fill's workers: no WakeForFill after this
    FCore->SetRenderer(nullptr);
  }
  {
    std::lock_guard<std::mutex> Lock(FWakeLock);
    FWakeClosed = true;
    if (FWakeSource)
      g_source_remove(std::exchange(FWakeSource, 0u));
  }
  for (TTimer &T : FTimers)
    if (T.Source)
      g_source_remove(std::exchange(T.Source, 0u));
  if (FRenderer && FGL && FGL->MakeCurrent(FGL->Width(), FGL->Height()))
    FRenderer.reset(); // its texture goes with the context still current
  FRenderer.reset();
  FGL.reset();
  if (FTip)
    gtk_widget_destroy(std::exchange(FTip, nullptr));
}

void TGtkViewer::BuildWidgets(GtkWidget *Parent) {
  const TViewerLayout L = ComputeViewerLayout(0, 0, 1.0);
  FRoot = gtk_vbox_new(FALSE, 0);

  // Toolbar: the buttons at the same places as in the Win32 window, on the dark strip.
  GtkWidget *Bar = gtk_fixed_new();
  gtk_fixed_set_has_window(GTK_FIXED(Bar), TRUE);
  SetBg(Bar, 0x3E, 0x2A, 0x2A);
  gtk_widget_set_size_request(Bar, -1, L.ToolbarH);
  const auto &Texts = ViewerButtonTexts();
  for (int32_t I = 0; I < VIEWER_BUTTON_COUNT; ++I) {
    GtkWidget *B = gtk_button_new_with_label(Texts[static_cast<size_t>(I)]);
    gtk_widget_set_can_focus(B, FALSE); // keys stay with the drawing area, and so with the host
    gtk_widget_set_size_request(B, L.Buttons[I].W, L.Buttons[I].H);
    gtk_fixed_put(GTK_FIXED(Bar), B, L.Buttons[I].X, L.Buttons[I].Y);
    g_object_set_data(G_OBJECT(B), "zb-button", GINT_TO_POINTER(I));
    g_signal_connect(B, "clicked", G_CALLBACK(OnButtonClicked), this);
    FButtons[I] = B;
  }
  gtk_box_pack_start(GTK_BOX(FRoot), Bar, FALSE, FALSE, 0);

  FArea = gtk_drawing_area_new();
  gtk_widget_set_can_focus(FArea, TRUE);
  gtk_widget_set_double_buffered(FArea, FALSE); // frames come whole from the offscreen buffer
  gtk_widget_add_events(FArea, GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_PRESS_MASK |
                                   GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK);
  SetBg(FArea, 0x2E, 0x1E, 0x1E);
  g_signal_connect(FArea, "realize", G_CALLBACK(OnRealize), this);
  g_signal_connect(FArea, "expose-event", G_CALLBACK(OnExpose), this);
  g_signal_connect(FArea, "motion-notify-event", G_CALLBACK(OnMotion), this);
  g_signal_connect(FArea, "leave-notify-event", G_CALLBACK(OnLeave), this);
  g_signal_connect(FArea, "button-press-event", G_CALLBACK(OnAreaPress), this);
  // The view tools: wheel zoom, click markers, drag pan, double-click whole band.
  g_signal_connect(FArea, "button-release-event", G_CALLBACK(OnAreaRelease), this);
  g_signal_connect(FArea, "scroll-event", G_CALLBACK(OnScroll), this);
  gtk_box_pack_start(GTK_BOX(FRoot), FArea, TRUE, TRUE, 0);

  GtkObject *Adj = gtk_adjustment_new(0, 0, SLIDER_RANGE_MAX, 1, 100, 0);
  FSlider = gtk_hscale_new(GTK_ADJUSTMENT(Adj));
  gtk_scale_set_draw_value(GTK_SCALE(FSlider), FALSE);
  gtk_widget_set_can_focus(FSlider, FALSE);
  gtk_widget_set_size_request(FSlider, -1, L.Slider.H);
  g_signal_connect(FSlider, "value-changed", G_CALLBACK(OnSliderValue), this);
  g_signal_connect(FSlider, "button-press-event", G_CALLBACK(OnSliderPress), this);
  g_signal_connect(FSlider, "button-release-event", G_CALLBACK(OnSliderRelease), this);
  gtk_box_pack_start(GTK_BOX(FRoot), FSlider, FALSE, FALSE, 0);

  GtkWidget *Row = gtk_hbox_new(FALSE, 0);
  gtk_widget_set_size_request(Row, -1, L.Status.H);
  FStatus = gtk_label_new("Loading...");
  gtk_misc_set_alignment(GTK_MISC(FStatus), 0.0f, 0.5f);
  gtk_label_set_ellipsize(GTK_LABEL(FStatus), PANGO_ELLIPSIZE_END);
  gtk_widget_set_size_request(FStatus, 1, -1); // long texts must not widen the viewer
  FFreq = gtk_label_new("");
  gtk_misc_set_alignment(GTK_MISC(FFreq), 1.0f, 0.5f);
  gtk_widget_set_size_request(FFreq, L.Freq.W, -1);
  gtk_box_pack_start(GTK_BOX(Row), FStatus, TRUE, TRUE, static_cast<guint>(L.Status.X));
  gtk_box_pack_start(GTK_BOX(Row), FFreq, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(FRoot), Row, FALSE, FALSE, 0);
  gtk_widget_set_size_request(Row, -1, L.Status.H);

  g_signal_connect(FRoot, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(FRoot, "destroy", G_CALLBACK(OnDestroy), this);
  g_object_set_data(G_OBJECT(FRoot), "ZembrolaForm", this);

  FTip = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_widget_set_name(FTip, "gtk-tooltip");
  gtk_container_set_border_width(GTK_CONTAINER(FTip), 4);
  SetBg(FTip, 0xFF, 0xFF, 0xE1);
  FTipLabel = gtk_label_new("");
  SetFg(FTipLabel, 0, 0, 0);
  gtk_container_add(GTK_CONTAINER(FTip), FTipLabel);
  gtk_widget_show(FTipLabel);

  if (Parent && GTK_IS_CONTAINER(Parent))
    gtk_container_add(GTK_CONTAINER(Parent), FRoot);
  gtk_widget_show_all(FRoot);
}

// A parent that is not shown yet (Quick View) realises the area later; drawing waits for it.
void TGtkViewer::CreateDrawing() {
  if (FGL)
    return;
  LogTiming("realize_ms %.1f\n", (PerfSeconds() - FOpenT0) * 1000.0);
  Log("InitGL: start");
  try {
    FGL = std::make_unique<TOSMesaContextOwner>();
    FRenderer = std::make_unique<TGLRenderer>();
    FCore->SetRenderer(FRenderer.get());
    Log("InitGL: TGLRenderer created");
  } catch (const std::exception &E) {
    LogFmt("InitGL: FAILED %s", E.what());
    FRenderer.reset();
    FGL.reset();
    SetStatusText("Error: OpenGL context creation failed");
  }
}

// ---------------------------------------------------------------------------------------
// Next file

bool TGtkViewer::LoadNext(const std::string &FileName, double T0) noexcept {
  try {
    const double OpenT0 = FOpenT0;
    FOpenT0 = T0; // the first frame of the next file is timed from the host's request
    FFirstShown = false;
    if (!FCore->OpenNext(FileName)) {
      FOpenT0 = OpenT0;
      FFirstShown = true;
      return false;
    }
    FPlayT0 = -1;
    ShowHover(HoverRefresh(FHover, *FCore));
    LogTiming("open %s\n", FileName.c_str());
    return true;
  } catch (const std::exception &E) {
    LogFmt("ListLoadNext EXCEPTION: %s", E.what());
  } catch (...) {
    Log("ListLoadNext EXCEPTION");
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// Platform

void TGtkViewer::SetStatusText(const std::string &S) {
  if (!FDestroyed && FStatus)
    gtk_label_set_text(GTK_LABEL(FStatus), ToGtk(S).c_str());
  LogTiming("status %s\n", S.c_str());
}

void TGtkViewer::SetPlayButtonText(const std::string &S) {
  if (!FDestroyed && FButtons[0])
    gtk_button_set_label(GTK_BUTTON(FButtons[0]), ToGtk(S).c_str());
  if (S == STOP_TEXT)
    FPlayT0 = -1; // the next frame starts the real-time log
}

void TGtkViewer::SetSliderRange(int32_t Min, int32_t Max) {
  if (!FDestroyed && FSlider)
    gtk_range_set_range(GTK_RANGE(FSlider), Min, std::max(Min + 1, Max));
}

void TGtkViewer::SetSliderPos(int32_t Pos) {
  if (!FDestroyed && FSlider)
    gtk_range_set_value(GTK_RANGE(FSlider), Pos);
}

int32_t TGtkViewer::GetSliderPos() {
  if (FDestroyed || !FSlider)
    return 0;
  return static_cast<int32_t>(RoundI64(gtk_range_get_value(GTK_RANGE(FSlider))));
}

void TGtkViewer::ScheduleTimer(TTimer &T) {
  // One expiry at a time, each due one period after the one before: a frame that takes a while
  // to draw does not stretch the period (which playback in real time depends on).
  const double Now = PerfSeconds();
  if (T.DueSec < Now - T.PeriodMs / 1000.0)
    T.DueSec = Now; // far behind: start again from now rather than catching up in a burst
  const double WaitMs = std::max(0.0, (T.DueSec - Now) * 1000.0);
  T.Source = g_timeout_add(static_cast<guint>(WaitMs), OnTimer, &T);
}

TGtkViewer::TTimer *TGtkViewer::TimerOf(int32_t Id) {
  for (TTimer &T : FTimers)
    if (T.Id == Id)
      return &T;
  return nullptr;
}

uintptr_t TGtkViewer::StartTimer(int32_t Id, int32_t Ms) {
  TTimer *P = TimerOf(Id);
  if (FDestroyed || !P)
    return 0;
  TTimer &T = *P;
  if (T.Source)
    g_source_remove(std::exchange(T.Source, 0u));
  T.PeriodMs = std::max(Ms, 1);
  T.DueSec = PerfSeconds() + T.PeriodMs / 1000.0;
  ScheduleTimer(T);
  return T.Source ? static_cast<uintptr_t>(Id) : 0;
}

void TGtkViewer::KillTimer(int32_t Id) {
  TTimer *T = TimerOf(Id);
  if (T && T->Source)
    g_source_remove(std::exchange(T->Source, 0u));
}

void TGtkViewer::WakeForFill() noexcept {
  // Runs on a worker thread: g_idle_add is the one GLib call made from here (it is safe from
  // any thread); the drain itself runs on the host's thread.
  std::lock_guard<std::mutex> Lock(FWakeLock);
  if (!FWakeClosed && !FWakeSource)
    FWakeSource = g_idle_add(OnFillWake, this);
}

gboolean TGtkViewer::OnFillWake(gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  {
    std::lock_guard<std::mutex> Lock(V->FWakeLock);
    V->FWakeSource = 0;
  }
  Guard("fill", [V] {
    if (!V->FDestroyed)
      V->FCore->DrainWindowFill();
  });
  return FALSE;
}

gboolean TGtkViewer::OnTimer(gpointer Data) {
  auto &T = *static_cast<TTimer *>(Data);
  T.Source = 0; // this expiry's source ends here; the next is scheduled below
  TGtkViewer &V = *T.Owner;
  T.DueSec += T.PeriodMs / 1000.0;
  V.ScheduleTimer(T);
  V.FCore->HandleTimerId(T.Id); // may kill or restart the timer just scheduled
  return FALSE;
}

double TGtkViewer::PerfSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool TGtkViewer::MakeCurrent() {
  if (FDestroyed || !FGL)
    return false;
  int32_t W = 0, H = 0;
  DrawableSize(W, H);
  return FGL->MakeCurrent(W, H);
}

void TGtkViewer::DrawableSize(int32_t &W, int32_t &H) {
  W = H = 1;
  if (!FArea)
    return;
  GtkAllocation A;
  gtk_widget_get_allocation(FArea, &A);
  W = std::max(A.width, 1);
  H = std::max(A.height, 1);
}

void TGtkViewer::Present() {
  if (FDestroyed || !FGL)
    return;
  if (!FFirstShown)
    LogTiming("present_ms %.1f\n", (PerfSeconds() - FOpenT0) * 1000.0);
  if (GL.glFinish)
    GL.glFinish();
  const int32_t W = FGL->Width(), H = FGL->Height();
  FFrame.resize(static_cast<size_t>(W) * static_cast<size_t>(H) * 4);
  const std::vector<uint8_t> &Src = FGL->Pixels();
  const size_t Row = static_cast<size_t>(W) * 4;
  for (int32_t Y = 0; Y < H; ++Y) // OpenGL's rows run bottom-up, the screen's top-down
    std::memcpy(FFrame.data() + static_cast<size_t>(Y) * Row,
                Src.data() + static_cast<size_t>(H - 1 - Y) * Row, Row);
  FFrameW = W;
  FFrameH = H;
  Blit(0, 0, W, H);
  if (gtk_widget_get_realized(FArea)) {
    gint OX = 0, OY = 0;
    gdk_window_get_origin(gtk_widget_get_window(FArea), &OX, &OY);
    LogTiming("frame %d %d %d %d %.6f\n", OX, OY, W, H,
              static_cast<double>(FCore->FPlayPosition) / FCore->FSampleRate);
  }
}

bool TGtkViewer::CopyFrame() {
  if (FDestroyed || FFrame.empty() || FFrameW <= 0 || FFrameH <= 0)
    return false;
  GdkPixbuf *Pix = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, FFrameW, FFrameH);
  if (!Pix)
    return false;
  guchar *Dst = gdk_pixbuf_get_pixels(Pix);
  const int Stride = gdk_pixbuf_get_rowstride(Pix);
  for (int32_t Y = 0; Y < FFrameH; ++Y) {
    const uint8_t *Src = FFrame.data() + static_cast<size_t>(Y) * static_cast<size_t>(FFrameW) * 4;
    guchar *Row = Dst + static_cast<size_t>(Y) * static_cast<size_t>(Stride);
    for (int32_t X = 0; X < FFrameW; ++X) // RGBx to RGB
      std::memcpy(Row + X * 3, Src + X * 4, 3);
  }
  gtk_clipboard_set_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), Pix); // the clipboard keeps a copy
  g_object_unref(Pix);
  LogTiming("copied %d %d\n", FFrameW, FFrameH);
  return true;
}

void TGtkViewer::Blit(int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (!FArea || !gtk_widget_get_realized(FArea) || FFrame.empty())
    return;
  X = std::clamp(X, 0, FFrameW);
  Y = std::clamp(Y, 0, FFrameH);
  W = std::min(W, FFrameW - X);
  H = std::min(H, FFrameH - Y);
  if (W <= 0 || H <= 0)
    return;
  GdkWindow *Win = gtk_widget_get_window(FArea);
  gdk_draw_rgb_32_image(Win, FArea->style->black_gc, X, Y, W, H, GDK_RGB_DITHER_NONE,
                        FFrame.data() + (static_cast<size_t>(Y) * FFrameW + X) * 4, FFrameW * 4);
  if (!FFirstShown && gtk_widget_get_mapped(FArea)) {
    gdk_flush(); // the frame is complete once the X server has it
    FFirstShown = true;
    const double Now = PerfSeconds();
    // Also the moment itself (the monotonic clock every process shares), for timing from the key.
    LogTiming("first_frame_at %.6f\n", Now);
    LogTiming("first_frame_ms %.1f\n", (Now - FOpenT0) * 1000.0);
  }
  if (FCore && FCore->FPlaying) {
    const double Now = PerfSeconds(), Pos = static_cast<double>(FCore->FPlayPosition) / FCore->FSampleRate;
    if (FPlayT0 < 0) {
      FPlayT0 = Now;
      FPlayPos0 = Pos;
    } else if (Now > FPlayT0) {
      LogTiming("play_ratio %.4f\n", (Pos - FPlayPos0) / (Now - FPlayT0));
    }
  }
}

// Timings and frame places for the host test: only written where ZEMBROLA_TIMING_LOG names a file.
void TGtkViewer::LogTiming(const char *Fmt, ...) {
  const char *Path = std::getenv("ZEMBROLA_TIMING_LOG");
  if (!Path || !*Path)
    return;
  if (FILE *F = std::fopen(Path, "a")) {
    va_list Args;
    va_start(Args, Fmt);
    std::vfprintf(F, Fmt, Args);
    va_end(Args);
    std::fclose(F);
  }
}

// ---------------------------------------------------------------------------------------
// Events

void TGtkViewer::OnDestroy(GtkWidget *, gpointer Self) {
  // The host destroys the viewer's widgets (itself or through ListCloseWindow): the viewer goes
  // with them, while the children still exist.
  auto *V = static_cast<TGtkViewer *>(Self);
  if (V->FInDialog) {
    // A dialog of this viewer still runs its loop further up the stack: the viewer goes when
    // it returns.
    V->FDeletePending = true;
    V->FDestroyed = true;
    V->FCore->StopWindowFill(); // no worker outlives the widgets
    return;
  }
  Guard("destroy", [V] { delete V; });
}

void TGtkViewer::OnRealize(GtkWidget *, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  Guard("realize", [V] { V->CreateDrawing(); });
}

gboolean TGtkViewer::OnExpose(GtkWidget *W, GdkEventExpose *E, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  Guard("expose", [&] {
    GtkAllocation A;
    gtk_widget_get_allocation(W, &A);
    if (V->FFrameW != std::max(A.width, 1) || V->FFrameH != std::max(A.height, 1))
      V->FCore->RenderFrame(); // a new size: a new frame (it shows itself)
    else
      V->Blit(E->area.x, E->area.y, E->area.width, E->area.height);
  });
  return TRUE;
}

gboolean TGtkViewer::OnMotion(GtkWidget *, GdkEventMotion *E, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  Guard("motion", [&] {
    V->ShowHover(HoverMove(V->FHover, *V->FCore, static_cast<int32_t>(E->x), static_cast<int32_t>(E->y)));
    if (E->state & GDK_BUTTON1_MASK)
      V->FCore->ButtonDrag(static_cast<int32_t>(E->x), static_cast<int32_t>(E->y));
  });
  return FALSE;
}

gboolean TGtkViewer::OnLeave(GtkWidget *, GdkEventCrossing *, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  Guard("leave", [V] { V->ShowHover(HoverLeave(V->FHover)); });
  return FALSE;
}

gboolean TGtkViewer::OnAreaPress(GtkWidget *W, GdkEventButton *E, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  gtk_widget_grab_focus(W);
  if (E->button != 1)
    return FALSE;
  const auto X = static_cast<int32_t>(E->x), Y = static_cast<int32_t>(E->y);
  Guard("press", [&] {
    if (E->type == GDK_2BUTTON_PRESS)
      V->FCore->DoubleClickAt(X, Y);
    else if (E->type == GDK_BUTTON_PRESS)
      V->FCore->ButtonDown(X, Y,
                           static_cast<uint8_t>((E->state & GDK_SHIFT_MASK ? KMOD_SHIFT : 0) |
                                                (E->state & GDK_CONTROL_MASK ? KMOD_CTRL : 0)));
  });
  return FALSE;
}

gboolean TGtkViewer::OnAreaRelease(GtkWidget *, GdkEventButton *E, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  if (E->button == 1)
    Guard("release", [&] { V->FCore->ButtonUp(static_cast<int32_t>(E->x), static_cast<int32_t>(E->y)); });
  return FALSE;
}

gboolean TGtkViewer::OnScroll(GtkWidget *, GdkEventScroll *E, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  const int32_t Steps = E->direction == GDK_SCROLL_UP ? 1 : E->direction == GDK_SCROLL_DOWN ? -1 : 0;
  bool Used = false;
  Guard("wheel",
        [&] { Used = V->FCore->WheelAt(static_cast<int32_t>(E->x), static_cast<int32_t>(E->y), Steps); });
  return Used ? TRUE : FALSE;
}

gboolean TGtkViewer::OnKey(GtkWidget *, GdkEventKey *E, gpointer Self) {
  // Only the keys the viewer claims stop here; Escape and everything else go on to the host.
  uint8_t Mods = KMOD_NONE;
  if (E->state & GDK_SHIFT_MASK)
    Mods |= KMOD_SHIFT;
  if (E->state & GDK_CONTROL_MASK)
    Mods |= KMOD_CTRL;
  if (E->state & GDK_MOD1_MASK)
    Mods |= KMOD_ALT;
  const uint32_t Key = GdkKeyToViewerKey(E->keyval);
  const TViewerKey *K = Key ? FindViewerKey(Key, Mods) : nullptr;
  if (!K)
    return FALSE;
  auto *V = static_cast<TGtkViewer *>(Self);
  Guard("key", [&] {
    if (K->Action != TViewerAction::ShowInfo) {
      V->FCore->HandleViewerKey(Key, Mods); // Ctrl+S comes back through SaveFileAs
    } else if (!V->FInDialog) {
      V->FInDialog = true;
      RunInfoDialog(V->FRoot, *V->FCore);
      V->FInDialog = false;
    }
  });
  if (V->FDeletePending)
    Guard("destroy", [V] { delete V; });
  return TRUE;
}

void TGtkViewer::OnButtonClicked(GtkButton *Btn, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  const auto B = static_cast<TViewerButton>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(Btn), "zb-button")));
  Guard("HandleCommand", [&] { V->OnButton(B); });
  if (V->FDeletePending)
    Guard("destroy", [V] { delete V; });
}

bool TGtkViewer::SaveFileAs(const std::string &Suggested, const std::vector<uint8_t> &Bytes,
                            std::string &Saved, std::string &Why) {
  if (FInDialog || FDestroyed)
    return false;
  FCore->StopPlay(); // the dialog runs its own loop, as the settings dialog does
  const std::string &File = FCore->FFileName;
  const size_t Slash = File.find_last_of('/');
  FInDialog = true;
  const bool Ok = RunSaveDialog(FRoot, Slash == std::string::npos ? "" : File.substr(0, Slash), Suggested,
                                Bytes, Saved, Why);
  FInDialog = false;
  return Ok;
}

void TGtkViewer::OnButton(TViewerButton B) {
  switch (PressViewerButton(*FCore, B)) {
  case TButtonFollowUp::None:
    break;
  case TButtonFollowUp::OverlayText:
    gtk_button_set_label(GTK_BUTTON(FButtons[static_cast<int>(TViewerButton::Overlay)]),
                         OverlayButtonText(FCore->FOverlayVisible));
    ShowHover(HoverRefresh(FHover, *FCore));
    break;
  case TButtonFollowUp::OpenSettings: {
    TSettingsTexts Texts = SettingsDialogTexts(*FCore);
    FInDialog = true;
    const bool Ok = RunSettingsDialog(FRoot, Texts);
    FInDialog = false;
    if (Ok && !FDeletePending) {
      ApplySettingsDialog(*FCore, Texts);
      ShowHover(HoverRefresh(FHover, *FCore));
    }
    break;
  }
  case TButtonFollowUp::OpenLegend:
    FInDialog = true;
    RunLegendDialog(FRoot, *FCore);
    FInDialog = false;
    break;
  }
}

void TGtkViewer::ShowHover(const THoverView &H) {
  if (!H.Changed || FDestroyed)
    return;
  gtk_label_set_text(GTK_LABEL(FFreq), ToGtk(H.Readout).c_str());
  if (H.ShowTip)
    ShowTooltip(H.TipText);
  else if (FTip)
    gtk_widget_hide(FTip);
}

void TGtkViewer::ShowTooltip(const std::string &Text) {
  if (!FTip || !gtk_widget_get_realized(FArea))
    return;
  std::string T = ToGtk(Text);
  T.erase(std::remove(T.begin(), T.end(), '\r'), T.end()); // the core's lines end in CR LF
  gtk_label_set_text(GTK_LABEL(FTipLabel), T.c_str());
  gint OX = 0, OY = 0;
  gdk_window_get_origin(gtk_widget_get_window(FArea), &OX, &OY);
  gtk_window_move(GTK_WINDOW(FTip), OX + FHover.LastX + TIP_OFFSET, OY + FHover.LastY + TIP_OFFSET);
  gtk_widget_show(FTip);
}

void TGtkViewer::OnSliderValue(GtkRange *, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  // A drag reports the thumb's track (light seek, settled by the debounce timer); a click,
  // the wheel and the end of a drag a new position.
  Guard("slider", [V] { V->FCore->HandleSliderChange(V->FSliderDrag ? scThumbTrack : scThumbPosition); });
}

gboolean TGtkViewer::OnSliderPress(GtkWidget *, GdkEventButton *, gpointer Self) {
  static_cast<TGtkViewer *>(Self)->FSliderDrag = true;
  return FALSE;
}

gboolean TGtkViewer::OnSliderRelease(GtkWidget *, GdkEventButton *, gpointer Self) {
  auto *V = static_cast<TGtkViewer *>(Self);
  if (V->FSliderDrag) {
    V->FSliderDrag = false;
    Guard("slider", [V] { V->FCore->HandleSliderChange(scEndTrack); });
  }
  return FALSE;
}
