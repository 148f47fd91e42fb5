// Multiple imputation by data augmentation for the multivariate normal model
// (Schafer 1997, chapters 5 and 6): from the maximum-likelihood estimates,
// one chain of passes, each an I-step (every case's missing values drawn
// from their normal distribution given its observed values and the current
// parameters) and a P-step (the parameters drawn from their posterior given
// the completed data). The data sets are the completed data of passes set
// apart, so that each is a draw from the predictive distribution of the
// missing values.
//
// Every draw is keyed (base/random.h) by the seed, the data set the pass
// leads to, the pass, and the case and variable or the parameter, so the
// data sets are the same bits whatever the number of threads.
#pragma once

#include <cstdint>
#include <vector>

#include "estimate/ml.h"
#include "state/run.h"

namespace talvo {

struct AugmentOptions {
    std::int32_t sets = 5;       // data sets, 1 or more
    std::int32_t burn_in = 100;  // passes whose parameters are drawn before the first data set
    std::int32_t between = 50;   // passes from one data set to the next, 1 or more
    std::uint64_t seed = 1;
    // The prior. 0: Schafer's noninformative prior, p(mu, Sigma) proportional
    // to |Sigma|^-(K+1)/2, under which
    //   Sigma | Y ~ inverse-Wishart(N - 1, A), A the sums of squares and
    //   products of the completed data about their means
    //   (Sigma^-1 ~ Wishart with N - 1 degrees of freedom and scale A^-1),
    //   mu | Sigma, Y ~ normal(ybar, Sigma / N).
    // Above 0: the ridge prior of this many pseudo-observations of
    // uncorrelated variables with the maximum-likelihood variances: A gets
    // ridge x the diagonal of the maximum-likelihood covariances added, and
    // the degrees of freedom become N - 1 + ridge.
    double ridge = 0.0;
};

// Who watches the chain.
class AugmentObserver {
public:
    // The P-step of pass `pass` (1 up) has drawn theta.
    virtual void parameters_drawn(std::int32_t /*pass*/, const Normal& /*theta*/) {}
    // Data set `set` (1 up) is in X(1..N, 1..K): the missing values drawn.
    virtual void data_set(std::int32_t /*set*/, const Run& /*run*/) {}

protected:
    ~AugmentObserver() = default;
};

struct AugmentFacts {
    std::int32_t passes = 0;  // I-steps made
    // Each data set's complete-data estimates: the means and the covariances
    // with divisor N of its completed data.
    std::vector<Normal> complete;
};

// The pass whose I-step makes data set m (1 up): burn_in + 1 + (m - 1) between.
std::int32_t data_set_pass(const AugmentOptions& options, std::int32_t m);

// The chain from the maximum-likelihood estimates `start` on the coded run
// (its pattern table made, the observed values in X). A covariance that
// cannot be drawn (fewer cases than the prior needs, completed data whose
// sums of squares are singular) ends the run with a message; a
// floating-point fault with its report. X is left holding the last data set.
AugmentFacts augment(Run& run, const PatternCases& groups, const Normal& start, const AugmentOptions& options,
                     AugmentObserver* observer);

// The parts of a pass, for the tests.
namespace augment_parts {
// The I-step: every missing value of X drawn given theta, keyed by the seed, the set and the pass.
void draw_missing(Run& run, const PatternCases& groups, const Normal& theta, std::uint64_t seed, std::int32_t set,
                  std::int32_t pass);
// The complete-data means and covariances (divisor N) of X, and the sums of
// squares and products about the means into `sums` (K x K).
Normal complete_estimates(const Run& run, std::vector<double>& sums);
}  // namespace augment_parts

}  // namespace talvo
