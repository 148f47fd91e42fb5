// The completion step that opens every EM pass after the first: missing
// values filled from the regressions B, and SS rebuilt.
#pragma once

#include "app/storage.h"

namespace talvo {

void e_step(Run& run);

// The same step written as its formulas read, every pair's flags tested;
// e_step gives the same bits and is proven equal to it by tests.
void e_step_reference(Run& run);

// The regression prediction of variable J for case I from the other
// variables: sum over p = 0..K-1 of B(J,p) times X(I,p) (p < J) or
// X(I,p+1) (p >= J), accumulated in that order from 0.0.
double prediction(const Run& run, std::int32_t I, std::int32_t J);

}  // namespace talvo
