#include "estimate/sweep.h"

#include "textio/fp.h"

namespace talvo {

void SWEEP(Mat& G, Mat& H, int KI, int K) {
    const int k = KI;
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

}  // namespace talvo
