#include "estimate/em.h"

#include <climits>
#include <cmath>

#include "base/fp.h"
#include "estimate/correction.h"
#include "estimate/estep.h"
#include "estimate/sweep.h"

namespace talvo {

void build_moments(Run& run) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    run.G(0, 0) = 1.0;
    for (std::int32_t I = 1; I <= K; ++I) {
        run.G(0, I) = fp::div(run.SS(0, I), n);
        run.G(I, 0) = run.G(0, I);
        for (std::int32_t J = 1; J <= I; ++J) {
            run.G(I, J) = fp::div(run.SS(I, J), n);
            run.G(J, I) = run.G(I, J);
        }
    }
}

namespace {

// Variable Q moved to the last position, columns first, then rows.
void move_last(Run& run, std::int32_t Q) {
    const std::int32_t K = run.K;
    Mat& G = run.G;
    Mat& T = run.T;
    for (std::int32_t I = 0; I <= K; ++I) {
        for (std::int32_t J = 0; J <= K; ++J) {
            if (J < Q)
                T(I, J) = G(I, J);
            else if (J == Q)
                T(I, K) = G(I, Q);
            else
                T(I, J - 1) = G(I, J);
        }
    }
    for (std::int32_t J = 0; J <= K; ++J) {
        for (std::int32_t I = 0; I <= K; ++I) {
            if (J < Q)
                G(J, I) = T(J, I);
            else if (J == Q)
                G(K, I) = T(Q, I);
            else
                G(J - 1, I) = T(J, I);
        }
    }
}

// The largest change of a covariance since the last pass; the new COV.
void check_convergence(Run& run) {
    const std::int32_t K = run.K;
    run.XDIFF = 0.0;
    run.MAXDIFF = 0.0;
    for (std::int32_t J = 1; J <= K; ++J) {
        for (std::int32_t L = 1; L <= J; ++L) {
            const double c = fp::mul(run.H(J, L), run.CN);
            run.XDIFF = std::fabs(fp::sub(run.COV(J, L), c));
            if (run.XDIFF > run.MAXDIFF) run.MAXDIFF = run.XDIFF;
            run.COV(J, L) = c;
            run.COV(L, J) = run.COV(J, L);
        }
        run.COV(0, J) = run.H(0, J);
    }
}

}  // namespace

void regressions(Run& run, const std::function<void()>& checked) {
    const std::int32_t K = run.K;
    for (std::int32_t Q = 1; Q <= K; ++Q) {
        build_moments(run);
        move_last(run, Q);
        if (Q == K) {
            // The convergence check reads the matrix swept on the constant alone.
            sweep_pivots(run.G, run.H, 0, 0, K);
            check_convergence(run);
            if (checked) checked();
            sweep_pivots(run.G, run.H, 1, K - 1, K);
        } else {
            sweep_pivots(run.G, run.H, 0, K - 1, K);
        }
        for (std::int32_t I = 0; I <= K; ++I) run.B(Q, I) = run.H(K, I);
    }
}

void PassKernels::complete(Run& run, EstimationPlans& plans) const { e_step(run, plans); }

void PassKernels::regress(Run& run, const std::function<void()>& checked) const { regressions(run, checked); }

void PassKernels::correct(Run& run, EstimationPlans& plans) const { correction(run, plans); }

EmFacts em(Run& run, PassObserver* observer, const PassKernels* kernels) {
    static const PassKernels own;
    const PassKernels& k = kernels ? *kernels : own;
    // A negative pass limit with a criterion that can never be met would
    // leave nothing to end the loop: the limit is then taken as positive.
    if (run.MAXITER < 0 && run.CRIT <= 0.0) run.MAXITER = run.MAXITER == INT_MIN ? INT_MAX : -run.MAXITER;
    EstimationPlans plans;
    EmFacts facts;
    for (;;) {
        if (run.COUNT >= 1) k.complete(run, plans);
        bool met = false;
        k.regress(run, [&] {
            met = run.MAXDIFF < run.CRIT;
            if (observer) observer->pass_checked(PassReport{run.COUNT, run.MAXDIFF});
        });
        facts.passes = run.COUNT;
        facts.last_change = run.MAXDIFF;
        if (run.NPATT == 1) {  // every case complete: nothing to iterate
            facts.converged = facts.complete = true;
            break;
        }
        // The correction is made on the last pass too: a fault in it ends the run.
        k.correct(run, plans);
        if (met) {
            facts.converged = true;
            break;
        }
        if (run.COUNT == run.MAXITER || run.COUNT == INT_MAX) break;
        run.COUNT = run.COUNT + 1;
    }
    return facts;
}

}  // namespace talvo
