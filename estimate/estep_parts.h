// The pieces of the completion step (estep.cpp): what it plans once per run
// (estep_plan.cpp) and its kernels (estep_kernels.cpp). Internal to the
// estimation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "estimate/plans.h"
#include "state/run.h"

namespace talvo::estep {

// The incomplete cases in ascending order.
std::vector<std::int32_t> fill_order(const Run& run);

// The columns 1..K of SS split into `parts` ranges of about the same number
// of elements: part p has the columns bound[p]..bound[p+1]-1.
std::vector<std::int32_t> split_columns(std::int32_t K, std::size_t parts);

// Each pattern's products for SS, split between the parts as the columns
// are (see estep_plan.cpp), into plans.products; false when they are not
// kept and every case's products are found from its pattern instead.
bool make_products(const Run& run, EstimationPlans& plans, std::size_t parts, const std::vector<std::int32_t>& bound);

// Fills the missing values of the cases cases[0..n) from the regressions B,
// with the attrition correction where `attrition` is set and the run has it
// switched on. False when a value overflows: that value is not stored and
// the cases after it are left.
bool fill_cases(Run& run, bool attrition, const std::int32_t* cases, std::size_t n);

// Room for one part's sums of SS and a case's values: the sums of the
// columns first..last are held at sums[J * (K + 1) + M].
struct ColumnScratch {
    std::vector<double> sums, own;
    std::vector<std::uint64_t> taken;
};

// Adds the products of the incomplete cases cases[0..n), in that order, to
// the sums of the columns first..last held in scratch.sums: from the
// pattern's list of products of part `part` when `lists`, else from the
// pattern's missing variables.
void add_products(const Run& run, const EstimationPlans& plans, std::int32_t first, std::int32_t last, std::size_t part,
                  bool lists, const std::int32_t* cases, std::size_t n, ColumnScratch& scratch);

}  // namespace talvo::estep
