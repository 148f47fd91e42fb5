#include "estimate/singular.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/errors.h"
#include "estimate/em.h"

namespace talvo {

Singularity find_singularity(const Mat& C, const std::vector<double>& meansq, double tol) {
    Singularity s;
    const auto K = static_cast<std::int32_t>(meansq.size());
    const auto k = static_cast<std::size_t>(K);
    std::vector<double> a(k * k), var(k);
    auto at = [&](std::int32_t i, std::int32_t j) -> double& {
        return a[static_cast<std::size_t>(i) * k + static_cast<std::size_t>(j)];
    };
    for (std::int32_t i = 0; i < K; ++i) {
        for (std::int32_t j = 0; j <= i; ++j) {
            const double c = C(i + 1, j + 1);
            if (!std::isfinite(c)) return s;
            at(i, j) = at(j, i) = c;
        }
        var[static_cast<std::size_t>(i)] = at(i, i);
        if (!std::isfinite(meansq[static_cast<std::size_t>(i)])) return s;
    }
    for (std::int32_t i = 0; i < K; ++i) {
        const double v = var[static_cast<std::size_t>(i)], m = meansq[static_cast<std::size_t>(i)];
        if (v <= kConstantTol * m) {
            s.variable = i + 1;
            s.constant = true;
            s.ratio = m > 0.0 ? v / m : 0.0;
            return s;
        }
    }
    // The sweep in variable order: after the pivots 0..q-1, at(p, q) for
    // p < q is the weight of variable p in the regression of q on them, and
    // at(q, q) the part of q's variance they leave.
    for (std::int32_t q = 0; q < K; ++q) {
        const double vq = var[static_cast<std::size_t>(q)];
        const double pivot = at(q, q);
        const double ratio = pivot / vq;
        if (!std::isfinite(ratio)) return Singularity{};
        if (ratio < tol) {
            s.variable = q + 1;
            s.ratio = ratio;
            double largest = 0.0;
            std::vector<double> weight(static_cast<std::size_t>(q));
            for (std::int32_t p = 0; p < q; ++p) {
                const double w = std::fabs(at(p, q)) * std::sqrt(var[static_cast<std::size_t>(p)] / vq);
                weight[static_cast<std::size_t>(p)] = w;
                if (w > largest) largest = w;
            }
            // Weights at the size of the part of the variance left are noise.
            const double floor = std::max(kNamedWeight * largest, ratio > 0.0 ? 10.0 * std::sqrt(ratio) : 0.0);
            for (std::int32_t p = 0; p < q; ++p)
                if (largest > 0.0 && weight[static_cast<std::size_t>(p)] >= floor) s.related.push_back(p + 1);
            return s;
        }
        if (s.smallest_at == 0 || ratio < s.smallest) {
            s.smallest = ratio;
            s.smallest_at = q + 1;
        }
        for (std::int32_t i = 0; i < K; ++i) {
            if (i == q) continue;
            for (std::int32_t j = 0; j <= i; ++j) {
                if (j == q) continue;
                at(i, j) = at(i, j) - (at(i, q) * at(q, j)) / pivot;
                at(j, i) = at(i, j);
            }
        }
        for (std::int32_t i = 0; i < K; ++i) {
            if (i == q) continue;
            at(i, q) = at(i, q) / pivot;
            at(q, i) = at(i, q);
        }
        at(q, q) = -1.0 / pivot;
    }
    if (K == 1) s.smallest_at = 0;
    return s;
}

Singularity check_sums(const Run& run, double tol) {
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    Mat C;
    C.allocate(1, K, 1, K);
    std::vector<double> meansq(static_cast<std::size_t>(K));
    for (std::int32_t I = 1; I <= K; ++I) {
        const double mi = run.SS(0, I) / n;
        meansq[static_cast<std::size_t>(I - 1)] = run.SS(I, I) / n;
        for (std::int32_t J = 1; J <= I; ++J) {
            const double mj = run.SS(0, J) / n;
            // As the regressions see it: the moments of build_moments, swept
            // on the constant.
            C(I, J) = ridged_moment(run, run.SS(I, J) / n, mi, mj, I == J) - mi * mj;
        }
    }
    return find_singularity(C, meansq, tol);
}

Singularity check_estimate(const Run& run, double tol) {
    const std::int32_t K = run.K;
    Mat C;
    C.allocate(1, K, 1, K);
    std::vector<double> meansq(static_cast<std::size_t>(K));
    for (std::int32_t I = 1; I <= K; ++I) {
        meansq[static_cast<std::size_t>(I - 1)] = run.COV(I, I) + run.COV(0, I) * run.COV(0, I);
        for (std::int32_t J = 1; J <= I; ++J) C(I, J) = run.COV(I, J);
    }
    return find_singularity(C, meansq, tol);
}

void end_degenerate(const Run&, const Singularity& s, std::int32_t pass) {
    RunEnd end;
    end.kind = RunEnd::Kind::Degenerate;
    end.constant = s.constant;
    end.ratio = s.ratio;
    end.pass = pass;
    end.variables.push_back(s.variable);
    for (std::int32_t v : s.related) end.variables.push_back(v);
    const std::string when = pass == 0 ? "at the start values" : "at pass " + std::to_string(pass);
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.2g", s.ratio);
    if (s.constant) {
        end.message = "Variable " + std::to_string(s.variable) + " does not vary " + when +
                      "; the covariances are singular; aborting...";
    } else {
        std::string others;
        for (std::int32_t v : s.related) others += (others.empty() ? "" : ", ") + std::to_string(v);
        end.message = "Variable " + std::to_string(s.variable) + " is a linear function of variable" +
                      (s.related.size() == 1 ? " " : "s ") + others + " " + when +
                      " (the part of its variance they leave: " + ratio +
                      "); the covariances are singular; aborting...";
    }
    throw end;
}

}  // namespace talvo
