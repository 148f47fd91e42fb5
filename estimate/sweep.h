// The sweep operator in Dempster's sign convention: the pivot becomes minus
// its reciprocal, the pivot row and column are divided by the pivot.
#pragma once

#include "base/matrix.h"

namespace talvo {

// One pivot step on position k of the (K+1) x (K+1) matrix G (indices
// 0..K): H receives the result, which is then copied into G. A zero pivot
// ends the run with the division-by-zero fault report.
void sweep(Mat& G, Mat& H, int k, int K);

// The run of pivots first, first + 1, ..., last: the same values, the same
// fault and the same G and H as sweep applied on each pivot in turn,
// computed faster (the two matrices take turns as source and result, each
// row in one vectorised loop, one copy at the end).
void sweep_pivots(Mat& G, Mat& H, int first, int last, int K);

}  // namespace talvo
