// What the processor offers the vector kernels. Each kernel is built for
// the plain instruction set and for AVX2 and gives the same bits on both:
// every lane does the same IEEE operations.
#pragma once

namespace talvo {

// True when the AVX2 builds of the kernels are to be used: the machine has
// AVX2 and the plain builds are not forced.
bool use_avx2();

// Forces the plain builds (on) or lets the machine decide (off); the tests
// run the kernels both ways.
void force_plain_kernels(bool on);

}  // namespace talvo
