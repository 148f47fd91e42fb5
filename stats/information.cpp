#include "stats/information.h"

#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "base/threads.h"

namespace talvo::stats {

namespace {

// What one pattern gives the information: over its observed variables o
// (0-based, ascending), W the inverse of their covariances, s the sum of its
// cases' deviations from the means, Ws = W s, B = W A W with A the sum of
// the deviations' products.
struct PatternPart {
    std::size_t k = 0;
    double n = 0.0;
    std::vector<std::int32_t> var;
    std::vector<double> W, Ws, B;
};

void pattern_part(const Run& run, const PatternCases& groups, const Normal& theta, std::int32_t L, PatternPart& p) {
    const std::int32_t K = run.K;
    const auto k = static_cast<std::size_t>(K - run.P(L, K + 1));
    p.k = k;
    p.var.resize(k);
    for (std::size_t t = 0; t < k; ++t) p.var[t] = run.P(L, static_cast<std::int32_t>(t) + 1) - 1;
    Sym S(k), Wi;
    for (std::size_t t = 0; t < k; ++t)
        for (std::size_t u = 0; u < k; ++u) S(t, u) = theta.sigma(p.var[t], p.var[u]);
    if (k > 0 && !inverse(S, Wi)) math_fault(Fault::Invalid);
    p.W = Wi.a;
    std::vector<double> s(k, 0.0), A(k * k, 0.0), d(k);
    const std::int32_t first = groups.at[static_cast<std::size_t>(L)],
                       last = groups.at[static_cast<std::size_t>(L) + 1];
    p.n = static_cast<double>(last - first);
    for (std::int32_t c = first; c < last; ++c) {
        const double* x = run.X.row(groups.cases[static_cast<std::size_t>(c)]);
        for (std::size_t t = 0; t < k; ++t) {
            d[t] = x[p.var[t] + 1] - theta.mean[static_cast<std::size_t>(p.var[t])];
            s[t] += d[t];
        }
        for (std::size_t t = 0; t < k; ++t)
            for (std::size_t u = 0; u < k; ++u) A[t * k + u] += d[t] * d[u];
    }
    p.Ws.assign(k, 0.0);
    for (std::size_t t = 0; t < k; ++t)
        for (std::size_t u = 0; u < k; ++u) p.Ws[t] += p.W[t * k + u] * s[u];
    std::vector<double> WA(k * k, 0.0);
    for (std::size_t t = 0; t < k; ++t)
        for (std::size_t u = 0; u < k; ++u)
            for (std::size_t v = 0; v < k; ++v) WA[t * k + u] += p.W[t * k + v] * A[v * k + u];
    p.B.assign(k * k, 0.0);
    for (std::size_t t = 0; t < k; ++t)
        for (std::size_t u = 0; u < k; ++u)
            for (std::size_t v = 0; v < k; ++v) p.B[t * k + u] += WA[t * k + v] * p.W[v * k + u];
}

// tr(E_ab M E_cd N) for symmetric k x k matrices M and N, where E_ab is
// the derivative of a covariance matrix by its element (a, b): ones at
// (a, b) and (b, a), one one for a = b.
inline double trace_term(const double* M, const double* N, std::size_t k, std::size_t a, std::size_t b, std::size_t c,
                         std::size_t d) {
    double v = M[b * k + c] * N[d * k + a] + M[b * k + d] * N[c * k + a] + M[a * k + c] * N[d * k + b] +
               M[a * k + d] * N[c * k + b];
    if (a == b) v *= 0.5;
    if (c == d) v *= 0.5;
    return v;
}

// The information of one pattern, added to the rows [from, to) of I.
void add_pattern(const PatternPart& p, std::int32_t K, std::size_t from, std::size_t to, Sym& I) {
    const std::size_t k = p.k;
    const double* W = p.W.data();
    const double* B = p.B.data();
    auto mean_row = [&](std::size_t t) { return static_cast<std::size_t>(p.var[t]); };
    auto cov_row = [&](std::size_t a, std::size_t b) { return covariance_index(K, p.var[a], p.var[b]); };
    // The rows of the means: n W with the means, W E_cd W s with the covariances.
    for (std::size_t t = 0; t < k; ++t) {
        const std::size_t r = mean_row(t);
        if (r < from || r >= to) continue;
        for (std::size_t u = 0; u < k; ++u) I(r, mean_row(u)) += p.n * W[t * k + u];
        for (std::size_t c = 0; c < k; ++c)
            for (std::size_t d = 0; d <= c; ++d)
                I(r, cov_row(c, d)) +=
                    c == d ? W[t * k + c] * p.Ws[c] : W[t * k + c] * p.Ws[d] + W[t * k + d] * p.Ws[c];
    }
    // The rows of the covariances.
    for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t b = 0; b <= a; ++b) {
            const std::size_t r = cov_row(a, b);
            if (r < from || r >= to) continue;
            for (std::size_t t = 0; t < k; ++t)
                I(r, mean_row(t)) += a == b ? W[t * k + a] * p.Ws[a] : W[t * k + a] * p.Ws[b] + W[t * k + b] * p.Ws[a];
            for (std::size_t c = 0; c < k; ++c) {
                for (std::size_t d = 0; d <= c; ++d) {
                    const double ww = trace_term(W, W, k, a, b, c, d);
                    const double bw = trace_term(B, W, k, a, b, c, d) + trace_term(W, B, k, a, b, c, d);
                    I(r, cov_row(c, d)) += 0.5 * bw - 0.5 * p.n * ww;
                }
            }
        }
    }
}

}  // namespace

std::string parameter_label(std::int32_t K, std::size_t i, const std::vector<std::string>& names) {
    if (i < static_cast<std::size_t>(K)) return "mean(" + names[i] + ")";
    for (std::int32_t j = 0; j < K; ++j)
        for (std::int32_t l = 0; l <= j; ++l)
            if (covariance_index(K, j, l) == i)
                return "cov(" + names[static_cast<std::size_t>(j)] + "," + names[static_cast<std::size_t>(l)] + ")";
    return "?";
}

Information information(const Run& run, const PatternCases& groups, const Normal& theta) {
    const std::int32_t K = run.K;
    const std::size_t q = parameter_count(K);
    Information info{Sym(q), Sym(q)};
    // Rows split between the threads; each element a sum over the patterns
    // in ascending order.
    const std::size_t parts = std::min<std::size_t>(q, static_cast<std::size_t>(thread_count()));
    run_parts(parts, [&](std::size_t part) {
        const std::size_t from = q * part / parts, to = q * (part + 1) / parts;
        PatternPart p;
        for (std::int32_t L = 1; L <= run.NPATT; ++L) {
            if (groups.at[static_cast<std::size_t>(L)] == groups.at[static_cast<std::size_t>(L) + 1]) continue;
            pattern_part(run, groups, theta, L, p);
            add_pattern(p, K, from, to, info.observed);
        }
    });
    // N complete cases: N W with the means, N/2 tr(E_ab W E_cd W) with the covariances.
    const auto k = static_cast<std::size_t>(K);
    Sym S(k), W;
    for (std::size_t t = 0; t < k; ++t)
        for (std::size_t u = 0; u < k; ++u)
            S(t, u) = theta.sigma(static_cast<std::int32_t>(t), static_cast<std::int32_t>(u));
    if (!inverse(S, W)) math_fault(Fault::Invalid);
    const double n = static_cast<double>(run.N);
    for (std::size_t t = 0; t < k; ++t)
        for (std::size_t u = 0; u < k; ++u) info.complete(t, u) = n * W(t, u);
    for (std::size_t a = 0; a < k; ++a)
        for (std::size_t b = 0; b <= a; ++b)
            for (std::size_t c = 0; c < k; ++c)
                for (std::size_t d = 0; d <= c; ++d)
                    info.complete(covariance_index(K, static_cast<std::int32_t>(a), static_cast<std::int32_t>(b)),
                                  covariance_index(K, static_cast<std::int32_t>(c), static_cast<std::int32_t>(d))) =
                        0.5 * n * trace_term(W.a.data(), W.a.data(), k, a, b, c, d);
    return info;
}

// M = L^-1 (complete - observed) L^-T, L L' = complete (positive definite),
// symmetrised.
static void missing_share(const Information& info, Sym& L, Sym& M) {
    const std::size_t q = info.observed.n;
    cholesky(info.complete, L);
    M = Sym(q);
    Sym Y(q);
    for (std::size_t j = 0; j < q; ++j) {  // Y = L^-1 (complete - observed), column j
        for (std::size_t i = 0; i < q; ++i) {
            double v = info.complete(i, j) - info.observed(i, j);
            for (std::size_t p = 0; p < i; ++p) v -= L(i, p) * Y(p, j);
            Y(i, j) = v / L(i, i);
        }
    }
    for (std::size_t i = 0; i < q; ++i) {  // M = Y L^-T, row i
        for (std::size_t j = 0; j < q; ++j) {
            double v = Y(i, j);
            for (std::size_t p = 0; p < j; ++p) v -= M(i, p) * L(j, p);
            M(i, j) = v / L(j, j);
        }
    }
    for (std::size_t i = 0; i < q; ++i)
        for (std::size_t j = 0; j < i; ++j) M(i, j) = M(j, i) = 0.5 * (M(i, j) + M(j, i));
}

Precision precision(const Information& info) {
    Precision out;
    const std::size_t q = info.observed.n;
    Sym complete_inverse;
    if (!inverse(info.observed, out.acov) || !inverse(info.complete, complete_inverse)) return out;
    out.ok = true;
    out.se.resize(q);
    out.fmi.resize(q);
    for (std::size_t i = 0; i < q; ++i) {
        out.se[i] = std::sqrt(out.acov(i, i));
        out.fmi[i] = 1.0 - complete_inverse(i, i) / out.acov(i, i);
    }
    // The eigenvalues of L^-1 (complete - observed) L^-T, L L' = complete:
    // the fractions of missing information of the canonical linear functions.
    Sym L, M;
    missing_share(info, L, M);
    const std::vector<double> values = eigenvalues(M);
    out.worst_fmi = values.empty() ? 0.0 : values.back();
    return out;
}

std::vector<double> worst_linear_function(const Information& info) {
    const std::size_t q = info.observed.n;
    Sym complete_inverse;
    if (q == 0 || !inverse(info.complete, complete_inverse)) return {};
    Sym L, M;
    missing_share(info, L, M);
    // The leading eigenvector w of M by power iterations from the vector of
    // ones; the function is w' L' theta.
    std::vector<double> w(q, 1.0), next(q);
    for (int iteration = 0; iteration < 500; ++iteration) {
        double norm = 0.0;
        for (std::size_t i = 0; i < q; ++i) {
            double v = 0.0;
            for (std::size_t j = 0; j < q; ++j) v += M(i, j) * w[j];
            next[i] = v;
            norm += v * v;
        }
        norm = std::sqrt(norm);
        if (!(norm > 0.0) || !std::isfinite(norm)) return {};
        double change = 0.0;
        for (std::size_t i = 0; i < q; ++i) {
            change = std::max(change, std::fabs(next[i] / norm - w[i]));
            w[i] = next[i] / norm;
        }
        if (change < 1e-10) break;
    }
    std::vector<double> a(q, 0.0);
    for (std::size_t i = 0; i < q; ++i)
        for (std::size_t j = 0; j <= i; ++j) a[i] += L(i, j) * w[j];
    return a;
}

}  // namespace talvo::stats
