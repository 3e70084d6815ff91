// TGLRenderer: layout, frame order, PSD trace, grid, waterfall texture, overlays, time axis, text.
#include "render/uGLRenderer.h"

#include "base/uLog.h"
#include "render/uColormap.h"
#include "render/uFont.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Nearest integer, halves to even; NaN gives 0 and out-of-range values saturate, so odd
// inputs (huge spans, infinities) never reach an undefined float-to-int conversion.
int32_t RoundI(double V) {
  if (std::isnan(V))
    return 0;
  const double R = std::nearbyint(V);
  if (R <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  if (R >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(R);
}

int32_t ClampI(int64_t V) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Pixel width of a string in the built-in font.
int64_t TextW(const std::string &S) {
  return static_cast<int64_t>(S.size()) * FONT_W;
}

// Upper bound on the lines of one grid or axis loop: far more than any window can show, but it
// stops a loop whose step no longer advances the value (huge values with a tiny step).
constexpr int MAX_LOOP_LINES = 4096;

void Line(float X1, float Y1, float X2, float Y2) {
  GL.glBegin(GL_LINES);
  GL.glVertex2f(X1, Y1);
  GL.glVertex2f(X2, Y2);
  GL.glEnd();
}

// An opaque colour. Written as a four-component call: some drivers keep the alpha of an
// earlier glColor4f across a three-component call made outside glBegin/glEnd, which would
// leave text and lines drawn after a translucent element translucent too.
void Colour3(float R, float G, float B) {
  GL.glColor4f(R, G, B, 1.0f);
}

void EnableBlend() {
  GL.glEnable(GL_BLEND);
  GL.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

std::string FormatPattern(const char *Fmt, auto... Args) {
  const int N = std::snprintf(nullptr, 0, Fmt, Args...);
  if (N <= 0)
    return {};
  std::string S(static_cast<size_t>(N) + 1, '\0');
  std::snprintf(S.data(), S.size(), Fmt, Args...);
  S.resize(static_cast<size_t>(N));
  return S;
}

// Byte of one colour channel: clamp to 0..1, scale, round half to even. Adding 2^23 leaves
// no fraction bits, so the sum is rounded by the FPU's default mode, exactly like nearbyint.
inline uint8_t ChannelByteFast(float C) {
  C = C < 0.0f ? 0.0f : (C > 1.0f ? 1.0f : C);
  return static_cast<uint8_t>((C * 255.0f + 8388608.0f) - 8388608.0f);
}

// The time span the waterfall shows (Bot at its bottom edge, Top at its top) and the relative
// height of the play line, for a window of WfLenSec > 0 seconds.
void WaterfallTimeSpan(double PlayPosSec, double FileDurSec, double WfLenSec, double &Bot, double &Top,
                       double &Rel) {
  double EffWin = WfLenSec;
  if (FileDurSec > 0.0 && FileDurSec < EffWin)
    EffWin = FileDurSec;
  const double Half = EffWin * 0.5;
  if (FileDurSec <= EffWin || PlayPosSec < Half) {
    Bot = 0.0;
    Top = EffWin;
    Rel = PlayPosSec / EffWin;
  } else if (PlayPosSec <= FileDurSec - Half) {
    Bot = PlayPosSec - Half;
    Top = PlayPosSec + Half;
    Rel = 0.5;
  } else {
    Bot = std::max(FileDurSec - EffWin, 0.0);
    Top = std::min(Bot + EffWin, FileDurSec);
    Rel = Top > Bot ? (PlayPosSec - Bot) / (Top - Bot) : 0.0;
  }
  Rel = std::isnan(Rel) ? 0.0 : std::clamp(Rel, 0.0, 1.0);
}

} // namespace

// The colour map of uColormap evaluated in line, with the same float operations in the same
// order, so the bytes are identical (the texture tests compare every value with MapDbToColor);
// the conversion runs once per texel per frame and dominates large waterfalls.
namespace {
[[gnu::always_inline]] inline TRGB DbToRGB(float Db, float MinDb, float MaxDb) {
  if (MaxDb <= MinDb)
    return {0, 0, 0};
  float T = (Db - MinDb) / (MaxDb - MinDb);
  if (T < 0.0f)
    T = 0.0f;
  if (T > 1.0f)
    T = 1.0f;
  float R, G, B;
  if (!(T > 0.0f)) {
    R = ViridisR[0], G = ViridisG[0], B = ViridisB[0];
  } else if (T >= 1.0f) {
    R = ViridisR[VIRIDIS_STOPS - 1], G = ViridisG[VIRIDIS_STOPS - 1], B = ViridisB[VIRIDIS_STOPS - 1];
  } else {
    const float S = T * static_cast<float>(VIRIDIS_STOPS - 1);
    int I = static_cast<int>(S);
    if (I >= VIRIDIS_STOPS - 1)
      I = VIRIDIS_STOPS - 2;
    const float F = S - static_cast<float>(I);
    R = ViridisR[I] + (ViridisR[I + 1] - ViridisR[I]) * F;
    G = ViridisG[I] + (ViridisG[I + 1] - ViridisG[I]) * F;
    B = ViridisB[I] + (ViridisB[I + 1] - ViridisB[I]) * F;
  }
  return {ChannelByteFast(R), ChannelByteFast(G), ChannelByteFast(B)};
}
} // namespace

TRGB MapDbToColorInline(float Db, float MinDb, float MaxDb) {
  return DbToRGB(Db, MinDb, MaxDb);
}

namespace {
constexpr int32_t STRIP_GAP = 6; // between the overview strip and the waterfall
}

TGLRenderer::TGLRenderer() = default;

TGLRenderer::~TGLRenderer() {
  // Normally no context is current any more here and the texture dies with the context.
  if (FWaterfallTex != 0 && GL.glDeleteTextures)
    GL.glDeleteTextures(1, &FWaterfallTex);
  if (FOverviewTex != 0 && GL.glDeleteTextures)
    GL.glDeleteTextures(1, &FOverviewTex);
}

void TGLRenderer::SetOverviewStrip(int32_t Height) {
  FStripH = std::max(Height, 0);
  CalcLayout();
}

TPixelRect TGLRenderer::StripRect() const {
  return {FWfLeft, FMarginBottom + 2, FWfWidth, FStripH > 0 ? FStripH - 2 : 0};
}

void TGLRenderer::UpdateOverviewTexture(const std::vector<uint8_t> &RGB, int32_t W, int32_t H) {
  if (!GLDrawingEntriesLoaded(GL))
    return;
  if (W <= 0 || H <= 0 || RGB.size() < static_cast<size_t>(W) * H * 3) {
    if (FOverviewTex != 0)
      GL.glDeleteTextures(1, &FOverviewTex);
    FOverviewTex = 0;
    return;
  }
  // Rows padded to the default unpack alignment, bottom row first as the texture wants them.
  const size_t Row = static_cast<size_t>(W) * 3, Stride = static_cast<size_t>(TexStride(W));
  std::vector<uint8_t> Data(Stride * static_cast<size_t>(H), 0);
  for (int32_t Y = 0; Y < H; ++Y)
    std::copy_n(RGB.begin() + static_cast<ptrdiff_t>(Row * static_cast<size_t>(H - 1 - Y)), Row,
                Data.begin() + static_cast<ptrdiff_t>(Stride * static_cast<size_t>(Y)));
  if (FOverviewTex == 0) {
    GL.glGenTextures(1, &FOverviewTex);
    GL.glBindTexture(GL_TEXTURE_2D, FOverviewTex);
    GL.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    GL.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  } else {
    GL.glBindTexture(GL_TEXTURE_2D, FOverviewTex);
  }
  GL.glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(GL_RGB), W, H, 0, GL_RGB, GL_UNSIGNED_BYTE,
                  Data.data());
}

bool TGLRenderer::GetOverviewFracAt(int32_t WinX, int32_t WinY, double &Frac) const {
  const TPixelRect R = StripRect();
  const int64_t GlY = int64_t{FHeight} - WinY;
  if (FStripH <= 0 || R.Width <= 0 || WinX < R.Left || WinX > R.Left + R.Width || GlY < R.Bottom ||
      GlY > R.Bottom + R.Height)
    return false;
  Frac = static_cast<double>(WinX - R.Left) / R.Width;
  return true;
}

void TGLRenderer::Resize(int32_t AWidth, int32_t AHeight) {
  FWidth = AWidth <= 0 ? 1 : AWidth;
  FHeight = AHeight <= 0 ? 1 : AHeight;
  CalcLayout();
}

void TGLRenderer::CalcLayout() {
  FPsdLeft = FWfLeft = FMarginLeft + FTimeAxisW;
  FPsdWidth = FWfWidth = FWidth - FMarginLeft - FTimeAxisW - FMarginRight;
  // The overview strip, when shown, sits between the status line and the waterfall.
  const int32_t Strip = FStripH > 0 ? FStripH + STRIP_GAP : 0;
  const int32_t Usable = FHeight - FMarginTop - FMarginBottom - FGap - Strip;
  const int32_t Half = std::max(Usable, 20) / 2;
  FPsdHeight = FWfHeight = Half;
  FPsdBottom = FHeight - FMarginTop - Half;
  FWfBottom = FMarginBottom + Strip;
}

void TGLRenderer::FillRect(float X1, float Y1, float X2, float Y2) {
  GL.glBegin(GL_QUADS);
  GL.glVertex2f(X1, Y1);
  GL.glVertex2f(X2, Y1);
  GL.glVertex2f(X2, Y2);
  GL.glVertex2f(X1, Y2);
  GL.glEnd();
}

void TGLRenderer::StrokeRect(float X1, float Y1, float X2, float Y2) {
  GL.glBegin(GL_LINE_STRIP);
  GL.glVertex2f(X1, Y1);
  GL.glVertex2f(X2, Y1);
  GL.glVertex2f(X2, Y2);
  GL.glVertex2f(X1, Y2);
  GL.glVertex2f(X1, Y1);
  GL.glEnd();
}

void TGLRenderer::Render(const TFrameInputs &In) {
  Render(In.Freqs, In.PSD_DB, In.MinDb, In.MaxDb, In.FreqLo, In.FreqHi, In.CenterFreqHz, In.SampleRateHz,
         In.PlayPosSec, In.FileDurSec, In.WfLenSec, In.Signals, In.HopperGroups, In.StatusText);
  if ((!In.PeakDb.empty() || !In.Markers.empty() || !In.MarkerText.empty() || !In.Help.empty() ||
       FStripH > 0) &&
      GL.glViewport && GLDrawingEntriesLoaded(GL)) {
    DrawTools(In);
    GL.glFlush();
  }
}

namespace {
const float MARKER_RGB[2][3] = {{0.30f, 0.95f, 0.95f}, {0.98f, 0.45f, 0.85f}};
}

void TGLRenderer::DrawTools(const TFrameInputs &In) {
  if (FStripH > 0) {
    const TPixelRect S = StripRect();
    const float L = static_cast<float>(S.Left), B = static_cast<float>(S.Bottom);
    const float R = static_cast<float>(S.Left + S.Width), T = static_cast<float>(S.Bottom + S.Height);
    GL.glColor4f(0.094f, 0.094f, 0.145f, 1.0f);
    FillRect(L, B, R, T);
    if (FOverviewTex != 0) {
      GL.glEnable(GL_TEXTURE_2D);
      GL.glBindTexture(GL_TEXTURE_2D, FOverviewTex);
      Colour3(1.0f, 1.0f, 1.0f);
      GL.glBegin(GL_QUADS);
      GL.glTexCoord2f(0.0f, 0.0f);
      GL.glVertex2f(L, B);
      GL.glTexCoord2f(1.0f, 0.0f);
      GL.glVertex2f(R, B);
      GL.glTexCoord2f(1.0f, 1.0f);
      GL.glVertex2f(R, T);
      GL.glTexCoord2f(0.0f, 1.0f);
      GL.glVertex2f(L, T);
      GL.glEnd();
      GL.glDisable(GL_TEXTURE_2D);
    }
    // The waterfall's window: a light frame over its stretch of the strip.
    if (In.OverviewWinLo >= 0.0 && In.OverviewWinHi >= In.OverviewWinLo) {
      const float X1 = L + static_cast<float>(std::min(In.OverviewWinLo, 1.0) * S.Width);
      const float X2 = L + static_cast<float>(std::min(In.OverviewWinHi, 1.0) * S.Width);
      EnableBlend();
      GL.glColor4f(1.0f, 1.0f, 1.0f, 0.18f);
      FillRect(X1, B, std::max(X2, X1 + 1.0f), T);
      GL.glColor4f(0.98f, 0.73f, 0.24f, 0.9f);
      StrokeRect(X1, B, X2, T);
      GL.glDisable(GL_BLEND);
    }
    if (!In.OverviewText.empty())
      DrawTextAt(S.Left + S.Width - 4 - static_cast<int32_t>(TextW(In.OverviewText)),
                 S.Bottom + S.Height - FONT_H + 2, In.OverviewText, 0.96f, 0.82f, 0.36f);
  }
  const double Fr = In.FreqHi - In.FreqLo, Dr = In.MaxDb - In.MinDb;
  // Peak hold: a thin light trace under the same scissor as the PSD.
  if (In.PeakDb.size() == In.Freqs.size() && In.Freqs.size() >= 2 && Fr > 0.0 && Dr > 0.0) {
    EnableBlend();
    GL.glEnable(GL_SCISSOR_TEST);
    GL.glScissor(FPsdLeft, FPsdBottom, std::max(FPsdWidth, 0), std::max(FPsdHeight, 0));
    GL.glLineWidth(1.0f);
    GL.glColor4f(0.92f, 0.92f, 0.96f, 0.7f);
    GL.glBegin(GL_LINE_STRIP);
    for (size_t I = 0; I < In.Freqs.size(); ++I)
      GL.glVertex2f(static_cast<float>(FPsdLeft + (In.Freqs[I] - In.FreqLo) / Fr * FPsdWidth),
                    static_cast<float>(FPsdBottom + (In.PeakDb[I] - In.MinDb) / Dr * FPsdHeight));
    GL.glEnd();
    GL.glDisable(GL_SCISSOR_TEST);
    GL.glDisable(GL_BLEND);
  }
  // Markers: a line over both plots, its number above the PSD, a cross at its time.
  const int32_t PsdTop = FPsdBottom + FPsdHeight;
  for (size_t I = 0; I < In.Markers.size() && Fr > 0.0; ++I) {
    const TFrameMarker &M = In.Markers[I];
    if (!(M.FreqHz >= In.FreqLo && M.FreqHz <= In.FreqHi))
      continue;
    const float *C = MARKER_RGB[I % 2];
    const float X = static_cast<float>(FPsdLeft + RoundI((M.FreqHz - In.FreqLo) / Fr * FPsdWidth));
    Colour3(C[0], C[1], C[2]);
    GL.glLineWidth(1.0f);
    Line(X, static_cast<float>(FWfBottom), X, static_cast<float>(FWfBottom + FWfHeight));
    Line(X, static_cast<float>(FPsdBottom), X, static_cast<float>(PsdTop));
    DrawTextAt(RoundI(X) + 3, PsdTop - FONT_H, std::to_string(I + 1), C[0], C[1], C[2]);
    const double Span = FLastTimeTop - FLastTimeBot;
    if (M.HasTime && Span > 0.0 && M.TimeSec >= FLastTimeBot && M.TimeSec <= FLastTimeTop) {
      const float Y = static_cast<float>(FWfBottom + RoundI((M.TimeSec - FLastTimeBot) / Span * FWfHeight));
      Line(X - 6, Y, X + 7, Y);
    }
  }
  if (!In.MarkerText.empty())
    DrawTextAt(ClampI(int64_t{FWidth} - 4 - TextW(In.MarkerText)), 4, In.MarkerText, 0.30f, 0.95f, 0.95f);
  // Help: a dark box over the plots with one row per key.
  if (!In.Help.empty()) {
    size_t KeyW = 0, TextWd = 0;
    for (const auto &[K, T] : In.Help)
      KeyW = std::max(KeyW, K.size()), TextWd = std::max(TextWd, T.size());
    const int32_t BoxW = static_cast<int32_t>((KeyW + 2 + TextWd) * FONT_W) + 16;
    const int32_t BoxH = static_cast<int32_t>(In.Help.size() + 1) * (FONT_H + 2) + 12;
    const int32_t X0 = std::max(FPsdLeft + (FPsdWidth - BoxW) / 2, 0);
    const int32_t Y1 = std::min(FHeight - 8, FPsdBottom + FPsdHeight);
    EnableBlend();
    GL.glColor4f(0.05f, 0.05f, 0.09f, 0.92f);
    FillRect(static_cast<float>(X0), static_cast<float>(Y1 - BoxH), static_cast<float>(X0 + BoxW),
             static_cast<float>(Y1));
    GL.glDisable(GL_BLEND);
    int32_t Y = Y1 - 8 - FONT_H + 4;
    DrawTextAt(X0 + 8, Y, "Keys", 0.96f, 0.82f, 0.36f);
    for (const auto &[K, T] : In.Help) {
      Y -= FONT_H + 2;
      DrawTextAt(X0 + 8, Y, K, 0.96f, 0.82f, 0.36f);
      DrawTextAt(X0 + 8 + static_cast<int32_t>((KeyW + 2) * FONT_W), Y, T, 0.804f, 0.839f, 0.957f);
    }
  }
}

void TGLRenderer::Render(const TFloatArray &Freqs, const TFloatArray &PSD_DB, double MinDb, double MaxDb,
                         double FreqLo, double FreqHi, double CenterFreqHz, double SampleRateHz,
                         double PlayPosSec, double FileDurSec, double WfLenSec,
                         const TSignalOverlayArray &Signals, const THopperGroupOverlayArray &HopperGroups,
                         const std::string &StatusText) {
  FLastFreqLo = FreqLo;
  FLastFreqHi = FreqHi;
  FLastTimeBot = FLastTimeTop = 0.0;
  if (WfLenSec > 0.0) {
    double Rel = 0.0;
    WaterfallTimeSpan(PlayPosSec, FileDurSec, WfLenSec, FLastTimeBot, FLastTimeTop, Rel);
  }
  // A library that lacks any drawing entry would crash mid-frame; draw nothing instead.
  if (!GL.glViewport || !GLDrawingEntriesLoaded(GL))
    return;

  GL.glViewport(0, 0, FWidth, FHeight);
  GL.glClearColor(0.118f, 0.118f, 0.18f, 1.0f);
  GL.glClear(GL_COLOR_BUFFER_BIT);
  GL.glMatrixMode(GL_PROJECTION);
  GL.glLoadIdentity();
  GL.glOrtho(0.0, FWidth, 0.0, FHeight, -1.0, 1.0);
  GL.glMatrixMode(GL_MODELVIEW);
  GL.glLoadIdentity();

  if (CenterFreqHz != 0.0 || SampleRateHz > 0.0) {
    const std::string HeaderStr = "Center frequency: " + Fmtf(CenterFreqHz / 1000000.0, 3) +
                                  " MHz    BW: " + Fmtf(SampleRateHz / 1000000.0, 3) + " MHz";
    const int64_t W = TextW(HeaderStr);
    const int32_t X = ClampI((FPsdWidth - W) / 2 + FPsdLeft);
    EnableBlend();
    GL.glColor4f(0.09f, 0.09f, 0.14f, 0.8f);
    FillRect(static_cast<float>(X - 6), static_cast<float>(FHeight - FONT_H - 5),
             static_cast<float>(X + W + 6), static_cast<float>(FHeight - 3));
    GL.glDisable(GL_BLEND);
    DrawTextAt(X, FHeight - FONT_H - 4, HeaderStr, 0.96f, 0.82f, 0.36f);
  }

  Colour3(0.094f, 0.094f, 0.145f);
  FillRect(static_cast<float>(FPsdLeft), static_cast<float>(FPsdBottom),
           static_cast<float>(FPsdLeft + FPsdWidth), static_cast<float>(FPsdBottom + FPsdHeight));
  FillRect(static_cast<float>(FWfLeft), static_cast<float>(FWfBottom), static_cast<float>(FWfLeft + FWfWidth),
           static_cast<float>(FWfBottom + FWfHeight));

  if (!Signals.empty() || !HopperGroups.empty())
    DrawSignalOverlays(Signals, HopperGroups, FreqLo, FreqHi);
  if (!Freqs.empty() && !PSD_DB.empty())
    DrawPSDRegion(Freqs, PSD_DB, MinDb, MaxDb, FreqLo, FreqHi);
  DrawWaterfallRegion();
  DrawWaterfallTimeAxis(PlayPosSec, FileDurSec, WfLenSec);
  DrawGrid(FPsdLeft, FPsdBottom, FPsdWidth, FPsdHeight, FreqLo / 1000000.0, FreqHi / 1000000.0, MinDb, MaxDb);
  if (!StatusText.empty())
    DrawTextAt(4, 4, StatusText, 0.804f, 0.839f, 0.957f);
  GL.glFlush();
}

void TGLRenderer::DrawPSDRegion(const TFloatArray &Freqs, const TFloatArray &PSD_DB, double MinDb,
                                double MaxDb, double FreqLo, double FreqHi) {
  const size_t N = Freqs.size();
  if (N < 2 || PSD_DB.size() != N)
    return;
  const double Fr = FreqHi - FreqLo;
  const double Dr = MaxDb - MinDb;
  if (!(Fr > 0.0) || !(Dr > 0.0))
    return;

  EnableBlend();
  GL.glEnable(GL_LINE_SMOOTH);
  GL.glLineWidth(1.5f);
  GL.glEnable(GL_SCISSOR_TEST);
  GL.glScissor(FPsdLeft, FPsdBottom, FPsdWidth, FPsdHeight);
  GL.glBegin(GL_LINE_STRIP);
  for (size_t i = 0; i < N; ++i) {
    const double X = FPsdLeft + (Freqs[i] - FreqLo) / Fr * FPsdWidth;
    const double Y = FPsdBottom + (PSD_DB[i] - MinDb) / Dr * FPsdHeight;
    const float T = static_cast<float>(std::clamp((PSD_DB[i] - MinDb) / Dr, 0.0, 1.0));
    float R, G, B;
    ColormapViridisGL(T, R, G, B);
    GL.glColor4f(R, G, B, 0.9f);
    GL.glVertex2f(static_cast<float>(X), static_cast<float>(Y));
  }
  GL.glEnd();
  GL.glDisable(GL_SCISSOR_TEST);
  GL.glDisable(GL_LINE_SMOOTH);
  GL.glDisable(GL_BLEND);
}

namespace {
// Grid step rounding: whole numbers above 1, tenths above 0.1, else hundredths (frequencies)
// or unrounded (levels).
double RoundGridStep(double Step, double Range, bool Hundredths) {
  if (Step <= 0.0)
    Step = 1.0;
  if (Step > 1.0)
    Step = std::nearbyint(Step);
  else if (Step > 0.1)
    Step = std::nearbyint(Step * 10.0) / 10.0;
  else if (Hundredths)
    Step = std::nearbyint(Step * 100.0) / 100.0;
  if (Step <= 0.0)
    Step = Range * 0.25;
  return Step;
}
} // namespace

int32_t StepDecimals(double Step) {
  Step = std::fabs(Step);
  if (!(Step > 0.0) || !std::isfinite(Step))
    return 0;
  for (int32_t D = 0; D < MAX_STEP_DECIMALS; ++D) {
    const double X = Step * std::pow(10.0, D);
    if (std::fabs(X - std::nearbyint(X)) <= 1e-6 * X)
      return D;
  }
  return MAX_STEP_DECIMALS;
}

void TGLRenderer::DrawGrid(int32_t ALeft, int32_t ABottom, int32_t AWidth, int32_t AHeight, double XMin,
                           double XMax, double YMin, double YMax) {
  const float LabR = 0.804f, LabG = 0.839f, LabB = 0.957f;
  EnableBlend();
  GL.glLineWidth(1.0f);
  // The labels set their own colour, so every line sets the grid colour again.
  auto GridColour = [] { GL.glColor4f(0.192f, 0.196f, 0.267f, 0.4f); };
  GridColour();

  // An empty or inverted span would divide by zero; such a grid has no lines, only the frame.
  const double XRange = XMax - XMin;
  if (XRange > 0.0 && std::isfinite(XRange)) {
    const int32_t N = std::max(AWidth / 80, 2);
    const double Step = RoundGridStep(XRange / N, XRange, true);
    double V = std::ceil(XMin / Step) * Step;
    for (int k = 0; V <= XMax && k < MAX_LOOP_LINES; ++k) {
      const int32_t Px = ClampI(int64_t{ALeft} + RoundI((V - XMin) / XRange * AWidth));
      GridColour();
      Line(static_cast<float>(Px), static_cast<float>(ABottom), static_cast<float>(Px),
           static_cast<float>(ABottom + AHeight));
      Line(static_cast<float>(Px), static_cast<float>(ABottom), static_cast<float>(Px),
           static_cast<float>(ABottom - 4));
      const double A = std::fabs(V);
      const int32_t Base = A >= 1000.0 ? 0 : A >= 1.0 ? 1 : 2;
      const std::string Lab =
          A < std::min(0.001, Step * 0.5) ? "0" : Fmtf(V, std::max(Base, StepDecimals(Step)));
      DrawTextAt(ClampI(Px - TextW(Lab) / 2), ABottom - FONT_H - 4, Lab, LabR, LabG, LabB);
      const double Next = V + Step;
      if (Next == V)
        break;
      V = Next;
    }
  }

  const double YRange = YMax - YMin;
  if (YRange > 0.0 && std::isfinite(YRange)) {
    const int32_t N = std::max(AHeight / 40, 2);
    const double Step = RoundGridStep(YRange / N, YRange, false);
    double V = std::ceil(YMin / Step) * Step;
    for (int k = 0; V <= YMax && k < MAX_LOOP_LINES; ++k) {
      const int32_t Py = ClampI(int64_t{ABottom} + RoundI((V - YMin) / YRange * AHeight));
      GridColour();
      Line(static_cast<float>(ALeft), static_cast<float>(Py), static_cast<float>(ALeft + AWidth),
           static_cast<float>(Py));
      const std::string Lab = std::fabs(V) < 0.001 ? "0" : Fmtf(V, 0);
      DrawTextAt(ClampI(ALeft - TextW(Lab) - 4), Py - 6, Lab, LabR, LabG, LabB);
      const double Next = V + Step;
      if (Next == V)
        break;
      V = Next;
    }
  }

  GL.glColor4f(0.271f, 0.278f, 0.353f, 1.0f);
  const float L = static_cast<float>(ALeft), B = static_cast<float>(ABottom);
  const float R = static_cast<float>(ALeft + AWidth), T = static_cast<float>(ABottom + AHeight);
  StrokeRect(L, B, R, T);
  GL.glDisable(GL_BLEND);
}

void TGLRenderer::PrepareStaging(int32_t NFFT, int32_t RowCount, bool &NeedNewTex) {
  PlanColumns(NFFT);
  const int32_t TexW = FPoolCols > 0 ? FPoolCols : NFFT;
  // The staging rows start at multiples of 4 bytes because glTexImage2D reads with the default
  // unpack alignment of 4: tightly packed rows would skew the image and make the driver read
  // past the end of the buffer whenever 3 * width is not a multiple of 4.
  const int64_t Stride = (int64_t{TexW} * 3 + 3) / 4 * 4;
  NeedNewTex = FWaterfallTex == 0 || TexW != FTexWidth || RowCount != FTexHeight;
  if (TexW != FTexWidth)
    FTexHasLevels.clear(); // levels of another layout
  FTexWidth = TexW;
  FTexHeight = RowCount;
  FTexData.resize(static_cast<size_t>(Stride * RowCount), 0);
  FRowGroup = RowGroupFor(RowCount);
  if (FRowGroup > 1) {
    FTexLevels.resize(static_cast<size_t>(TexW) * static_cast<size_t>(RowCount));
    FTexHasLevels.resize(static_cast<size_t>(RowCount), 0);
  }
}

int32_t TGLRenderer::RowGroupFor(int32_t RowCount) const {
  if (!FColumnMaxHold || FWfHeight <= 0 || RowCount <= FWfHeight)
    return 1;
  return static_cast<int32_t>((int64_t{RowCount} + FWfHeight - 1) / FWfHeight);
}

void TGLRenderer::PoolRunsInTime(std::vector<int32_t> &Dirty, bool All) {
  const int32_t N = FTexHeight, K = FRowGroup, W = FTexWidth;
  if (K <= 1 || N <= 0 || W <= 0)
    return;
  const size_t Stride = static_cast<size_t>(TexStride(W)), Bytes = static_cast<size_t>(W) * 3;
  FRunMax.resize(static_cast<size_t>(W));
  FRunRGB.resize(Bytes);
  // Display row I (0 the newest) is texture row (I + Top) mod N, older rows following.
  const int32_t Top = FTexTopRow;
  auto TexRowOf = [&](int32_t I) { return (I + Top) % N; };
  auto CutAfter = [&](int32_t T) { return FRunsBySlot ? (N - 1 - T) % K == 0 : (T + 1) % K == 0; };
  auto Finish = [&](int32_t A, int32_t B) { // display rows A .. B - 1
    bool Any = false;
    std::fill(FRunMax.begin(), FRunMax.end(), -std::numeric_limits<float>::infinity());
    for (int32_t I = A; I < B; ++I) {
      const int32_t T = TexRowOf(I);
      if (!(FTexHasLevels[static_cast<size_t>(T)] & 1))
        continue;
      Any = true;
      const float *L = FTexLevels.data() + static_cast<size_t>(T) * static_cast<size_t>(W);
      for (int32_t C = 0; C < W; ++C)
        FRunMax[static_cast<size_t>(C)] =
            L[C] > FRunMax[static_cast<size_t>(C)] ? L[C] : FRunMax[static_cast<size_t>(C)];
    }
    if (!Any)
      return; // rows never given keep their texels, as a short row does
    FColours.MapRow(FRunMax.data(), static_cast<size_t>(W), FRunRGB.data());
    for (int32_t I = A; I < B; ++I) {
      uint8_t *Out = FTexData.data() + static_cast<size_t>(TexRowOf(I)) * Stride;
      if (std::memcmp(Out, FRunRGB.data(), Bytes) != 0) {
        std::memcpy(Out, FRunRGB.data(), Bytes);
        Dirty.push_back(TexRowOf(I));
      }
    }
  };
  // Cut from the newest row on; a run that would be shorter than K goes on to the next cut, and
  // a short last run joins the one before it.
  FRuns.clear();
  for (int32_t I = 0, A = 0; I < N; ++I)
    if (I == N - 1 || (I + 1 - A >= K && CutAfter(TexRowOf(I)))) {
      FRuns.emplace_back(A, I + 1);
      A = I + 1;
    }
  if (FRuns.size() >= 2 && FRuns.back().second - FRuns.back().first < K) {
    FRuns[FRuns.size() - 2].second = N;
    FRuns.pop_back();
  }
  // Runs away from both ends whose rows are unchanged hold what they held: after a push only the
  // ends move (the next few runs are redone too, as a short run may join or leave them).
  const size_t Runs = FRuns.size();
  for (size_t R = 0; R < Runs; ++R) {
    const auto [A, B] = FRuns[R];
    bool Redo = All || R < 3 || R + 3 >= Runs;
    for (int32_t I = A; I < B && !Redo; ++I)
      Redo = (FTexHasLevels[static_cast<size_t>(TexRowOf(I))] & 2) != 0;
    if (Redo)
      Finish(A, B);
  }
  for (uint8_t &H : FTexHasLevels)
    H &= 1;
}

void TGLRenderer::UploadRows(std::vector<int32_t> &Rows) {
  if (Rows.empty() || FWaterfallTex == 0 || !GLDrawingEntriesLoaded(GL))
    return;
  std::sort(Rows.begin(), Rows.end());
  Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
  GL.glBindTexture(GL_TEXTURE_2D, FWaterfallTex);
  const size_t Stride = static_cast<size_t>(TexStride(FTexWidth));
  for (size_t I = 0; I < Rows.size();) {
    size_t J = I + 1;
    while (J < Rows.size() && Rows[J] == Rows[J - 1] + 1)
      ++J;
    GL.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, Rows[I], FTexWidth, static_cast<GLsizei>(J - I), GL_RGB,
                       GL_UNSIGNED_BYTE, FTexData.data() + static_cast<size_t>(Rows[I]) * Stride);
    I = J;
  }
}

bool TGLRenderer::PlanColumns(int32_t NFFT) {
  const int32_t Width = std::max(FWfWidth, 0);
  if (NFFT == FPlanNFFT && Width == FPlanWidth && FView0 == FPlanView0 && FView1 == FPlanView1 &&
      FColumnMaxHold == FPlanMaxHold)
    return false;
  FPlanNFFT = NFFT;
  FPlanWidth = Width;
  FPlanView0 = FView0;
  FPlanView1 = FView1;
  FPlanMaxHold = FColumnMaxHold;
  FPoolCols = 0;
  FColFirst.clear();
  const double U0 = FView0 * NFFT, Bins = (FView1 - FView0) * NFFT;
  if (!FColumnMaxHold || Width <= 0 || !(Bins > Width))
    return true;
  // Column c spans bin positions U0 + Bins * c / Width onwards and takes the bins whose centres
  // (k + 0.5) lie in it: every visible bin lands in exactly one column, and a column wider than
  // a bin always holds at least one centre.
  FPoolCols = Width;
  FColFirst.resize(static_cast<size_t>(Width) + 1);
  for (int32_t C = 0; C <= Width; ++C) {
    const double Edge = std::ceil(U0 + Bins * C / Width - 0.5);
    FColFirst[static_cast<size_t>(C)] =
        static_cast<int32_t>(std::clamp(Edge, 0.0, static_cast<double>(NFFT)));
  }
  FPoolRow.resize(static_cast<size_t>(Width));
  return true;
}

void TGLRenderer::SetBandView(double S0, double S1) {
  S0 = std::isfinite(S0) ? std::clamp(S0, 0.0, 1.0) : 0.0;
  S1 = std::isfinite(S1) ? std::clamp(S1, 0.0, 1.0) : 1.0;
  if (!(S0 < S1)) {
    S0 = 0.0;
    S1 = 1.0;
  }
  FView0 = S0;
  FView1 = S1;
}

// Colours of one row of levels into staging row TexRow, pooled into the planned columns where
// there are any; a row shorter than the bins keeps the texels it had.
void TGLRenderer::ColourRow(const TSingleArray &Row, int32_t TexRow) {
  if (Row.size() < static_cast<size_t>(FPlanNFFT))
    return;
  const size_t Stride = static_cast<size_t>(TexStride(FTexWidth));
  uint8_t *Out = FTexData.data() + static_cast<size_t>(TexRow) * Stride;
  // Rows pooled in time keep their levels; PoolRunsInTime colours the runs.
  float *Keep = FRowGroup > 1
                    ? FTexLevels.data() + static_cast<size_t>(TexRow) * static_cast<size_t>(FTexWidth)
                    : nullptr;
  if (Keep)
    FTexHasLevels[static_cast<size_t>(TexRow)] = 3; // has levels (1), changed since pooled (2)
  if (FPoolCols <= 0) {
    if (Keep)
      std::copy_n(Row.data(), FTexWidth, Keep);
    else
      FColours.MapRow(Row.data(), static_cast<size_t>(FTexWidth), Out);
    return;
  }
  const float *Src = Row.data();
  for (int32_t C = 0; C < FPoolCols; ++C) {
    const int32_t A = std::min(FColFirst[static_cast<size_t>(C)], FPlanNFFT - 1);
    const int32_t B = std::min(std::max(FColFirst[static_cast<size_t>(C) + 1], A + 1), FPlanNFFT);
    // A level that is no number loses to every other; all of them give the lowest colour, as a
    // single one would.
    float M = -std::numeric_limits<float>::infinity();
    for (int32_t K = A; K < B; ++K)
      M = Src[K] > M ? Src[K] : M;
    FPoolRow[static_cast<size_t>(C)] = M;
  }
  if (Keep)
    std::copy(FPoolRow.begin(), FPoolRow.end(), Keep);
  else
    FColours.MapRow(FPoolRow.data(), static_cast<size_t>(FPoolCols), Out);
}

void TGLRenderer::UploadWhole(bool NeedNewTex) {
  if (NeedNewTex) {
    if (FWaterfallTex != 0)
      GL.glDeleteTextures(1, &FWaterfallTex);
    FWaterfallTex = 0;
    GL.glGenTextures(1, &FWaterfallTex);
    GL.glBindTexture(GL_TEXTURE_2D, FWaterfallTex);
    FTexMinFilter = 0;
  } else {
    GL.glBindTexture(GL_TEXTURE_2D, FWaterfallTex);
  }
  // Runs pooled in time are at least a pixel tall and must each be sampled whole: no filtering.
  const GLint Min = FRowGroup > 1 ? GL_NEAREST : GL_LINEAR;
  if (Min != FTexMinFilter) {
    GL.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, Min);
    if (FTexMinFilter == 0)
      GL.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    FTexMinFilter = Min;
  }
  GL.glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(GL_RGB), FTexWidth, FTexHeight, 0, GL_RGB,
                  GL_UNSIGNED_BYTE, FTexData.data());
}

void TGLRenderer::UpdateWaterfallTexture(std::span<const TSingleArray> Rows, int32_t RowCount, int32_t NFFT,
                                         float MinDb, float MaxDb) {
  if (RowCount <= 0 || NFFT <= 0)
    return;
  bool NeedNewTex = false;
  PrepareStaging(NFFT, RowCount, NeedNewTex);
  FColours.Build(MinDb, MaxDb);
  // A caller handing fewer rows than RowCount gets the missing ones treated like short rows.
  const int32_t Available =
      static_cast<int32_t>(std::min<size_t>(Rows.size(), static_cast<size_t>(RowCount)));
  for (int32_t r = 0; r < Available; ++r)
    ColourRow(Rows[static_cast<size_t>(r)], r);
  FTexTopRow = 0;
  FRingSlots = 0;
  FRunsBySlot = false;
  FDirtyRows.clear();
  PoolRunsInTime(FDirtyRows, true);
  if (GLDrawingEntriesLoaded(GL))
    UploadWhole(NeedNewTex);
}

void TGLRenderer::UpdateWaterfallRing(std::span<const TSingleArray> Ring, int32_t WriteIdx, int32_t RowCount,
                                      int32_t NewRows, int32_t NFFT, float MinDb, float MaxDb) {
  const int64_t H = static_cast<int64_t>(Ring.size());
  if (RowCount <= 0 || NFFT <= 0 || H == 0 || H > std::numeric_limits<int32_t>::max())
    return;
  const int32_t N = static_cast<int32_t>(std::min<int64_t>(RowCount, H));
  const int32_t W = static_cast<int32_t>((WriteIdx % H + H) % H);
  const bool GLReady = GLDrawingEntriesLoaded(GL);
  // Texture row of display row i (i = 0 the newest): (i + Top) mod N. A full ring keeps slot s in
  // texture row H - 1 - s for good, so a push changes one texture row and moves Top; a ring still
  // filling is laid out newest first, as UpdateWaterfallTexture would.
  const int32_t Top = N == H ? static_cast<int32_t>((H - W) % H) : 0;
  auto SlotOf = [&](int64_t I) { return static_cast<size_t>(((W - 1 - I) % H + H) % H); };

  const bool SamePlan = !PlanColumns(NFFT) && RowGroupFor(N) == FRowGroup;
  const bool Incremental = N == H && NewRows >= 0 && NewRows < N && FRingSlots == H && SamePlan &&
                           FTexWidth == (FPoolCols > 0 ? FPoolCols : NFFT) && FTexHeight == N &&
                           FColours.IsFor(MinDb, MaxDb) && (int64_t{FRingWriteIdx} + NewRows) % H == W &&
                           (!GLReady || FWaterfallTex != 0);
  if (!Incremental) {
    bool NeedNewTex = false;
    PrepareStaging(NFFT, N, NeedNewTex);
    FColours.Build(MinDb, MaxDb);
    for (int32_t I = 0; I < N; ++I)
      ColourRow(Ring[SlotOf(I)], (I + Top) % N);
    FTexTopRow = Top;
    FRingSlots = static_cast<int32_t>(H);
    FRingWriteIdx = W;
    FRunsBySlot = N == H;
    FDirtyRows.clear();
    PoolRunsInTime(FDirtyRows, true);
    if (GLReady)
      UploadWhole(NeedNewTex);
    return;
  }

  FTexTopRow = Top;
  FRingWriteIdx = W;
  if (NewRows == 0)
    return;
  for (int32_t I = 0; I < NewRows; ++I)
    ColourRow(Ring[SlotOf(I)], (I + Top) % N);
  if (FRowGroup > 1) {
    // The new rows and the runs at both ends of the picture changed.
    FDirtyRows.clear();
    PoolRunsInTime(FDirtyRows, false);
    UploadRows(FDirtyRows);
    return;
  }
  if (!GLReady)
    return;
  GL.glBindTexture(GL_TEXTURE_2D, FWaterfallTex);
  // The new rows occupy texture rows Top .. Top + NewRows - 1, wrapping at most once.
  const size_t Stride = static_cast<size_t>(TexStride(FTexWidth));
  const int32_t First = std::min(NewRows, N - Top);
  GL.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, Top, FTexWidth, First, GL_RGB, GL_UNSIGNED_BYTE,
                     FTexData.data() + static_cast<size_t>(Top) * Stride);
  if (NewRows > First)
    GL.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, FTexWidth, NewRows - First, GL_RGB, GL_UNSIGNED_BYTE,
                       FTexData.data());
}

void TGLRenderer::UpdateWaterfallSlots(std::span<const TSingleArray> Ring, int32_t WriteIdx, int32_t RowCount,
                                       std::span<const int32_t> Slots, int32_t NFFT, float MinDb,
                                       float MaxDb) {
  const int64_t H = static_cast<int64_t>(Ring.size());
  const bool GLReady = GLDrawingEntriesLoaded(GL);
  // A full ring keeps slot s in texture row H - 1 - s for good, so a slot's row can be redone
  // on its own; anything else about the image that changed needs the whole of it.
  const bool InPlace = H > 0 && RowCount >= H && FRingSlots == H && FTexHeight == H && !PlanColumns(NFFT) &&
                       RowGroupFor(static_cast<int32_t>(H)) == FRowGroup &&
                       FTexWidth == (FPoolCols > 0 ? FPoolCols : NFFT) && FColours.IsFor(MinDb, MaxDb) &&
                       (WriteIdx % H + H) % H == FRingWriteIdx && (!GLReady || FWaterfallTex != 0);
  if (!InPlace) {
    UpdateWaterfallRing(Ring, WriteIdx, RowCount, -1, NFFT, MinDb, MaxDb);
    return;
  }
  const size_t Stride = static_cast<size_t>(TexStride(FTexWidth));
  if (GLReady)
    GL.glBindTexture(GL_TEXTURE_2D, FWaterfallTex);
  if (FRowGroup > 1) {
    for (const int32_t S : Slots)
      if (S >= 0 && S < H)
        ColourRow(Ring[static_cast<size_t>(S)], static_cast<int32_t>(H - 1 - S));
    FDirtyRows.clear();
    PoolRunsInTime(FDirtyRows, false);
    UploadRows(FDirtyRows);
    return;
  }
  for (const int32_t S : Slots) {
    if (S < 0 || S >= H)
      continue;
    const int32_t TexRow = static_cast<int32_t>(H - 1 - S);
    ColourRow(Ring[static_cast<size_t>(S)], TexRow);
    if (GLReady)
      GL.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, TexRow, FTexWidth, 1, GL_RGB, GL_UNSIGNED_BYTE,
                         FTexData.data() + static_cast<size_t>(TexRow) * Stride);
  }
}

void TGLRenderer::DrawWaterfallRegion() {
  if (FWaterfallTex == 0)
    return;
  GL.glEnable(GL_TEXTURE_2D);
  GL.glBindTexture(GL_TEXTURE_2D, FWaterfallTex);
  Colour3(1.0f, 1.0f, 1.0f);
  const float L = static_cast<float>(FWfLeft), B = static_cast<float>(FWfBottom);
  const float R = static_cast<float>(FWfLeft + FWfWidth), T = static_cast<float>(FWfBottom + FWfHeight);
  // A ring texture starts its newest row at FTexTopRow; the texture repeats (the default wrap
  // mode), so the rows above it come back at the bottom. The shift is taken in the direction that
  // keeps the coordinates small, where floats are finest.
  const int32_t Shift = 2 * FTexTopRow > FTexHeight ? FTexTopRow - FTexHeight : FTexTopRow;
  const float T0 = Shift == 0 ? 0.0f : static_cast<float>(Shift) / static_cast<float>(FTexHeight);
  // Pooled columns already are the view; a texture of bins shows the view's part of it.
  const float S0 = FPoolCols > 0 ? 0.0f : static_cast<float>(FView0);
  const float S1 = FPoolCols > 0 ? 1.0f : static_cast<float>(FView1);
  GL.glBegin(GL_QUADS);
  GL.glTexCoord2f(S0, T0 + 1.0f);
  GL.glVertex2f(L, B);
  GL.glTexCoord2f(S1, T0 + 1.0f);
  GL.glVertex2f(R, B);
  GL.glTexCoord2f(S1, T0);
  GL.glVertex2f(R, T);
  GL.glTexCoord2f(S0, T0);
  GL.glVertex2f(L, T);
  GL.glEnd();
  GL.glDisable(GL_TEXTURE_2D);
}

void TGLRenderer::DrawSignalOverlays(const TSignalOverlayArray &Signals,
                                     const THopperGroupOverlayArray &HopperGroups, double FreqLo,
                                     double FreqHi) {
  const double Fr = FreqHi - FreqLo;
  if (!(Fr > 0.0))
    return;
  const int32_t PsdTop = FPsdBottom + FPsdHeight;
  auto FreqToX = [&](double F) { return ClampI(int64_t{FPsdLeft} + RoundI((F - FreqLo) / Fr * FPsdWidth)); };

  EnableBlend();
  GL.glLineWidth(1.0f);
  int32_t LabelsDrawn = 0;
  for (const TSignalOverlay &S : Signals) {
    if (!(S.FreqHz >= FreqLo && S.FreqHz <= FreqHi))
      continue;
    const int32_t Px = FreqToX(S.FreqHz);
    GL.glColor4f(1.0f, 0.8f, 0.2f, 0.75f);
    Line(static_cast<float>(Px), static_cast<float>(FWfBottom), static_cast<float>(Px),
         static_cast<float>(PsdTop));
    Line(static_cast<float>(Px - 4), static_cast<float>(PsdTop), static_cast<float>(Px + 4),
         static_cast<float>(PsdTop));
    if (!S.InHopperGroup && LabelsDrawn < MAX_OVERLAY_LABELS) {
      const std::string Text = FormatPattern("#%d %s", static_cast<int>(S.Index), S.Modulation.c_str());
      const int32_t Y = (LabelsDrawn % 2 == 0) ? PsdTop + 4 : PsdTop + 4 + FONT_H + 4;
      DrawTextAt(ClampI(Px - TextW(Text) / 2), Y, Text, 1.0f, 0.8f, 0.2f);
      ++LabelsDrawn;
    }
  }

  for (const THopperGroupOverlay &H : HopperGroups) {
    if (H.FHiHz < FreqLo || H.FLoHz > FreqHi || std::isnan(H.FLoHz) || std::isnan(H.FHiHz))
      continue;
    const int32_t PxLo = FreqToX(std::max(H.FLoHz, FreqLo));
    const int32_t PxHi = FreqToX(std::min(H.FHiHz, FreqHi));
    const int32_t BarY = PsdTop + 2 + FONT_H + 4;
    GL.glColor4f(0.9f, 0.9f, 0.95f, 0.9f);
    GL.glBegin(GL_LINE_STRIP);
    GL.glVertex2f(static_cast<float>(PxLo), static_cast<float>(PsdTop + 2));
    GL.glVertex2f(static_cast<float>(PxLo), static_cast<float>(BarY));
    GL.glVertex2f(static_cast<float>(PxHi), static_cast<float>(BarY));
    GL.glVertex2f(static_cast<float>(PxHi), static_cast<float>(PsdTop + 2));
    GL.glEnd();
    const std::string Text = FormatPattern("Hopper (%dx) %.4f-%.4f MHz", static_cast<int>(H.Count),
                                           H.FLoHz / 1000000.0, H.FHiHz / 1000000.0);
    const int64_t Mid = (int64_t{PxLo} + PxHi) / 2;
    DrawTextAt(ClampI(Mid - TextW(Text) / 2), BarY + 2, Text, 0.847f, 0.875f, 0.941f);
  }
  GL.glDisable(GL_BLEND);
}

void TGLRenderer::DrawWaterfallTimeAxis(double PlayPosSec, double FileDurSec, double WfLenSec) {
  if (!(WfLenSec > 0.0) || FWfHeight <= 0)
    return;
  double Bot, Top, Rel;
  WaterfallTimeSpan(PlayPosSec, FileDurSec, WfLenSec, Bot, Top, Rel);
  const double LineY = FWfBottom + Rel * FWfHeight;
  const double Span = Top - Bot;

  if (Span > 0.0 && std::isfinite(Span)) {
    const int32_t N = std::max(FWfHeight / 30, 2);
    double Step = Span / N;
    if (Step < 0.1)
      Step = 0.1;
    if (Step >= 2.0)
      Step = std::nearbyint(Step);
    else if (Step >= 0.5)
      Step = std::nearbyint(Step * 2.0) * 0.5;
    else
      Step = std::nearbyint(Step * 10.0) / 10.0;
    if (Step <= 0.0)
      Step = 1.0;
    double V = std::ceil(Bot / Step) * Step;
    for (int k = 0; V <= Top + 0.001 && k < MAX_LOOP_LINES; ++k) {
      const int32_t Py = ClampI(int64_t{FWfBottom} + RoundI((V - Bot) / Span * FWfHeight));
      if (Py >= FWfBottom && Py <= FWfBottom + FWfHeight) {
        Colour3(0.5f, 0.55f, 0.65f);
        GL.glLineWidth(1.0f);
        Line(static_cast<float>(FWfLeft), static_cast<float>(Py), static_cast<float>(FWfLeft - 4),
             static_cast<float>(Py));
        const std::string Lab = std::fabs(V) < 0.05 ? "0s" : Fmtf(V, 1) + "s";
        DrawTextAt(ClampI(FWfLeft - 4 - TextW(Lab)), Py - 6, Lab, 0.6f, 0.65f, 0.75f);
      }
      const double Next = V + Step;
      if (Next == V)
        break;
      V = Next;
    }
  }

  Colour3(0.27f, 0.28f, 0.35f);
  GL.glLineWidth(1.0f);
  Line(static_cast<float>(FWfLeft), static_cast<float>(FWfBottom), static_cast<float>(FWfLeft),
       static_cast<float>(FWfBottom + FWfHeight));

  DrawDashedHLine(RoundI(LineY), FWfLeft, FWfLeft + FWfWidth, 0.98f, 0.73f, 0.24f);

  const std::string Text = "t=" + Fmtf(PlayPosSec, 2) + "s";
  EnableBlend();
  GL.glColor4f(0.08f, 0.08f, 0.12f, 0.75f);
  FillRect(static_cast<float>(FWfLeft + 4), static_cast<float>(LineY + 1),
           static_cast<float>(FWfLeft + 6 + TextW(Text)), static_cast<float>(LineY + FONT_H + 2));
  GL.glDisable(GL_BLEND);
  DrawTextAt(FWfLeft + 5, RoundI(LineY) + 2, Text, 0.98f, 0.73f, 0.24f);
}

void TGLRenderer::DrawDashedHLine(int32_t Y, int32_t X1, int32_t X2, float R, float G, float B) {
  Colour3(R, G, B);
  GL.glLineWidth(1.5f);
  if (X1 >= X2)
    return;
  GL.glBegin(GL_LINES);
  for (int64_t X = X1; X < X2; X += DASHLEN + GAPLEN) {
    GL.glVertex2f(static_cast<float>(X), static_cast<float>(Y));
    GL.glVertex2f(static_cast<float>(std::min<int64_t>(X + DASHLEN, X2)), static_cast<float>(Y));
  }
  GL.glEnd();
}

void TGLRenderer::DrawTextAt(int32_t X, int32_t Y, const std::string &S, float R, float G, float B) {
  int64_t Cx = X;
  for (const char Ch : S) {
    if (Cx > std::numeric_limits<int32_t>::max())
      break;
    DrawChar(static_cast<int32_t>(Cx), Y, static_cast<unsigned char>(Ch), R, G, B);
    Cx += FONT_W;
  }
}

void TGLRenderer::DrawChar(int32_t X, int32_t Y, unsigned char Ch, float R, float G, float B) {
  const uint8_t *Rows = FontGlyph(Ch);
  if (!Rows)
    return;
  Colour3(R, G, B);
  // One begin/end pair per glyph; a run of set bits in a row becomes one quad, which covers
  // exactly the pixels the single-pixel quads would.
  bool Begun = false;
  for (int32_t Row = 0; Row < CHAR_H; ++Row) {
    const uint8_t Bits = Rows[CHAR_H - 1 - Row];
    int32_t Col = 0;
    while (Col < CW) {
      if (!(Bits & (0x10 >> Col))) {
        ++Col;
        continue;
      }
      int32_t End = Col;
      while (End < CW && (Bits & (0x10 >> End)))
        ++End;
      if (!Begun) {
        GL.glBegin(GL_QUADS);
        Begun = true;
      }
      const float X1 = static_cast<float>(int64_t{X} + Col), X2 = static_cast<float>(int64_t{X} + End);
      const float Y1 = static_cast<float>(int64_t{Y} + Row), Y2 = Y1 + 1.0f;
      GL.glVertex2f(X1, Y1);
      GL.glVertex2f(X2, Y1);
      GL.glVertex2f(X2, Y2);
      GL.glVertex2f(X1, Y2);
      Col = End;
    }
  }
  if (Begun)
    GL.glEnd();
}

double TGLRenderer::GetFreqAtWindowX(int32_t WinX) const {
  if (FPsdWidth <= 0)
    return 0.0;
  return FLastFreqLo + (static_cast<double>(WinX) - FPsdLeft) / FPsdWidth * (FLastFreqHi - FLastFreqLo);
}

bool TGLRenderer::IsWindowXYInPlot(int32_t WinX, int32_t WinY) const {
  const int64_t GlY = int64_t{FHeight} - WinY;
  if (WinX < FPsdLeft || int64_t{WinX} > int64_t{FPsdLeft} + FPsdWidth)
    return false;
  if (GlY >= FPsdBottom && GlY <= int64_t{FPsdBottom} + FPsdHeight)
    return true;
  return GlY >= FWfBottom && GlY <= int64_t{FWfBottom} + FWfHeight;
}

bool TGLRenderer::GetTimeAtWindowY(int32_t WinY, double &TSec) const {
  const int64_t GlY = int64_t{FHeight} - WinY;
  if (FWfHeight <= 0 || !(FLastTimeTop > FLastTimeBot) || GlY < FWfBottom ||
      GlY > int64_t{FWfBottom} + FWfHeight)
    return false;
  TSec = FLastTimeBot + static_cast<double>(GlY - FWfBottom) / FWfHeight * (FLastTimeTop - FLastTimeBot);
  return true;
}

double TGLRenderer::GetFreqTolHz(int32_t PixelTol) const {
  if (FPsdWidth <= 0)
    return 0.0;
  return (FLastFreqHi - FLastFreqLo) * PixelTol / FPsdWidth;
}
