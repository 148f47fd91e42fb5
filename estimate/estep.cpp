#include "estimate/estep.h"

#include <algorithm>
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
// after it still the previous pass's.
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
        for (std::int32_t M = 0; M < J; ++M) s = fp::add(fp::mul(b[M], x[M]), s);
        for (std::int32_t M = J; M <= K - 1; ++M) s = fp::add(fp::mul(b[M], x[M + 1]), s);
        if (attrition) s = fp::add(fp::mul(s, run.YHAT), run.YINT);
        x[J] = s;
    }
}

// The rows J = first, first + step, ... of SS (and their SS(0,J)), each a
// sum over the incomplete cases in ascending order: with J missing every
// product with it, with J observed the products with the missing variables
// before it. A row's new values are checked before they are stored.
void add_rows(Run& run, std::int32_t first, std::int32_t step) {
    const std::int32_t N = run.N, K = run.K;
    std::vector<double> fresh(static_cast<std::size_t>(K) + 1);
    for (std::int32_t I = 1; I <= N; ++I) {
        const std::int32_t L = run.PATT(I);
        if (L == 1) continue;
        const double* x = run.X.row(I);
        const std::uint8_t* observed = run.OBS.row(L) - 1;  // observed[J] for J = 1..K
        const std::int32_t* missing = run.P.row(L) + (K - run.P(L, K + 1));
        const std::int32_t* end = run.P.row(L) + K;
        for (std::int32_t J = first; J <= K; J += step) {
            double* ss = run.SS.row(J);
            const double xj = x[J];
            if (!observed[J]) {
                run.SS(0, J) = fp::add(xj, run.SS(0, J));
                bool finite = true;
                for (std::int32_t M = 1; M <= J; ++M) {
                    fresh[static_cast<std::size_t>(M)] = x[M] * xj + ss[M];
                    finite &= std::isfinite(fresh[static_cast<std::size_t>(M)]);
                }
                if (!finite) math_fault(Fault::Overflow);
                std::copy(fresh.begin() + 1, fresh.begin() + J + 1, ss + 1);
            } else {
                for (const std::int32_t* M = missing; M < end && *M < J; ++M)
                    ss[*M] = fp::add(fp::mul(x[*M], xj), ss[*M]);
            }
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
    // rows are split between the threads, never the cases.
    const auto threads = static_cast<std::size_t>(thread_count());
    const std::size_t parts = std::min<std::size_t>(threads, static_cast<std::size_t>(K));
    run_parts(parts, [&](std::size_t part) {
        add_rows(run, static_cast<std::int32_t>(part) + 1, static_cast<std::int32_t>(parts));
    });
    merge(run);
}

void complete_cases(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    for (std::int32_t I = 1; I <= N; ++I) {
        const std::int32_t L = run.PATT(I);
        if (L == 1) continue;
        double* x = run.X.row(I);
        for (std::int32_t J = 1; J <= K; ++J)
            if (!run.OBS(L, J)) x[J] = prediction(run, I, J);
    }
}

}  // namespace talvo
