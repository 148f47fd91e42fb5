// The kernels of the completion step: filling the missing values, and the
// products of the incomplete cases for SS.
#include <algorithm>
#include <cmath>

#include "base/cpu.h"
#include "base/lanes.h"
#include "estimate/estep_parts.h"

namespace talvo::estep {

namespace {

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

    // Fills the cases cases[0..n); false at the first value that overflows.
    bool fill(const std::int32_t* cases, std::size_t n) {
        Stream st[4];
        for (std::size_t r = 0; r < 4; ++r) {
            st[r].next = cases + n * r / 4;
            st[r].end = cases + n * (r + 1) / 4;
            start(st[r]);
        }
        while (st[0].x && st[1].x && st[2].x && st[3].x) {
            double s[4];
            chains(st, s);
            for (std::size_t r = 0; r < 4; ++r)
                if (!store(st[r], s[r])) return false;
        }
        for (Stream& one : st) {
            while (one.x) {
                double s;
                chains<1>(&one, &s);
                if (!store(one, s)) return false;
            }
        }
        return true;
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

    bool store(Stream& st, double s) {
        if (st.corrected) s = s * run_.YHAT + run_.YINT;
        if (!std::isfinite(s)) return false;
        st.x[*st.missing++] = s;
        if (--st.left == 0) start(st);
        return true;
    }
};

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
        load(old, s);
        store(s, reinterpret_cast<Lanes>(reinterpret_cast<Masks>(term) & keep) + old);
    };
    for (std::int32_t M = first; M <= last; M += 4) {
        Lanes v;
        Masks t;
        load(v, x + M);
        load(t, taken + M);
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
            load(v, x + M);
            load(t, taken + M);
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

}  // namespace

bool fill_cases(Run& run, bool attrition, const std::int32_t* cases, std::size_t n) {
    return Filler(run, attrition).fill(cases, n);
}

// Within a case each element takes one product, so the elements may be
// visited in any order: from the pattern's list of products, or else row
// after row from the pattern's missing variables.
void add_products(const Run& run, const EstimationPlans& plans, std::int32_t first, std::int32_t last, std::size_t part,
                  bool lists, const std::int32_t* cases, std::size_t n, ColumnScratch& scratch) {
    const std::int32_t K = run.K;
    const auto width = static_cast<std::size_t>(K) + 1;
    double* sums = scratch.sums.data();
    const std::uint32_t* products = plans.products.data();
    const std::size_t* products_at = plans.products_at.data() + part;
    const std::size_t parts = plans.product_parts;
    if (lists) {
        for (std::size_t c = 0; c < n; ++c) {
            const std::int32_t I = cases[c], L = run.PATT(I);
            const double* x = run.X.row(I);
            const std::size_t k = static_cast<std::size_t>(L - 1) * parts;
            for (const std::uint32_t *t = products + products_at[k], *end = products + products_at[k + 1]; t < end; ++t)
                sums[*t >> 16] = x[(*t >> 8) & 0xFF] * x[*t & 0xFF] + sums[*t >> 16];
        }
        return;
    }
    // Every element of the columns in whole groups of four, a product not
    // taken masked to +0 (see dense_rows), from a case's values, and which
    // are missing, with four zeros after them.
    scratch.own.assign(width + 4, 0.0);
    scratch.taken.assign(width + 4, 0);
    double* own = scratch.own.data();
    std::uint64_t* taken = scratch.taken.data();
    const bool avx2 = use_avx2();
    for (std::size_t c = 0; c < n; ++c) {
        const std::int32_t I = cases[c], L = run.PATT(I);
        const double* x = run.X.row(I);
        const std::uint8_t* seen = run.OBS.row(L) - 1;  // seen[J] for J = 1..K
        for (std::int32_t M = 1; M <= K; ++M) {
            own[M] = x[M];
            taken[M] = seen[M] ? 0 : ~std::uint64_t{0};
        }
        if (avx2)
            dense_rows_avx2(sums, width, own, taken, first, last, K);
        else
            dense_rows_plain(sums, width, own, taken, first, last, K);
    }
}

}  // namespace talvo::estep
