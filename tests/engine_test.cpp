// The estimation as a library call: what a caller gives and gets back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "base/threads.h"
#include "engine/estimate.h"
#include "helpers.h"

namespace talvo {
namespace {

// N cases of K correlated values, about a fifth of them missing (NaN), at
// most `most` missing in a case.
std::vector<double> sample(std::int32_t N, std::int32_t K, int most, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> z;
    std::uniform_real_distribution<double> u;
    std::vector<double> v(static_cast<std::size_t>(N) * static_cast<std::size_t>(K));
    for (std::int32_t i = 0; i < N; ++i) {
        const double common = z(gen);
        int missing = 0;
        for (std::int32_t j = 0; j < K; ++j) {
            double& x = v[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
            x = 10.0 * (j + 1) + common + 0.5 * z(gen);
            if (i > 2 * K && missing < most && u(gen) < 0.2) {
                x = NAN;
                ++missing;
            }
        }
    }
    return v;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

struct Recorder final : PassObserver {
    std::vector<PassReport> passes;
    void pass_checked(const PassReport& r) override { passes.push_back(r); }
};

TEST(Estimate, MissingValuesAsNotANumberOrAsACode) {
    std::vector<double> v = sample(300, 5, 3, 1);
    Recorder seen;
    EstimateOptions o;
    o.observer = &seen;
    const EstimateResult nan = estimate({300, 5, v}, o);
    ASSERT_FALSE(nan.end);
    EXPECT_TRUE(nan.em.converged);
    EXPECT_GT(nan.patterns, 5);
    // The observer saw every pass from the start values on, and the facts agree with it.
    ASSERT_EQ(seen.passes.size(), static_cast<std::size_t>(nan.em.passes) + 1);
    for (std::size_t p = 0; p < seen.passes.size(); ++p) EXPECT_EQ(seen.passes[p].pass, static_cast<std::int32_t>(p));
    EXPECT_EQ(seen.passes.back().largest_change, nan.em.last_change);
    EXPECT_LT(nan.em.last_change, o.criterion);
    EXPECT_GE(seen.passes[seen.passes.size() - 2].largest_change, o.criterion);

    for (double& x : v)
        if (std::isnan(x)) x = -99.25;
    o.observer = nullptr;
    const EstimateResult code = estimate({300, 5, v, -99.0}, o);
    EXPECT_TRUE(same_bits(nan.means, code.means));
    EXPECT_TRUE(same_bits(nan.covariances, code.covariances));
    EXPECT_EQ(nan.em.passes, code.em.passes);
}

TEST(Estimate, TheSameBitsOnAnyNumberOfThreads) {
    const std::vector<double> v = sample(2000, 12, 6, 2);
    EstimateOptions o;
    o.max_passes = 30;
    use_threads(1);
    const EstimateResult one = estimate({2000, 12, v}, o);
    for (int threads : {2, 7}) {
        use_threads(threads);
        const EstimateResult many = estimate({2000, 12, v}, o);
        EXPECT_TRUE(same_bits(one.means, many.means)) << threads;
        EXPECT_TRUE(same_bits(one.covariances, many.covariances)) << threads;
        EXPECT_EQ(one.em.passes, many.em.passes);
    }
    use_threads(0);
}

TEST(Estimate, ARestartFromConvergedEstimatesEndsAtOnce) {
    // At most one value missing in a case: the first pass fills every one
    // from the given estimates.
    const std::vector<double> v = sample(400, 4, 1, 3);
    EstimateOptions o;
    o.criterion = 1e-10;
    const EstimateResult first = estimate({400, 4, v}, o);
    ASSERT_TRUE(first.em.converged);
    EXPECT_GT(first.em.passes, 5);
    o.start = StartMethod::File;
    o.start_means = first.means;
    o.start_covariances = first.covariances;
    const EstimateResult again = estimate({400, 4, v}, o);
    ASSERT_TRUE(again.em.converged);
    EXPECT_LE(again.em.passes, 2);
    for (std::size_t i = 0; i < first.covariances.size(); ++i)
        EXPECT_NEAR(again.covariances[i], first.covariances[i], 1e-8 * std::fabs(first.covariances[i]));
}

TEST(Estimate, MaximumLikelihoodWithAndWithoutAcceleration) {
    const std::vector<double> v = sample(500, 6, 4, 6);
    EstimateOptions o;
    o.estimator.method = Estimator::Method::MaximumLikelihood;
    o.criterion = 1e-10;
    o.max_passes = 10000;
    Recorder seen;
    o.observer = &seen;
    const EstimateResult plain = estimate({500, 6, v}, o);
    o.observer = nullptr;
    // Plain EM of maximum likelihood never lowers the log-likelihood (beyond its rounding).
    for (std::size_t i = 1; i < seen.passes.size(); ++i)
        EXPECT_GE(seen.passes[i].log_likelihood,
                  seen.passes[i - 1].log_likelihood - 1e-12 * std::fabs(seen.passes[i].log_likelihood))
            << i;
    o.estimator.accelerate = true;
    const EstimateResult fast = estimate({500, 6, v}, o);
    o.estimator.divisor_n_minus_1 = true;
    const EstimateResult rescaled = estimate({500, 6, v}, o);
    ASSERT_FALSE(plain.end || fast.end || rescaled.end);
    EXPECT_TRUE(plain.em.converged && fast.em.converged);
    EXPECT_LT(fast.em.passes, plain.em.passes);
    EXPECT_NEAR(fast.log_likelihood, plain.log_likelihood, 1e-9 * std::fabs(plain.log_likelihood));
    for (std::size_t i = 0; i < plain.covariances.size(); ++i) {
        EXPECT_NEAR(fast.covariances[i], plain.covariances[i], 1e-7 * std::fabs(plain.covariances[i]) + 1e-12);
        EXPECT_NEAR(rescaled.covariances[i], fast.covariances[i] * 500.0 / 499.0, 1e-12 * std::fabs(fast.covariances[i]));
    }
    // The legacy estimator's covariances (divisor N - 1, a correction scaled
    // by N/(N-1)) differ from the maximum-likelihood ones.
    const EstimateResult legacy = estimate({500, 6, v}, {});
    EXPECT_TRUE(std::isnan(legacy.log_likelihood));
    EXPECT_NE(legacy.covariances[0], plain.covariances[0]);
}

TEST(Estimate, WhatEndsARunComesBackAsItsReport) {
    // A constant variable: its pivot is zero.
    std::vector<double> v = sample(50, 3, 1, 4);
    for (std::size_t i = 0; i < 50; ++i) v[i * 3 + 1] = 7.0;
    const EstimateResult constant = estimate({50, 3, v}, {});
    ASSERT_TRUE(constant.end);
    EXPECT_EQ(report_text(*constant.end), testing::fault_report(6103, "divide by zero"));
    EXPECT_TRUE(constant.means.empty());

    const EstimateResult few = estimate({50, 4, v}, {});
    ASSERT_TRUE(few.end);
    EXPECT_EQ(few.end->message, "The data hold 150 values, not N x K; aborting...");

    EstimateOptions given;
    given.start = StartMethod::File;
    const EstimateResult none = estimate({50, 3, sample(50, 3, 1, 5)}, given);
    ASSERT_TRUE(none.end);
    EXPECT_EQ(none.end->message, "Start values need 3 means and 3 x 3 covariances; aborting...");

    const EstimateResult one = estimate({1, 3, std::vector<double>{1, 2, 3}}, {});
    ASSERT_TRUE(one.end);
    EXPECT_EQ(report_text(*one.end), testing::fault_report(6103, "divide by zero"));
}

}  // namespace
}  // namespace talvo
