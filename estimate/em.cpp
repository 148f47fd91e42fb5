#include "estimate/em.h"

#include <climits>
#include <cmath>
#include <vector>

#include "base/fp.h"
#include "estimate/correction.h"
#include "estimate/estep.h"
#include "estimate/restart.h"
#include "estimate/singular.h"
#include "estimate/sweep.h"

namespace talvo {

double ridged_moment(const Run& run, double raw, double mi, double mj, bool diagonal) {
    if (diagonal || run.EST.ridge == 0.0) return raw;
    const double n = static_cast<double>(run.N);
    return (n * (raw - mi * mj)) / (n + run.EST.ridge) + mi * mj;
}

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
    if (run.EST.ridge == 0.0) return;
    // The ridge, once the means of every variable are in row 0.
    for (std::int32_t I = 1; I <= K; ++I) {
        for (std::int32_t J = 1; J < I; ++J) {
            const double g = ridged_moment(run, run.G(I, J), run.G(0, I), run.G(0, J), false);
            if (!std::isfinite(g)) math_fault(Fault::Overflow);
            run.G(I, J) = g;
            run.G(J, I) = g;
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

// The largest change of a mean or covariance relative to its scale (the
// square root of the new variance, or of the product of the two new
// variances); where a scale is not positive, the change itself. The new COV
// is the same as with the dialog's rule.
void check_relative(Run& run) {
    const std::int32_t K = run.K;
    std::vector<double> sd(static_cast<std::size_t>(K) + 1, 0.0);
    for (std::int32_t J = 1; J <= K; ++J) {
        const double v = fp::mul(run.H(J, J), run.CN);
        sd[static_cast<std::size_t>(J)] = v > 0.0 ? std::sqrt(v) : 0.0;
    }
    auto relative = [](double change, double scale) {
        const double r = change / scale;
        return scale > 0.0 && std::isfinite(r) ? r : change;
    };
    run.XDIFF = 0.0;
    run.MAXDIFF = 0.0;
    for (std::int32_t J = 1; J <= K; ++J) {
        const double sj = sd[static_cast<std::size_t>(J)];
        for (std::int32_t L = 1; L <= J; ++L) {
            const double c = fp::mul(run.H(J, L), run.CN);
            run.XDIFF = relative(std::fabs(fp::sub(run.COV(J, L), c)), sj * sd[static_cast<std::size_t>(L)]);
            if (run.XDIFF > run.MAXDIFF) run.MAXDIFF = run.XDIFF;
            run.COV(J, L) = c;
            run.COV(L, J) = run.COV(J, L);
        }
        run.XDIFF = relative(std::fabs(fp::sub(run.COV(0, J), run.H(0, J))), sj);
        if (run.XDIFF > run.MAXDIFF) run.MAXDIFF = run.XDIFF;
        run.COV(0, J) = run.H(0, J);
    }
}

// The largest change of a covariance since the last pass; the new COV.
void check_convergence(Run& run) {
    if (run.EST.stop == Estimator::Stop::Relative) return check_relative(run);
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
        if (run.COUNT == 1 && run.EST.conditional_first_fill && run.SIV == StartMethod::File)
            fill_conditional_means(run);
        if (run.COUNT >= 1) k.complete(run, plans);
        // The start values were checked where they were made.
        if (run.COUNT >= 1 && run.EST.singular_tol > 0.0) {
            const Singularity s = check_sums(run, run.EST.singular_tol);
            if (s.variable != 0) end_degenerate(run, s, run.COUNT);
        }
        bool met = false;
        k.regress(run, [&] {
            met = run.MAXDIFF < run.CRIT;
            if (observer)
                observer->pass_checked(PassReport{run.COUNT, run.MAXDIFF, run.EST.stop == Estimator::Stop::Relative});
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
