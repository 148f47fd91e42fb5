// The sweep operator in Dempster's sign convention: the pivot becomes minus
// its reciprocal, the pivot row and column are divided by the pivot.
#pragma once

#include "app/matrix.h"

namespace talvo {

// One pivot step on position KI of the (K+1) x (K+1) matrix G (indices
// 0..K): H receives the result, which is then copied into G. A zero pivot
// ends the run with the division-by-zero fault report.
void SWEEP(Mat& G, Mat& H, int KI, int K);

// The run of pivots 0, 1, ..., last: the same values, the same fault and
// the same G and H as SWEEP applied on each pivot in turn, computed faster
// (the two matrices take turns as source and result, each row in one
// vectorisable loop, one copy at the end).
void sweep_pivots(Mat& G, Mat& H, int last, int K);

}  // namespace talvo
