// The EM iteration: passes of completion (from the second on), regressions
// by sweeping, the convergence test, and the conditional-covariance
// correction for the next pass.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

#include "estimate/plans.h"
#include "state/run.h"

namespace talvo {

// What a pass shows whoever watches the iteration.
struct PassReport {
    std::int32_t pass = 0;  // 0 for the start values
    double largest_change =
        0.0;  // since the pass before, by the rule of run.EST.stop (always relative for maximum likelihood)
    bool relative = false;        // the change is relative to the scale (Estimator::Stop::Relative)
    double log_likelihood = NAN;  // observed-data log-likelihood at the pass's parameters, where computed
};

class PassObserver {
public:
    // At every pass, right after its convergence check and before the
    // regressions are finished: a fault in the rest of the pass comes after.
    virtual void pass_checked(const PassReport& report) = 0;

protected:
    ~PassObserver() = default;
};

// How the iteration ended.
struct EmFacts {
    std::int32_t passes = 0;   // the last pass run (COUNT)
    bool converged = false;    // the criterion met at the last pass, or nothing to iterate
    bool complete = false;     // every case complete: one pass, nothing to iterate
    double last_change = 0.0;  // the largest change of the last pass
};

// The three steps of a pass. The program's own kernels unless a benchmark
// or a test swaps in others (the straightforward forms of tests/reference).
class PassKernels {
public:
    virtual ~PassKernels() = default;
    // The completion step: missing values filled, SS rebuilt.
    virtual void complete(Run& run, EstimationPlans& plans) const;
    // The regressions into B with the convergence check into COV and
    // MAXDIFF on the way; checked() right after the check.
    virtual void regress(Run& run, const std::function<void()>& checked) const;
    // The correction CORR for the next pass.
    virtual void correct(Run& run, EstimationPlans& plans) const;
};

// The passes from the start values in SS until the criterion is met or the
// pass limit is reached. A negative pass limit with a criterion that can
// never be met (0 or below) is taken as positive.
EmFacts em(Run& run, PassObserver* observer = nullptr, const PassKernels* kernels = nullptr);

// G from SS with divisor N: G(0,0) = 1, means in row and column 0, mean
// products in the rest, with the ridge of run.EST (see ridged_moment).
void build_moments(Run& run);

// The mean product `raw` of two variables with means mi and mj as the
// moment matrix holds it: unchanged on the diagonal and without a ridge;
// with a ridge of X pseudo-observations, (N (raw - mi mj)) / (N + X) + mi mj,
// the covariance shrunk toward zero. Plain arithmetic: the caller checks.
double ridged_moment(const Run& run, double raw, double mi, double mj, bool diagonal);

// For each variable Q, its regression on the others into row Q of B, by
// sweeping with Q moved last; the convergence check (COV, MAXDIFF) on the
// way, after pivot 0 of the last regression, followed by checked().
void regressions(Run& run, const std::function<void()>& checked = {});

}  // namespace talvo
