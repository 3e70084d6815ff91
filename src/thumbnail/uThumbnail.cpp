#include "thumbnail/uThumbnail.h"

#include "dsp/uFFT.h"
#include "formats/uFileNames.h"
#include "formats/uIQFormats.h"
#include "formats/uValueSources.h"
#include "metadata/uMetadata.h"
#include "render/uColormap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {

// Samples to read: half a second at the rate, within 0 .. THUMB_MAX_SAMPLES and the recording.
int32_t ThumbnailSampleCount(double SampleRate, int64_t Total) {
  double C = std::nearbyint(SampleRate * THUMB_MAX_SECONDS);
  if (!(C <= THUMB_MAX_SAMPLES)) // also a rate that is no number
    C = THUMB_MAX_SAMPLES;
  if (C < 0)
    C = 0;
  return static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(C), Total));
}

// Bins or rows First .. Last of N for cell X of Cells. Where there are more of them than cells,
// each cell takes its share (every one lands in exactly one cell, so a narrow carrier or a
// short burst is never skipped); otherwise the one the cell starts on.
void CellRange(int64_t X, int64_t Cells, int64_t N, int64_t &First, int64_t &Last) {
  First = std::min(X * N / Cells, N - 1);
  Last = std::max(First, std::min((X + 1) * N / Cells, N) - 1);
}

// The strongest level of V[First .. Last]; a level that is no number loses to every other.
template <class TArr> double MaxOf(const TArr &V, int64_t First, int64_t Last) {
  double M = -INFINITY;
  for (int64_t I = First; I <= Last; ++I)
    M = V[static_cast<size_t>(I)] > M ? V[static_cast<size_t>(I)] : M;
  return M;
}

void PutPixel(uint8_t *P, TRGB C) {
  P[0] = C.B;
  P[1] = C.G;
  P[2] = C.R;
}

} // namespace

bool ComputeThumbnailSpectra(const std::string &FileName, int32_t Width, int32_t Height,
                             TThumbnailSpectra &Out, std::string *Why) {
  Out = TThumbnailSpectra{};
  auto Refuse = [&](const std::string &Reason) {
    if (Why)
      *Why = Reason;
    return false;
  };
  if (Width < THUMB_MIN_SIZE || Height < THUMB_MIN_SIZE)
    return Refuse("size " + std::to_string(Width) + "x" + std::to_string(Height) +
                  " is below the smallest, " + std::to_string(THUMB_MIN_SIZE) + "x" +
                  std::to_string(THUMB_MIN_SIZE));
  // GDI makes no bitmap of 2 GiB or more; refuse such sizes before any work, on every platform.
  if (ThumbnailStride(Width) * Height > THUMB_MAX_IMAGE_BYTES)
    return Refuse("size " + std::to_string(Width) + "x" + std::to_string(Height) + " needs " +
                  std::to_string(ThumbnailStride(Width) * Height) + " bytes, more than the largest bitmap (" +
                  std::to_string(THUMB_MAX_IMAGE_BYTES) + " bytes)");
  const TIQMetadata Meta = LoadMetadata(FileName);
  const TFileNameInfo Named = ParseRecordingFileName(FileName);
  const TIQSource Source(RecordingDataPath(FileName),
                         Meta.FormatHint.empty() ? Named.FormatHint : Meta.FormatHint);
  if (Source.TotalSamples() < THUMB_MIN_SAMPLES)
    return Refuse("the recording holds " + std::to_string(Source.TotalSamples()) + " samples (" +
                  Source.GetFormatName() + "), at least " + std::to_string(THUMB_MIN_SAMPLES) +
                  " are needed");
  const double SampleRate =
      SettleRateAndCentre(SidecarValuesOf(Meta), Source.GetFormatInfo(), Named).SampleRateHz;
  const TComplexArray Samples =
      Source.LoadSegment(0, ThumbnailSampleCount(SampleRate, Source.TotalSamples()));
  if (Samples.size() < static_cast<size_t>(THUMB_MIN_SAMPLES))
    return Refuse("only " + std::to_string(Samples.size()) + " samples could be read, at least " +
                  std::to_string(THUMB_MIN_SAMPLES) + " are needed");
  int32_t NFFT = THUMB_PSD_NFFT;
  if (Samples.size() < static_cast<size_t>(THUMB_PSD_NFFT))
    NFFT = NextPow2(static_cast<int32_t>(Samples.size() / 2));
  if (NFFT < THUMB_MIN_NFFT)
    return Refuse("transform size " + std::to_string(NFFT) + " is below " + std::to_string(THUMB_MIN_NFFT));
  TFloatArray Freqs;
  ComputePSD(Samples, SampleRate, NFFT, 1, Freqs, Out.PsdDb);
  Out.Rows.resize(static_cast<size_t>(Height));
  ComputeWaterfallRows(Samples, SampleRate, std::min(NFFT, THUMB_MAX_WF_NFFT), 0.0, Height, Out.Rows,
                       Out.RowCount, 1);
  return true;
}

int64_t ThumbnailStride(int32_t Width) {
  return ((3 * static_cast<int64_t>(Width) + 3) / 4) * 4;
}

int32_t ThumbnailPsdHeight(int32_t Height) {
  return std::max<int32_t>(static_cast<int32_t>(static_cast<int64_t>(Height) * 2 / 5), THUMB_MIN_PSD_ROWS);
}

void PaintThumbnail(const TThumbnailSpectra &S, int32_t Width, int32_t Height, uint8_t *Pixels) {
  if (Width <= 0 || Height <= 0)
    return;
  const int64_t Stride = ThumbnailStride(Width);
  std::memset(Pixels, THUMB_BACKGROUND, static_cast<size_t>(Stride * Height));
  // With very small heights the minimum PSD band could leave no room; the waterfall then gets
  // no scan lines and the bars are cut at the top of the image.
  const int32_t PsdH = ThumbnailPsdHeight(Height);
  const int32_t WfH = std::max(Height - PsdH, 0);
  const int64_t NLevels = static_cast<int64_t>(S.PsdDb.size());
  if (NLevels > 0) {
    for (int32_t X = 0; X < Width; ++X) {
      int64_t First = 0, Last = 0;
      CellRange(X, Width, NLevels, First, Last);
      const double V = MaxOf(S.PsdDb, First, Last);
      double T = (V - THUMB_MIN_DB) / (static_cast<double>(THUMB_MAX_DB) - THUMB_MIN_DB);
      if (!(T > 0.0)) // a level that is no number draws as the lowest
        T = 0.0;
      if (T > 1.0)
        T = 1.0;
      const int64_t BarTop = static_cast<int64_t>(std::nearbyint((PsdH - 1) * T));
      const TRGB C = MapDbToColor(static_cast<float>(V), THUMB_MIN_DB, THUMB_MAX_DB);
      for (int64_t Y = 0; Y <= BarTop && WfH + Y < Height; ++Y)
        PutPixel(Pixels + (WfH + Y) * Stride + 3 * static_cast<int64_t>(X), C);
    }
  }
  const int64_t RowCount = std::min<int64_t>(S.RowCount, static_cast<int64_t>(S.Rows.size()));
  if (RowCount <= 0)
    return;
  // The strongest level of the rows and bins each pixel covers: rows are pooled first into
  // one line of levels per scan line, then bins into columns.
  std::vector<float> Pooled;
  for (int32_t Y = 0; Y < WfH; ++Y) {
    int64_t R0 = 0, R1 = 0;
    CellRange(Y, WfH, RowCount, R0, R1);
    const int64_t Len = static_cast<int64_t>(S.Rows[static_cast<size_t>(R0)].size());
    if (Len == 0)
      continue;
    Pooled.assign(S.Rows[static_cast<size_t>(R0)].begin(), S.Rows[static_cast<size_t>(R0)].end());
    for (int64_t I = R0 + 1; I <= R1; ++I) {
      const TSingleArray &Row = S.Rows[static_cast<size_t>(I)];
      for (size_t K = 0; K < Pooled.size() && K < Row.size(); ++K)
        Pooled[K] = Row[K] > Pooled[K] || std::isnan(Pooled[K]) ? Row[K] : Pooled[K];
    }
    uint8_t *Line = Pixels + static_cast<int64_t>(Y) * Stride;
    for (int32_t X = 0; X < Width; ++X) {
      int64_t First = 0, Last = 0;
      CellRange(X, Width, Len, First, Last);
      PutPixel(Line + 3 * static_cast<int64_t>(X),
               MapDbToColor(static_cast<float>(MaxOf(Pooled, First, Last)), THUMB_MIN_DB, THUMB_MAX_DB));
    }
  }
}

std::array<uint8_t, 40> ThumbnailInfoHeader(int32_t Width, int32_t Height) {
  std::array<uint8_t, 40> H{};
  auto Put32 = [&](size_t Off, uint32_t V) {
    for (size_t I = 0; I < 4; ++I)
      H[Off + I] = static_cast<uint8_t>(V >> (8 * I));
  };
  Put32(0, 40);                            // biSize
  Put32(4, static_cast<uint32_t>(Width));  // biWidth
  Put32(8, static_cast<uint32_t>(Height)); // biHeight > 0: bottom-up
  H[12] = 1;                               // biPlanes
  H[14] = 24;                              // biBitCount; biCompression BI_RGB (0) and the rest 0
  return H;
}

bool GenerateThumbnailPixels(const std::string &FileName, int32_t Width, int32_t Height,
                             std::vector<uint8_t> &Pixels, std::string *Why) {
  Pixels.clear();
  try {
    TThumbnailSpectra S;
    if (!ComputeThumbnailSpectra(FileName, Width, Height, S, Why))
      return false;
    Pixels.resize(static_cast<size_t>(ThumbnailStride(Width) * Height));
    PaintThumbnail(S, Width, Height, Pixels.data());
    return true;
  } catch (const std::bad_alloc &) {
    Pixels.clear();
    if (Why)
      *Why = "out of memory";
    return false;
  } catch (const std::exception &E) {
    Pixels.clear();
    if (Why)
      *Why = E.what();
    return false;
  } catch (...) {
    Pixels.clear();
    if (Why)
      *Why = "unknown failure";
    return false;
  }
}
