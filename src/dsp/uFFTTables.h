// The per-size tables of the fast transform: bit reversal, window and twiddles, computed once
// and shared by every call of that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace fftimpl {

// Arrays of doubles on cache-line boundaries: a vector load that straddles two lines costs
// about twice as much, and every pass of the transform is made of such loads.
template <class T> struct TLineAllocator {
  using value_type = T;
  static constexpr std::align_val_t ALIGN{64};
  TLineAllocator() = default;
  template <class U> TLineAllocator(const TLineAllocator<U> &) {}
  T *allocate(size_t N) { return static_cast<T *>(::operator new(N * sizeof(T), ALIGN)); }
  void deallocate(T *P, size_t) { ::operator delete(P, ALIGN); }
  template <class U> bool operator==(const TLineAllocator<U> &) const { return true; }
};
using TLineDoubles = std::vector<double, TLineAllocator<double>>;

struct TFFTTables {
  size_t N = 0;
  std::vector<uint32_t> Rev; // Rev[i]: the index that bit reversal moves to i
  TLineDoubles Window;       // periodic Hann window
  TLineDoubles WindowRev;    // WindowRev[i] = Window[Rev[i]]: read in step with the load
  TLineDoubles WindowTile;   // the window in the order of the tiled load (N >= 64)
  TLineDoubles TwRe;         // twiddle m of the stage with half size M at index M + m
  TLineDoubles TwIm;
};

// The tables of size N (a power of two): kept for the life of the process up to 2^16 points,
// built for the call above that.
std::shared_ptr<const TFFTTables> GetTables(size_t N);

bool IsPow2(size_t N);

// Coefficient I of the periodic Hann window of length N: 0.5 * (1 - cos(2 pi I / N)).
double HannCoefficient(size_t I, size_t N);

} // namespace fftimpl
