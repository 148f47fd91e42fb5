#include "estimate/estep.h"

#include <vector>

#include "base/fp.h"

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

}  // namespace

void e_step(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    Mat& SS = run.SS;
    clear_sums(run);
    const bool attrition = run.BMOD == 1;
    for (std::int32_t I = 1; I <= N; ++I) {
        const std::int32_t L = run.PATT(I);
        if (L == 1) continue;  // complete: its sums are in CS
        double* x = run.X.row(I);
        const std::uint8_t* observed = run.OBS.row(L) - 1;                   // observed[J] for J = 1..K
        const std::int32_t* missing = run.P.row(L) + (K - run.P(L, K + 1));  // ascending
        std::int32_t missed = 0;                                             // missing variables before J
        for (std::int32_t J = 1; J <= K; ++J) {
            double* ss = SS.row(J);
            if (!observed[J]) {
                // Filled in sequence: variables before J hold this pass's
                // values, missing ones after it still the previous pass's.
                const double* b = run.B.row(J);
                double s = 0.0;
                for (std::int32_t M = 0; M < J; ++M) s = fp::add(fp::mul(b[M], x[M]), s);
                for (std::int32_t M = J; M <= K - 1; ++M) s = fp::add(fp::mul(b[M], x[M + 1]), s);
                // The attrition correction, for a case with one missing value.
                if (attrition && run.P(L, K + 1) == 1) s = fp::add(fp::mul(s, run.YHAT), run.YINT);
                x[J] = s;
                SS(0, J) = fp::add(x[J], SS(0, J));
                // J missing: every product with it.
                for (std::int32_t M = 1; M <= J; ++M) ss[M] = fp::add(fp::mul(x[M], x[J]), ss[M]);
                ++missed;
            } else {
                // J observed: the products with the missing variables before it.
                for (std::int32_t a = 0; a < missed; ++a) {
                    const std::int32_t M = missing[a];
                    ss[M] = fp::add(fp::mul(x[M], x[J]), ss[M]);
                }
            }
        }
    }
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
