// What the estimation works out once a run, from the patterns alone, and
// keeps for every pass. Made at its first use; owned by whoever runs the
// passes (the run sequence, a test, a benchmark).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvo {

struct EstimationPlans {
    // The correction (see correction.cpp): the incomplete patterns sorted
    // by their pivot sequences, each pattern's place in that order, and
    // for each place the depth it shares with the place before, then its
    // own pivots; each place's block of results, in the same order.
    struct Sweeps {
        std::vector<std::int32_t> order, place;
        std::vector<std::int32_t> steps;     // shared depth, count, pivots
        std::vector<std::size_t> steps_at;   // where each place's steps begin
        std::vector<std::size_t> blocks_at;  // where each place's block begins; the total last
        std::vector<double> blocks;
    } sweeps;
    // The completion step: the incomplete cases in ascending order; each
    // pattern's products for SS, split into parts (see estep.cpp).
    std::vector<std::int32_t> fill_order;
    std::vector<std::uint32_t> products;
    std::vector<std::size_t> products_at;
    std::size_t product_parts = 0;
    // The completion step keeps, for data with few patterns, each pattern's
    // list of products; at most this many (the tests force either way).
    std::size_t max_products = std::size_t{1} << 19;
};

}  // namespace talvo
