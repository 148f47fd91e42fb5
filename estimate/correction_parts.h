// The pieces of the correction (correction.cpp): its plan, made once per
// run (correction_plan.cpp), and the kernels of its sweeps
// (correction_kernels.cpp). Internal to the estimation.
#pragma once

#include <cstddef>

#include "estimate/plans.h"
#include "state/run.h"

namespace talvo::corr {

// Where row i of a packed lower triangle begins.
inline std::size_t row_at(std::size_t i) { return i * (i + 1) / 2; }

// Room behind a block, a line and a row of the new block, so that rows are
// computed in whole groups of four: what is computed past a row's end is
// overwritten by the next row, or lies in that room.
constexpr std::size_t kSlack = 4;

// The incomplete patterns in the order of their pivot sequences, and for
// each one the pivots it sweeps beyond the one before (see plans.h).
void plan_sweeps(const Run& run, EstimationPlans::Sweeps& plan);

// One pivot on the packed lower triangle src of n variables, at index iv,
// into dst (n - 1 variables, the pivot's row and column left out): every
// element g(j,l) - (g(j,v) * g(v,l)) / p. rest is the pivot line without
// the pivot, with kSlack zeros after it. False when a value overflows.
bool step_rows(const double* src, double* dst, const double* rest, std::size_t n, std::size_t iv, double p);

// The largest |v[j]| for finite v[0..n), with v[n..n+3] zero.
double largest_magnitude(const double* v, std::size_t n);

}  // namespace talvo::corr
