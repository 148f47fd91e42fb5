#include "estimate/correction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/cpu.h"
#include "base/errors.h"
#include "base/fp.h"
#include "base/memory.h"
#include "base/threads.h"
#include "estimate/em.h"
#include "estimate/plans.h"
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

// A row after the pivot's: new[j] as update() gives it, with old[j] and
// line[j] taken one place further on from the pivot's column iv on. line
// here is the pivot line without the pivot: one group of four may straddle
// the pivot's column, and takes its lanes from either side.
[[gnu::always_inline]] inline void update_past(double* out, const double* old, const double* line, double li, double p,
                                               std::size_t n, std::size_t iv) {
    const Lanes l4 = {li, li, li, li}, p4 = {p, p, p, p};
    std::size_t j = 0;
    for (; j + 4 <= iv; j += 4) {
        Lanes o, g;
        std::memcpy(&o, old + j, sizeof o);
        std::memcpy(&g, line + j, sizeof g);
        const Lanes h = o - (l4 * g) / p4;
        std::memcpy(out + j, &h, sizeof h);
    }
    if (j < iv) {
        Lanes before, after, g;
        std::memcpy(&before, old + j, sizeof before);
        std::memcpy(&after, old + j + 1, sizeof after);
        std::memcpy(&g, line + j, sizeof g);
        const double gap = static_cast<double>(iv - j);
        const Lanes lane = {0.0, 1.0, 2.0, 3.0}, edge = {gap, gap, gap, gap};
        const Lanes o = lane < edge ? before : after;
        const Lanes h = o - (l4 * g) / p4;
        std::memcpy(out + j, &h, sizeof h);
        j += 4;
    }
    for (; j < n; j += 4) {
        Lanes o, g;
        std::memcpy(&o, old + j + 1, sizeof o);
        std::memcpy(&g, line + j, sizeof g);
        const Lanes h = o - (l4 * g) / p4;
        std::memcpy(out + j, &h, sizeof h);
    }
}

// The rows of the new block: the old rows and columns without the pivot's,
// at index iv; rest is the pivot line without the pivot. Returns false when
// a value overflows; the block is scratch, checked whole once every row is
// in place.
[[gnu::always_inline]] inline bool step_rows(const double* src, double* dst, const double* rest, std::size_t n,
                                             std::size_t iv, double p) {
    double* out = dst;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == iv) continue;
        const double* old = src + row_at(i);
        const double li = i < iv ? rest[i] : rest[i - 1];
        if (i < iv) {
            update(out, old, rest, li, p, i + 1);
            out += i + 1;
        } else {
            update_past(out, old, rest, li, p, i, iv);
            out += i;
        }
    }
    return all_finite(dst, static_cast<std::size_t>(out - dst));
}

bool step_rows_plain(const double* src, double* dst, const double* rest, std::size_t n, std::size_t iv, double p) {
    return step_rows(src, dst, rest, n, iv, p);
}

__attribute__((target("avx2"))) bool step_rows_avx2(const double* src, double* dst, const double* rest, std::size_t n,
                                                    std::size_t iv, double p) {
    return step_rows(src, dst, rest, n, iv, p);
}

// The largest |v[j]|, for finite v, with v[n..n+3] zero; four running
// maxima side by side.
[[gnu::noinline]] double largest_magnitude(const double* v, std::size_t n) {
    double most[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < n; j += 4)
        for (std::size_t k = 0; k < 4; ++k) most[k] = std::max(most[k], std::fabs(v[j + k]));
    return std::max({most[0], most[1], most[2], most[3]});
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
    // The pivot line without the pivot: g(u,v) for every other unswept u.
    line.resize(n + kSlack);
    double* rest = line.data();
    const double* row = src.a.data() + row_at(iv);
    for (std::size_t j = 0; j < iv; ++j) rest[j] = row[j];
    const double p = row[iv];
    for (std::size_t j = iv + 1; j < n; ++j) rest[j - 1] = src.a[row_at(j) + iv];
    for (std::size_t j = n - 1; j < n - 1 + kSlack; ++j) rest[j] = 0.0;
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
    const double lmax = largest_magnitude(rest, n - 1);
    if (!std::isfinite(lmax / q)) return end_with(Fault::Overflow);
    dst.vars.resize(n - 1);
    std::copy_n(src.vars.begin(), iv, dst.vars.begin());
    std::copy(src.vars.begin() + static_cast<std::ptrdiff_t>(iv) + 1, src.vars.end(),
              dst.vars.begin() + static_cast<std::ptrdiff_t>(iv));
    dst.a.resize(row_at(n - 1) + kSlack);
    const bool ok = use_avx2() ? step_rows_avx2(src.a.data(), dst.a.data(), rest, n, iv, p)
                               : step_rows_plain(src.a.data(), dst.a.data(), rest, n, iv, p);
    if (!ok) return end_with(Fault::Overflow);
    // Bounds of the elements left out, as the whole sweep computes them.
    const double A = src.A, S = src.S;
    dst.S = std::max({S + (A * A) / q, A / q, 1.0 / q});
    dst.A = std::max(A + (A * lmax) / q, lmax / q);
    if (!std::isfinite(dst.S) || !std::isfinite(dst.A)) dst.unsure = true;
}

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

// Sweeps the patterns at places [from, to) of the plan into their blocks.
void sweep_part(const Run& run, const Mat& moments, EstimationPlans::Sweeps& plan, std::size_t from, std::size_t to,
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
    std::vector<std::int32_t> sequence;  // the first place's, which shares nothing here
    for (std::size_t k = from; k < to; ++k) {
        const std::int32_t* steps = plan.steps.data() + plan.steps_at[k];
        std::int32_t shared = steps[0], count = steps[1];
        const std::int32_t* pivots = steps + 2;
        if (k == from && shared > 0) {
            const std::int32_t L = plan.order[k];
            sequence.assign(1, 0);
            for (std::int32_t i = 1; i <= K - run.P(L, K + 1); ++i) sequence.push_back(run.P(L, i));
            pivots = sequence.data();
            count = static_cast<std::int32_t>(sequence.size());
            shared = 0;
        }
        for (std::int32_t d = 0; d < count; ++d)
            step(depth[static_cast<std::size_t>(shared + d)], depth[static_cast<std::size_t>(shared + d) + 1],
                 pivots[d], line);
        const Block& leaf = depth[static_cast<std::size_t>(shared + count)];
        Outcome& out = outcome[k];
        double* block = plan.blocks.data() + plan.blocks_at[k];
        if (leaf.fault ? leaf.unsure_before_fault : leaf.unsure) {
            sweep_whole(run, plan.order[k], moments, block, out);
        } else if (leaf.fault) {
            out.fault = leaf.fault;
        } else {
            std::copy_n(leaf.a.begin(), row_at(leaf.vars.size()), block);
        }
    }
}

}  // namespace

void correction(Run& run, EstimationPlans& plans) {
    const std::int32_t K = run.K;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t M = 0; M <= K; ++M) run.CORR(J, M) = 0.0;
    if (run.NPATT < 2) return;
    build_moments(run);
    const Mat& moments = run.G;
    EstimationPlans::Sweeps& plan = plans.sweeps;
    if (plan.order.empty()) plan_sweeps(run, plan);
    plan.blocks.resize(plan.blocks_at.back());  // kept from pass to pass
    std::vector<Outcome> outcome(plan.order.size());
    // Contiguous pieces of the plan, many for each thread, so that they end
    // together; each piece sweeps its first pattern from the start.
    const std::size_t places = plan.order.size();
    const std::size_t parts = std::min<std::size_t>(places, static_cast<std::size_t>(thread_count()) * 16);
    run_parts(parts, [&](std::size_t part) {
        sweep_part(run, moments, plan, places * part / parts, places * (part + 1) / parts, outcome);
    });
    // The sums over the patterns in ascending order, up to the first that
    // ends in a fault. The blocks lie in the order of the plan: each is
    // asked for from memory a few patterns before it is read. Every term is
    // finite, so an overflow anywhere leaves its sum infinite or not a
    // number to the end: the sums run in a copy, checked once before they
    // are stored, and that overflow comes before the pattern's fault.
    auto place_of = [&](std::int32_t L) { return static_cast<std::size_t>(plan.place[static_cast<std::size_t>(L)]); };
    std::int32_t stop = run.NPATT + 1;
    for (std::int32_t L = 2; L <= run.NPATT && stop > run.NPATT; ++L)
        if (outcome[place_of(L)].fault) stop = L;
    constexpr std::int32_t kAhead = 4;
    auto ask = [&](std::int32_t L) {
        const std::size_t k = place_of(L);
        prefetch(plan.blocks.data() + plan.blocks_at[k], plan.blocks.data() + plan.blocks_at[k + 1]);
    };
    const auto width = static_cast<std::size_t>(K) + 1;
    std::vector<double> sums(width * width, 0.0);
    for (std::int32_t L = 2; L < std::min(2 + kAhead, stop); ++L) ask(L);
    for (std::int32_t L = 2; L < stop; ++L) {
        if (L + kAhead < stop) ask(L + kAhead);
        const std::size_t k = place_of(L);
        const std::int32_t m = run.P(L, K + 1);
        const double cases = static_cast<double>(run.P(L, K + 2));
        const double* h = plan.blocks.data() + plan.blocks_at[k];
        const std::int32_t* var = run.P.row(L) - 1;  // var[J] for J = 1..K
        for (std::int32_t J = K - m + 1; J <= K; ++J) {
            double* row = sums.data() + static_cast<std::size_t>(var[J]) * width;
            for (std::int32_t M = K - m + 1; M <= J; ++M) {
                double& c = row[var[M]];
                c = cases * *h++ * run.CN + c;
            }
        }
    }
    for (double c : sums)
        if (!std::isfinite(c)) math_fault(Fault::Overflow);
    if (stop <= run.NPATT) math_fault(static_cast<Fault>(outcome[place_of(stop)].fault));
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t M = 0; M <= K; ++M)
            run.CORR(J, M) = sums[static_cast<std::size_t>(J) * width + static_cast<std::size_t>(M)];
}

}  // namespace talvo
