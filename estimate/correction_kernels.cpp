// The kernels of the correction's sweeps, built for the plain instruction
// set and for AVX2 from the same inline code.
#include <algorithm>
#include <cmath>

#include "base/cpu.h"
#include "base/lanes.h"
#include "estimate/correction_parts.h"

namespace talvo::corr {

namespace {

// new[j] = old[j] - (li * line[j]) / p for j in [0, n), rounded up to a
// whole group of four, as the whole sweep computes g(j,l) - (g(j,k) * g(k,l)) / p.
// The values of [0, n) that are not finite are marked in bad.
[[gnu::always_inline]] inline void update(double* out, const double* old, const double* line, double li, double p,
                                          std::size_t n, Masks& bad) {
    const Lanes l4 = {li, li, li, li}, p4 = {p, p, p, p};
    for (std::size_t j = 0; j < n; j += 4) {
        Lanes o, g;
        load(o, old + j);
        load(g, line + j);
        const Lanes h = o - (l4 * g) / p4;
        store(out + j, h);
        mark_not_finite(bad, h, n - j);
    }
}

// A row after the pivot's: new[j] as update() gives it, with old[j] and
// line[j] taken one place further on from the pivot's column iv on. line
// here is the pivot line without the pivot: one group of four may straddle
// the pivot's column, and takes its lanes from either side.
[[gnu::always_inline]] inline void update_past(double* out, const double* old, const double* line, double li, double p,
                                               std::size_t n, std::size_t iv, Masks& bad) {
    const Lanes l4 = {li, li, li, li}, p4 = {p, p, p, p};
    std::size_t j = 0;
    for (; j + 4 <= iv; j += 4) {
        Lanes o, g;
        load(o, old + j);
        load(g, line + j);
        const Lanes h = o - (l4 * g) / p4;
        store(out + j, h);
        mark_not_finite(bad, h, n - j);
    }
    if (j < iv) {
        Lanes before, after, g;
        load(before, old + j);
        load(after, old + j + 1);
        load(g, line + j);
        const double gap = static_cast<double>(iv - j);
        const Lanes lane = {0.0, 1.0, 2.0, 3.0}, edge = {gap, gap, gap, gap};
        const Lanes o = lane < edge ? before : after;
        const Lanes h = o - (l4 * g) / p4;
        store(out + j, h);
        mark_not_finite(bad, h, n - j);
        j += 4;
    }
    for (; j < n; j += 4) {
        Lanes o, g;
        load(o, old + j + 1);
        load(g, line + j);
        const Lanes h = o - (l4 * g) / p4;
        store(out + j, h);
        mark_not_finite(bad, h, n - j);
    }
}

// The rows of the new block: the old rows and columns without the pivot's,
// at index iv; rest is the pivot line without the pivot. Returns false when
// a value overflows. Each row's values are checked as they are computed;
// what is computed past a row's end is not.
[[gnu::always_inline]] inline bool new_rows(const double* src, double* dst, const double* rest, std::size_t n,
                                            std::size_t iv, double p) {
    double* out = dst;
    Masks bad = {0, 0, 0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        if (i == iv) continue;
        const double* old = src + row_at(i);
        const double li = i < iv ? rest[i] : rest[i - 1];
        if (i < iv) {
            update(out, old, rest, li, p, i + 1, bad);
            out += i + 1;
        } else {
            update_past(out, old, rest, li, p, i, iv, bad);
            out += i;
        }
    }
    return none_marked(bad);
}

bool step_rows_plain(const double* src, double* dst, const double* rest, std::size_t n, std::size_t iv, double p) {
    return new_rows(src, dst, rest, n, iv, p);
}

__attribute__((target("avx2"))) bool step_rows_avx2(const double* src, double* dst, const double* rest, std::size_t n,
                                                    std::size_t iv, double p) {
    return new_rows(src, dst, rest, n, iv, p);
}

}  // namespace

bool step_rows(const double* src, double* dst, const double* rest, std::size_t n, std::size_t iv, double p) {
    return use_avx2() ? step_rows_avx2(src, dst, rest, n, iv, p) : step_rows_plain(src, dst, rest, n, iv, p);
}

// Four running maxima side by side.
double largest_magnitude(const double* v, std::size_t n) {
    double most[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < n; j += 4)
        for (std::size_t k = 0; k < 4; ++k) most[k] = std::max(most[k], std::fabs(v[j + k]));
    return std::max({most[0], most[1], most[2], most[3]});
}

}  // namespace talvo::corr
