// The missingness report on the console, its pause, and the release of PA.
#pragma once

#include "app/storage.h"

namespace talvo {

void report_missingness(Run& run);

}  // namespace talvo
