// What talvo-batch says about the trust of an estimation: its pass lines and
// missingness summary in the log (at any size), the estimator options it
// switches on, the start-value notes, the refusal of a singular covariance
// with the variables named, and the warning of a near-singular estimate.
#pragma once

#include <string>
#include <vector>

#include "app/batch/options.h"
#include "base/errors.h"
#include "estimate/em.h"
#include "state/run.h"

namespace talvo::batch {

// The tolerance of the singularity check: a variable whose pivot is below
// this fraction of its variance (1 - R squared on the variables before it)
// ends the run. Its regressions would have lost half the digits of a double.
inline constexpr double kSingularTol = 1e-8;

// Below this smallest pivot ratio the final estimate is reported near-singular.
inline constexpr double kNearSingular = 1e-6;

// The estimator's checks and rules of the options.
Estimator estimator_of(const Options& o);

// The log line of a pass after the start values: "pass 12: largest relative
// change 3.21e-07".
std::string pass_line(const PassReport& report);

// The missingness summary, in lines without carriage control.
std::vector<std::string> summary_lines(const Run& run);

// The first five cases as read, each value in its shortest exact form (NA
// for a missing one), in lines without carriage control.
std::vector<std::string> first_case_lines(const Run& run);

// The notes on the start values: "" or lines for the log and standard error.
std::vector<std::string> start_notes(const Options& o, const Run& run);

// A singular covariance that ended the run: what it is, with the variables'
// names, then the remedy.
std::vector<std::string> degenerate_text(const Options& o, const Run& run, const RunEnd& end,
                                         const std::vector<std::string>& names);

// A near-singular final estimate: a warning line, or "".
std::string near_singular_warning(const Run& run, const std::vector<std::string>& names);

// The verdict of a run that reached the pass limit.
std::string pass_limit_verdict(const Options& o, double last_change);

// The hint under a floating-point fault, or "".
std::string fault_hint(const Options& o, const Run& run, const RunEnd& end);

}  // namespace talvo::batch
