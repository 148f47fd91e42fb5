// What the completion step works out once per run: the incomplete cases,
// the split of SS between the threads, each pattern's products.
#include <algorithm>

#include "estimate/estep_parts.h"

namespace talvo::estep {

std::vector<std::int32_t> fill_order(const Run& run) {
    std::vector<std::int32_t> order;
    for (std::int32_t I = 1; I <= run.N; ++I)
        if (run.PATT(I) != 1) order.push_back(I);
    return order;
}

std::vector<std::int32_t> split_columns(std::int32_t K, std::size_t parts) {
    std::vector<std::int32_t> bound(parts + 1, K + 1);
    bound[0] = 1;
    for (std::size_t part = 1; part < parts; ++part) {
        // Column M holds K - M + 1 elements; the first `part` shares of them.
        const double share =
            static_cast<double>(K) * (K + 1) / 2 * static_cast<double>(part) / static_cast<double>(parts);
        double below = 0;
        std::int32_t M = 1;
        for (; M <= K && below + (K - M + 1) <= share; ++M) below += K - M + 1;
        bound[part] = std::max(bound[part - 1], M);
    }
    return bound;
}

// The products of an incomplete case for SS, as lists made once per
// pattern: an element of the lower triangle (or of row 0) and the two
// variables whose values it takes, x[a] * x[b] (x[0] = 1 makes the sum of
// row 0 a product too), packed as offset << 16 | a << 8 | b. The lists
// split the elements between the threads by column. Made only when the
// variables fit and the lists stay small enough to be read from cache;
// else each case's products are found from its pattern as it comes.
bool make_products(const Run& run, EstimationPlans& plans, std::size_t parts, const std::vector<std::int32_t>& bound) {
    const std::int32_t K = run.K;
    if (plans.product_parts == parts) return !plans.products_at.empty();
    plans.product_parts = parts;
    plans.products.clear();
    plans.products_at.clear();
    if (K > 255) return false;
    auto part_of = [&](std::int32_t column) {
        std::size_t p = 0;
        while (column >= bound[p + 1]) ++p;
        return p;
    };
    std::vector<std::vector<std::uint32_t>> by_part(parts);
    plans.products_at.push_back(0);
    for (std::int32_t L = 1; L <= run.NPATT; ++L) {
        for (auto& v : by_part) v.clear();
        auto pack = [&](std::int32_t J, std::int32_t M, std::int32_t a, std::int32_t b) {
            by_part[part_of(J == 0 ? b : M)].push_back(static_cast<std::uint32_t>(J * (K + 1) + M) << 16 |
                                                       static_cast<std::uint32_t>(a) << 8 |
                                                       static_cast<std::uint32_t>(b));
        };
        if (L > 1) {
            for (std::int32_t J = 1; J <= K; ++J) {
                if (!run.OBS(L, J)) pack(0, J, 0, J);
                for (std::int32_t M = 1; M <= J; ++M)
                    if (!run.OBS(L, J) || !run.OBS(L, M)) pack(J, M, M, J);
            }
        }
        for (const auto& v : by_part) {
            plans.products.insert(plans.products.end(), v.begin(), v.end());
            plans.products_at.push_back(plans.products.size());
        }
        if (plans.products.size() > plans.max_products) {
            plans.products.clear();
            plans.products_at.clear();
            return false;
        }
    }
    return true;
}

}  // namespace talvo::estep
