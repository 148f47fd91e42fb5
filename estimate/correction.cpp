#include "estimate/correction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/cpu.h"
#include "base/errors.h"
#include "base/fp.h"
#include "base/threads.h"
#include "estimate/em.h"
#include "estimate/sweep.h"

namespace talvo {

namespace {

std::size_t row_at(std::size_t i) { return i * (i + 1) / 2; }

// The moment matrix restricted to the variables not yet swept after some
// pivots: the lower triangle, rows and columns in ascending variable order,
// packed row after row.
//
// The whole sweep also computes the rows and columns already swept, which
// this block leaves out; should one of those overflow, the whole sweep ends
// there. S bounds the magnitude of the swept-by-swept elements, A that of
// the swept-by-unswept ones; while both stay finite, computed with the same
// monotone roundings, none of the left-out elements can overflow.
struct Block {
    std::vector<std::int32_t> vars;  // 0 stands for the constant
    std::vector<double> a;
    double S = 0.0, A = 0.0;
    bool unsure = false;  // a bound was not finite on the way here
    int fault = 0;        // the fault the sweep ended with on the way here, or 0
    bool unsure_before_fault = false;
};

// Four doubles; each lane does the IEEE operations of one element.
typedef double Lanes __attribute__((vector_size(32)));

// Room behind a block, a line and a row of the new block, so that rows are
// computed in whole groups of four: what is computed past a row's end is
// overwritten by the next row, or lies in that room.
constexpr std::size_t kSlack = 4;

// new[j] = old[j] - (li * line[j]) / p for j in [0, n), rounded up to a
// whole group of four, as the whole sweep computes g(j,l) - (g(j,k) * g(k,l)) / p.
[[gnu::always_inline]] inline void update(double* out, const double* old, const double* line, double li, double p,
                                          std::size_t n) {
    const Lanes l4 = {li, li, li, li}, p4 = {p, p, p, p};
    for (std::size_t j = 0; j < n; j += 4) {
        Lanes o, g;
        std::memcpy(&o, old + j, sizeof o);
        std::memcpy(&g, line + j, sizeof g);
        const Lanes h = o - (l4 * g) / p4;
        std::memcpy(out + j, &h, sizeof h);
    }
}

[[gnu::always_inline]] inline bool all_finite(const double* v, std::size_t n) {
    std::uint64_t acc = 0;
    for (std::size_t j = 0; j < n; ++j) {
        std::uint64_t b;
        std::memcpy(&b, &v[j], sizeof b);
        acc |= ((b & 0x7FF0000000000000ULL) + 0x0010000000000000ULL) & 0x8000000000000000ULL;
    }
    return acc == 0;
}

// The rows of the new block: the old rows and columns without the pivot's,
// at index iv. Returns false when a value overflows; the block is scratch,
// checked whole once every row is in place.
[[gnu::always_inline]] inline bool step_rows(const double* src, double* dst, const double* line, std::size_t n,
                                             std::size_t iv, double p) {
    double* out = dst;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == iv) continue;
        const double* old = src + row_at(i);
        const double li = line[i];
        if (i < iv) {
            update(out, old, line, li, p, i + 1);
            out += i + 1;
        } else {
            // The columns before the pivot's, then those after it.
            update(out, old, line, li, p, iv);
            update(out + iv, old + iv + 1, line + iv + 1, li, p, i - iv);
            out += i;
        }
    }
    return all_finite(dst, static_cast<std::size_t>(out - dst));
}

bool step_rows_plain(const double* src, double* dst, const double* line, std::size_t n, std::size_t iv, double p) {
    return step_rows(src, dst, line, n, iv, p);
}

__attribute__((target("avx2"))) bool step_rows_avx2(const double* src, double* dst, const double* line, std::size_t n,
                                                    std::size_t iv, double p) {
    return step_rows(src, dst, line, n, iv, p);
}

// The largest |line[j]| for j other than iv. The bits of magnitudes order
// as the magnitudes do, and an integer maximum vectorises.
double largest_magnitude(const double* line, std::size_t n, std::size_t iv) {
    std::uint64_t most = 0;
    for (std::size_t j = 0; j < n; ++j) {
        std::uint64_t b;
        std::memcpy(&b, &line[j], sizeof b);
        b = j == iv ? 0 : b & 0x7FFFFFFFFFFFFFFFULL;
        most = b > most ? b : most;
    }
    double m;
    std::memcpy(&m, &most, sizeof m);
    return m;
}

// One pivot, on variable v, from src to dst.
void step(const Block& src, Block& dst, std::int32_t v, std::vector<double>& line) {
    dst.fault = src.fault;
    dst.unsure = src.unsure;
    dst.unsure_before_fault = src.unsure_before_fault;
    if (src.fault) return;
    const std::size_t n = src.vars.size();
    const std::size_t iv =
        static_cast<std::size_t>(std::lower_bound(src.vars.begin(), src.vars.end(), v) - src.vars.begin());
    // The pivot line, g(u,v) for every unswept u.
    line.resize(n + kSlack);
    for (std::size_t j = 0; j <= iv; ++j) line[j] = src.a[row_at(iv) + j];
    for (std::size_t j = iv + 1; j < n; ++j) line[j] = src.a[row_at(j) + iv];
    const double p = line[iv];
    auto end_with = [&](Fault f) {
        dst.fault = static_cast<int>(f);
        dst.unsure_before_fault = src.unsure;
    };
    // The pivot first: its reciprocal is the pivot's new value.
    if (p == 0.0) return end_with(Fault::DivideByZero);
    const double q = std::fabs(p);
    if (!std::isfinite(1.0 / q)) return end_with(Fault::Overflow);
    // The pivot column of the unswept rows, g(u,v) / p: computed by the
    // whole sweep, so an overflow there is its fault.
    const double lmax = largest_magnitude(line.data(), n, iv);
    if (!std::isfinite(lmax / q)) return end_with(Fault::Overflow);
    dst.vars.resize(n - 1);
    std::copy_n(src.vars.begin(), iv, dst.vars.begin());
    std::copy(src.vars.begin() + static_cast<std::ptrdiff_t>(iv) + 1, src.vars.end(),
              dst.vars.begin() + static_cast<std::ptrdiff_t>(iv));
    dst.a.resize(row_at(n - 1) + kSlack);
    const bool ok = use_avx2() ? step_rows_avx2(src.a.data(), dst.a.data(), line.data(), n, iv, p)
                               : step_rows_plain(src.a.data(), dst.a.data(), line.data(), n, iv, p);
    if (!ok) return end_with(Fault::Overflow);
    // Bounds of the elements left out, as the whole sweep computes them.
    const double A = src.A, S = src.S;
    dst.S = std::max({S + (A * A) / q, A / q, 1.0 / q});
    dst.A = std::max(A + (A * lmax) / q, lmax / q);
    if (!std::isfinite(dst.S) || !std::isfinite(dst.A)) dst.unsure = true;
}

// Incomplete patterns in the order of their pivot sequences (the observed
// variables, ascending; a sequence before those it begins).
std::vector<std::int32_t> sweep_order(const Run& run) {
    const std::int32_t K = run.K;
    std::vector<std::int32_t> order;
    for (std::int32_t L = 2; L <= run.NPATT; ++L) order.push_back(L);
    std::sort(order.begin(), order.end(), [&](std::int32_t x, std::int32_t y) {
        const std::int32_t* a = run.P.row(x);
        const std::int32_t* b = run.P.row(y);
        return std::lexicographical_compare(a, a + (K - run.P(x, K + 1)), b, b + (K - run.P(y, K + 1)));
    });
    return order;
}

// What one pattern gives: its block, or the fault its sweep ends with.
struct Outcome {
    int fault = 0;
};

// The whole sweep of one pattern's reordered moment matrix, for a pattern
// whose left-out elements might overflow.
void sweep_whole(const Run& run, std::int32_t L, const Mat& moments, double* block, Outcome& out) {
    const std::int32_t K = run.K, m = run.P(L, K + 1);
    Mat G, H;
    G.allocate(0, K, 0, K);
    H.allocate(0, K, 0, K);
    auto var = [&](std::int32_t i) { return i == 0 ? 0 : run.P(L, i); };
    for (std::int32_t i = 0; i <= K; ++i)
        for (std::int32_t j = 0; j <= K; ++j) G(i, j) = moments(var(i), var(j));
    try {
        sweep_pivots(G, H, 0, K - m, K);
    } catch (const RunEnd& e) {
        out.fault = e.number;
        return;
    }
    for (std::int32_t J = K - m + 1; J <= K; ++J)
        for (std::int32_t M = K - m + 1; M <= J; ++M) *block++ = H(J, M);
}

// Sweeps the patterns order[from..to) into their blocks.
void sweep_part(const Run& run, const Mat& moments, const std::vector<std::int32_t>& order, std::size_t from,
                std::size_t to, const std::vector<std::size_t>& at, std::vector<double>& blocks,
                std::vector<Outcome>& outcome) {
    const std::int32_t K = run.K;
    std::vector<Block> depth(static_cast<std::size_t>(K) + 2);
    std::vector<double> line;
    // Depth 0: the whole moment matrix, nothing swept.
    Block& root = depth[0];
    for (std::int32_t v = 0; v <= K; ++v) root.vars.push_back(v);
    for (std::int32_t i = 0; i <= K; ++i)
        for (std::int32_t j = 0; j <= i; ++j) root.a.push_back(moments(i, j));
    root.a.resize(root.a.size() + kSlack);
    std::vector<std::int32_t> seq, prev;  // the pivot sequence, and the one swept before
    for (std::size_t k = from; k < to; ++k) {
        const std::int32_t L = order[k];
        const std::int32_t m = run.P(L, K + 1);
        seq.assign(1, 0);
        for (std::int32_t i = 1; i <= K - m; ++i) seq.push_back(run.P(L, i));
        std::size_t shared = 0;
        while (shared < seq.size() && shared < prev.size() && seq[shared] == prev[shared]) ++shared;
        for (std::size_t d = shared; d < seq.size(); ++d) step(depth[d], depth[d + 1], seq[d], line);
        std::swap(prev, seq);
        const Block& leaf = depth[prev.size()];
        Outcome& out = outcome[static_cast<std::size_t>(L)];
        double* block = blocks.data() + at[static_cast<std::size_t>(L)];
        if (leaf.fault ? leaf.unsure_before_fault : leaf.unsure) {
            sweep_whole(run, L, moments, block, out);
        } else if (leaf.fault) {
            out.fault = leaf.fault;
        } else {
            std::copy_n(leaf.a.begin(), row_at(leaf.vars.size()), block);
        }
    }
}

}  // namespace

void correction(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t M = 0; M <= K; ++M) run.CORR(J, M) = 0.0;
    if (run.NPATT < 2) return;
    build_moments(run);
    const Mat& moments = run.G;
    if (run.plans.sweep_order.empty()) run.plans.sweep_order = sweep_order(run);
    const std::vector<std::int32_t>& order = run.plans.sweep_order;
    // Room for each pattern's block, m(m+1)/2 values.
    std::vector<std::size_t> at(static_cast<std::size_t>(run.NPATT) + 1, 0);
    std::size_t total = 0;
    for (std::int32_t L = 2; L <= run.NPATT; ++L) {
        const auto m = static_cast<std::size_t>(run.P(L, K + 1));
        at[static_cast<std::size_t>(L)] = total;
        total += m * (m + 1) / 2;
    }
    std::vector<double>& blocks = run.plans.sweep_blocks;  // kept from pass to pass
    blocks.resize(total);
    std::vector<Outcome> outcome(static_cast<std::size_t>(run.NPATT) + 1);
    // Contiguous pieces of the sorted list, a few for each thread.
    const std::size_t parts = std::min<std::size_t>(order.size(), static_cast<std::size_t>(thread_count()) * 4);
    run_parts(parts, [&](std::size_t part) {
        sweep_part(run, moments, order, order.size() * part / parts, order.size() * (part + 1) / parts, at, blocks,
                   outcome);
    });
    // The sums over the patterns in ascending order; the first fault ends the run.
    for (std::int32_t L = 2; L <= run.NPATT; ++L) {
        if (int f = outcome[static_cast<std::size_t>(L)].fault) math_fault(static_cast<Fault>(f));
        const std::int32_t m = run.P(L, K + 1);
        const double cases = static_cast<double>(run.P(L, K + 2));
        const double* h = blocks.data() + at[static_cast<std::size_t>(L)];
        for (std::int32_t J = K - m + 1; J <= K; ++J) {
            for (std::int32_t M = K - m + 1; M <= J; ++M) {
                double& c = run.CORR(run.P(L, J), run.P(L, M));
                c = fp::add(fp::mul(fp::mul(cases, *h++), run.CN), c);
            }
        }
    }
}

}  // namespace talvo
