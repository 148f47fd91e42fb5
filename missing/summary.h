// The missingness summary: its figures, and its lines on the console.
#pragma once

#include "state/run.h"
#include "textio/console.h"

namespace talvo {

// S1, S2, S3, PS1, PS2, PNUM and CPATT from the pattern table.
void summarise_missingness(Run& run);

// The summary's lines: the pattern count, the largest number missing in a
// case, the percentage of values missing.
void report_missingness(Console& con, const Run& run);

}  // namespace talvo
