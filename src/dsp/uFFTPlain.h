// The transform, window, PSD and waterfall rows evaluated literally, step by step: per-stage
// twiddle recurrence, per-sample window cosine, every raw row converted to dB before the
// max-hold. Too slow for the viewer; kept as the reference that the fast path in uFFT must
// reproduce bit for bit, and as the benchmark baseline.
#pragma once

#include "dsp/uFFT.h"

void BitReversePlain(TComplex64Array &Data);
void FFTPlain(TComplex64Array &Data);
void ApplyHannWindowPlain(TComplex64Array &Data);
void ComputePSDPlain(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                     TFloatArray &Freqs, TFloatArray &PSD_dB);
void ComputeWaterfallRowsPlain(const TComplexArray &Samples, double SampleRate, int32_t NFFT, double Overlap,
                               int32_t MaxRows, TRowBuffer &Rows, int32_t &RowCount, int32_t Decimation);
