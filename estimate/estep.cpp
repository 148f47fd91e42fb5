#include "estimate/estep.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/cpu.h"
#include "base/fp.h"
#include "base/threads.h"
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

// Filling a case's missing values from the regressions, in ascending
// order, so variables before J hold this pass's values and missing ones
// after it still the previous pass's. Each value is a chain of products
// and sums of finite numbers; an overflow anywhere in it leaves the end of
// the chain infinite or not a number, so the chain is checked once, at its
// end, before the value is stored.
//
// The cases are independent: four streams of cases, each going through its
// own stretch of them, fill one value each side by side, so that the four
// chains run at once.
class Filler {
public:
    // With the attrition correction where the run has it switched on.
    Filler(Run& run, bool attrition) : run_(run), K_(run.K), attrition_(attrition && run.BMOD == 1) {}

    // Fills the cases cases[0..n).
    void fill(const std::int32_t* cases, std::size_t n) {
        Stream st[4];
        for (std::size_t r = 0; r < 4; ++r) {
            st[r].next = cases + n * r / 4;
            st[r].end = cases + n * (r + 1) / 4;
            start(st[r]);
        }
        while (st[0].x && st[1].x && st[2].x && st[3].x) {
            double s[4];
            chains(st, s);
            for (std::size_t r = 0; r < 4; ++r) store(st[r], s[r]);
        }
        for (Stream& one : st) {
            while (one.x) {
                double s;
                chains<1>(&one, &s);
                store(one, s);
            }
        }
    }

private:
    struct Stream {
        const std::int32_t* next = nullptr;  // the cases still to come
        const std::int32_t* end = nullptr;
        double* x = nullptr;  // the case being filled, null when none is left
        const std::int32_t* missing = nullptr;
        std::int32_t left = 0;   // its missing values not yet filled
        bool corrected = false;  // one missing value and the attrition correction
    };

    Run& run_;
    const std::int32_t K_;
    const bool attrition_;

    void start(Stream& st) {
        st.x = nullptr;
        if (st.next == st.end) return;
        const std::int32_t I = *st.next++, L = run_.PATT(I);
        st.x = run_.X.row(I);
        st.left = run_.P(L, K_ + 1);
        st.missing = run_.P.row(L) + (K_ - st.left);
        st.corrected = attrition_ && st.left == 1;
    }

    // The chains of the next missing value of each stream.
    template <int lanes = 4>
    void chains(const Stream* st, double* s) const {
        const double* b[lanes];
        std::int32_t J[lanes];
        for (int r = 0; r < lanes; ++r) {
            J[r] = *st[r].missing;
            b[r] = run_.B.row(J[r]);
            s[r] = 0.0;
        }
        for (std::int32_t M = 0; M <= K_ - 1; ++M)
            for (int r = 0; r < lanes; ++r) s[r] = b[r][M] * st[r].x[M < J[r] ? M : M + 1] + s[r];
    }

    void store(Stream& st, double s) {
        if (st.corrected) s = s * run_.YHAT + run_.YINT;
        if (!std::isfinite(s)) math_fault(Fault::Overflow);
        st.x[*st.missing++] = s;
        if (--st.left == 0) start(st);
    }
};

// The incomplete cases in ascending order.
std::vector<std::int32_t> fill_order(const Run& run) {
    std::vector<std::int32_t> order;
    for (std::int32_t I = 1; I <= run.N; ++I)
        if (run.PATT(I) != 1) order.push_back(I);
    return order;
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

// Four doubles, and four masks of their bits.
typedef double Lanes __attribute__((vector_size(32)));
typedef std::uint64_t Masks __attribute__((vector_size(32)));

// One case's products in the columns first..last of the sums, row after
// row: sums(0,M) takes x[M] and sums(J,M), M <= J, takes x[M] * x[J] where
// M or J is missing (taken[] all ones), else +0, which leaves a sum as it
// is (no sum is ever -0). Rows run in whole groups of four: the lanes past
// an element's column or row are masked to +0, are products with the zeros
// after x (+0 or -0, which leave a sum as it is too), or fall on elements
// of the copy that are never stored (above the diagonal, or columns of
// another part).
[[gnu::always_inline]] inline void dense_rows(double* sums, std::size_t width, const double* x,
                                              const std::uint64_t* taken, std::int32_t first, std::int32_t last,
                                              std::int32_t K) {
    auto add = [](double* s, const Lanes& term, const Masks& keep) {
        Lanes old;
        std::memcpy(&old, s, sizeof old);
        const Lanes h = reinterpret_cast<Lanes>(reinterpret_cast<Masks>(term) & keep) + old;
        std::memcpy(s, &h, sizeof h);
    };
    for (std::int32_t M = first; M <= last; M += 4) {
        Lanes v;
        Masks t;
        std::memcpy(&v, x + M, sizeof v);
        std::memcpy(&t, taken + M, sizeof t);
        add(sums + M, v, t);
    }
    for (std::int32_t J = first; J <= K; ++J) {
        const double xj = x[J];
        const Lanes j4 = {xj, xj, xj, xj};
        const std::uint64_t tj = taken[J];
        const Masks t4 = {tj, tj, tj, tj};
        double* row = sums + static_cast<std::size_t>(J) * width;
        for (std::int32_t M = first, to = std::min(J, last); M <= to; M += 4) {
            Lanes v;
            Masks t;
            std::memcpy(&v, x + M, sizeof v);
            std::memcpy(&t, taken + M, sizeof t);
            add(row + M, v * j4, t | t4);
        }
    }
}

void dense_rows_plain(double* sums, std::size_t width, const double* x, const std::uint64_t* taken, std::int32_t first,
                      std::int32_t last, std::int32_t K) {
    dense_rows(sums, width, x, taken, first, last, K);
}

__attribute__((target("avx2"))) void dense_rows_avx2(double* sums, std::size_t width, const double* x,
                                                     const std::uint64_t* taken, std::int32_t first, std::int32_t last,
                                                     std::int32_t K) {
    dense_rows(sums, width, x, taken, first, last, K);
}

// The columns first..last of SS (and SS(0,J) for J among them), each
// element a sum over the incomplete cases in ascending order of the
// products of a missing variable with the variables before it or after
// it. Within a case each element takes one product, so the elements may be
// visited in any order: from the pattern's list of products (`part`), or
// else row after row from the pattern's missing variables. The sums
// run in a copy of those columns: an overflow leaves its sum infinite or
// not a number to the end, so the copy is checked once, when every case is
// in, before it is stored into SS. No sum is ever -0, so adding 0 changes
// none.
void add_columns(Run& run, const EstimationPlans& plans, std::int32_t first, std::int32_t last, std::size_t part, bool lists) {
    const std::int32_t N = run.N, K = run.K;
    const auto width = static_cast<std::size_t>(K) + 1;
    std::vector<double> sums(width * width + 4);
    auto at = [&](std::int32_t J, std::int32_t M) -> double& {
        return sums[static_cast<std::size_t>(J) * width + static_cast<std::size_t>(M)];
    };
    auto each = [&](auto visit) {
        for (std::int32_t J = 0; J <= K; ++J)
            for (std::int32_t M = first; M <= std::min(J == 0 ? K : J, last); ++M) visit(J, M);
    };
    each([&](std::int32_t J, std::int32_t M) { at(J, M) = run.SS(J, M); });
    const std::uint32_t* products = plans.products.data();
    const std::size_t* products_at = plans.products_at.data() + part;
    const std::size_t parts = plans.product_parts;
    // A case's values, and which are missing, with four zeros after them.
    std::vector<double> own(width + 4, 0.0);
    std::vector<std::uint64_t> taken(width + 4, 0);
    for (std::int32_t I = 1; I <= N; ++I) {
        const std::int32_t L = run.PATT(I);
        if (L == 1) continue;
        const double* x = run.X.row(I);
        if (lists) {
            const std::size_t k = static_cast<std::size_t>(L - 1) * parts;
            for (const std::uint32_t *t = products + products_at[k], *end = products + products_at[k + 1]; t < end; ++t)
                sums[*t >> 16] = x[(*t >> 8) & 0xFF] * x[*t & 0xFF] + sums[*t >> 16];
            continue;
        }
        // Every element of the columns in whole groups of four, a product
        // not taken masked to +0: see dense_rows.
        const std::uint8_t* seen = run.OBS.row(L) - 1;  // seen[J] for J = 1..K
        for (std::int32_t M = 1; M <= K; ++M) {
            own[static_cast<std::size_t>(M)] = x[M];
            taken[static_cast<std::size_t>(M)] = seen[M] ? 0 : ~std::uint64_t{0};
        }
        if (use_avx2())
            dense_rows_avx2(sums.data(), width, own.data(), taken.data(), first, last, K);
        else
            dense_rows_plain(sums.data(), width, own.data(), taken.data(), first, last, K);
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
    // Each case is filled on its own: pieces of the incomplete cases on the
    // threads.
    if (plans.fill_order.empty() && run.NPATT > 1) plans.fill_order = fill_order(run);
    const std::vector<std::int32_t>& order = plans.fill_order;
    const std::size_t pieces = std::min<std::size_t>(order.size(), static_cast<std::size_t>(thread_count()) * 8);
    run_parts(pieces, [&](std::size_t part) {
        const std::size_t from = order.size() * part / pieces, to = order.size() * (part + 1) / pieces;
        Filler(run, true).fill(order.data() + from, to - from);
    });
    // Each element of SS is a sum over the cases in ascending order: the
    // columns are split between the threads, never the cases, in ranges of
    // about the same number of elements.
    const std::size_t parts =
        std::min<std::size_t>(static_cast<std::size_t>(thread_count()), static_cast<std::size_t>(K));
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
    const bool lists = make_products(run, plans, parts, bound);
    run_parts(parts, [&](std::size_t part) { add_columns(run, plans, bound[part], bound[part + 1] - 1, part, lists); });
    merge(run);
}

void complete_cases(Run& run) {
    const std::vector<std::int32_t> order = fill_order(run);
    // Each case on its own: pieces of the incomplete cases on the threads.
    const std::size_t pieces = std::min<std::size_t>(order.size(), static_cast<std::size_t>(thread_count()) * 8);
    run_parts(pieces, [&](std::size_t part) {
        const std::size_t from = order.size() * part / pieces, to = order.size() * (part + 1) / pieces;
        Filler(run, false).fill(order.data() + from, to - from);
    });
}

}  // namespace talvo
