// What talvo-batch says beyond the estimates: the summary of the run for
// people (summary.txt) and for programs (summary.json), and with the
// maximum-likelihood estimator the statistics of the saturated model:
// the log-likelihood, Little's MCAR test, the pairwise coverage, the
// correlations, and on request the standard errors, the fractions of missing
// information and the asymptotic covariance matrix of the estimates.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "engine/sequence.h"

namespace talvo::batch {

// The files written (besides the summaries, which always are): with --csv
// correlation.csv, and with the maximum-likelihood estimator pairwise.csv
// and mcar.csv; with --se standard-errors.csv and acov.csv.
std::vector<std::string> statistics_files(const Options& o);

// Works the statistics out and writes their files; the warnings they give
// (pairs of variables never observed together) go to `warnings`. "" or
// what went wrong.
// Each file is written where path(name) says.
std::string write_statistics(const Options& o, Run& run, const RunOutcome& out, const std::vector<std::string>& names,
                             const std::string& verdict, std::vector<std::string>& warnings,
                             const std::function<std::string(const std::string&)>& path);

}  // namespace talvo::batch
