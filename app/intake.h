// The data intake and the display of the first cases.
#pragma once

#include "state/run.h"

namespace talvo {

// Reads the N x K values of the data file into X, case by case.
void read_data(Run& run);

// The first five cases on the console.
void show_first_cases(Run& run);

}  // namespace talvo
