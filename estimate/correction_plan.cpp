// The correction's plan: the order in which the patterns are swept, made
// once per run from the patterns alone.
#include <algorithm>

#include "estimate/correction_parts.h"

namespace talvo::corr {

// The incomplete patterns in the order of their pivot sequences (the
// constant, then the observed variables ascending; a sequence before those it
// begins), and for each one the pivots it sweeps beyond the one before. The
// sweeps then read their plan and write their blocks front to back.
void plan_sweeps(const Run& run, EstimationPlans::Sweeps& plan) {
    const std::int32_t K = run.K;
    auto observed = [&](std::int32_t L) { return K - run.P(L, K + 1); };
    plan.order.clear();
    for (std::int32_t L = 2; L <= run.NPATT; ++L) plan.order.push_back(L);
    std::sort(plan.order.begin(), plan.order.end(), [&](std::int32_t x, std::int32_t y) {
        const std::int32_t* a = run.P.row(x);
        const std::int32_t* b = run.P.row(y);
        return std::lexicographical_compare(a, a + observed(x), b, b + observed(y));
    });
    plan.place.assign(static_cast<std::size_t>(run.NPATT) + 1, 0);
    plan.steps.clear();
    plan.steps_at.clear();
    plan.blocks_at.assign(1, 0);
    const std::int32_t* before = nullptr;
    std::int32_t before_length = 0;
    for (std::size_t k = 0; k < plan.order.size(); ++k) {
        const std::int32_t L = plan.order[k];
        plan.place[static_cast<std::size_t>(L)] = static_cast<std::int32_t>(k);
        const std::int32_t* seen = run.P.row(L);
        const std::int32_t length = observed(L);
        // The depth shared with the pattern before: its constant pivot and
        // the observed variables both begin with.
        std::int32_t shared = 0;
        if (before) {
            shared = 1;
            while (shared - 1 < length && shared - 1 < before_length && seen[shared - 1] == before[shared - 1])
                ++shared;
        }
        plan.steps_at.push_back(plan.steps.size());
        plan.steps.push_back(shared);
        plan.steps.push_back(length + 1 - shared);
        if (shared == 0) plan.steps.push_back(0);
        for (std::int32_t i = std::max(shared - 1, 0); i < length; ++i) plan.steps.push_back(seen[i]);
        const auto m = static_cast<std::size_t>(K - length);
        plan.blocks_at.push_back(plan.blocks_at.back() + m * (m + 1) / 2);
        before = seen;
        before_length = length;
    }
}

}  // namespace talvo::corr
