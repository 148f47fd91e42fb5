// Rubin's rules: the estimates of several imputed data sets pooled into one
// estimate with its variance, degrees of freedom and fraction of missing
// information.
#pragma once

#include <cstdint>
#include <vector>

#include "estimate/ml.h"

namespace talvo::stats {

// One parameter pooled over M data sets, with Q_m its estimate and U_m its
// complete-data sampling variance in set m:
//   estimate   Qbar = sum Q_m / M
//   within     W = sum U_m / M
//   between    B = sum (Q_m - Qbar)^2 / (M - 1)
//   total      T = W + (1 + 1/M) B, se = sqrt(T)
//   riv        r = (1 + 1/M) B / W, the relative increase of the variance
//   lambda     (1 + 1/M) B / T, the share of the variance due to the missing values
//   df         Barnard and Rubin (1999): nu_old = (M - 1) / lambda^2,
//              nu_obs = (nu_com + 1) / (nu_com + 3) nu_com (1 - lambda),
//              df = nu_old nu_obs / (nu_old + nu_obs) (nu_obs when B = 0),
//              nu_com the complete-data degrees of freedom
//   fmi        (r + 2 / (nu_old + 3)) / (r + 1), Rubin's (1987) fraction of
//              missing information (0 when B = 0; mice's pool puts the
//              corrected df in place of nu_old, which leaves 2 / (df + 3)
//              when the sets agree)
struct Pooled {
    double estimate = 0.0, within = 0.0, between = 0.0, total = 0.0, se = 0.0;
    double riv = 0.0, lambda = 0.0, df = 0.0, fmi = 0.0;
};

// Needs M >= 2 estimates and variances of the same length.
Pooled pool(const std::vector<double>& estimates, const std::vector<double>& variances, double complete_df);

// Every mean and covariance (the order of stats/information.h: the K means,
// then sigma(j, l), j >= l, row after row) pooled over the data sets' complete-
// data estimates (covariances with divisor N), their complete-data variances
//   mean j:           sigma_jj / N
//   covariance j, l:  (sigma_jl^2 + sigma_jj sigma_ll) / N
// from each set's own estimates, and N - 1 complete-data degrees of freedom.
std::vector<Pooled> pool_normal(const std::vector<Normal>& sets, std::int32_t N);

}  // namespace talvo::stats
