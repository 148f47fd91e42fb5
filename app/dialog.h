// The parameter dialog: banner, prompts, defaults and re-asking.
#pragma once

#include "state/run.h"

namespace talvo {

// Writes the banner and asks for every run parameter. BMOD keeps its
// incoming value unless the answers switch the attrition correction on;
// SVFIN, YINT and YHAT keep theirs when their prompts are skipped.
void ask_parameters(Console& con, Params& p);

// The single-precision 1.0E-5 widened to double: the criterion's default.
inline constexpr double kDefaultCrit = static_cast<double>(1.0e-5f);

}  // namespace talvo
