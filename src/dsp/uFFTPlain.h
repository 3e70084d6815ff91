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

// The vector width the fast transform uses (0: SSE2, 1: AVX2, 2: AVX-512), and a cap on it, so
// that tests can run every width the machine has. Results never depend on it.
int FFTVectorLevel();
void LimitFFTVectorLevel(int MaxLevel);

// The level of one bin of a waterfall row, float(10 log10 Power), as the fast path computes it:
// the same bits as the library's log10 gives, for every power.
float WaterfallDb(double Power);
// The levels of N bins as the fast path converts a whole row (with the widest vectors allowed).
void WaterfallDbs(const double *Power, size_t N, float *Out);
