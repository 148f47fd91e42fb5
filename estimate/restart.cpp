#include "estimate/restart.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "base/errors.h"

namespace talvo {

namespace {

// The weight of variable V in the regression of J (V != J) in B.
double weight(const Run& run, std::int32_t J, std::int32_t V) { return run.B(J, V < J ? V : V - 1); }

// The m x m system of one pattern, (I - W) x = r, factored in place with
// row pivoting: a holds L and U, perm the rows taken.
struct Factored {
    std::vector<double> a;
    std::vector<std::int32_t> perm;
};

void factor(const Run& run, const std::int32_t* mis, std::int32_t m, Factored& f) {
    const auto n = static_cast<std::size_t>(m);
    f.a.assign(n * n, 0.0);
    f.perm.resize(n);
    std::iota(f.perm.begin(), f.perm.end(), 0);
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) f.a[r * n + c] = r == c ? 1.0 : -weight(run, mis[r], mis[c]);
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t best = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::fabs(f.a[r * n + c]) > std::fabs(f.a[best * n + c])) best = r;
        if (f.a[best * n + c] == 0.0) math_fault(Fault::DivideByZero);
        if (best != c) {
            for (std::size_t k = 0; k < n; ++k) std::swap(f.a[c * n + k], f.a[best * n + k]);
            std::swap(f.perm[c], f.perm[best]);
        }
        for (std::size_t r = c + 1; r < n; ++r) {
            const double l = f.a[r * n + c] / f.a[c * n + c];
            f.a[r * n + c] = l;
            for (std::size_t k = c + 1; k < n; ++k) f.a[r * n + k] = f.a[r * n + k] - l * f.a[c * n + k];
        }
    }
}

}  // namespace

void fill_conditional_means(Run& run) {
    const std::int32_t K = run.K;
    std::vector<std::int32_t> cases;
    for (std::int32_t I = 1; I <= run.N; ++I)
        if (run.P(run.PATT(I), K + 1) >= 2) cases.push_back(I);
    std::stable_sort(cases.begin(), cases.end(),
                     [&](std::int32_t a, std::int32_t b) { return run.PATT(a) < run.PATT(b); });
    Factored f;
    std::vector<double> r, y;
    std::int32_t factored = 0;
    for (std::int32_t I : cases) {
        const std::int32_t L = run.PATT(I), m = run.P(L, K + 1);
        const std::int32_t* var = run.P.row(L);  // var[0..K-m) observed, var[K-m..K) missing
        const std::int32_t* mis = var + (K - m);
        if (L != factored) {
            factor(run, mis, m, f);
            factored = L;
        }
        const auto n = static_cast<std::size_t>(m);
        double* x = run.X.row(I);
        r.assign(n, 0.0);
        for (std::size_t a = 0; a < n; ++a) {
            double s = run.B(mis[a], 0);
            for (std::int32_t o = 0; o < K - m; ++o) s = s + weight(run, mis[a], var[o]) * x[var[o]];
            r[a] = s;
        }
        // L y = P r, then U x = y.
        y.assign(n, 0.0);
        for (std::size_t a = 0; a < n; ++a) {
            double s = r[static_cast<std::size_t>(f.perm[a])];
            for (std::size_t c = 0; c < a; ++c) s = s - f.a[a * n + c] * y[c];
            y[a] = s;
        }
        for (std::size_t a = n; a-- > 0;) {
            double s = y[a];
            for (std::size_t c = a + 1; c < n; ++c) s = s - f.a[a * n + c] * y[c];
            y[a] = s / f.a[a * n + a];
        }
        for (double v : y)
            if (!std::isfinite(v)) math_fault(Fault::Overflow);
        for (std::size_t a = 0; a < n; ++a) x[mis[a]] = y[a];
    }
}

}  // namespace talvo
