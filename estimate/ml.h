// Maximum likelihood for the multivariate normal with values missing at
// random: the textbook EM (E-step: the conditional means of the missing
// values given the observed ones, and their conditional covariances; M-step:
// the means and the covariances with divisor N of the completed sums), the
// observed-data log-likelihood, and the SQUAREM acceleration of the EM map.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/threads.h"
#include "estimate/em.h"
#include "state/run.h"

namespace talvo {

// The parameters: K means and the K x K covariances with divisor N, row
// after row (both triangles).
struct Normal {
    std::int32_t K = 0;
    std::vector<double> mean, cov;

    explicit Normal(std::int32_t k = 0)
        : K(k), mean(static_cast<std::size_t>(k)), cov(static_cast<std::size_t>(k) * static_cast<std::size_t>(k)) {}
    double& sigma(std::int32_t i, std::int32_t j) {
        return cov[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
    }
    double sigma(std::int32_t i, std::int32_t j) const {
        return cov[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
    }
};

// Rows first..last-1 of a lower triangle of K rows, for part `part` of
// `parts`: about the same number of elements in each part. The sums over
// the cases split between the threads so, each element in one thread.
std::pair<std::int32_t, std::int32_t> triangle_rows(std::int32_t K, std::size_t part, std::size_t parts);

// The cases of each pattern, made once from the coded data: pattern L's
// cases, ascending, are cases[at[L] .. at[L+1]).
//
// And the patterns with cases in the order of their sequences of observed
// variables (a sequence before those it begins), so that consecutive
// patterns share the longest run of pivots: order[k] is the pattern at
// place k.
struct PatternCases {
    std::vector<std::int32_t> at, cases;
    std::vector<std::int32_t> order;
};
PatternCases group_cases(const Run& run);

// One pattern's covariance, its variables in the order observed first
// (each group ascending), swept on its observed variables. Afterwards, with
// o the observed and m the missing positions: a(m, o) holds the regression
// coefficients of the missing variables on the observed ones, a(m, m) their
// conditional covariances, a(o, o) minus the inverse of the observed block,
// and logdet the log of its determinant. The maximum-likelihood E-step and
// the draws of data augmentation (estimate/augment.h) share it.
struct Swept {
    std::int32_t K = 0, observed = 0;
    std::vector<std::int32_t> var;  // 0-based variable of each position
    std::vector<double> a;          // K x K
    std::vector<double> line;       // the pivot line, scratch of the sweep
    double logdet = 0.0;

    double& at(std::int32_t i, std::int32_t j) {
        return a[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
    }
    double at(std::int32_t i, std::int32_t j) const {
        return a[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
    }
};

// The sweeps of the patterns at consecutive places of the order, each
// resuming from the pivots it shares with the one before: the covariance
// after each number of pivots of the current sequence is kept, indexed by
// variable. A sweep gives the bits of sweeping each pattern alone (each element goes
// through the same operations), in far fewer of them.
class SharedSweeps {
public:
    explicit SharedSweeps(std::int32_t K) : K_(K) {}
    // Starts over from theta (the first place of a piece of the order).
    void restart(const Normal& theta);
    // The pattern at place k into s, as sweeping the pattern alone gives it, from the
    // pivots it shares with the sequence swept before.
    void sweep(const Run& run, const PatternCases& groups, std::size_t k, Swept& s);

private:
    std::int32_t K_;
    std::vector<std::vector<double>> level_;  // the covariance after d pivots, K x K, lower triangle
    std::vector<double> logdet_;              // the log of the product of those pivots
    std::vector<double> line_;
    std::vector<std::int32_t> path_;  // the variables (1-based) pivoted, in order
    std::int32_t depth_ = 0;          // pivots of the current sequence made
};

// Every pattern with cases (only those missing a value, with
// only_incomplete) swept at theta, in the order of their observed
// sequences: contiguous pieces of that order, many for each thread, each
// piece sweeping its first pattern from the start. visit(scratch, L, s)
// sees pattern L's sweep; each piece has its own scratch, from
// make_scratch().
template <class MakeScratch, class Visit>
void sweep_patterns(const Run& run, const PatternCases& groups, const Normal& theta, bool only_incomplete,
                    MakeScratch make_scratch, Visit visit) {
    const std::size_t places = groups.order.size();
    const std::size_t pieces = std::min<std::size_t>(places, static_cast<std::size_t>(thread_count()) * 16);
    run_parts(pieces, [&](std::size_t piece) {
        Swept s;
        SharedSweeps sweeps(run.K);
        sweeps.restart(theta);
        auto scratch = make_scratch();
        for (std::size_t k = places * piece / pieces, to = places * (piece + 1) / pieces; k < to; ++k) {
            const std::int32_t L = groups.order[k];
            if (only_incomplete && run.P(L, run.K + 1) == 0) continue;
            sweeps.sweep(run, groups, k, s);
            visit(scratch, L, s);
        }
    });
}

// The observed-data log-likelihood at theta (with the constant term),
// summed over the patterns in ascending order and within each over its
// cases in ascending order. A covariance matrix whose observed blocks are
// not positive definite ends the run with the invalid-operation fault.
double log_likelihood(const Run& run, const PatternCases& groups, const Normal& theta);

// One evaluation of the EM map: the E-step at theta fills the missing
// values of X with their conditional means; `next` gets the M-step's
// parameters. Returns the log-likelihood at theta.
double ml_step(Run& run, const PatternCases& groups, const Normal& theta, Normal& next);

// The largest change from a to b of a mean relative to the square root of
// its variance, and of a covariance relative to the square root of the
// product of the two variances (the variances of b).
double relative_change(const Normal& a, const Normal& b);

// True when the covariance matrix is positive definite (its Cholesky
// factor exists with positive pivots).
bool positive_definite(const Normal& theta);

struct MlOptions {
    std::int32_t max_passes = 1000;  // evaluations of the EM map
    double criterion = 1e-8;         // on relative_change between two passes
    bool accelerate = false;         // SQUAREM (SqS3)
    PassObserver* observer = nullptr;
};

struct MlFacts {
    std::int32_t passes = 0;             // evaluations of the EM map
    std::int32_t likelihood_checks = 0;  // evaluations of the log-likelihood alone
    std::int32_t rejected = 0;           // extrapolated steps refused (acceleration)
    bool converged = false;
    double last_change = 0.0;
    double log_likelihood = 0.0;  // at the estimates
};

// From the start values in theta to the estimates in theta; the missing
// values of X are left filled by the E-step at the estimates.
MlFacts ml_em(Run& run, Normal& theta, const MlOptions& options);

// The maximum-likelihood passes of a run from its start values in SS, with
// the run's pass limit (evaluations of the EM map), criterion (on
// relative_change) and acceleration. Afterwards COV holds the estimates
// (covariances with divisor N, or N - 1 when the run asks for it), SS their
// sums and B the regressions on them (for the residuals), and X the missing
// values filled with their conditional means. theta gets the estimates.
EmFacts ml_passes(Run& run, PassObserver* observer, Normal& theta, MlFacts& facts);

// The parameters the start values give: the means and covariances (divisor
// N) of the moment matrix built from SS.
Normal normal_from_sums(const Run& run);

}  // namespace talvo
