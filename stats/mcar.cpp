#include "stats/mcar.h"

#include <cmath>

#include "base/errors.h"
#include "stats/linalg.h"

namespace talvo::stats {

McarTest little_test(const Run& run, const PatternCases& groups, const Normal& theta) {
    const std::int32_t K = run.K;
    McarTest t;
    std::int64_t observed_total = 0;
    for (std::int32_t L = 1; L <= run.NPATT; ++L) {
        const std::int32_t first = groups.at[static_cast<std::size_t>(L)],
                           last = groups.at[static_cast<std::size_t>(L) + 1];
        if (first == last) continue;
        McarPattern p;
        p.pattern = L;
        p.cases = last - first;
        const std::int32_t k = K - run.P(L, K + 1);
        for (std::int32_t a = 1; a <= k; ++a) p.observed.push_back(run.P(L, a));
        p.means.assign(static_cast<std::size_t>(k), 0.0);
        for (std::int32_t c = first; c < last; ++c) {
            const double* x = run.X.row(groups.cases[static_cast<std::size_t>(c)]);
            for (std::int32_t a = 0; a < k; ++a)
                p.means[static_cast<std::size_t>(a)] += x[p.observed[static_cast<std::size_t>(a)]];
        }
        for (double& m : p.means) m /= p.cases;
        observed_total += k;
        if (k > 0) {
            Sym S(static_cast<std::size_t>(k)), W;
            std::vector<double> d(static_cast<std::size_t>(k));
            for (std::int32_t a = 0; a < k; ++a) {
                const std::int32_t va = p.observed[static_cast<std::size_t>(a)] - 1;
                d[static_cast<std::size_t>(a)] =
                    p.means[static_cast<std::size_t>(a)] - theta.mean[static_cast<std::size_t>(va)];
                for (std::int32_t b = 0; b < k; ++b)
                    S(static_cast<std::size_t>(a), static_cast<std::size_t>(b)) =
                        theta.sigma(va, p.observed[static_cast<std::size_t>(b)] - 1);
            }
            if (!inverse(S, W)) math_fault(Fault::Invalid);
            double q = 0.0;
            for (std::size_t a = 0; a < d.size(); ++a)
                for (std::size_t b = 0; b < d.size(); ++b) q += d[a] * W(a, b) * d[b];
            p.d2 = p.cases * q;
        }
        t.d2 += p.d2;
        t.patterns.push_back(std::move(p));
    }
    t.df = observed_total - K;
    t.p = chi_square_upper(t.d2, static_cast<double>(t.df));
    t.effect = std::sqrt(t.d2 / run.N);
    return t;
}

Coverage coverage(const Run& run, const PatternCases& groups) {
    const std::int32_t K = run.K;
    const auto k = static_cast<std::size_t>(K);
    Coverage c;
    c.pairs.assign(k * k, 0);
    for (std::int32_t L = 1; L <= run.NPATT; ++L) {
        const std::int64_t n = groups.at[static_cast<std::size_t>(L) + 1] - groups.at[static_cast<std::size_t>(L)];
        if (L == 1) c.complete = n;
        for (std::int32_t a = 0; a < K; ++a) {
            if (!run.OBS(L, a + 1)) continue;
            for (std::int32_t b = 0; b < K; ++b)
                if (run.OBS(L, b + 1)) c.pairs[static_cast<std::size_t>(a) * k + static_cast<std::size_t>(b)] += n;
        }
    }
    double inverse_sum = 0.0;
    std::int64_t count = 0;
    c.fewest = K > 1 ? INT64_MAX : c.pairs.empty() ? 0 : c.pairs[0];
    for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t b = 0; b < a; ++b) {
            const std::int64_t n = c.pairs[a * k + b];
            c.fewest = std::min(c.fewest, n);
            inverse_sum += n > 0 ? 1.0 / static_cast<double>(n) : INFINITY;
            ++count;
        }
    }
    c.harmonic = count == 0 ? static_cast<double>(c.fewest) : std::isinf(inverse_sum) ? 0.0 : count / inverse_sum;
    return c;
}

}  // namespace talvo::stats
