// Include first in every translation unit that computes spectra or colours: results must not
// depend on the build. On 32-bit x86 the compiler's default x87 arithmetic keeps excess
// precision in registers, so the 32-bit plug-in would disagree in the last bits (and in rare
// colour bytes) with the 64-bit one; SSE2 scalar arithmetic rounds every operation to its
// declared type, as on x86-64. Fused multiply-add (which the wider vector paths make
// available) rounds once where the plain code rounds twice, so contraction is switched off.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("fp-contract=off")
#endif

#if defined(__i386__) && defined(__GNUC__)
#pragma GCC target("sse2,fpmath=sse")
#endif
