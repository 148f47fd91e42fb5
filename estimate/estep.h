// Completing the incomplete cases from the regressions B: the step that
// opens every EM pass after the first, which also rebuilds SS, and the
// final completion before the result files.
#pragma once

#include "estimate/plans.h"
#include "state/run.h"

namespace talvo {

void e_step(Run& run, EstimationPlans& plans);

// Every missing value of X replaced by its regression prediction, the
// variables in ascending order within each case; no attrition correction.
void complete_cases(Run& run);

// The regression prediction of variable J for case I from the other
// variables: sum over p = 0..K-1 of B(J,p) times X(I,p) (p < J) or
// X(I,p+1) (p >= J), accumulated in that order from 0.0.
double prediction(const Run& run, std::int32_t I, std::int32_t J);

// The predictions of every variable of case I, as prediction() gives them,
// into out[0..K): four chains side by side, checked in ascending order.
void predictions(const Run& run, std::int32_t I, double* out);

}  // namespace talvo
