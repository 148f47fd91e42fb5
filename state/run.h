// The run's state: its parameters and the numbers every phase works on.
//
// The names are those of the formulas (X, SS, COV, ...). Beside each field:
// what it holds, with its index ranges, which phase sets it and which read
// it. The phases, in their order: the intake (the caller reads the data),
// coding (missing/coding.cpp), the pattern table (missing/patterns.cpp),
// the missingness summary (missing/summary.cpp), the start values
// (estimate/start.cpp), the EM passes (estimate/em.cpp: the completion step
// of estep.cpp, the regressions, the correction of correction.cpp), and the
// results (results/). Every number is zero until its phase sets it.
//
// The console, the result files and the plans of the kernels are not here:
// they belong to the programs, the result writers and the EM loop.
#pragma once

#include <cstdint>
#include <string>

#include "base/matrix.h"

namespace talvo {

// Where the first estimate comes from.
enum class StartMethod : std::int32_t {
    Listwise = 1,  // the complete cases
    Pairwise = 2,  // every case observing the variable, or the pair
    File = 3,      // the means and covariances of a start-value file
};

// The criterion used when none is given: 1.0E-5 in single precision,
// widened to double (9.999999747378752E-06).
inline constexpr double kDefaultCrit = static_cast<double>(1.0e-5f);

// How the estimation departs from the dialog's. Every default keeps the
// dialog's passes bit for bit; talvo-batch switches the checks and rules on.
struct Estimator {
    enum class Method : std::int32_t {
        Legacy = 0,             // the dialog's passes and estimates (divisor N - 1)
        MaximumLikelihood = 1,  // the textbook EM of the normal model (estimate/ml.h)
    };
    Method method = Method::Legacy;  // read by the run sequence
    bool accelerate = false;         // SQUAREM for the maximum-likelihood passes
    // The maximum-likelihood covariances (divisor N) rescaled by N/(N-1) in
    // COV, for programs that expect that divisor. Read by the run sequence.
    bool divisor_n_minus_1 = false;
    // When the passes have converged.
    enum class Stop : std::int32_t {
        // The dialog's rule: the largest absolute change of a covariance
        // below CRIT.
        AbsoluteCovariance = 0,
        // The largest change of a mean or covariance relative to its scale
        // below CRIT: a covariance change divided by the square root of the
        // product of the two new variances, a mean change by the square root
        // of the new variance. Unchanged when the data are rescaled.
        Relative = 1,
    };
    Stop stop = Stop::AbsoluteCovariance;  // read by the convergence check (EM loop)
    // The check for a singular covariance, at the start values and before
    // the regressions of every pass: the covariance as the regressions see
    // it is swept in variable order, and the run ends when the pivot of a
    // variable falls below singular_tol times its variance (a Degenerate
    // RunEnd naming the variables). 0: no check. It only reads: the passes
    // are the same bits with it or without it. Read by the start values and
    // the EM loop.
    double singular_tol = 0.0;
    // Ridge prior with this many pseudo-observations (0: none): wherever the
    // moment matrix is built from SS, its covariance C (divisor N) becomes
    // (N C + ridge D) / (N + ridge), D the diagonal of C, so the regressions,
    // the convergence check and the correction all use it. build_moments.
    double ridge = 0.0;
    // A listwise start with fewer than K + 1 complete cases becomes the
    // pairwise start, or where that is no covariance matrix the observed
    // means and variances with no covariance (START_NOTE says which).
    // Start values.
    bool start_fallback = false;
    // Singular listwise start values go on to the passes (START_RATIO
    // records what the check found) instead of ending the run; pairwise ones
    // always do, a constant variable never. Start values.
    bool lenient_start = false;
    // With start values from a file: before the first pass every missing
    // value of a case with two or more is filled with its conditional mean
    // given the case's observed values under the start estimates (the fixed
    // point the later passes reach), not 0 and the previous variables' fill.
    // EM loop.
    bool conditional_first_fill = false;
};

// Why the start values changed method (Run::START_NOTE).
// FewComplete: fewer complete cases than K + 1, the pairwise start used;
// Diagonal: and that was no covariance matrix, so each variable's mean and
// variance over the cases observing it, with no covariance, are used.
enum class StartNote : std::int32_t { None = 0, FewComplete = 1, Diagonal = 2 };

// The run parameters: the dialog's answers, or talvo-batch's options.
// Set before the run; read by the phases named.
struct Params {
    std::int32_t N = 0;    // cases, at least 1 (the allocation refuses less); every phase
    std::int32_t K = 0;    // variables, at least 1; every phase
    std::int32_t PTN = 0;  // the pattern limit answered: only the first size of the pattern table
    double MVI = 0.0;      // missing-value code: a value whose whole-number part equals it is missing; coding
    StartMethod SIV = StartMethod::Listwise;  // start values; Listwise becomes Pairwise with no complete case
    std::string FIN;                          // data file name as typed, 40 characters in the dialog; the intake
    std::string SVFIN;                        // start-value file name (SIV = File); the start-value reading
    std::int32_t MAXITER = 0;                 // pass limit; negative: no limit while the criterion can be met; EM loop
    double CRIT = 0.0;                        // convergence criterion on the largest covariance change; EM loop
    std::int32_t OPTOUT = 0;                  // 1: additional output (temp.ptn, temp.dat, temp.res); results
    std::string OUTFMT;                       // output format text of the result files; results
    // The attrition correction: with BMOD = 1 the single missing value of a
    // case is filled with YINT + YHAT x its prediction (completion step).
    std::int32_t BMOD = 0;
    double YINT = 0.0;  // intercept
    double YHAT = 0.0;  // b-weight
    Estimator EST;      // the estimator's checks and rules; the defaults are the dialog's
};

struct Run : Params {
    // --- The data and its patterns ---

    // X(1..N, 0..K). Columns 1..K: the values, put in by the intake. Coding
    // sets column 0 to 1.0 (the constant term of every regression) and a
    // missing value to 0.0; from the second pass on the completion step
    // fills each missing value with its prediction, and the final completion
    // before temp.dat does once more. Read by every later phase.
    Mat X;
    // PATT(1..N): the row of case I in the pattern table (1: complete).
    // Set by coding; read by the completion step and the results.
    Vector<std::int32_t> PATT;
    // P(1..NPATT, 1..K+2), rows growing with the data: per pattern its
    // variables, the observed ones first, each group ascending (columns
    // 1..K), its number of missing variables (K+1) and of cases (K+2).
    // Row 1 is the complete-data pattern, the others numbered by their first
    // case. Set by coding; read by the correction, the summary, temp.ptn.
    IMat P;
    // OBS(1..NPATT, 1..K): 1 where the pattern observes the variable. Set
    // with P; read by the completion step and the results.
    FlagMat OBS;
    std::int32_t NPATT = 0;  // rows of P in use; set by coding

    // --- Sums over the cases (0..K by 0..K; row 0 holds sums of single
    // variables, the lower triangle with the diagonal sums of products;
    // the rest stays 0) ---

    // CS: the complete cases; CS(0,0) their count. Set by coding; read by
    // the start values and the completion step.
    Mat CS;
    // PS, PSN: the sums and counts of the observed values and pairs of the
    // incomplete cases. Set by coding; read by the pairwise start and the
    // completion step.
    Mat PS;
    IMat PSN;
    // SS: the sums over all N cases, missing values filled in (row 0: N x
    // the means). Set by the start values for pass 0 and by the completion
    // step for every later pass; read by the regressions and the correction.
    Mat SS;

    // --- The estimation (0..K by 0..K; index 0 the constant term) ---

    // G: the moment matrix from SS (divisor N), swept in place; H: the
    // result of each sweep; T: scratch for moving a variable last. Set and
    // read within a pass (the correction reads the moments of G).
    Mat G, H, T;
    // B: row J the regression of variable J on the constant (B(J,0)) and
    // the other variables in ascending order (B(J,p), p = 1..K-1). Set by
    // the regressions; read by the completion step and the residuals.
    Mat B;
    // COV: the estimate. COV(0,J) the means, COV(I,J) the covariances
    // (divisor N-1), both triangles. Set at every pass by the convergence
    // check; read by the results.
    Mat COV;
    // CORR: the conditional-covariance correction for the next completion
    // step, lower triangle: per incomplete pattern its case count times the
    // covariances of its missing variables given its observed ones, times
    // N/(N-1), summed over the patterns. Set by the correction.
    Mat CORR;

    // --- Scalars ---

    std::int32_t COUNT = 0;  // the pass under way: 0 for the start values; EM loop
    // The largest change of a covariance in this pass, and the last change
    // measured. Set by the convergence check.
    double MAXDIFF = 0.0, XDIFF = 0.0;
    // N, N/(N-1) and (N-1)/N. Set by the start values; CN read by the
    // regressions and the correction, CN1 by the start from a file.
    double RN = 0.0, CN = 0.0, CN1 = 0.0;
    // The missingness summary, set by it: S1 the largest number of missing
    // values in a case, S2 the missing values in all, S3 = S1 as a double,
    // PS1 S1 as a percentage of K, PS2 the percentage of all values missing.
    std::int32_t S1 = 0;
    double S2 = 0.0, S3 = 0.0, PS1 = 0.0, PS2 = 0.0;
    // The patterns reported (NPATT, less the empty complete-data pattern
    // when no case is complete) and the first row listed in temp.ptn (1, or
    // 2 with no complete case). Set by the summary; read by temp.ptn.
    std::int32_t PNUM = 0;
    std::int32_t CPATT = 0;

    // --- The estimator's findings (EST switched on) ---

    // Why the listwise start became pairwise, or None. Set by the start values.
    StartNote START_NOTE = StartNote::None;
    // Start values that failed the singularity check and were kept (see
    // EST.lenient_start): the pivot ratio found, else 1.0. Set by the start
    // values.
    double START_RATIO = 1.0;
};

}  // namespace talvo
