// The straightforward forms of the program's fast kernels, each written as
// its formulas read: every flag tested, every pattern scanned, every pivot
// swept on the whole matrix. The tests prove the fast kernels give their
// bits and faults; the benchmarks measure against them.
#pragma once

#include <string>

#include "state/run.h"
#include "textio/format.h"

namespace talvo::reference {

// Coding, complete-case and pairwise sums, and each case's row of PA.
void code_and_sum(Run& run);

// The pattern table by the plain scan: each incomplete case compared,
// position by position, with the patterns found so far.
void build_pattern_table(Run& run);

// The completion step and the rebuilding of SS.
void e_step(Run& run);

// CORR, each pattern swept pivot by pivot.
void correction(Run& run);

// A readable listing of translated instructions, one per line.
std::string listing(const format::Format& f);

}  // namespace talvo::reference
