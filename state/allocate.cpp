#include "state/allocate.h"

#include <new>
#include <string>

#include "base/errors.h"
#include "base/memory.h"

namespace talvo {

void check_sizes(const Params& p) {
    if (p.N < 1) stop("Sample size must be at least 1 (n = " + std::to_string(p.N) + "); aborting...");
    if (p.K < 1) stop("Number of variables must be at least 1 (k = " + std::to_string(p.K) + "); aborting...");
}

std::optional<std::uint64_t> storage_bytes(std::int64_t N, std::int64_t K) {
    const auto n = static_cast<std::uint64_t>(N), k = static_cast<std::uint64_t>(K);
    // X: N x (K+1) doubles and a pattern number per case; eleven (K+1) x (K+1)
    // matrices; the pattern table at its largest (a row of K+2 integers and
    // K flags for each pattern there can be).
    auto x = checked_mul(n, k + 1);
    if (x) x = checked_mul(*x, 8);
    if (x) x = checked_add(*x, 4 * n);
    const std::uint64_t patterns = k < 63 && (std::uint64_t{1} << k) < n + 1 ? std::uint64_t{1} << k : n + 1;
    auto table = checked_mul(patterns, k + 2);
    if (table) table = checked_mul(*table, 5);
    auto sq = checked_mul(k + 1, k + 1);
    if (sq) sq = checked_mul(*sq, 8 * 11);
    if (!x || !table || !sq) return std::nullopt;
    auto total = checked_add(*x, *table);
    if (total) total = checked_add(*total, *sq);
    return total;
}

void allocate(Run& run) {
    const std::int64_t N = run.N, K = run.K;
    auto need = storage_bytes(N, K);
    if (!need) stop(std::string(kNoStorage));
    ensure_memory(*need);
    try {
        run.X.allocate(1, N, 0, K);
        run.PATT.allocate(1, N);
        for (Mat* m : {&run.B, &run.CS, &run.PS, &run.SS, &run.G, &run.H, &run.T, &run.COV, &run.CORR})
            m->allocate(0, K, 0, K);
        run.PSN.allocate(0, K, 0, K);
        // The pattern table starts with room for PTN patterns and grows when
        // the data hold more (there are never more than N + 1).
        std::int64_t rows = run.PTN < 1 ? 1 : run.PTN;
        if (rows > N + 1) rows = N + 1;
        run.P.allocate(1, rows, 1, K + 2);
        run.OBS.allocate(1, rows, 1, K);
    } catch (const std::bad_alloc&) {
        stop(std::string(kNoStorage));
    }
}

}  // namespace talvo
