#include "estimate/ml.h"

#include <algorithm>
#include <cmath>

#include "base/fp.h"
#include "base/lanes.h"
#include "base/threads.h"

namespace talvo {

namespace {

constexpr double kLogTwoPi = 1.8378770664093454835606594728112;

// A value computed as a chain of operations on finite numbers: an overflow
// anywhere leaves it infinite or not a number.
inline double finite(double v) {
    if (!std::isfinite(v)) math_fault(Fault::Overflow);
    return v;
}

// What the patterns give an evaluation: each pattern's log-likelihood, and
// its conditional covariances (lower triangle of its missing block).
struct PatternResults {
    std::vector<double> loglik;
    std::vector<std::size_t> block_at;  // per pattern, where its block begins
    std::vector<double> blocks;
};

// Sweeps every pattern at theta and goes through its cases: their
// log-likelihood, and with `fill` their missing values replaced by their
// conditional means. Patterns are independent: pieces of them on the threads.
void visit_patterns(Run& run, const PatternCases& groups, const Normal& theta, bool fill, PatternResults& out) {
    const std::int32_t K = run.K, NPATT = run.NPATT;
    out.loglik.assign(static_cast<std::size_t>(NPATT) + 1, 0.0);
    if (fill) {
        out.block_at.assign(static_cast<std::size_t>(NPATT) + 2, 0);
        for (std::int32_t L = 1; L <= NPATT; ++L) {
            const auto m = static_cast<std::size_t>(run.P(L, K + 1));
            out.block_at[static_cast<std::size_t>(L) + 1] = out.block_at[static_cast<std::size_t>(L)] + m * (m + 1) / 2;
        }
        out.blocks.assign(out.block_at.back(), 0.0);
    }
    sweep_patterns(
        run, groups, theta, false, [&] { return std::vector<double>(static_cast<std::size_t>(K)); },
        [&](std::vector<double>& d, std::int32_t L, const Swept& s) {
            const std::int32_t first = groups.at[static_cast<std::size_t>(L)];
            const std::int32_t last = groups.at[static_cast<std::size_t>(L) + 1];
            const std::int32_t o = s.observed;
            const double constant = fp::add(fp::mul(static_cast<double>(o), kLogTwoPi), s.logdet);
            double ll = 0.0;
            for (std::int32_t c = first; c < last; ++c) {
                double* x = run.X.row(groups.cases[static_cast<std::size_t>(c)]);  // x[J] is X(I,J)
                for (std::int32_t t = 0; t < o; ++t) {
                    const std::int32_t v = s.var[static_cast<std::size_t>(t)];
                    d[static_cast<std::size_t>(t)] = x[v + 1] - theta.mean[static_cast<std::size_t>(v)];
                }
                // (x - mean)' inverse (x - mean), the inverse being minus a(o, o).
                double q = 0.0;
                for (std::int32_t t = 0; t < o; ++t) {
                    double w = 0.0;
                    for (std::int32_t u = 0; u < o; ++u) w = s.at(t, u) * d[static_cast<std::size_t>(u)] + w;
                    q = q - d[static_cast<std::size_t>(t)] * w;
                }
                ll = fp::sub(ll, fp::mul(0.5, fp::add(constant, finite(q))));
                if (!fill) continue;
                for (std::int32_t m = o; m < K; ++m) {
                    const std::int32_t v = s.var[static_cast<std::size_t>(m)];
                    double e = theta.mean[static_cast<std::size_t>(v)];
                    for (std::int32_t t = 0; t < o; ++t) e = s.at(m, t) * d[static_cast<std::size_t>(t)] + e;
                    x[v + 1] = finite(e);
                }
            }
            out.loglik[static_cast<std::size_t>(L)] = ll;
            if (!fill) return;
            double* block = out.blocks.data() + out.block_at[static_cast<std::size_t>(L)];
            for (std::int32_t m = o; m < K; ++m)
                for (std::int32_t n = o; n <= m; ++n) *block++ = s.at(m, n);
        });
}

double total(const Run& run, const PatternResults& r) {
    double ll = 0.0;
    for (std::int32_t L = 1; L <= run.NPATT; ++L) ll = fp::add(ll, r.loglik[static_cast<std::size_t>(L)]);
    return ll;
}

}  // namespace

std::pair<std::int32_t, std::int32_t> triangle_rows(std::int32_t K, std::size_t part, std::size_t parts) {
    // Row r holds r + 1 elements: the rows up to K sqrt(p / parts) hold
    // about the share p / parts of them.
    auto row_of = [&](std::size_t p) {
        return static_cast<std::int32_t>(
            std::lround(std::sqrt(static_cast<double>(p) / static_cast<double>(parts)) * K));
    };
    return {row_of(part), row_of(part + 1)};
}

PatternCases group_cases(const Run& run) {
    PatternCases g;
    g.at.assign(static_cast<std::size_t>(run.NPATT) + 2, 0);
    for (std::int32_t I = 1; I <= run.N; ++I) ++g.at[static_cast<std::size_t>(run.PATT(I)) + 1];
    for (std::size_t L = 1; L < g.at.size(); ++L) g.at[L] += g.at[L - 1];
    g.cases.resize(static_cast<std::size_t>(run.N));
    std::vector<std::int32_t> next(g.at.begin(), g.at.end() - 1);
    for (std::int32_t I = 1; I <= run.N; ++I)
        g.cases[static_cast<std::size_t>(next[static_cast<std::size_t>(run.PATT(I))]++)] = I;
    // The patterns with cases, in the order of their observed sequences.
    const std::int32_t K = run.K;
    auto observed = [&](std::int32_t L) { return K - run.P(L, K + 1); };
    for (std::int32_t L = 1; L <= run.NPATT; ++L)
        if (g.at[static_cast<std::size_t>(L)] < g.at[static_cast<std::size_t>(L) + 1]) g.order.push_back(L);
    std::sort(g.order.begin(), g.order.end(), [&](std::int32_t x, std::int32_t y) {
        const std::int32_t* a = run.P.row(x);
        const std::int32_t* b = run.P.row(y);
        return std::lexicographical_compare(a, a + observed(x), b, b + observed(y));
    });
    return g;
}

double log_likelihood(const Run& run, const PatternCases& groups, const Normal& theta) {
    PatternResults r;
    // Without filling, X is only read.
    visit_patterns(const_cast<Run&>(run), groups, theta, false, r);
    return total(run, r);
}

double ml_step(Run& run, const PatternCases& groups, const Normal& theta, Normal& next) {
    const std::int32_t N = run.N, K = run.K;
    PatternResults r;
    visit_patterns(run, groups, theta, true, r);
    // The sums of the completed data: each element a sum over the cases in
    // ascending order, the rows of the sums split between the threads.
    const auto k = static_cast<std::size_t>(K);
    std::vector<double> sums(k * k, 0.0), firsts(k, 0.0);
    const std::size_t parts = std::min<std::size_t>(k, static_cast<std::size_t>(thread_count()));
    run_parts(parts, [&](std::size_t part) {
        const auto [a, b] = triangle_rows(K, part, parts);
        for (std::int32_t I = 1; I <= N; ++I) {
            const double* x = run.X.row(I) + 1;  // x[j] is variable j + 1
            for (std::int32_t j = a; j < b; ++j) {
                const double xj = x[j];
                firsts[static_cast<std::size_t>(j)] = firsts[static_cast<std::size_t>(j)] + xj;
                double* row = sums.data() + static_cast<std::size_t>(j) * k;
                for (std::int32_t l = 0; l <= j; ++l) row[l] = xj * x[l] + row[l];
            }
        }
    });
    for (double v : sums) finite(v);
    for (double v : firsts) finite(v);
    // The conditional covariances of each pattern, times its cases, over
    // the patterns in ascending order.
    for (std::int32_t L = 2; L <= run.NPATT; ++L) {
        const auto cases =
            static_cast<double>(groups.at[static_cast<std::size_t>(L) + 1] - groups.at[static_cast<std::size_t>(L)]);
        if (cases == 0.0) continue;
        const std::int32_t m = run.P(L, K + 1), o = K - m;
        const double* block = r.blocks.data() + r.block_at[static_cast<std::size_t>(L)];
        for (std::int32_t i = o; i < K; ++i) {
            const auto vi = static_cast<std::size_t>(run.P(L, i + 1) - 1);
            for (std::int32_t j = o; j <= i; ++j) {
                const auto vj = static_cast<std::size_t>(run.P(L, j + 1) - 1);
                double& s = sums[vi * k + vj];
                s = fp::add(s, fp::mul(cases, *block++));
            }
        }
    }
    const double n = static_cast<double>(N);
    next = Normal(K);
    for (std::size_t j = 0; j < k; ++j) next.mean[j] = fp::div(firsts[j], n);
    for (std::size_t j = 0; j < k; ++j) {
        for (std::size_t l = 0; l <= j; ++l) {
            const double c = fp::sub(fp::div(sums[j * k + l], n), fp::mul(next.mean[j], next.mean[l]));
            next.cov[j * k + l] = c;
            next.cov[l * k + j] = c;
        }
    }
    return total(run, r);
}

double relative_change(const Normal& a, const Normal& b) {
    const std::int32_t K = b.K;
    double most = 0.0;
    for (std::int32_t j = 0; j < K; ++j) {
        const double sj = std::sqrt(std::fabs(b.sigma(j, j)));
        const double dm = std::fabs(b.mean[static_cast<std::size_t>(j)] - a.mean[static_cast<std::size_t>(j)]);
        most = std::max(most, sj > 0.0 ? dm / sj : dm);
        for (std::int32_t l = 0; l <= j; ++l) {
            const double scale = std::sqrt(std::fabs(b.sigma(j, j)) * std::fabs(b.sigma(l, l)));
            const double dc = std::fabs(b.sigma(j, l) - a.sigma(j, l));
            most = std::max(most, scale > 0.0 ? dc / scale : dc);
        }
    }
    return most;
}

bool positive_definite(const Normal& theta) {
    const std::int32_t K = theta.K;
    std::vector<double> l(theta.cov);
    auto at = [&](std::int32_t i, std::int32_t j) -> double& {
        return l[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
    };
    for (std::int32_t j = 0; j < K; ++j) {
        double d = at(j, j);
        for (std::int32_t p = 0; p < j; ++p) d -= at(j, p) * at(j, p);
        if (!(d > 0.0) || !std::isfinite(d)) return false;
        const double r = std::sqrt(d);
        at(j, j) = r;
        for (std::int32_t i = j + 1; i < K; ++i) {
            double v = at(i, j);
            for (std::int32_t p = 0; p < j; ++p) v -= at(i, p) * at(j, p);
            at(i, j) = v / r;
        }
    }
    return true;
}

Normal normal_from_sums(const Run& run) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    Normal t(K);
    for (std::int32_t j = 1; j <= K; ++j) t.mean[static_cast<std::size_t>(j - 1)] = fp::div(run.SS(0, j), n);
    for (std::int32_t j = 1; j <= K; ++j) {
        for (std::int32_t l = 1; l <= j; ++l) {
            const double c = fp::sub(fp::div(run.SS(j, l), n), fp::mul(t.mean[static_cast<std::size_t>(j - 1)],
                                                                       t.mean[static_cast<std::size_t>(l - 1)]));
            t.sigma(j - 1, l - 1) = c;
            t.sigma(l - 1, j - 1) = c;
        }
    }
    return t;
}

}  // namespace talvo
