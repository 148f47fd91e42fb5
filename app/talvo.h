// The dialog program: its parameters asked on the console, its data and
// start-value files read in free form, one console line per pass, and the
// result files in the current folder.
#pragma once

#include "estimate/em.h"
#include "state/run.h"
#include "textio/console.h"

namespace talvo {

// One whole run on the console; returns the exit status. The run's numbers
// stay in `run` for whoever called. The benchmarks may swap in other
// kernels for the passes.
int run_dialog(Console& con, Run& run, const PassKernels* kernels = nullptr);

}  // namespace talvo
