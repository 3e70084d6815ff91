// Hooks into the fast transform for tests and benchmarks: its vector width, and its level
// conversion on its own. Results never depend on the width.
#pragma once

#include <cstddef>

// The vector width the fast transform uses (0: SSE2, 1: AVX2, 2: AVX-512), and a cap on it, so
// that tests can run every width the machine has.
int FFTVectorLevel();
void LimitFFTVectorLevel(int MaxLevel);

// The level of one bin of a waterfall row, float(10 log10 Power), as the fast path computes it:
// the same bits as the library's log10 gives, for every power.
float WaterfallDb(double Power);
// The levels of N bins as the fast path converts a whole row (with the widest vectors allowed).
void WaterfallDbs(const double *Power, size_t N, float *Out);
