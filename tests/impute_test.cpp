// Multiple imputation by data augmentation: the data sets are the same bits
// with 1, 2 and 7 threads and on every run, another seed draws others, only
// missing values are drawn, the parameter draws have their posterior's
// moments, the pooled means come near the maximum-likelihood ones, and
// Rubin's rules give their textbook numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/threads.h"
#include "engine/sequence.h"
#include "estimate/augment.h"
#include "helpers.h"
#include "stats/pool.h"

namespace talvo {
namespace {

using Data = testing::CsvData;

Data read_csv(const std::string& name) { return testing::read_r_csv(name); }

// The maximum-likelihood run of the data in memory.
struct Estimated final : RunSteps {
    talvo::Run run;
    RunOutcome out;
    const Data& data;
    explicit Estimated(const Data& d) : data(d) {
        run.N = d.N;
        run.K = d.K;
        run.MVI = NAN;
        run.PTN = 20;
        run.MAXITER = 2000;
        run.CRIT = 1e-10;
        run.EST.method = Estimator::Method::MaximumLikelihood;
        run.EST.stop = Estimator::Stop::Relative;
        out = run_estimation(run, *this);
        EXPECT_FALSE(out.end);
    }
    void read_data(Run& r) override { testing::put_values(r, data); }
};

// Every data set's values and every parameter draw, as they come.
struct Record final : AugmentObserver {
    std::vector<std::vector<double>> sets;
    std::vector<Normal> draws;
    void parameters_drawn(std::int32_t, const Normal& theta) override { draws.push_back(theta); }
    void data_set(std::int32_t, const Run& run) override {
        std::vector<double> x;
        for (std::int32_t I = 1; I <= run.N; ++I)
            for (std::int32_t J = 1; J <= run.K; ++J) x.push_back(run.X(I, J));
        sets.push_back(std::move(x));
    }
};

Record chain(const Data& d, const AugmentOptions& options) {
    Estimated e(d);
    Record r;
    augment(e.run, group_cases(e.run), e.out.theta, options, &r);
    return r;
}

AugmentOptions short_chain(std::uint64_t seed) {
    AugmentOptions o;
    o.sets = 3;
    o.burn_in = 10;
    o.between = 5;
    o.seed = seed;
    return o;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(Impute, SameBitsWithAnyThreadsAndOnEveryRun) {
    const Data d = read_csv("airquality6");
    use_threads(1);
    const Record one = chain(d, short_chain(1));
    ASSERT_EQ(one.sets.size(), 3u);
    ASSERT_EQ(one.draws.size(), static_cast<std::size_t>(data_set_pass(short_chain(1), 3) - 1));
    for (int threads : {1, 2, 7}) {
        use_threads(threads);
        const Record other = chain(d, short_chain(1));
        for (std::size_t m = 0; m < 3; ++m) EXPECT_TRUE(same_bits(one.sets[m], other.sets[m])) << threads;
        for (std::size_t p = 0; p < one.draws.size(); ++p) {
            EXPECT_TRUE(same_bits(one.draws[p].cov, other.draws[p].cov)) << threads;
            EXPECT_TRUE(same_bits(one.draws[p].mean, other.draws[p].mean)) << threads;
        }
    }
    use_threads(0);
}

TEST(Impute, OnlyMissingValuesAreDrawnAndSeedsDiffer) {
    const Data d = read_csv("airquality6");
    const Record a = chain(d, short_chain(1)), b = chain(d, short_chain(2));
    std::size_t missing = 0;
    for (std::size_t i = 0; i < d.values.size(); ++i) {
        if (std::isnan(d.values[i])) {
            ++missing;
            // Drawn afresh in every set, and under every seed.
            EXPECT_NE(a.sets[0][i], a.sets[1][i]);
            EXPECT_NE(a.sets[0][i], b.sets[0][i]);
            EXPECT_TRUE(std::isfinite(a.sets[2][i]));
        } else {
            for (const auto& set : a.sets) EXPECT_EQ(set[i], d.values[i]);
        }
    }
    EXPECT_EQ(missing, 44u);  // 37 Ozone, 7 Solar.R
}

TEST(Impute, ParameterDrawsHaveThePosteriorMoments) {
    // Complete data: every pass draws from the same posterior, whose
    // covariance has the mean A / (N - K - 2) (the inverse-Wishart with
    // N - 1 degrees of freedom) and whose means have the variance
    // E(sigma_jj) / N about the sample means.
    Data d;
    d.N = 30;
    d.K = 2;
    for (int i = 0; i < d.N; ++i) {
        const double a = std::sin(i * 1.3), b = std::cos(i * 0.7);
        d.values.push_back(a);
        d.values.push_back(0.5 * a + b);
    }
    AugmentOptions o;
    o.sets = 1;
    o.burn_in = 20000;
    const Record r = chain(d, o);
    Estimated e(d);
    std::vector<double> sums;
    const Normal est = augment_parts::complete_estimates(e.run, sums);
    const double n = static_cast<double>(r.draws.size());
    for (std::int32_t j = 0; j < 2; ++j) {
        for (std::int32_t l = 0; l <= j; ++l) {
            double s = 0.0;
            for (const Normal& t : r.draws) s += t.sigma(j, l);
            const double expected = sums[static_cast<std::size_t>(j * 2 + l)] / (d.N - d.K - 2);
            EXPECT_NEAR(s / n, expected, 0.03 * std::sqrt(expected * expected + 0.1)) << j << "," << l;
        }
        double m = 0.0, v = 0.0;
        for (const Normal& t : r.draws) m += t.mean[static_cast<std::size_t>(j)];
        m /= n;
        for (const Normal& t : r.draws) v += std::pow(t.mean[static_cast<std::size_t>(j)] - m, 2);
        v /= n - 1.0;
        const double sjj = sums[static_cast<std::size_t>(j * 3)] / (d.N - d.K - 2);
        EXPECT_NEAR(m, est.mean[static_cast<std::size_t>(j)], 4 * std::sqrt(sjj / d.N / n));
        EXPECT_NEAR(v, sjj / d.N, 0.05 * sjj / d.N);
    }
}

TEST(Impute, PooledMeansNearTheMaximumLikelihoodOnes) {
    const Data d = read_csv("airquality6");
    AugmentOptions o;
    o.sets = 20;
    o.burn_in = 50;
    o.between = 20;
    Estimated e(d);
    const Normal ml = e.out.theta;
    const AugmentFacts f = augment(e.run, group_cases(e.run), ml, o, nullptr);
    ASSERT_EQ(f.complete.size(), 20u);
    const std::vector<stats::Pooled> p = stats::pool_normal(f.complete, d.N);
    for (std::int32_t j = 0; j < d.K; ++j) {
        const stats::Pooled& q = p[static_cast<std::size_t>(j)];
        EXPECT_NEAR(q.estimate, ml.mean[static_cast<std::size_t>(j)], 0.5 * q.se) << j;
        // Ozone and Solar.R have missing values, and so a share of missing information.
        if (j < 2) {
            EXPECT_GT(q.fmi, 0.05) << j;
        } else {
            EXPECT_LT(q.between, 1e-20 * q.within) << j;  // observed: the same in every set
        }
    }
}

TEST(Impute, RefusedWithoutMoreCasesThanVariablesUnlessRidged) {
    // The check comes before any draw: the run needs its sizes only.
    talvo::Run run;
    run.N = 3;
    run.K = 3;
    AugmentOptions o;
    try {
        augment(run, PatternCases{}, Normal(3), o, nullptr);
        FAIL();
    } catch (const RunEnd& end) {
        EXPECT_NE(end.message.find("3 cases and 3 variables"), std::string::npos) << end.message;
    }
    // On real data the ridge prior draws other data sets.
    const Data d = read_csv("airquality6");
    AugmentOptions ridged = short_chain(1);
    ridged.ridge = 5.0;
    const Record a = chain(d, short_chain(1)), b = chain(d, ridged);
    EXPECT_FALSE(same_bits(a.sets[0], b.sets[0]));
}

// Against independent implementations: the pooled means and covariances
// (divisor N) of 200 data sets agree with those of Amelia (bootstrap EM)
// and jomo (a Gibbs sampler) within their Monte Carlo error: the
// difference within 4 standard errors of the difference, each program's
// error the standard deviation of its 200 estimates over sqrt(200)
// (tests/impute/*.ref, made by tests/impute/make_references.R). The three
// priors differ a little; with 200 data sets that stays inside the bound on
// these data sets of 153 and 748 cases (on 62 cases of 9 variables it does
// not: there the prior matters).
TEST(Impute, PooledEstimatesAgreeWithAmeliaAndJomo) {
    for (const char* name : {"airquality", "boys"}) {
        const Data d = read_csv(name);
        Estimated e(d);
        AugmentOptions o;
        o.sets = 200;
        o.seed = 7;
        const AugmentFacts facts = augment(e.run, group_cases(e.run), e.out.theta, o, nullptr);
        const std::int32_t K = d.K;
        const std::size_t q = static_cast<std::size_t>(K) + static_cast<std::size_t>(K) * (K + 1) / 2;
        // Each set's parameters in the order of the reference: the means,
        // then the covariances row after row.
        std::vector<double> sum(q, 0.0), squares(q, 0.0);
        for (const Normal& t : facts.complete) {
            std::size_t i = 0;
            auto add = [&](double v) {
                sum[i] += v;
                squares[i++] += v * v;
            };
            for (std::int32_t j = 0; j < K; ++j) add(t.mean[static_cast<std::size_t>(j)]);
            for (std::int32_t j = 0; j < K; ++j)
                for (std::int32_t l = 0; l <= j; ++l) add(t.sigma(j, l));
        }
        const double M = static_cast<double>(facts.complete.size());
        std::ifstream in(std::string(TALVO_TESTS) + "/impute/" + name + ".ref");
        int compared = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream f(line);
            std::string program, kind;
            int j = 0, l = 0;
            f >> program >> kind >> j;
            if (kind == "cov") f >> l;
            double estimate = 0.0, mcse = 0.0;
            f >> estimate >> mcse;
            const std::size_t i = kind == "mean"
                                      ? static_cast<std::size_t>(j - 1)
                                      : static_cast<std::size_t>(K) +
                                            static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(j) / 2 +
                                            static_cast<std::size_t>(l - 1);
            const double ours = sum[i] / M;
            const double variance = (squares[i] / M - ours * ours) * M / (M - 1);
            const double our_se = std::sqrt(std::max(0.0, variance) / M);
            const double bound = 4.0 * std::sqrt(our_se * our_se + mcse * mcse) + 1e-9 * std::fabs(estimate);
            EXPECT_NEAR(ours, estimate, bound) << name << " " << program << " " << kind << " " << j << " " << l;
            ++compared;
        }
        EXPECT_EQ(compared, static_cast<int>(2 * q)) << name;
    }
}

TEST(Pool, RubinsRulesWithTheSmallSampleDegreesOfFreedom) {
    const stats::Pooled p = stats::pool({1, 2, 3}, {0.5, 0.5, 0.5}, 10.0);
    EXPECT_DOUBLE_EQ(p.estimate, 2.0);
    EXPECT_DOUBLE_EQ(p.within, 0.5);
    EXPECT_DOUBLE_EQ(p.between, 1.0);
    EXPECT_DOUBLE_EQ(p.total, 1.8333333333333333);
    EXPECT_DOUBLE_EQ(p.riv, 2.6666666666666665);
    EXPECT_DOUBLE_EQ(p.lambda, 0.7272727272727273);
    EXPECT_NEAR(p.df, 1.4330833004342678, 1e-13);
    EXPECT_NEAR(p.fmi, 0.8077084206116464, 1e-13);  // nu_old = 3.78125
    // No spread between the sets: the complete-data degrees of freedom, corrected.
    const stats::Pooled same = stats::pool({2, 2}, {1, 1}, 10.0);
    EXPECT_DOUBLE_EQ(same.df, 11.0 / 13.0 * 10.0);
    EXPECT_DOUBLE_EQ(same.lambda, 0.0);
    EXPECT_EQ(same.fmi, 0.0);
}

}  // namespace
}  // namespace talvo
