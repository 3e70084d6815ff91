// Waterfall levels: float(10 log10 P) of held powers, with the library's bits but without calling
// it for (almost) every bin.
#pragma once

#include "dsp/uFFT.h"

#include <cstddef>

namespace fftimpl {

// The levels of N held powers into Row (resized to N).
void StoreRowDb(const double *Power, size_t N, TSingleArray &Row);

} // namespace fftimpl
