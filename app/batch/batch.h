// talvo-batch: one run of the estimator from a command line instead of the
// dialog, with its input checked before the run and a verdict at the end.
#pragma once

namespace talvo::batch {

// A whole run; returns the exit status.
int run_batch(int argc, char** argv);

}  // namespace talvo::batch
