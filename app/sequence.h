// The run sequence: the phases of one run in their fixed order.
#pragma once

#include "base/errors.h"
#include "state/run.h"

namespace talvo {

// Runs every phase, then ends the run normally or as a failure ended it;
// returns the exit status.
int execute(Run& run);

// A run ending early: the records collected for the open result files are
// written out and the files closed. Those records were written before
// whatever ended the run, so a failure among them becomes the end to report.
void close_result_files(Run& run, RunEnd& end);

}  // namespace talvo
