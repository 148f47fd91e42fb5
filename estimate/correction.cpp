#include "estimate/correction.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/errors.h"
#include "base/fp.h"
#include "base/memory.h"
#include "base/threads.h"
#include "estimate/correction_parts.h"
#include "estimate/em.h"
#include "estimate/plans.h"
#include "estimate/sweep.h"

namespace talvo {

namespace {

using namespace corr;

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
    if (!step_rows(src.a.data(), dst.a.data(), rest, n, iv, p)) return end_with(Fault::Overflow);
    // Bounds of the elements left out, as the whole sweep computes them.
    const double A = src.A, S = src.S;
    dst.S = std::max({S + (A * A) / q, A / q, 1.0 / q});
    dst.A = std::max(A + (A * lmax) / q, lmax / q);
    if (!std::isfinite(dst.S) || !std::isfinite(dst.A)) dst.unsure = true;
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

// Adds to the rows lo..hi-1 of sums (K + 1 by K + 1) each pattern's block
// times its case count times N/(N-1), the patterns in ascending order up
// to `stop`. The blocks lie in the order of the plan: each is asked for
// from memory a few patterns before it is read.
void add_blocks(const Run& run, const EstimationPlans::Sweeps& plan, std::int32_t stop, std::int32_t lo,
                std::int32_t hi, double* sums) {
    const std::int32_t K = run.K;
    const auto width = static_cast<std::size_t>(K) + 1;
    auto place_of = [&](std::int32_t L) { return static_cast<std::size_t>(plan.place[static_cast<std::size_t>(L)]); };
    constexpr std::int32_t kAhead = 4;
    auto ask = [&](std::int32_t L) {
        const std::size_t k = place_of(L);
        prefetch(plan.blocks.data() + plan.blocks_at[k], plan.blocks.data() + plan.blocks_at[k + 1]);
    };
    for (std::int32_t L = 2; L < std::min(2 + kAhead, stop); ++L) ask(L);
    for (std::int32_t L = 2; L < stop; ++L) {
        if (L + kAhead < stop) ask(L + kAhead);
        const std::int32_t m = run.P(L, K + 1);
        const double cases = static_cast<double>(run.P(L, K + 2));
        const std::int32_t* var = run.P.row(L) - 1;  // var[J] for J = 1..K; the missing ones ascending
        // The rows of the block whose variables lie in lo..hi-1.
        std::int32_t J = K - m + 1, end = K + 1;
        while (J <= K && var[J] < lo) ++J;
        for (std::int32_t E = J; E <= K; ++E)
            if (var[E] >= hi) {
                end = E;
                break;
            }
        const auto a = static_cast<std::size_t>(J - (K - m + 1));
        const double* h = plan.blocks.data() + plan.blocks_at[place_of(L)] + row_at(a);
        for (; J < end; ++J) {
            double* row = sums + static_cast<std::size_t>(var[J]) * width;
            for (std::int32_t M = K - m + 1; M <= J; ++M) {
                double& c = row[var[M]];
                c = cases * *h++ * run.CN + c;
            }
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
    // ends in a fault. Every term is
    // finite, so an overflow anywhere leaves its sum infinite or not a
    // number to the end: the sums run in a copy, checked once before they
    // are stored, and that overflow comes before the pattern's fault.
    auto place_of = [&](std::int32_t L) { return static_cast<std::size_t>(plan.place[static_cast<std::size_t>(L)]); };
    std::int32_t stop = run.NPATT + 1;
    for (std::int32_t L = 2; L <= run.NPATT && stop > run.NPATT; ++L)
        if (outcome[place_of(L)].fault) stop = L;
    const auto width = static_cast<std::size_t>(K) + 1;
    std::vector<double> sums(width * width, 0.0);
    // Each sum in one part: the rows of the sums are split between the
    // threads, in ranges of about the same number of elements.
    const std::size_t shares =
        std::min<std::size_t>(static_cast<std::size_t>(thread_count()), static_cast<std::size_t>(K));
    std::vector<std::int32_t> from_row(shares + 1, K + 1);
    from_row[0] = 1;
    for (std::size_t part = 1; part < shares; ++part) {
        // Row V holds V elements; the first `part` shares of them.
        const double share =
            static_cast<double>(K) * (K + 1) / 2 * static_cast<double>(part) / static_cast<double>(shares);
        double below = 0;
        std::int32_t V = 1;
        for (; V <= K && below + V <= share; ++V) below += V;
        from_row[part] = std::max(from_row[part - 1], V);
    }
    run_parts(shares,
              [&](std::size_t part) { add_blocks(run, plan, stop, from_row[part], from_row[part + 1], sums.data()); });
    for (double c : sums)
        if (!std::isfinite(c)) math_fault(Fault::Overflow);
    if (stop <= run.NPATT) math_fault(static_cast<Fault>(outcome[place_of(stop)].fault));
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t M = 0; M <= K; ++M)
            run.CORR(J, M) = sums[static_cast<std::size_t>(J) * width + static_cast<std::size_t>(M)];
}

}  // namespace talvo
