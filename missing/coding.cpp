#include "missing/coding.h"

#include <cmath>

#include "base/fp.h"
#include "missing/patterns.h"

namespace talvo {

namespace {

void clear(Run& run) {
    const std::int32_t K = run.K;
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
}

// Codes the values of case I observed or missing, counts the observed ones.
void code_case(Run& run, std::int32_t I) {
    const std::int32_t K = run.K;
    Mat& X = run.X;
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
}

void add_complete_case(Run& run, std::int32_t I) {
    const std::int32_t K = run.K;
    const double* x = run.X.row(I);
    Mat& CS = run.CS;
    CS(0, 0) = fp::add(CS(0, 0), 1.0);
    for (std::int32_t J = 1; J <= K; ++J) {
        CS(0, J) = fp::add(CS(0, J), x[J]);
        double* cs = CS.row(J);
        for (std::int32_t L = 1; L <= J; ++L) cs[L] = fp::add(cs[L], fp::mul(x[L], x[J]));
    }
}

// The pairwise sums of an incomplete case. Only the observed variables are
// walked (the first m entries of the case's row of PA, ascending), which
// gives the additions of the test of every position's flag, in their order.
void add_incomplete_case(Run& run, std::int32_t I) {
    const std::int32_t K = run.K;
    const double* x = run.X.row(I);
    const std::int32_t m = static_cast<std::int32_t>(x[2 * K + 1]);
    const std::int32_t* observed = run.PA.row(I);  // PA(I,1) first
    for (std::int32_t a = 0; a < m; ++a) {
        const std::int32_t J = observed[a];
        run.PS(0, J) = fp::add(run.PS(0, J), x[J]);
        double* ps = run.PS.row(J);
        std::int32_t* psn = run.PSN.row(J);
        for (std::int32_t b = 0; b <= a; ++b) {
            const std::int32_t L = observed[b];
            psn[L] = psn[L] + 1;
            ps[L] = fp::add(ps[L], fp::mul(x[L], x[J]));
        }
    }
}

}  // namespace

void code_and_sum(Run& run) {
    clear(run);
    const std::int32_t N = run.N, K = run.K;
    for (std::int32_t I = 1; I <= N; ++I) {
        code_case(run, I);
        // The case's row of PA does not depend on its sums.
        encode_case(run, I);
        if (run.X(I, 2 * K + 1) == static_cast<double>(K))
            add_complete_case(run, I);
        else
            add_incomplete_case(run, I);
    }
}

}  // namespace talvo
