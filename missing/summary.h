// The missingness summary on the console.
#pragma once

#include "state/run.h"

namespace talvo {

void summarise_missingness(Run& run);

}  // namespace talvo
