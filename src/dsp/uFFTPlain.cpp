#include "dsp/uFFTPlain.h"

#include "dsp/uFFTMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

void BitReversePlain(TComplex64Array &Data) {
  const size_t N = Data.size();
  if (N < 2)
    return;
  size_t J = 0;
  for (size_t I = 0; I + 1 < N; ++I) {
    if (J > I)
      std::swap(Data[I], Data[J]);
    size_t K = N / 2;
    while (K > 0 && J >= K) {
      J -= K;
      K /= 2;
    }
    J += K;
  }
}

void FFTPlain(TComplex64Array &Data) {
  const size_t N = Data.size();
  if (N <= 1)
    return;
  BitReversePlain(Data);
  size_t MMax = 1;
  while (MMax < N) {
    const size_t Step = 2 * MMax;
    const double Theta = -2.0 * std::numbers::pi / static_cast<double>(Step);
    const double WPRe = std::cos(Theta) - 1.0;
    const double WPIm = std::sin(Theta);
    double WRe = 1.0;
    double WIm = 0.0;
    for (size_t M = 0; M < MMax; ++M) {
      for (size_t I = M; I < N; I += Step) {
        const size_t J = I + MMax;
        const double TmpRe = Data[J].Re * WRe - Data[J].Im * WIm;
        const double TmpIm = Data[J].Im * WRe + Data[J].Re * WIm;
        Data[J].Re = Data[I].Re - TmpRe;
        Data[J].Im = Data[I].Im - TmpIm;
        Data[I].Re = Data[I].Re + TmpRe;
        Data[I].Im = Data[I].Im + TmpIm;
      }
      const double URe = WRe;
      const double UIm = WIm;
      WRe = URe * WPRe + URe - UIm * WPIm;
      WIm = WPIm * URe + UIm + WPRe * UIm;
    }
    MMax = Step;
  }
}

void ApplyHannWindowPlain(TComplex64Array &Data) {
  const size_t N = Data.size();
  for (size_t I = 0; I < N; ++I) {
    const double W =
        0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(I) / static_cast<double>(N)));
    Data[I].Re = W * Data[I].Re;
    Data[I].Im = W * Data[I].Im;
  }
}

namespace {

void LoadBlock(const TComplexArray &Samples, size_t Start, TComplex64Array &Buf) {
  for (size_t I = 0; I < Buf.size(); ++I)
    Buf[I] = {static_cast<double>(Samples[Start + I].Re), static_cast<double>(Samples[Start + I].Im)};
}

} // namespace

void ComputePSDPlain(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                     TFloatArray &Freqs, TFloatArray &PSD_dB) {
  Freqs.clear();
  PSD_dB.clear();
  if (!ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT))
    return;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Segments = PSDSegmentCount(Samples.size(), NFFT, AvgSegments);
  TFloatArray Acc(N, 0.0);
  TComplex64Array Buf(N);
  for (int64_t Seg = 0; Seg < Segments; ++Seg) {
    LoadBlock(Samples, static_cast<size_t>(Seg) * N, Buf);
    ApplyHannWindowPlain(Buf);
    FFTPlain(Buf);
    FFTShift(Buf);
    for (size_t I = 0; I < N; ++I)
      Acc[I] = Acc[I] + Buf[I].Re * Buf[I].Re + Buf[I].Im * Buf[I].Im;
  }
  PSD_dB.resize(N);
  Freqs.resize(N);
  for (size_t I = 0; I < N; ++I) {
    PSD_dB[I] = PowerToDb(Acc[I] / static_cast<double>(Segments));
    Freqs[I] = BinFrequency(I, NFFT, SampleRate);
  }
}

void ComputeWaterfallRowsPlain(const TComplexArray &Samples, double /*SampleRate*/, int32_t NFFT,
                               double Overlap, int32_t MaxRows, TRowBuffer &Rows, int32_t &RowCount,
                               int32_t Decimation) {
  RowCount = 0;
  if (Decimation < 1)
    Decimation = 1;
  if (!ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT))
    return;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Hop = WaterfallHop(NFFT, Overlap);
  const int64_t TotalRaw = static_cast<int64_t>(Samples.size() - N) / Hop + 1;
  TRowBuffer Raw(static_cast<size_t>(TotalRaw));
  TComplex64Array Buf(N);
  for (int64_t R = 0; R < TotalRaw; ++R) {
    LoadBlock(Samples, static_cast<size_t>(R * Hop), Buf);
    ApplyHannWindowPlain(Buf);
    FFTPlain(Buf);
    FFTShift(Buf);
    TSingleArray &Row = Raw[static_cast<size_t>(R)];
    Row.resize(N);
    for (size_t I = 0; I < N; ++I) {
      double Mag2 = Buf[I].Re * Buf[I].Re + Buf[I].Im * Buf[I].Im;
      if (Mag2 < PSD_POWER_FLOOR)
        Mag2 = PSD_POWER_FLOOR;
      Row[I] = static_cast<float>(10.0 * std::log10(Mag2));
    }
  }
  int64_t Dec = Decimation;
  int64_t Blocks = TotalRaw;
  if (Dec > 1) {
    Blocks = TotalRaw / Dec;
    if (Blocks <= 0) {
      Blocks = 1;
      Dec = TotalRaw;
    }
  }
  const int64_t DecRowCount = (MaxRows > 0 && MaxRows < Blocks) ? MaxRows : Blocks;
  const int64_t Count = std::min<int64_t>(DecRowCount, static_cast<int64_t>(Rows.size()));
  for (int64_t R = 0; R < Count; ++R) {
    const int64_t Block = Blocks - DecRowCount + R;
    if (Dec == 1) {
      Rows[static_cast<size_t>(R)] = std::move(Raw[static_cast<size_t>(Block)]);
      continue;
    }
    TSingleArray Out = Raw[static_cast<size_t>(Block * Dec)];
    for (int64_t K = 1; K < Dec; ++K) {
      const TSingleArray &Src = Raw[static_cast<size_t>(Block * Dec + K)];
      for (size_t I = 0; I < N; ++I)
        if (Src[I] > Out[I])
          Out[I] = Src[I];
    }
    Rows[static_cast<size_t>(R)] = std::move(Out);
  }
  RowCount = static_cast<int32_t>(Count);
}
