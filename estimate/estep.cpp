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
    Mat& X = run.X;
    Mat& SS = run.SS;
    clear_sums(run);
    const bool attrition = run.BMOD == 1;
    const double one_missing = static_cast<double>(K - 1);
    std::vector<std::int32_t> missing(static_cast<std::size_t>(K));
    for (std::int32_t I = 1; I <= N; ++I) {
        double* x = X.row(I);
        const double observed = x[2 * K + 1];
        if (!(observed < static_cast<double>(K))) continue;
        const double* flag = x + K;  // flag[J] is X(I,K+J)
        std::size_t missed = 0;      // missing variables before J, ascending
        for (std::int32_t J = 1; J <= K; ++J) {
            double* ss = SS.row(J);
            if (flag[J] == 0.0) {
                // Filled in sequence: variables before J hold this pass's
                // values, missing ones after it still the previous pass's.
                const double* b = run.B.row(J);
                double s = 0.0;
                for (std::int32_t L = 0; L < J; ++L) s = fp::add(fp::mul(b[L], x[L]), s);
                for (std::int32_t L = J; L <= K - 1; ++L) s = fp::add(fp::mul(b[L], x[L + 1]), s);
                if (attrition && observed == one_missing) s = fp::add(fp::mul(s, run.YHAT), run.YINT);
                x[J] = s;
                SS(0, J) = fp::add(x[J], SS(0, J));
                // J missing: every product with it.
                for (std::int32_t L = 1; L <= J; ++L) ss[L] = fp::add(fp::mul(x[L], x[J]), ss[L]);
                missing[missed++] = J;
            } else {
                // J observed: the products with the missing variables before it.
                for (std::size_t a = 0; a < missed; ++a) {
                    const std::int32_t L = missing[a];
                    ss[L] = fp::add(fp::mul(x[L], x[J]), ss[L]);
                }
            }
        }
    }
    merge(run);
}

void complete_cases(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    for (std::int32_t I = 1; I <= N; ++I) {
        double* x = run.X.row(I);
        for (std::int32_t J = 1; J <= K; ++J)
            if (x[K + J] == 0.0) x[J] = prediction(run, I, J);
    }
}

}  // namespace talvo
