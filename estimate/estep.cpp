#include "estimate/estep.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "base/fp.h"
#include "base/threads.h"

namespace talvo {

double prediction(const Run& run, std::int32_t I, std::int32_t J) {
    const std::int32_t K = run.K;
    const double* x = run.X.row(I);
    const double* b = run.B.row(J);
    double s = 0.0;
    for (std::int32_t L = 0; L <= K - 1; ++L) s = fp::add(fp::mul(b[L], x[L < J ? L : L + 1]), s);
    return s;
}

namespace {

void clear_sums(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t L = 0; L <= K; ++L) run.SS(J, L) = 0.0;
}

// The sums of the complete cases and of the observed pairs, and the
// correction, added to what the incomplete cases gave.
void merge(Run& run) {
    const std::int32_t K = run.K;
    Mat& SS = run.SS;
    for (std::int32_t I = 1; I <= K; ++I) {
        SS(0, I) = fp::add(fp::add(run.PS(0, I), run.CS(0, I)), SS(0, I));
        for (std::int32_t J = 1; J <= I; ++J)
            SS(I, J) = fp::add(fp::add(fp::add(run.CORR(I, J), run.PS(I, J)), run.CS(I, J)), SS(I, J));
    }
}

// Fills the missing values of case I from the regressions: in ascending
// order, so variables before J hold this pass's values and missing ones
// after it still the previous pass's. Each value is a chain of products and
// sums of finite numbers; an overflow anywhere in it leaves the end of the
// chain infinite or not a number, so the chain is checked once, at its end,
// before the value is stored.
void fill_case(Run& run, std::int32_t I) {
    const std::int32_t K = run.K, L = run.PATT(I);
    if (L == 1) return;  // complete
    const std::int32_t m = run.P(L, K + 1);
    const std::int32_t* missing = run.P.row(L) + (K - m);  // ascending
    const bool attrition = run.BMOD == 1 && m == 1;        // a case with one missing value
    double* x = run.X.row(I);
    for (std::int32_t a = 0; a < m; ++a) {
        const std::int32_t J = missing[a];
        const double* b = run.B.row(J);
        double s = 0.0;
        for (std::int32_t M = 0; M < J; ++M) s = b[M] * x[M] + s;
        for (std::int32_t M = J; M <= K - 1; ++M) s = b[M] * x[M + 1] + s;
        if (attrition) s = s * run.YHAT + run.YINT;
        if (!std::isfinite(s)) math_fault(Fault::Overflow);
        x[J] = s;
    }
}

// The rows of SS marked in `mine` (and their SS(0,J)), each element a sum
// over the incomplete cases in ascending order: with J missing every
// product with it, with J observed the products with the missing
// variables before it. Within a case each element takes one product, so
// the rows may be visited in any order. Each new value is checked before
// it is stored.
void add_rows(Run& run, const std::vector<char>& mine) {
    const std::int32_t N = run.N, K = run.K;
    double* ss0 = run.SS.row(0);
    auto add = [](double& sum, double term) {
        const double t = term + sum;
        if (!(std::fabs(t) <= DBL_MAX)) math_fault(Fault::Overflow);
        sum = t;
    };
    for (std::int32_t I = 1; I <= N; ++I) {
        const std::int32_t L = run.PATT(I);
        if (L == 1) continue;
        const double* x = run.X.row(I);
        const std::int32_t* order = run.P.row(L);  // observed variables, then missing ones
        const std::int32_t* missing = order + (K - run.P(L, K + 1));
        const std::int32_t* end = order + K;
        for (const std::int32_t* J = missing; J < end; ++J) {
            if (!mine[static_cast<std::size_t>(*J)]) continue;
            const double xj = x[*J];
            add(ss0[*J], xj);
            double* ss = run.SS.row(*J);
            for (std::int32_t M = 1; M <= *J; ++M) add(ss[M], x[M] * xj);
        }
        for (const std::int32_t* J = order; J < missing; ++J) {
            if (*J < *missing || !mine[static_cast<std::size_t>(*J)]) continue;
            const double xj = x[*J];
            double* ss = run.SS.row(*J);
            for (const std::int32_t* M = missing; M < end && *M < *J; ++M) add(ss[*M], x[*M] * xj);
        }
    }
}

}  // namespace

void e_step(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    clear_sums(run);
    // Each case is filled on its own: pieces of cases on the threads.
    const std::size_t pieces = static_cast<std::size_t>(thread_count()) * 8;
    run_parts(pieces, [&](std::size_t part) {
        const std::int64_t from = 1 + N * static_cast<std::int64_t>(part) / static_cast<std::int64_t>(pieces);
        const std::int64_t to = 1 + N * static_cast<std::int64_t>(part + 1) / static_cast<std::int64_t>(pieces);
        for (std::int64_t I = from; I < to; ++I) fill_case(run, static_cast<std::int32_t>(I));
    });
    // Each element of SS is a sum over the cases in ascending order: the
    // rows are split between the threads, never the cases; each thread
    // takes rows of about the same number of elements.
    const std::size_t parts =
        std::min<std::size_t>(static_cast<std::size_t>(thread_count()), static_cast<std::size_t>(K));
    run_parts(parts, [&](std::size_t part) {
        std::vector<char> mine(static_cast<std::size_t>(K) + 1, 0);
        const double total = static_cast<double>(K) * (K + 1) / 2;
        for (std::int32_t J = 1; J <= K; ++J) {
            const double before = static_cast<double>(J - 1) * J / 2;
            mine[static_cast<std::size_t>(J)] =
                static_cast<std::size_t>(before / total * static_cast<double>(parts)) == part;
        }
        add_rows(run, mine);
    });
    merge(run);
}

void complete_cases(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    // Each case on its own: pieces of cases on the threads.
    const std::size_t pieces = static_cast<std::size_t>(thread_count()) * 8;
    run_parts(pieces, [&](std::size_t part) {
        const std::int64_t from = 1 + N * static_cast<std::int64_t>(part) / static_cast<std::int64_t>(pieces);
        const std::int64_t to = 1 + N * static_cast<std::int64_t>(part + 1) / static_cast<std::int64_t>(pieces);
        for (std::int64_t I = from; I < to; ++I) {
            const std::int32_t L = run.PATT(I);
            if (L == 1) continue;
            double* x = run.X.row(I);
            for (std::int32_t J = 1; J <= K; ++J)
                if (!run.OBS(L, J)) x[J] = prediction(run, static_cast<std::int32_t>(I), J);
        }
    });
}

}  // namespace talvo
