// Missingness patterns: each case's observed-first variable order, and the
// table of distinct patterns numbered by first occurrence.
#pragma once

#include "state/run.h"

namespace talvo {

// Row I of PA: the observed variables of case I ascending, then its missing
// variables ascending.
void encode_case(Run& run, std::int32_t I);

// Builds P and NPATT from PA and the observed counts: row 1 the
// complete-data pattern, then each incomplete pattern in the order its
// first case comes. The table grows as the data need.
void build_pattern_table(Run& run);

}  // namespace talvo
