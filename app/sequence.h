// The run sequence: the phases of one run in their fixed order.
#pragma once

#include "state/run.h"

namespace talvo {

// Runs every phase, then ends the run normally or as a failure ended it;
// returns the exit status.
int execute(Run& run);

}  // namespace talvo
