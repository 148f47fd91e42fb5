#include "stats/pool.h"

#include <cmath>

#include "stats/information.h"

namespace talvo::stats {

Pooled pool(const std::vector<double>& estimates, const std::vector<double>& variances, double complete_df) {
    Pooled p;
    const double M = static_cast<double>(estimates.size());
    double q = 0.0, u = 0.0;
    for (std::size_t m = 0; m < estimates.size(); ++m) {
        q += estimates[m];
        u += variances[m];
    }
    p.estimate = q / M;
    p.within = u / M;
    double b = 0.0;
    for (double e : estimates) b += (e - p.estimate) * (e - p.estimate);
    p.between = b / (M - 1.0);
    const double inflated = (1.0 + 1.0 / M) * p.between;
    p.total = p.within + inflated;
    p.se = std::sqrt(p.total);
    p.riv = p.within > 0.0 ? inflated / p.within : INFINITY;
    p.lambda = p.total > 0.0 ? inflated / p.total : 0.0;
    const double nu_obs = (complete_df + 1.0) / (complete_df + 3.0) * complete_df * (1.0 - p.lambda);
    if (p.lambda > 0.0) {
        const double nu_old = (M - 1.0) / (p.lambda * p.lambda);
        p.df = nu_old * nu_obs / (nu_old + nu_obs);
    } else {
        p.df = nu_obs;
    }
    // Rubin's (1987) fraction with his degrees of freedom (M - 1) / lambda^2:
    // 0 when the sets agree.
    p.fmi = p.lambda > 0.0 ? (p.riv + 2.0 / ((M - 1.0) / (p.lambda * p.lambda) + 3.0)) / (p.riv + 1.0) : 0.0;
    return p;
}

std::vector<Pooled> pool_normal(const std::vector<Normal>& sets, std::int32_t N) {
    const std::int32_t K = sets.front().K;
    const double n = static_cast<double>(N);
    std::vector<Pooled> out(parameter_count(K));
    std::vector<double> q(sets.size()), u(sets.size());
    for (std::int32_t j = 0; j < K; ++j) {
        for (std::size_t m = 0; m < sets.size(); ++m) {
            q[m] = sets[m].mean[static_cast<std::size_t>(j)];
            u[m] = sets[m].sigma(j, j) / n;
        }
        out[static_cast<std::size_t>(j)] = pool(q, u, n - 1.0);
    }
    for (std::int32_t j = 0; j < K; ++j)
        for (std::int32_t l = 0; l <= j; ++l) {
            for (std::size_t m = 0; m < sets.size(); ++m) {
                const Normal& s = sets[m];
                q[m] = s.sigma(j, l);
                u[m] = (s.sigma(j, l) * s.sigma(j, l) + s.sigma(j, j) * s.sigma(l, l)) / n;
            }
            out[covariance_index(K, j, l)] = pool(q, u, n - 1.0);
        }
    return out;
}

}  // namespace talvo::stats
