// The vector kernels of the fast transform: the stages of the radix-2 transform on split real and
// imaginary arrays, with SSE2, AVX2 or AVX-512 chosen at run time, and the block loads that
// apply the bit reversal and the window on the way in.
#pragma once

#include "dsp/uFFT.h"
#include "dsp/uFFTTables.h"

#include <cstddef>
#include <cstring>

namespace fftimpl {

typedef double VD2 __attribute__((vector_size(16)));
typedef double VD4 __attribute__((vector_size(32)));
typedef double VD8 __attribute__((vector_size(64)));

template <class V> [[gnu::always_inline]] inline void LoadV(V &Out, const double *P) {
  std::memcpy(&Out, P, sizeof(V));
}
template <class V> [[gnu::always_inline]] inline void StoreV(double *P, const V &In) {
  std::memcpy(P, &In, sizeof(V));
}

// The vector width in use (0: SSE2, 1: AVX2, 2: AVX-512); lowered only by tests, to check that
// every width gives the same bits.
int VectorLevel();

// Working buffers of one call, reused for every block.
struct TWork {
  TLineDoubles Buf;
  double *Re, *Im;
  // Both halves in one block, Im right after Re. Other distances between them measured slower
  // here, a distance of one cache line (what two separate blocks tend to get) by about 10 %.
  explicit TWork(size_t N) : Buf(2 * N), Re(Buf.data()), Im(Buf.data() + N) {}
  TWork(const TWork &) = delete;
  TWork &operator=(const TWork &) = delete;
};

// Windowed and transformed block of T.N samples into Wk.Re, Wk.Im (not shifted).
void TransformBlock(const TFFTTables &T, const TComplexSample *Block, TWork &Wk);

// The unwindowed transform of T.N values into Re and Im (not shifted).
void TransformValues(const TFFTTables &T, const TComplex64 *Src, double *Re, double *Im);

} // namespace fftimpl
