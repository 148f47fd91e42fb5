#include "estimate/estep.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "base/fp.h"
#include "base/threads.h"
#include "estimate/estep_parts.h"
#include "estimate/plans.h"

namespace talvo {

double prediction(const Run& run, std::int32_t I, std::int32_t J) {
    const std::int32_t K = run.K;
    const double* x = run.X.row(I);
    const double* b = run.B.row(J);
    // A chain of products and sums of finite numbers: an overflow anywhere
    // leaves its end infinite or not a number.
    double s = 0.0;
    for (std::int32_t L = 0; L <= K - 1; ++L) s = b[L] * x[L < J ? L : L + 1] + s;
    if (!std::isfinite(s)) math_fault(Fault::Overflow);
    return s;
}

void predictions(const Run& run, std::int32_t I, double* out) {
    const std::int32_t K = run.K;
    const double* x = run.X.row(I);
    std::int32_t J = 1;
    for (; J + 3 <= K; J += 4) {
        const double* b[4] = {run.B.row(J), run.B.row(J + 1), run.B.row(J + 2), run.B.row(J + 3)};
        double s[4] = {0.0, 0.0, 0.0, 0.0};
        for (std::int32_t L = 0; L <= K - 1; ++L)
            for (std::int32_t r = 0; r < 4; ++r) s[r] = b[r][L] * x[L < J + r ? L : L + 1] + s[r];
        for (std::int32_t r = 0; r < 4; ++r) {
            if (!std::isfinite(s[r])) math_fault(Fault::Overflow);
            out[J + r - 1] = s[r];
        }
    }
    for (; J <= K; ++J) out[J - 1] = prediction(run, I, J);
}

namespace {

void clear_sums(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t L = 0; L <= K; ++L) run.SS(J, L) = 0.0;
}

// The sums of the complete cases and of the observed pairs, and the
// correction, added to what the incomplete cases gave.
void merge(Run& run) {
    const std::int32_t K = run.K;
    Mat& SS = run.SS;
    for (std::int32_t I = 1; I <= K; ++I) {
        SS(0, I) = fp::add(fp::add(run.PS(0, I), run.CS(0, I)), SS(0, I));
        for (std::int32_t J = 1; J <= I; ++J)
            SS(I, J) = fp::add(fp::add(fp::add(run.CORR(I, J), run.PS(I, J)), run.CS(I, J)), SS(I, J));
    }
}

// The columns first..last of SS (and SS(0,J) for J among them), each
// element a sum over the incomplete cases in ascending order of the
// products of a missing variable with the variables before it or after
// it. The sums run in a copy of those columns: an overflow leaves its sum
// infinite or not a number to the end, so the copy is checked once, when
// every case is in, before it is stored into SS. No sum is ever -0, so
// adding 0 changes none.
void add_columns(Run& run, const EstimationPlans& plans, std::int32_t first, std::int32_t last, std::size_t part,
                 bool lists) {
    const std::int32_t K = run.K;
    const auto width = static_cast<std::size_t>(K) + 1;
    estep::ColumnScratch scratch;
    scratch.sums.assign(width * width + 4, 0.0);
    auto at = [&](std::int32_t J, std::int32_t M) -> double& {
        return scratch.sums[static_cast<std::size_t>(J) * width + static_cast<std::size_t>(M)];
    };
    auto each = [&](auto visit) {
        for (std::int32_t J = 0; J <= K; ++J)
            for (std::int32_t M = first; M <= std::min(J == 0 ? K : J, last); ++M) visit(J, M);
    };
    each([&](std::int32_t J, std::int32_t M) { at(J, M) = run.SS(J, M); });
    estep::add_products(run, plans, first, last, part, lists, scratch);
    each([&](std::int32_t J, std::int32_t M) {
        if (!(std::fabs(at(J, M)) <= DBL_MAX)) math_fault(Fault::Overflow);
    });
    each([&](std::int32_t J, std::int32_t M) { run.SS(J, M) = at(J, M); });
}

// Fills the cases cases[0..n); an overflow ends the run.
void fill(Run& run, bool attrition, const std::int32_t* cases, std::size_t n) {
    if (!estep::fill_cases(run, attrition, cases, n)) math_fault(Fault::Overflow);
}

}  // namespace

void e_step(Run& run, EstimationPlans& plans) {
    const std::int32_t K = run.K;
    clear_sums(run);
    // Each case is filled on its own: pieces of the incomplete cases on the
    // threads.
    if (plans.fill_order.empty() && run.NPATT > 1) plans.fill_order = estep::fill_order(run);
    const std::vector<std::int32_t>& order = plans.fill_order;
    const std::size_t pieces = std::min<std::size_t>(order.size(), static_cast<std::size_t>(thread_count()) * 8);
    run_parts(pieces, [&](std::size_t part) {
        const std::size_t from = order.size() * part / pieces, to = order.size() * (part + 1) / pieces;
        fill(run, true, order.data() + from, to - from);
    });
    // Each element of SS is a sum over the cases in ascending order: the
    // columns are split between the threads, never the cases, in ranges of
    // about the same number of elements.
    const std::size_t parts =
        std::min<std::size_t>(static_cast<std::size_t>(thread_count()), static_cast<std::size_t>(K));
    const std::vector<std::int32_t> bound = estep::split_columns(K, parts);
    const bool lists = estep::make_products(run, plans, parts, bound);
    run_parts(parts, [&](std::size_t part) { add_columns(run, plans, bound[part], bound[part + 1] - 1, part, lists); });
    merge(run);
}

void complete_cases(Run& run) {
    const std::vector<std::int32_t> order = estep::fill_order(run);
    // Each case on its own: pieces of the incomplete cases on the threads.
    const std::size_t pieces = std::min<std::size_t>(order.size(), static_cast<std::size_t>(thread_count()) * 8);
    run_parts(pieces, [&](std::size_t part) {
        const std::size_t from = order.size() * part / pieces, to = order.size() * (part + 1) / pieces;
        fill(run, false, order.data() + from, to - from);
    });
}

}  // namespace talvo
