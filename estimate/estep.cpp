#include "estimate/estep.h"

#include "textio/fp.h"

namespace talvo {

double prediction(const Run& run, std::int32_t I, std::int32_t J) {
    const std::int32_t K = run.K;
    const double* x = run.X.row(I);
    const double* b = run.B.row(J);
    double s = 0.0;
    for (std::int32_t L = 0; L <= K - 1; ++L) s = fp::add(fp::mul(b[L], x[L < J ? L : L + 1]), s);
    return s;
}

void e_step(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    Mat& X = run.X;
    Mat& SS = run.SS;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t L = 0; L <= K; ++L) SS(J, L) = 0.0;
    const bool attrition = run.BMOD == 1;
    const double one_missing = static_cast<double>(K - 1);
    for (std::int32_t I = 1; I <= N; ++I) {
        double* x = X.row(I);
        const double observed = x[2 * K + 1];
        if (!(observed < static_cast<double>(K))) continue;
        const double* flag = x + K;  // flag[J] is X(I,K+J)
        for (std::int32_t J = 1; J <= K; ++J) {
            if (flag[J] == 0.0) {
                // Filled in sequence: variables before J hold this pass's
                // values, missing ones after it still the previous pass's.
                x[J] = 0.0;
                const double* b = run.B.row(J);
                for (std::int32_t L = 0; L <= K - 1; ++L) x[J] = fp::add(fp::mul(b[L], x[L < J ? L : L + 1]), x[J]);
                if (attrition && observed == one_missing) x[J] = fp::add(fp::mul(x[J], run.YHAT), run.YINT);
                SS(0, J) = fp::add(x[J], SS(0, J));
            }
            double* ss = SS.row(J);
            for (std::int32_t L = 1; L <= J; ++L)
                if (flag[J] == 0.0 || flag[L] == 0.0) ss[L] = fp::add(fp::mul(x[L], x[J]), ss[L]);
        }
    }
    for (std::int32_t I = 1; I <= K; ++I) {
        SS(0, I) = fp::add(fp::add(run.PS(0, I), run.CS(0, I)), SS(0, I));
        for (std::int32_t J = 1; J <= I; ++J)
            SS(I, J) = fp::add(fp::add(fp::add(run.CORR(I, J), run.PS(I, J)), run.CS(I, J)), SS(I, J));
    }
}

}  // namespace talvo
