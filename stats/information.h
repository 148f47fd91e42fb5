// The precision of the maximum-likelihood estimates of the saturated model:
// the observed information matrix of the means and covariances, the
// standard errors and the asymptotic covariance matrix it gives, and the
// fraction of missing information of each parameter and at worst.
//
// The parameters, in this order everywhere: the K means, then the
// covariances sigma(j, l), j >= l, row after row: (1,1), (2,1), (2,2), ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "estimate/ml.h"
#include "stats/linalg.h"

namespace talvo::stats {

// The number of parameters and the index of a covariance (0-based j >= l).
inline std::size_t parameter_count(std::int32_t K) {
    return static_cast<std::size_t>(K) + static_cast<std::size_t>(K) * static_cast<std::size_t>(K + 1) / 2;
}
inline std::size_t covariance_index(std::int32_t K, std::int32_t j, std::int32_t l) {
    return static_cast<std::size_t>(K) + static_cast<std::size_t>(j) * static_cast<std::size_t>(j + 1) / 2 +
           static_cast<std::size_t>(l);
}

// The label of parameter i: "mean(name)" or "cov(name,name)".
std::string parameter_label(std::int32_t K, std::size_t i, const std::vector<std::string>& names);

// Minus the Hessian of the observed-data log-likelihood at theta, summed
// over the patterns; and the expected information of N complete cases.
struct Information {
    Sym observed, complete;
};
Information information(const Run& run, const PatternCases& groups, const Normal& theta);

struct Precision {
    bool ok = false;  // the observed information is positive definite
    Sym acov;         // its inverse: the asymptotic covariance matrix of the estimates
    std::vector<double> se, fmi;
    // The largest fraction of missing information of any linear function
    // of the parameters: the rate at which EM converges near the estimates.
    double worst_fmi = 0.0;
};
Precision precision(const Information& info);

// The linear function a' theta of the parameters with the largest fraction
// of missing information (the slowest to converge under EM, and under data
// augmentation the slowest to forget its start): a = L w, w the leading
// eigenvector of L^-1 (complete - observed) L^-T and L L' the complete
// information. Empty when the complete information is not positive definite.
std::vector<double> worst_linear_function(const Information& info);

}  // namespace talvo::stats
