// The conditional-covariance correction CORR for the next completion step:
// for each incomplete pattern, its case count times the covariance of its
// missing variables given its observed ones, times N/(N-1), summed over the
// patterns in ascending order.
#pragma once

#include "estimate/plans.h"
#include "state/run.h"

namespace talvo {

// The patterns share the sweeps of their common pivot prefixes: each is
// swept on the constant, then on its observed variables in ascending order,
// and the patterns sorted by those sequences take turns resuming from the
// depth they share with the one before. Only the block of variables not yet
// swept is updated; it holds every value later read. The values, and the
// report of a fault (that of the lowest-numbered pattern with one), are
// those of sweeping each pattern's reordered moment matrix whole.
void correction(Run& run, EstimationPlans& plans);

}  // namespace talvo
