// The patterns' sweeps for maximum likelihood and data augmentation, shared
// along the order of their sequences of observed variables.
#include <algorithm>
#include <cmath>

#include "base/fp.h"
#include "base/lanes.h"
#include "estimate/ml.h"

namespace talvo {

void SharedSweeps::restart(const Normal& theta) {
    const auto k = static_cast<std::size_t>(K_);
    if (level_.empty()) {
        level_.assign(k + 1, std::vector<double>(k * k));
        logdet_.assign(k + 1, 0.0);
        line_.resize(k);
    }
    path_.clear();
    std::vector<double>& a = level_[0];
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j <= i; ++j) a[i * k + j] = theta.cov[i * k + j];
    logdet_[0] = 0.0;
    depth_ = 0;
}

void SharedSweeps::sweep(const Run& run, const PatternCases& groups, std::size_t k, Swept& s) {
    const std::int32_t K = K_, L = groups.order[k];
    const auto n = static_cast<std::size_t>(K);
    const std::int32_t observed = K - run.P(L, K + 1);
    // The levels up to the pivots shared with the sequence swept before stay.
    std::int32_t d = 0;
    while (d < depth_ && d < observed && path_[static_cast<std::size_t>(d)] == run.P(L, d + 1)) ++d;
    path_.resize(static_cast<std::size_t>(observed));
    for (; d < observed; ++d) {
        path_[static_cast<std::size_t>(d)] = run.P(L, d + 1);
        const std::vector<double>& from = level_[static_cast<std::size_t>(d)];
        std::vector<double>& to = level_[static_cast<std::size_t>(d) + 1];
        const auto p = static_cast<std::size_t>(run.P(L, d + 1) - 1);
        const double pivot = from[p * n + p];
        // The pivot is the variance of the variable given those swept before
        // it: not positive, the observed block is not positive definite.
        if (!(pivot > 0.0)) math_fault(pivot == 0.0 ? Fault::DivideByZero : Fault::Invalid);
        logdet_[static_cast<std::size_t>(d) + 1] = fp::add(logdet_[static_cast<std::size_t>(d)], std::log(pivot));
        double* line = line_.data();
        for (std::size_t j = 0; j < n; ++j) line[j] = j <= p ? from[p * n + j] : from[j * n + p];
        // Each element a(i,j) - (a(i,p) * a(p,j)) / pivot, as a pattern swept alone
        // computes it; each row checked once for an overflow.
        for (std::size_t i = 0; i < n; ++i) {
            const double* old = from.data() + i * n;
            double* row = to.data() + i * n;
            if (i == p) {
                for (std::size_t j = 0; j < p; ++j) row[j] = line[j] / pivot;
                row[p] = -fp::div(1.0, pivot);
            } else {
                const double li = line[i];
                for (std::size_t j = 0; j <= i; ++j) row[j] = old[j] - (li * line[j]) / pivot;
                if (p < i) row[p] = li / pivot;
            }
            if (!all_finite(row, i + 1)) math_fault(Fault::Overflow);
        }
    }
    depth_ = observed;
    // The pattern's variables, observed first, each group ascending.
    s.K = K;
    s.observed = observed;
    s.var.resize(n);
    s.a.resize(n * n);
    for (std::int32_t i = 0; i < K; ++i) s.var[static_cast<std::size_t>(i)] = run.P(L, i + 1) - 1;
    const std::vector<double>& a = level_[static_cast<std::size_t>(observed)];
    for (std::int32_t i = 0; i < K; ++i) {
        const auto vi = static_cast<std::size_t>(s.var[static_cast<std::size_t>(i)]);
        for (std::int32_t j = 0; j < K; ++j) {
            const auto vj = static_cast<std::size_t>(s.var[static_cast<std::size_t>(j)]);
            s.at(i, j) = vi >= vj ? a[vi * n + vj] : a[vj * n + vi];
        }
    }
    s.logdet = logdet_[static_cast<std::size_t>(observed)];
}

}  // namespace talvo
