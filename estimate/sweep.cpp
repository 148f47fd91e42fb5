#include "estimate/sweep.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/cpu.h"
#include "base/fp.h"
#include "base/lanes.h"

namespace talvo {

void sweep(Mat& G, Mat& H, int k, int K) {
    const double pivot = G(k, k);
    // The pivot first: a zero pivot faults here, as a division by zero.
    H(k, k) = -fp::div(1.0, pivot);
    // The lower triangle row by row, each value mirrored, so H is exactly
    // symmetric. The product of the two pivot-line elements is formed before
    // the division: (a * b) / p rounds differently from a * (b / p).
    for (int j = 0; j <= K; ++j) {
        for (int l = 0; l <= j; ++l) {
            double h;
            if (j == k && l == k) {
                continue;
            } else if (j == k) {
                h = fp::div(G(l, k), pivot);
            } else if (l == k) {
                h = fp::div(G(j, k), pivot);
            } else {
                h = fp::sub(G(j, l), fp::div(fp::mul(G(j, k), G(k, l)), pivot));
            }
            H(j, l) = h;
            H(l, j) = h;
        }
    }
    for (int j = 0; j <= K; ++j)
        for (int l = 0; l <= K; ++l) G(j, l) = H(j, l);
}

namespace {

// One row of the lower triangle, columns [from, to): each element
// g(j,l) - (g(j,k) * g(k,l)) / p, as in sweep.
[[gnu::always_inline]] inline void update_row(double* __restrict out, const double* __restrict gj,
                                              const double* __restrict gk, double gjk, double pivot, int from, int to) {
    for (int l = from; l < to; ++l) out[l] = gj[l] - (gjk * gk[l]) / pivot;
}

// Pivot line: g(l,k) / p for l in [from, to).
[[gnu::always_inline]] inline void divide_row(double* __restrict out, const double* __restrict gk, double pivot,
                                              int from, int to) {
    for (int l = from; l < to; ++l) out[l] = gk[l] / pivot;
}

// One pivot step from src to dst, (K+1) x (K+1) row-major, on the lower
// triangle only (an exactly symmetric matrix is held by it). The pivot
// line, g(l,k) for every l, is gathered first so that every row is one
// contiguous loop. Each row's values are checked before they are stored.
[[gnu::always_inline]] inline void step(const double* src, double* dst, double* row, double* line, int k, int n) {
    const std::size_t kn = static_cast<std::size_t>(k) * n;
    for (int l = 0; l <= k; ++l) line[l] = src[kn + l];
    for (int l = k + 1; l < n; ++l) line[l] = src[static_cast<std::size_t>(l) * n + k];
    const double pivot = line[k];
    const double hkk = -fp::div(1.0, pivot);
    for (int j = 0; j < n; ++j) {
        const double* gj = src + static_cast<std::size_t>(j) * n;
        const double gjk = line[j];
        if (j == k) {
            divide_row(row, line, pivot, 0, k);
            row[k] = hkk;
        } else if (j < k) {
            update_row(row, gj, line, gjk, pivot, 0, j + 1);
        } else {
            update_row(row, gj, line, gjk, pivot, 0, k);
            row[k] = gjk / pivot;
            update_row(row, gj, line, gjk, pivot, k + 1, j + 1);
        }
        // With a non-zero pivot and finite operands only an overflow can
        // give a value that is not finite.
        if (!all_finite(row, static_cast<std::size_t>(j) + 1)) math_fault(Fault::Overflow);
        std::memcpy(dst + static_cast<std::size_t>(j) * n, row, sizeof(double) * static_cast<std::size_t>(j + 1));
    }
}

void step_plain(const double* src, double* dst, double* row, double* line, int k, int n) {
    step(src, dst, row, line, k, n);
}

__attribute__((target("avx2"))) void step_avx2(const double* src, double* dst, double* row, double* line, int k,
                                               int n) {
    step(src, dst, row, line, k, n);
}

}  // namespace

void sweep_pivots(Mat& G, Mat& H, int first, int last, int K) {
    const std::size_t n = static_cast<std::size_t>(K) + 1;
    auto* const kernel = use_avx2() ? step_avx2 : step_plain;
    std::vector<double> work(2 * n);
    double* a = G.row(0);
    double* b = H.row(0);
    for (int k = first; k <= last; ++k) {
        kernel(a, b, work.data(), work.data() + n, k, static_cast<int>(n));
        std::swap(a, b);
    }
    // The result, in a, mirrored to the full matrix; G and H both hold it,
    // as after sweep.
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t l = 0; l < j; ++l) a[l * n + j] = a[j * n + l];
    std::memcpy(b, a, sizeof(double) * n * n);
}

}  // namespace talvo
