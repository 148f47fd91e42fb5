// The result files: temp.cov always; with additional output temp.ptn, the
// final completion of X, temp.dat and temp.res.
#pragma once

#include "state/run.h"

namespace talvo {

void write_results(Run& run);

// The pattern listing temp.ptn; the file stays open to the end of the run.
void write_pattern_file(Run& run);

}  // namespace talvo
