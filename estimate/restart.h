// The first fill of a restart from given estimates: each case's missing
// values at their conditional means given its observed values.
#pragma once

#include "state/run.h"

namespace talvo {

// For every case with two or more missing values, the values x_m that the
// regressions B reproduce all at once: x_j = B(j,0) + the sum over the
// other variables v of B's weight of v times x_v, for each missing j, the
// observed values held. That is the conditional mean of the missing values
// given the observed ones under the estimate B was computed from, and the
// fixed point the completion step moves toward. Solved per pattern by
// elimination with row pivoting; a zero pivot ends the run with the
// division-by-zero fault and a value that is not finite with the overflow
// fault, before it is stored. Cases with one missing value are left: the
// completion step gives them that value at once.
void fill_conditional_means(Run& run);

}  // namespace talvo
