#include "estimate/start.h"

#include <string>

#include "base/errors.h"
#include "base/fp.h"
#include "estimate/singular.h"

namespace talvo {

namespace {

void listwise(Run& run) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    for (std::int32_t I = 1; I <= K; ++I) {
        run.SS(0, I) = fp::mul(fp::div(n, run.CS(0, 0)), run.CS(0, I));
        for (std::int32_t J = 1; J <= I; ++J) run.SS(I, J) = fp::mul(fp::div(n, run.CS(0, 0)), run.CS(I, J));
    }
}

// N div (cases observing the pair): a whole-number factor, not the ratio.
double pairwise_factor(const Run& run, std::int32_t I, std::int32_t J, std::int32_t c) {
    std::int32_t cases = run.PSN(I, J) + c;
    if (cases == 0) {
        if (I == J) stop("No pairwise start values: variable " + std::to_string(I) + " is never observed; aborting...");
        stop("No pairwise start values: variables " + std::to_string(J) + " and " + std::to_string(I) +
             " are never observed together; aborting...");
    }
    return static_cast<double>(run.N / cases);
}

void pairwise(Run& run) {
    const std::int32_t K = run.K;
    const std::int32_t c = static_cast<std::int32_t>(run.CS(0, 0));
    for (std::int32_t I = 1; I <= K; ++I) {
        run.SS(0, I) = fp::mul(fp::add(run.PS(0, I), run.CS(0, I)), pairwise_factor(run, I, I, c));
        for (std::int32_t J = 1; J <= I; ++J)
            run.SS(I, J) = fp::mul(fp::add(run.PS(I, J), run.CS(I, J)), pairwise_factor(run, I, J, c));
    }
}

// Each variable's mean and mean square over the cases that observe it, no
// covariance: a start that is a covariance matrix whenever every variable
// varies.
void observed_diagonal(Run& run) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    for (std::int32_t I = 1; I <= K; ++I) {
        const double cases = fp::add(static_cast<double>(run.PSN(I, I)), run.CS(0, 0));
        if (cases == 0.0) pairwise_factor(run, I, I, 0);  // never observed: its stop
        run.SS(0, I) = fp::mul(fp::div(fp::add(run.PS(0, I), run.CS(0, I)), cases), n);
        run.SS(I, I) = fp::mul(fp::div(fp::add(run.PS(I, I), run.CS(I, I)), cases), n);
    }
    for (std::int32_t I = 1; I <= K; ++I)
        for (std::int32_t J = 1; J < I; ++J) run.SS(I, J) = fp::div(fp::mul(run.SS(0, I), run.SS(0, J)), n);
}

// SVC(0, 1..K) the means, SVC(1..K, 1..K) the covariances (divisor N - 1).
void from_matrix(Run& run, const Mat& SVC) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    for (std::int32_t I = 1; I <= K; ++I) {
        for (std::int32_t J = 1; J <= I; ++J) {
            // N mean(I) mean(J) + (N - 1) cov(I,J): the file's covariances have divisor N - 1.
            run.SS(I, J) = fp::mul(fp::add(fp::mul(SVC(0, I), SVC(0, J)), fp::mul(SVC(I, J), run.CN1)), n);
        }
        run.SS(0, I) = fp::mul(SVC(0, I), n);
    }
}

}  // namespace

void set_sample_constants(Run& run) {
    run.RN = static_cast<double>(run.N);
    run.CN = fp::div(run.RN, static_cast<double>(run.N - 1));
    run.CN1 = fp::div(static_cast<double>(run.N - 1), run.RN);
}

namespace {

void compute(Run& run, const Mat& SVC) {
    switch (run.SIV) {
        case StartMethod::Listwise: listwise(run); break;
        case StartMethod::Pairwise: pairwise(run); break;
        case StartMethod::File: from_matrix(run, SVC); break;
    }
}

}  // namespace

void start_values(Run& run, const Mat& SVC) {
    if (run.CS(0, 0) == 0.0 && run.SIV == StartMethod::Listwise) run.SIV = StartMethod::Pairwise;  // no complete case
    const Estimator& est = run.EST;
    // Fewer complete cases than K + 1 cannot give a covariance matrix of full rank.
    // With every case complete the listwise start is the estimate itself.
    if (est.start_fallback && run.SIV == StartMethod::Listwise && run.NPATT > 1 &&
        run.CS(0, 0) < static_cast<double>(run.K) + 1.0) {
        run.SIV = StartMethod::Pairwise;
        run.START_NOTE = StartNote::FewComplete;
    }
    compute(run, SVC);
    if (est.singular_tol <= 0.0) return;
    // A singular start from K + 1 or more complete cases shows a dependency
    // those cases share: the run ends there rather than start elsewhere and
    // creep toward the same singular estimate.
    Singularity s = check_sums(run, est.singular_tol);
    if (s.variable != 0 && !s.constant && run.START_NOTE == StartNote::FewComplete) {
        // The pairwise start the program chose is no covariance matrix.
        observed_diagonal(run);
        run.START_NOTE = StartNote::Diagonal;
        s = check_sums(run, est.singular_tol);
    }
    if (s.variable == 0) return;
    // The pairwise start mixes the cases of different pairs and may well
    // not be a covariance matrix: the passes start from it, and the check
    // applies from the first pass on, to estimates of the data.
    const bool lenient = run.SIV == StartMethod::Pairwise || (est.lenient_start && run.SIV == StartMethod::Listwise);
    if (s.constant || !lenient) end_degenerate(run, s, 0);
    run.START_RATIO = s.ratio;
}

}  // namespace talvo
