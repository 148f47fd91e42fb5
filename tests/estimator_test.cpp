// The estimator's options that talvo-batch switches on: the singularity
// check, the ridge, the relative stopping rule, the start-value fallback and
// the first fill of a restart. Their defaults are the dialog's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/estimate.h"
#include "estimate/singular.h"

namespace talvo {
namespace {

// N cases of K correlated values, each missing (NaN) with probability
// `rate` after the first `complete` cases.
std::vector<double> sample(std::int32_t N, std::int32_t K, double rate, std::int32_t complete, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> z;
    std::uniform_real_distribution<double> u;
    std::vector<double> v(static_cast<std::size_t>(N) * static_cast<std::size_t>(K));
    for (std::int32_t i = 0; i < N; ++i) {
        const double common = z(gen);
        for (std::int32_t j = 0; j < K; ++j) {
            double& x = v[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
            x = 10.0 * (j + 1) + common + 0.7 * z(gen);
            if (i >= complete && u(gen) < rate) x = NAN;
        }
    }
    return v;
}

double& at(std::vector<double>& v, std::int32_t K, std::int32_t i, std::int32_t j) {
    return v[static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(j)];
}

Estimator batch_estimator() {
    Estimator e;
    e.stop = Estimator::Stop::Relative;
    e.singular_tol = 1e-8;
    e.start_fallback = true;
    e.conditional_first_fill = true;
    return e;
}

Mat matrix(std::initializer_list<std::initializer_list<double>> rows) {
    const auto K = static_cast<std::int32_t>(rows.size());
    Mat C;
    C.allocate(1, K, 1, K);
    std::int32_t i = 1;
    for (auto r : rows) {
        std::int32_t j = 1;
        for (double x : r) C(i, j++) = x;
        ++i;
    }
    return C;
}

TEST(Singularity, ConstantDependentOrNone) {
    // The third variable is the sum of the first two; the fourth is unrelated.
    const Mat sum = matrix({{2, 1, 3, 0.5}, {1, 3, 4, 0}, {3, 4, 7, 0.5}, {0.5, 0, 0.5, 5}});
    const Singularity s = find_singularity(sum, {10, 10, 10, 10}, 1e-8);
    EXPECT_EQ(s.variable, 3);
    EXPECT_FALSE(s.constant);
    EXPECT_EQ(s.related, (std::vector<std::int32_t>{1, 2}));
    EXPECT_LT(std::fabs(s.ratio), 1e-12);

    const Mat flat = matrix({{2, 0}, {0, 1e-20}});
    const Singularity c = find_singularity(flat, {5, 25}, 1e-8);
    EXPECT_EQ(c.variable, 2);
    EXPECT_TRUE(c.constant);

    // r = 0.9: the second variable keeps 1 - 0.81 of its variance.
    const Mat fine = matrix({{1, 0.9}, {0.9, 1}});
    const Singularity n = find_singularity(fine, {2, 2}, 1e-8);
    EXPECT_EQ(n.variable, 0);
    EXPECT_EQ(n.smallest_at, 2);
    EXPECT_NEAR(n.smallest, 0.19, 1e-12);
}

TEST(Singularity, ASumOfColumnsEndsTheRunNamingItsVariables) {
    const std::int32_t N = 200, K = 4;
    std::vector<double> v = sample(N, K, 0.15, 20, 3);
    for (std::int32_t i = 0; i < N; ++i)
        if (!std::isnan(at(v, K, i, 0)) && !std::isnan(at(v, K, i, 1)))
            at(v, K, i, 2) = at(v, K, i, 0) + at(v, K, i, 1);
        else
            at(v, K, i, 2) = NAN;
    EstimateOptions o;
    const EstimateResult dialog = estimate({N, K, v}, o);  // the dialog's passes say nothing
    EXPECT_FALSE(dialog.end && dialog.end->kind == RunEnd::Kind::Degenerate);
    o.estimator = batch_estimator();
    const EstimateResult r = estimate({N, K, v}, o);
    ASSERT_TRUE(r.end);
    EXPECT_EQ(r.end->kind, RunEnd::Kind::Degenerate);
    EXPECT_EQ(r.end->variables, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(r.end->pass, 0);
    EXPECT_NE(r.end->message.find("Variable 3 is a linear function of variables 1, 2"), std::string::npos);
    // A constant variable is named as such.
    for (std::int32_t i = 0; i < N; ++i) at(v, K, i, 2) = 4.0;
    const EstimateResult c = estimate({N, K, v}, o);
    ASSERT_TRUE(c.end);
    EXPECT_TRUE(c.end->constant);
    EXPECT_EQ(c.end->variables, (std::vector<int>{3}));
}

TEST(Singularity, TheCheckChangesNoBit) {
    const std::vector<double> v = sample(300, 5, 0.2, 30, 5);
    EstimateOptions o;
    const EstimateResult plain = estimate({300, 5, v}, o);
    o.estimator.singular_tol = 1e-8;
    const EstimateResult checked = estimate({300, 5, v}, o);
    ASSERT_FALSE(plain.end || checked.end);
    EXPECT_EQ(plain.em.passes, checked.em.passes);
    EXPECT_EQ(std::memcmp(plain.covariances.data(), checked.covariances.data(), 25 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(plain.means.data(), checked.means.data(), 5 * sizeof(double)), 0);
}

TEST(Ridge, ShrinksTheCorrelationsOfCompleteData) {
    const std::int32_t N = 50, K = 3;
    const std::vector<double> v = sample(N, K, 0.0, N, 7);
    EstimateOptions o;
    const EstimateResult plain = estimate({N, K, v}, o);
    o.estimator.ridge = 5.0;
    const EstimateResult ridged = estimate({N, K, v}, o);
    ASSERT_FALSE(plain.end || ridged.end);
    for (std::int32_t j = 0; j < K; ++j) {
        EXPECT_EQ(ridged.means[static_cast<std::size_t>(j)], plain.means[static_cast<std::size_t>(j)]);
        for (std::int32_t l = 0; l < K; ++l) {
            const std::size_t jl = static_cast<std::size_t>(j * K + l);
            const double factor = j == l ? 1.0 : 50.0 / 55.0;
            EXPECT_NEAR(ridged.covariances[jl], plain.covariances[jl] * factor, 1e-12 * plain.covariances[0]);
        }
    }
}

TEST(RelativeRule, ScaledDataTakeTheSamePasses) {
    const std::int32_t N = 400, K = 4;
    const std::vector<double> v = sample(N, K, 0.25, 40, 11);
    EstimateOptions o;
    o.estimator = batch_estimator();
    o.criterion = 1e-6;
    const EstimateResult base = estimate({N, K, v}, o);
    ASSERT_FALSE(base.end);
    EXPECT_TRUE(base.em.converged);
    for (double f : {1e-2, 1e4}) {
        std::vector<double> w = v;
        for (double& x : w) x *= f;
        const EstimateResult r = estimate({N, K, w}, o);
        ASSERT_FALSE(r.end);
        EXPECT_EQ(r.em.passes, base.em.passes) << f;
        for (std::int32_t j = 0; j < K; ++j) {
            const std::size_t jj = static_cast<std::size_t>(j * K + j);
            const double sd = std::sqrt(base.covariances[jj]);
            EXPECT_NEAR(r.means[static_cast<std::size_t>(j)] / f, base.means[static_cast<std::size_t>(j)], 1e-5 * sd);
            for (std::int32_t l = 0; l < K; ++l) {
                const std::size_t jl = static_cast<std::size_t>(j * K + l);
                EXPECT_NEAR(r.covariances[jl] / (f * f), base.covariances[jl], 1e-5 * base.covariances[jj]);
            }
        }
    }
    // The dialog's absolute rule on the same data does depend on the units.
    std::vector<double> hundredth = v;
    for (double& x : hundredth) x *= 1e-2;
    const EstimateResult small = estimate({N, K, hundredth}, EstimateOptions{});
    EXPECT_LT(small.em.passes, base.em.passes);
}

TEST(StartValues, TooFewCompleteCasesStartPairwise) {
    const std::int32_t N = 300, K = 6;
    const std::vector<double> v = sample(N, K, 0.6, 3, 13);
    EstimateOptions o;
    o.estimator = batch_estimator();
    const EstimateResult r = estimate({N, K, v}, o);
    ASSERT_FALSE(r.end) << r.end->message;
    EXPECT_NE(r.start_note, StartNote::None);
    EXPECT_NE(r.start, StartMethod::Listwise);
    EXPECT_TRUE(r.em.converged);
    // Asked for explicitly, the listwise start is kept.
    o.estimator.start_fallback = false;
    o.estimator.lenient_start = true;
    o.max_passes = 3;
    const EstimateResult kept = estimate({N, K, v}, o);
    EXPECT_EQ(kept.start, StartMethod::Listwise);
    EXPECT_EQ(kept.start_note, StartNote::None);
}

TEST(Restart, FromConvergedEstimatesEndsAtOnce) {
    const std::int32_t N = 300, K = 5;
    const std::vector<double> v = sample(N, K, 0.3, 30, 17);
    EstimateOptions o;
    o.estimator = batch_estimator();
    o.criterion = 1e-12;
    o.max_passes = 2000;
    const EstimateResult first = estimate({N, K, v}, o);
    ASSERT_FALSE(first.end);
    ASSERT_TRUE(first.em.converged);
    EstimateOptions again = o;
    again.criterion = 1e-9;
    again.start = StartMethod::File;
    again.start_means = first.means;
    again.start_covariances = first.covariances;
    const EstimateResult restart = estimate({N, K, v}, again);
    ASSERT_FALSE(restart.end);
    EXPECT_TRUE(restart.em.converged);
    EXPECT_LE(restart.em.passes, 2);
    // The dialog's first fill, 0 for the later missing values of a case, moves away.
    again.estimator.conditional_first_fill = false;
    const EstimateResult dialog = estimate({N, K, v}, again);
    EXPECT_GT(dialog.em.passes, restart.em.passes + 3);
}

}  // namespace
}  // namespace talvo
