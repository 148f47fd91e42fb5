// The maximum-likelihood estimates and the statistics after them, against
// the reference numbers lavaan gives for public data sets with genuine
// missing values (tests/stats/*.ref, made by tests/stats/make_references.R).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/sequence.h"
#include "estimate/ml.h"
#include "helpers.h"
#include "reference/reference.h"
#include "stats/information.h"
#include "stats/mcar.h"

namespace talvo {
namespace {

std::string folder() { return std::string(TALVO_TESTS) + "/stats/"; }

using Data = testing::CsvData;

Data read_csv(const std::string& name) { return testing::read_r_csv(name); }

// The reference numbers, by key: "loglik", "mean 3", "cov 2 1", "se_mean 3",
// "fmi_cov 2 1", "little", "little_df", "little_p".
std::map<std::string, double> read_reference(const std::string& name) {
    std::ifstream in(folder() + name + ".ref");
    std::map<std::string, double> r;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream s(line);
        std::string key, a, b;
        s >> key;
        if (key == "mean" || key == "se_mean") {
            s >> a;
            key += " " + a;
        } else if (key == "cov" || key == "se_cov") {
            s >> a >> b;
            key += " " + a + " " + b;
        }
        double v, w;
        s >> v;
        r[key] = v;
        if (key.rfind("se_", 0) == 0 && s >> w) r["fmi" + key.substr(2)] = w;
        if (key == "little") {
            double p;
            s >> w >> p;
            r["little_df"] = w;
            r["little_p"] = p;
        }
    }
    return r;
}

// The run up to its start values (listwise, else pairwise), the data in memory.
struct Prepared final : RunSteps {
    Run run;
    const Data& data;
    explicit Prepared(const Data& d) : data(d) {
        run.N = d.N;
        run.K = d.K;
        run.MVI = NAN;
        run.PTN = 20;
        run.MAXITER = 0;
        run.CRIT = kDefaultCrit;
        EXPECT_FALSE(run_estimation(run, *this).end);
    }
    void read_data(Run& r) override { testing::put_values(r, data); }
};

class AgainstLavaan : public ::testing::TestWithParam<const char*> {};

TEST_P(AgainstLavaan, EstimatesLikelihoodStandardErrorsAndLittlesTest) {
    const Data d = read_csv(GetParam());
    const auto ref = read_reference(GetParam());
    Prepared p(d);
    Normal theta = normal_from_sums(p.run);
    MlOptions o;
    o.criterion = 1e-13;
    o.max_passes = 100000;
    o.accelerate = true;
    const MlFacts facts = ml_em(p.run, theta, o);
    ASSERT_TRUE(facts.converged);
    const std::int32_t K = d.K;
    for (std::int32_t j = 1; j <= K; ++j) {
        const double sj = std::sqrt(theta.sigma(j - 1, j - 1));
        EXPECT_NEAR(theta.mean[static_cast<std::size_t>(j - 1)], ref.at("mean " + std::to_string(j)), 1e-8 * sj) << j;
        for (std::int32_t l = 1; l <= j; ++l) {
            const double scale = sj * std::sqrt(theta.sigma(l - 1, l - 1));
            EXPECT_NEAR(theta.sigma(j - 1, l - 1), ref.at("cov " + std::to_string(j) + " " + std::to_string(l)),
                        1e-8 * scale)
                << j << " " << l;
        }
    }
    EXPECT_NEAR(facts.log_likelihood, ref.at("loglik"), 1e-6);

    const PatternCases groups = group_cases(p.run);
    const stats::Precision pr = stats::precision(stats::information(p.run, groups, theta));
    // Fractions of missing information to 1e-5 of their value, and 1e-6 at
    // least: a fraction is 1 - V_complete / V_observed, so the reference's
    // variances, good to a few 1e-7 (its optimizer stops there), leave it
    // that far off near 0 (variables never missing give 0 here).
    ASSERT_TRUE(pr.ok);
    for (std::int32_t j = 1; j <= K; ++j) {
        const std::string key = " " + std::to_string(j);
        const std::size_t i = static_cast<std::size_t>(j - 1);
        EXPECT_NEAR(pr.se[i], ref.at("se_mean" + key), 1e-5 * ref.at("se_mean" + key)) << j;
        EXPECT_NEAR(pr.fmi[i], ref.at("fmi_mean" + key), 1e-5 * std::fabs(ref.at("fmi_mean" + key)) + 1e-6) << j;
        for (std::int32_t l = 1; l <= j; ++l) {
            const std::string pair = " " + std::to_string(j) + " " + std::to_string(l);
            const std::size_t c = stats::covariance_index(K, j - 1, l - 1);
            EXPECT_NEAR(pr.se[c], ref.at("se_cov" + pair), 1e-5 * ref.at("se_cov" + pair)) << pair;
            EXPECT_NEAR(pr.fmi[c], ref.at("fmi_cov" + pair), 1e-5 * std::fabs(ref.at("fmi_cov" + pair)) + 1e-6) << pair;
        }
    }
    // The worst fraction is at least every single one.
    for (double f : pr.fmi) EXPECT_LE(f, pr.worst_fmi + 1e-12);

    const stats::McarTest little = stats::little_test(p.run, groups, theta);
    EXPECT_NEAR(little.d2, ref.at("little"), 1e-8 * ref.at("little"));
    EXPECT_EQ(little.df, static_cast<std::int64_t>(ref.at("little_df")));
    EXPECT_NEAR(little.p, ref.at("little_p"), 1e-6 * ref.at("little_p") + 1e-300);
}

// The sweeps that share their pivots give each pattern the bits of its own
// sweep, whatever the order in which the places are visited, at the start
// values and at the estimates.
TEST_P(AgainstLavaan, SharedSweepsGiveTheBitsOfEachPatternsOwn) {
    const Data d = read_csv(GetParam());
    Prepared p(d);
    const PatternCases groups = group_cases(p.run);
    Normal theta = normal_from_sums(p.run);
    for (int round = 0; round < 2; ++round) {
        SharedSweeps shared(d.K);
        shared.restart(theta);
        Swept a, b;
        for (std::size_t k = 0; k < groups.order.size(); ++k) {
            // Every third place starts over, as a piece of the order does.
            if (k % 3 == 0 && round == 1) shared.restart(theta);
            shared.sweep(p.run, groups, k, a);
            reference::sweep_pattern(p.run, groups.order[k], theta, b);
            ASSERT_EQ(a.var, b.var);
            ASSERT_EQ(a.observed, b.observed);
            ASSERT_EQ(0, std::memcmp(a.a.data(), b.a.data(), a.a.size() * sizeof(double))) << k;
            ASSERT_EQ(a.logdet, b.logdet);
        }
        MlOptions o;
        o.criterion = 1e-6;
        ml_em(p.run, theta, o);
    }
}

INSTANTIATE_TEST_SUITE_P(PublicData, AgainstLavaan,
                         ::testing::Values("airquality", "airquality6", "mammalsleep", "boys"));

// The published anchor: the six air-quality variables give d2 = 35.1 with
// 14 degrees of freedom, p = 0.00142.
TEST(LittlesTest, ThePublishedAirQualityResult) {
    const Data d = read_csv("airquality6");
    Prepared p(d);
    Normal theta = normal_from_sums(p.run);
    MlOptions o;
    o.criterion = 1e-10;
    ml_em(p.run, theta, o);
    const stats::McarTest t = stats::little_test(p.run, group_cases(p.run), theta);
    EXPECT_NEAR(t.d2, 35.1, 0.05);
    EXPECT_EQ(t.df, 14);
    EXPECT_NEAR(t.p, 0.00142, 0.000005);
}

// Plain EM never lowers the likelihood, and SQUAREM reaches the same
// estimates in far fewer passes.
TEST(MaximumLikelihood, TheLikelihoodRisesAndAccelerationAgrees) {
    struct Rising final : PassObserver {
        std::vector<double> ll;
        void pass_checked(const PassReport& r) override { ll.push_back(r.log_likelihood); }
    };
    for (const char* name : {"mammalsleep", "boys"}) {
        const Data d = read_csv(name);
        Prepared a(d), b(d);
        Normal plain = normal_from_sums(a.run), fast = normal_from_sums(b.run);
        Rising seen;
        MlOptions o;
        o.criterion = 1e-8;
        o.max_passes = 100000;
        o.observer = &seen;
        const MlFacts slow = ml_em(a.run, plain, o);
        // Near the maximum the passes change the log-likelihood by less than
        // its rounding.
        for (std::size_t i = 1; i < seen.ll.size(); ++i)
            ASSERT_GE(seen.ll[i], seen.ll[i - 1] - 1e-12 * std::fabs(seen.ll[i])) << name << " pass " << i;
        o.observer = nullptr;
        o.accelerate = true;
        const MlFacts quick = ml_em(b.run, fast, o);
        ASSERT_TRUE(slow.converged && quick.converged);
        EXPECT_LE(3 * quick.passes, slow.passes) << name << ": " << quick.passes << " against " << slow.passes;
        EXPECT_LT(relative_change(plain, fast), 1e-6) << name;
        std::printf("%s: %d passes plain, %d accelerated\n", name, slow.passes, quick.passes);
    }
}

}  // namespace
}  // namespace talvo
