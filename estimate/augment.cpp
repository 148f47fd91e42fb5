#include "estimate/augment.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/errors.h"
#include "base/fp.h"
#include "base/random.h"
#include "base/threads.h"

namespace talvo {

namespace {

inline double finite(double v) {
    if (!std::isfinite(v)) math_fault(Fault::Overflow);
    return v;
}

inline std::size_t at(std::int32_t i, std::int32_t j, std::int32_t K) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j);
}

// The key of a pass: the seed, the data set it leads to, the pass. Under it
// case I's draws take the words I and the variable (1..K), the parameters
// the word 0 and their index.
rng::Key pass_key(std::uint64_t seed, std::int32_t set, std::int32_t pass) {
    return rng::Key(seed).with(static_cast<std::uint64_t>(set)).with(static_cast<std::uint64_t>(pass));
}

// The lower Cholesky factor of the symmetric K x K matrix a, in place (the
// upper triangle set to 0); false when a pivot is not positive.
bool cholesky_in_place(std::vector<double>& a, std::int32_t K) {
    for (std::int32_t j = 0; j < K; ++j) {
        double d = a[at(j, j, K)];
        for (std::int32_t p = 0; p < j; ++p) d = fp::sub(d, fp::mul(a[at(j, p, K)], a[at(j, p, K)]));
        if (!(d > 0.0)) return false;
        const double r = std::sqrt(d);
        a[at(j, j, K)] = r;
        for (std::int32_t i = j + 1; i < K; ++i) {
            double v = a[at(i, j, K)];
            for (std::int32_t p = 0; p < j; ++p) v = fp::sub(v, fp::mul(a[at(i, p, K)], a[at(j, p, K)]));
            a[at(i, j, K)] = fp::div(v, r);
        }
        for (std::int32_t i = 0; i < j; ++i) a[at(i, j, K)] = 0.0;
    }
    return true;
}

// The P-step: the parameters drawn given the sums of squares about the
// means of the completed data and their means.
Normal draw_parameters(const Run& run, const Normal& complete, const std::vector<double>& sums, const Normal& start,
                       const AugmentOptions& options, const rng::Key& key) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    const double df = fp::add(n - 1.0, options.ridge);
    // The scale A of the inverse-Wishart, and its Cholesky factor L.
    std::vector<double> L(sums);
    for (std::int32_t j = 0; j < K; ++j)
        L[at(j, j, K)] = fp::add(L[at(j, j, K)], fp::mul(options.ridge, start.sigma(j, j)));
    if (!cholesky_in_place(L, K))
        stop(
            "data augmentation: the sums of squares of the completed data are singular (a variable constant, or "
            "a linear function of others): no covariance matrix can be drawn; use a ridge prior (--ridge)");
    // Bartlett: B lower triangular, B(i,i)^2 chi-square with df - i degrees
    // of freedom (i from 0), B(i,j) standard normal below the diagonal; then
    // B B' is Wishart(df, I), and with T = L B'^-1 the draw Sigma = T T' is
    // inverse-Wishart(df, A): Sigma^-1 = L'^-1 B B' L^-1 is Wishart(df, A^-1).
    const rng::Key p = key.with(0);
    const auto k = static_cast<std::uint64_t>(K);
    std::vector<double> B(static_cast<std::size_t>(K) * static_cast<std::size_t>(K), 0.0);
    for (std::int32_t i = 0; i < K; ++i) {
        B[at(i, i, K)] = std::sqrt(rng::chi_square(p.with(static_cast<std::uint64_t>(i)), df - i));
        for (std::int32_t j = 0; j < i; ++j)
            B[at(i, j, K)] = rng::normal(p.with(k + static_cast<std::uint64_t>(at(i, j, K))));
    }
    // B^-1, lower triangular, column by column by forward substitution.
    std::vector<double> Bi(B.size(), 0.0);
    for (std::int32_t j = 0; j < K; ++j) {
        Bi[at(j, j, K)] = fp::div(1.0, B[at(j, j, K)]);
        for (std::int32_t i = j + 1; i < K; ++i) {
            double s = 0.0;
            for (std::int32_t q = j; q < i; ++q) s = fp::add(s, fp::mul(B[at(i, q, K)], Bi[at(q, j, K)]));
            Bi[at(i, j, K)] = fp::div(-s, B[at(i, i, K)]);
        }
    }
    // T = L (B^-1)': T(i,j) = sum over q <= min(i,j) of L(i,q) Bi(j,q).
    std::vector<double> T(B.size(), 0.0);
    for (std::int32_t i = 0; i < K; ++i)
        for (std::int32_t j = 0; j < K; ++j) {
            double s = 0.0;
            for (std::int32_t q = 0; q <= std::min(i, j); ++q) s = fp::add(s, fp::mul(L[at(i, q, K)], Bi[at(j, q, K)]));
            T[at(i, j, K)] = s;
        }
    Normal theta(K);
    for (std::int32_t i = 0; i < K; ++i)
        for (std::int32_t j = 0; j <= i; ++j) {
            double s = 0.0;
            for (std::int32_t q = 0; q < K; ++q) s = fp::add(s, fp::mul(T[at(i, q, K)], T[at(j, q, K)]));
            theta.sigma(i, j) = s;
            theta.sigma(j, i) = s;
        }
    // mu = ybar + T z / sqrt(N): normal with covariance T T' / N = Sigma / N.
    std::vector<double> z(static_cast<std::size_t>(K));
    for (std::int32_t q = 0; q < K; ++q)
        z[static_cast<std::size_t>(q)] = rng::normal(p.with(k + k * k + static_cast<std::uint64_t>(q)));
    const double root = std::sqrt(n);
    for (std::int32_t i = 0; i < K; ++i) {
        double s = 0.0;
        for (std::int32_t q = 0; q < K; ++q) s = fp::add(s, fp::mul(T[at(i, q, K)], z[static_cast<std::size_t>(q)]));
        theta.mean[static_cast<std::size_t>(i)] = fp::add(complete.mean[static_cast<std::size_t>(i)], fp::div(s, root));
    }
    return theta;
}

}  // namespace

namespace augment_parts {

void draw_missing(Run& run, const PatternCases& groups, const Normal& theta, std::uint64_t seed, std::int32_t set,
                  std::int32_t pass) {
    const std::int32_t K = run.K;
    const rng::Key key = pass_key(seed, set, pass);
    // Room of a piece: a case's deviations, conditional means and normal
    // draws, and the Cholesky factor of its pattern's conditional covariance.
    struct Room {
        std::vector<double> d, e, z, C;
    };
    const auto k = static_cast<std::size_t>(K);
    sweep_patterns(
        run, groups, theta, true,
        [&] {
            return Room{std::vector<double>(k), std::vector<double>(k), std::vector<double>(k), {}};
        },
        [&](Room& room, std::int32_t L, const Swept& s) {
            std::vector<double>&d = room.d, &e = room.e, &z = room.z, &C = room.C;
            const std::int32_t first = groups.at[static_cast<std::size_t>(L)];
            const std::int32_t last = groups.at[static_cast<std::size_t>(L) + 1];
            const std::int32_t m = run.P(L, K + 1);
            const std::int32_t o = s.observed;
            // The Cholesky factor of the conditional covariance of the missing variables.
            C.assign(static_cast<std::size_t>(m) * static_cast<std::size_t>(m), 0.0);
            for (std::int32_t i = 0; i < m; ++i)
                for (std::int32_t j = 0; j <= i; ++j) C[at(i, j, m)] = C[at(j, i, m)] = s.at(o + i, o + j);
            if (!cholesky_in_place(C, m)) math_fault(Fault::Invalid);
            for (std::int32_t c = first; c < last; ++c) {
                const std::int32_t I = groups.cases[static_cast<std::size_t>(c)];
                double* x = run.X.row(I);  // x[J] is X(I,J)
                const rng::Key ck = key.with(static_cast<std::uint64_t>(I));
                for (std::int32_t t = 0; t < o; ++t) {
                    const std::int32_t v = s.var[static_cast<std::size_t>(t)];
                    d[static_cast<std::size_t>(t)] = x[v + 1] - theta.mean[static_cast<std::size_t>(v)];
                }
                for (std::int32_t i = 0; i < m; ++i) {
                    const std::int32_t v = s.var[static_cast<std::size_t>(o + i)];
                    double mean = theta.mean[static_cast<std::size_t>(v)];
                    for (std::int32_t t = 0; t < o; ++t) mean = s.at(o + i, t) * d[static_cast<std::size_t>(t)] + mean;
                    e[static_cast<std::size_t>(i)] = mean;
                    z[static_cast<std::size_t>(i)] = rng::normal(ck.with(static_cast<std::uint64_t>(v + 1)));
                }
                for (std::int32_t i = 0; i < m; ++i) {
                    double value = e[static_cast<std::size_t>(i)];
                    for (std::int32_t j = 0; j <= i; ++j)
                        value = C[at(i, j, m)] * z[static_cast<std::size_t>(j)] + value;
                    x[s.var[static_cast<std::size_t>(o + i)] + 1] = finite(value);
                }
            }
        });
}

Normal complete_estimates(const Run& run, std::vector<double>& sums) {
    const std::int32_t N = run.N, K = run.K;
    const auto k = static_cast<std::size_t>(K);
    const double n = static_cast<double>(N);
    Normal est(K);
    std::vector<double> firsts(k, 0.0);
    for (std::int32_t I = 1; I <= N; ++I) {
        const double* x = run.X.row(I) + 1;
        for (std::size_t j = 0; j < k; ++j) firsts[j] = firsts[j] + x[j];
    }
    for (std::size_t j = 0; j < k; ++j) est.mean[j] = fp::div(finite(firsts[j]), n);
    // Each element a sum over the cases in ascending order; the rows split
    // between the threads.
    sums.assign(k * k, 0.0);
    const std::size_t parts = std::min<std::size_t>(k, static_cast<std::size_t>(thread_count()));
    run_parts(parts, [&](std::size_t part) {
        const auto [a, b] = triangle_rows(K, part, parts);
        for (std::int32_t I = 1; I <= N; ++I) {
            const double* x = run.X.row(I) + 1;
            for (std::int32_t j = a; j < b; ++j) {
                const double dj = x[j] - est.mean[static_cast<std::size_t>(j)];
                double* row = sums.data() + static_cast<std::size_t>(j) * k;
                for (std::int32_t l = 0; l <= j; ++l)
                    row[l] = dj * (x[l] - est.mean[static_cast<std::size_t>(l)]) + row[l];
            }
        }
    });
    for (std::size_t j = 0; j < k; ++j)
        for (std::size_t l = 0; l <= j; ++l) {
            const double s = finite(sums[j * k + l]);
            sums[l * k + j] = s;
            est.cov[j * k + l] = est.cov[l * k + j] = fp::div(s, n);
        }
    return est;
}

}  // namespace augment_parts

std::int32_t data_set_pass(const AugmentOptions& options, std::int32_t m) {
    return options.burn_in + 1 + (m - 1) * options.between;
}

AugmentFacts augment(Run& run, const PatternCases& groups, const Normal& start, const AugmentOptions& options,
                     AugmentObserver* observer) {
    const std::int32_t K = run.K;
    const double df = static_cast<double>(run.N) - 1.0 + options.ridge;
    if (!(df > static_cast<double>(K) - 1.0))
        stop("data augmentation: " + std::to_string(run.N) + " cases and " + std::to_string(K) +
             " variables: the covariance matrix has no proper posterior without more cases than variables; use a "
             "ridge prior (--ridge)");
    AugmentFacts facts;
    const std::int32_t last = data_set_pass(options, options.sets);
    Normal theta = start;
    std::vector<double> sums;
    std::int32_t set = 1;
    for (std::int32_t pass = 1; pass <= last; ++pass) {
        augment_parts::draw_missing(run, groups, theta, options.seed, set, pass);
        facts.passes = pass;
        const Normal complete = augment_parts::complete_estimates(run, sums);
        if (pass == data_set_pass(options, set)) {
            facts.complete.push_back(complete);
            if (observer) observer->data_set(set, run);
            ++set;
        }
        if (pass == last) break;
        theta = draw_parameters(run, complete, sums, start, options, pass_key(options.seed, set, pass));
        if (observer) observer->parameters_drawn(pass, theta);
    }
    return facts;
}

}  // namespace talvo
