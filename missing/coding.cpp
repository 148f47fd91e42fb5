#include "missing/coding.h"

#include <cmath>

#include "missing/patterns.h"
#include "textio/fp.h"

namespace talvo {

void code_and_sum(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    for (std::int32_t I = 0; I <= K; ++I) {
        for (std::int32_t J = 0; J <= K; ++J) {
            run.SS(I, J) = 0.0;
            run.CS(I, J) = 0.0;
            run.PS(I, J) = 0.0;
            run.PSN(I, J) = 0;
            run.B(I, J) = 0.0;
            run.CORR(I, J) = 0.0;
            run.G(I, J) = 0.0;
            run.H(I, J) = 0.0;
            run.T(I, J) = 0.0;
            run.COV(I, J) = 0.0;
        }
    }
    Mat& X = run.X;
    Mat& CS = run.CS;
    Mat& PS = run.PS;
    for (std::int32_t I = 1; I <= N; ++I) {
        X(I, 2 * K + 1) = 0.0;
        X(I, 0) = 1.0;
        for (std::int32_t J = 1; J <= K; ++J) {
            // The whole-number part, kept as a double, against the code.
            if (std::trunc(X(I, J)) == run.MVI) {
                X(I, J) = 0.0;
                X(I, K + J) = 0.0;
            } else {
                X(I, K + J) = 1.0;
            }
            X(I, 2 * K + 1) = fp::add(X(I, 2 * K + 1), X(I, K + J));
        }
        if (X(I, 2 * K + 1) == static_cast<double>(K)) {
            CS(0, 0) = fp::add(CS(0, 0), 1.0);
            for (std::int32_t J = 1; J <= K; ++J) {
                CS(0, J) = fp::add(CS(0, J), X(I, J));
                for (std::int32_t L = 1; L <= J; ++L) CS(J, L) = fp::add(CS(J, L), fp::mul(X(I, L), X(I, J)));
            }
        } else {
            for (std::int32_t J = 1; J <= K; ++J) {
                if (static_cast<std::int32_t>(X(I, K + J)) != 1) continue;
                PS(0, J) = fp::add(PS(0, J), X(I, J));
                for (std::int32_t L = 1; L <= J; ++L) {
                    if (static_cast<std::int32_t>(X(I, K + L)) == 1) {
                        run.PSN(J, L) = run.PSN(J, L) + 1;
                        PS(J, L) = fp::add(PS(J, L), fp::mul(X(I, L), X(I, J)));
                    }
                }
            }
        }
        encode_case(run, I);
    }
}

}  // namespace talvo
