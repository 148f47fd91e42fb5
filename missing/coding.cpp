#include "missing/coding.h"

#include <cmath>
#include <vector>

#include "base/fp.h"
#include "missing/patterns.h"

namespace talvo {

namespace {

// The sums start from zero.
void clear_sums(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t I = 0; I <= K; ++I) {
        for (std::int32_t J = 0; J <= K; ++J) {
            run.CS(I, J) = 0.0;
            run.PS(I, J) = 0.0;
            run.PSN(I, J) = 0;
        }
    }
}

void add_complete_case(Run& run, const double* x) {
    const std::int32_t K = run.K;
    Mat& CS = run.CS;
    CS(0, 0) = fp::add(CS(0, 0), 1.0);
    for (std::int32_t J = 1; J <= K; ++J) {
        CS(0, J) = fp::add(CS(0, J), x[J]);
        double* cs = CS.row(J);
        for (std::int32_t L = 1; L <= J; ++L) cs[L] = fp::add(cs[L], fp::mul(x[L], x[J]));
    }
}

// The pairwise sums of an incomplete case. Only the observed variables are
// walked (the first m entries of its pattern's row, ascending), which gives
// the additions of the test of every pair's flags, in their order.
void add_incomplete_case(Run& run, const double* x, std::int32_t L) {
    const std::int32_t K = run.K;
    const std::int32_t m = K - run.P(L, K + 1);
    const std::int32_t* observed = run.P.row(L);  // P(L,1) first
    for (std::int32_t a = 0; a < m; ++a) {
        const std::int32_t J = observed[a];
        run.PS(0, J) = fp::add(run.PS(0, J), x[J]);
        double* ps = run.PS.row(J);
        std::int32_t* psn = run.PSN.row(J);
        for (std::int32_t b = 0; b <= a; ++b) {
            const std::int32_t M = observed[b];
            psn[M] = psn[M] + 1;
            ps[M] = fp::add(ps[M], fp::mul(x[M], x[J]));
        }
    }
}

}  // namespace

void code_and_classify(Run& run) {
    clear_sums(run);
    const std::int32_t N = run.N, K = run.K;
    start_pattern_table(run);
    PatternIndex index(K);
    std::vector<double> flag(static_cast<std::size_t>(K));
    for (std::int32_t I = 1; I <= N; ++I) {
        double* x = run.X.row(I);  // x[J] is X(I,J)
        x[0] = 1.0;
        // The whole-number part, kept as a double, against the code; the
        // observed count is the sum of the flags. Data given in memory may
        // mark a missing value as not a number instead (a file never does).
        double observed = 0.0;
        index.clear_key();
        for (std::int32_t J = 1; J <= K; ++J) {
            if (std::trunc(x[J]) == run.MVI || std::isnan(x[J])) {
                x[J] = 0.0;
                flag[static_cast<std::size_t>(J - 1)] = 0.0;
            } else {
                flag[static_cast<std::size_t>(J - 1)] = 1.0;
                index.observe(J);
            }
            observed = fp::add(observed, flag[static_cast<std::size_t>(J - 1)]);
        }
        std::int32_t L = 1;
        if (observed != static_cast<double>(K)) {
            L = index.find();
            if (L == 0) {
                L = open_pattern(run, flag.data());
                index.insert(L);
            }
        }
        run.PATT(I) = L;
        run.P(L, K + 2) = run.P(L, K + 2) + 1;
        if (L == 1)
            add_complete_case(run, x);
        else
            add_incomplete_case(run, x, L);
    }
}

}  // namespace talvo
