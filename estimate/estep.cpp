#include "estimate/estep.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <thread>
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

// The incomplete cases in stretches, each filled once, by whichever part
// comes to it first, while the parts add up the stretches before it: a
// stretch is still in cache when the other parts read it.
constexpr std::size_t kStretch = 2048;
enum : std::uint8_t { kWaiting, kFilling, kFilled, kFailed };

class Stretches {
public:
    Stretches(Run& run, const std::vector<std::int32_t>& order)
        : run_(run), order_(order), state_((order.size() + kStretch - 1) / kStretch) {}

    std::size_t count() const { return state_.size(); }
    const std::int32_t* cases(std::size_t c) const { return order_.data() + c * kStretch; }
    std::size_t size(std::size_t c) const { return std::min(kStretch, order_.size() - c * kStretch); }

    // True once stretch c is filled. A part that finds it being filled
    // fills one of the next few meanwhile. False when a part found an
    // overflow (its fault ends the run).
    bool ready(std::size_t c) {
        for (int round = 0;; ++round) {
            const std::uint8_t now = state_[c].load();
            if (now == kFilled || now == kFailed) return now == kFilled;
            bool helped = false;
            for (std::size_t d = c; d < std::min(c + kAhead, count()) && !helped; ++d) helped = fill(d);
            if (!helped && round >= 64) std::this_thread::yield();
        }
    }

private:
    static constexpr std::size_t kAhead = 4;

    // Fills stretch c if no part has begun it.
    bool fill(std::size_t c) {
        std::uint8_t now = kWaiting;
        if (!state_[c].compare_exchange_strong(now, kFilling)) return false;
        const bool ok = estep::fill_cases(run_, true, cases(c), size(c));
        state_[c].store(ok ? kFilled : kFailed);
        if (!ok) math_fault(Fault::Overflow);
        return true;
    }

    Run& run_;
    const std::vector<std::int32_t>& order_;
    std::vector<std::atomic<std::uint8_t>> state_;
};

// The columns first..last of SS (and SS(0,J) for J among them), each
// element a sum over the incomplete cases in ascending order of the
// products of a missing variable with the variables before it or after
// it. The sums run in a copy of those columns: an overflow leaves its sum
// infinite or not a number to the end, so the copy is checked once, when
// every case is in, before it is stored into SS. No sum is ever -0, so
// adding 0 changes none.
void add_columns(Run& run, const EstimationPlans& plans, std::int32_t first, std::int32_t last, std::size_t part,
                 bool lists, Stretches& stretches) {
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
    for (std::size_t c = 0; c < stretches.count(); ++c) {
        if (!stretches.ready(c)) return;
        estep::add_products(run, plans, first, last, part, lists, stretches.cases(c), stretches.size(c), scratch);
    }
    each([&](std::int32_t J, std::int32_t M) {
        if (!(std::fabs(at(J, M)) <= DBL_MAX)) math_fault(Fault::Overflow);
    });
    each([&](std::int32_t J, std::int32_t M) { run.SS(J, M) = at(J, M); });
}

}  // namespace

void e_step(Run& run, EstimationPlans& plans) {
    const std::int32_t K = run.K;
    clear_sums(run);
    if (plans.fill_order.empty() && run.NPATT > 1) plans.fill_order = estep::fill_order(run);
    // Each element of SS is a sum over the cases in ascending order: the
    // columns are split between the threads, never the cases, in ranges of
    // about the same number of elements. Each case is filled on its own,
    // once, before any part reads it.
    const std::size_t parts =
        std::min<std::size_t>(static_cast<std::size_t>(thread_count()), static_cast<std::size_t>(K));
    const std::vector<std::int32_t> bound = estep::split_columns(K, parts);
    const bool lists = estep::make_products(run, plans, parts, bound);
    Stretches stretches(run, plans.fill_order);
    run_parts(parts, [&](std::size_t part) {
        add_columns(run, plans, bound[part], bound[part + 1] - 1, part, lists, stretches);
    });
    merge(run);
}

void complete_cases(Run& run) {
    const std::vector<std::int32_t> order = estep::fill_order(run);
    // Each case on its own: pieces of the incomplete cases on the threads.
    const std::size_t pieces = std::min<std::size_t>(order.size(), static_cast<std::size_t>(thread_count()) * 8);
    run_parts(pieces, [&](std::size_t part) {
        const std::size_t from = order.size() * part / pieces, to = order.size() * (part + 1) / pieces;
        if (!estep::fill_cases(run, false, order.data() + from, to - from)) math_fault(Fault::Overflow);
    });
}

}  // namespace talvo
