// The parameter dialog: banner, prompts, defaults and re-asking.
#pragma once

#include "state/run.h"
#include "textio/console.h"

namespace talvo {

// Writes the banner and asks for every run parameter. BMOD keeps its
// incoming value unless the answers switch the attrition correction on;
// SVFIN, YINT and YHAT keep theirs when their prompts are skipped.
void ask_parameters(Console& con, Params& p);

}  // namespace talvo
