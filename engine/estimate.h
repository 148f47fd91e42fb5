// The estimation as a library call: data in memory in, estimates and the
// run's facts out, nothing printed and no file written.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/errors.h"
#include "estimate/em.h"
#include "state/run.h"

namespace talvo {

// N cases of K values, case after case. A value that is not a number is
// missing, and so is a value whose whole-number part equals the code.
struct DataMatrix {
    std::int32_t N = 0, K = 0;
    std::span<const double> values;  // N x K
    double code = NAN;               // none by default
};

struct EstimateOptions {
    StartMethod start = StartMethod::Listwise;
    // With StartMethod::File: the K means and the K x K covariances
    // (divisor N - 1, row after row; the lower triangle is read).
    std::vector<double> start_means, start_covariances;
    std::int32_t max_passes = 200;
    double criterion = kDefaultCrit;  // on the largest change, by the rule of estimator.stop
    // The estimator's checks and rules (state/run.h); the defaults are the
    // dialog's: the absolute rule, no singularity check, no ridge.
    Estimator estimator;
    // The attrition correction: the single missing value of a case filled
    // with intercept + slope x its prediction.
    bool attrition = false;
    double attrition_intercept = 0.0, attrition_slope = 1.0;
    PassObserver* observer = nullptr;
    const PassKernels* kernels = nullptr;  // null: the program's own
};

struct EstimateResult {
    std::vector<double> means;        // K
    std::vector<double> covariances;  // K x K, row after row, divisor N - 1
    EmFacts em;
    std::int32_t patterns = 0;                  // missingness patterns, the complete-data one counted when it has cases
    StartMethod start = StartMethod::Listwise;  // the start values used (listwise may have become pairwise)
    StartNote start_note = StartNote::None;     // why the start method changed
    std::optional<RunEnd> end;  // what ended the run early (a fault, a stop); the estimates are then empty
    // With the maximum-likelihood estimator: the observed-data log-likelihood at the estimates.
    double log_likelihood = NAN;
};

EstimateResult estimate(const DataMatrix& data, const EstimateOptions& options);

}  // namespace talvo
