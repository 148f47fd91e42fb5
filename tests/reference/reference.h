// The straightforward forms of the program's fast kernels, each written as
// its formulas read: every flag tested, every pattern scanned, every pivot
// swept on the whole matrix. The tests prove the fast kernels give their
// bits and faults; the benchmarks measure against them.
#pragma once

#include <string>

#include "estimate/ml.h"
#include "state/run.h"
#include "textio/format.h"

namespace talvo::reference {

// Coding, the complete-case and pairwise sums, each case's variable order
// (observed first) and the pattern table by the plain scan: each incomplete
// case compared, position by position, with the patterns found so far. It
// works on the data matrix as the formulas write it, 1..N by 0..2K+1
// (constant, values, observed flags, observed count), and leaves in the run
// what the program keeps of it.
void code_and_classify(Run& run);

// That data matrix, made from a coded run.
Mat widen(const Run& run);

// The completion step and the rebuilding of SS on that data matrix; the
// filled-in values are copied into the run.
void e_step(Run& run, Mat& X);

// The final completion: every missing value replaced by its regression
// prediction, on that data matrix; copied into the run.
void complete_cases(Run& run, Mat& X);

// Each variable's regression on the others into B, sweeping pivot by pivot
// with the variable moved last, and on the way COV and MAXDIFF as the
// convergence check leaves them.
void regressions(Run& run);

// CORR, each pattern swept pivot by pivot.
void correction(Run& run);

// Pattern L's covariance under theta, its variables observed first, swept
// on its observed variables on its own, as the maximum-likelihood passes
// and data augmentation sweep it with the pivots shared (SharedSweeps).
void sweep_pattern(const Run& run, std::int32_t L, const Normal& theta, Swept& s);

// Fw.d of a value as the rules read: the 17-digit expansion, rounded half
// up at the last digit shown but to 16 significant digits at most, no zero
// before the point, a minus only for a value that does not round to zero.
std::string fixed(double v, int w, int d, bool plus);

// Ew.d (e < 0) or Ew.dEe of a value with no scale factor (k = 0) or 1P
// (k = 1), as the rules read: d + k significant digits of the 17-digit
// expansion, rounded half up; the exponent letter, sign and digits.
std::string exponential(double v, int w, int d, int e, int k, bool plus);

// A readable listing of translated instructions, one per line.
std::string listing(const format::Format& f);

}  // namespace talvo::reference
