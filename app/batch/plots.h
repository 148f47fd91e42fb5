// Pictures of a run as self-contained SVG: the convergence trace and the
// missingness patterns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/run.h"

namespace talvo::batch {

// The largest change of a covariance in each pass from the first, on a
// logarithmic scale, with the criterion.
// changes[0] is that of the start values, which is not shown.
// With the log-likelihood of each pass (the maximum-likelihood
// estimator), a second panel shows it.
std::string trace_svg(const std::vector<double>& changes, double criterion, const std::vector<double>& loglik = {});

// Variables across, patterns down (the most frequent first), a dark cell
// for a missing variable; each pattern's case count beside it.
std::string patterns_svg(const Run& run, const std::vector<std::string>& names);

// The data augmentation's series of the worst linear function of the
// parameters (pass 0 the maximum-likelihood estimates, then each pass's draw),
// the passes that made the data sets marked, and beneath it the
// autocorrelations of the series after the burn-in, with the band of
// +-2/sqrt(n) within which those of independent draws fall. An empty series:
// a note that the function could not be found.
std::string chains_svg(const std::vector<double>& series, const std::vector<std::int32_t>& set_passes,
                       std::int32_t burn_in);

}  // namespace talvo::batch
