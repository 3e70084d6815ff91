// Floored squared magnitudes of transformed blocks, shifted so that index N/2 is 0 Hz, and their
// bin-wise maximum over the blocks of a waterfall row.
#pragma once

#include "dsp/uFFTKernels.h"

#include <cstddef>

namespace fftimpl {

// Floored squared magnitudes of a transformed block, shifted so that index N/2 is 0 Hz, into
// Max (First) or max-held into it (a value replaces the held one only when strictly greater, so a
// NaN held stays and a later NaN never replaces a number).
template <bool First> void HoldPower(const TWork &Wk, size_t N, double *Max);

} // namespace fftimpl
