// The fast kernels against their straightforward forms: the same bits in
// every result and the same report when a run ends, with the vector
// kernels built for AVX2 (where the machine has it) and for the plain
// instruction set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

#include "base/cpu.h"
#include "base/threads.h"
#include "estimate/correction.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "estimate/sweep.h"
#include "helpers.h"
#include "missing/coding.h"
#include "reference/reference.h"

namespace talvo {
namespace {

using testing::report_of;
using testing::TestRun;

void expect_same(const Mat& a, const Mat& b, const char* what) {
    for (auto i = a.first_row(); i <= a.last_row(); ++i)
        for (auto j = a.first_col(); j <= a.last_col(); ++j)
            ASSERT_EQ(std::memcmp(&a(i, j), &b(i, j), sizeof(double)), 0)
                << what << "(" << i << "," << j << "): " << a(i, j) << " vs " << b(i, j);
}

// Random data: K correlated variables of varied magnitude, some missing.
std::vector<std::vector<double>> random_cases(std::mt19937_64& gen, int N, int K, double rate) {
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<std::vector<double>> cases(N, std::vector<double>(K));
    for (auto& c : cases) {
        const double common = normal(gen);
        for (int j = 0; j < K; ++j) c[j] = u(gen) < rate ? 9.0 : 20.0 + 3.0 * (common + normal(gen)) * (j + 1) / 3.0;
    }
    return cases;
}

// The vector kernels built for the plain instruction set or the best the
// machine has, on one thread, two or seven.
class Kernels : public ::testing::TestWithParam<std::tuple<bool, int>> {
protected:
    void SetUp() override {
        force_plain_kernels(std::get<0>(GetParam()));
        use_threads(std::get<1>(GetParam()));
    }
    void TearDown() override {
        force_plain_kernels(false);
        use_threads(0);
    }
};

INSTANTIATE_TEST_SUITE_P(PlainAndBest, Kernels, ::testing::Combine(::testing::Bool(), ::testing::Values(1, 2, 7)));

// The checked build runs a smaller sample of the random trials.
#ifdef TALVO_CHECKED_BUILD
constexpr int kTrials = 1, kLargestK = 16;
#else
constexpr int kTrials = 4, kLargestK = 60;
#endif

TEST_P(Kernels, SweepRunsMatchPivotByPivot) {
    std::mt19937_64 gen(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    int faults = 0;
    for (int trial = 0; trial < 25 * kTrials; ++trial) {
        const int K = 1 + static_cast<int>(gen() % 12), rows = K + 1 + static_cast<int>(gen() % 5);
        // A moment matrix from random data; some singular or nearly so: a
        // variable repeated, a constant one, one of tiny scale.
        std::vector<std::vector<double>> data(rows, std::vector<double>(K + 1, 1.0));
        const int odd = 1 + static_cast<int>(gen() % K);
        for (auto& r : data) {
            for (int j = 1; j <= K; ++j) r[j] = normal(gen) * (1 + j) + (trial % 3 == 0 ? r[j - 1] : 0.0);
            if (trial % 5 == 1 && odd > 1) r[odd] = r[odd - 1];
            if (trial % 5 == 2) r[odd] = 3.0;
            if (trial % 5 == 3) r[odd] *= 1e-160;
        }
        Mat G;
        G.allocate(0, K, 0, K);
        for (int i = 0; i <= K; ++i)
            for (int j = 0; j <= i; ++j) {
                double s = 0;
                for (auto& r : data) s += r[i] * r[j];
                G(i, j) = G(j, i) = s / rows;
            }
        Mat H = G, G2 = G, H2 = G;
        const int last = static_cast<int>(gen() % (K + 1)), first = static_cast<int>(gen() % (last + 1));
        std::string a = report_of([&] {
            for (int k = first; k <= last; ++k) sweep(G, H, k, K);
        });
        ASSERT_EQ(a, report_of([&] { sweep_pivots(G2, H2, first, last, K); })) << "trial " << trial;
        faults += !a.empty();
        if (a.empty()) {
            expect_same(G, G2, "G");
            expect_same(H, H2, "H");
        }
    }
    EXPECT_GT(faults, kTrials);  // the faults were exercised too
}

// The coding, the sums and the pattern table (found through an index) give
// those of the straightforward pass and the plain scan of the table.
TEST(Coding, SumsAndPatternsMatch) {
    std::mt19937_64 gen(11);
    for (int trial = 0; trial < 10 * kTrials; ++trial) {
        const int K = 1 + static_cast<int>(gen() % 70), N = 1 + static_cast<int>(gen() % 300);
        auto cases = random_cases(gen, N, K, (gen() % 100) / 100.0);
        TestRun a(cases), b(cases);
        // Small tables must grow.
        a.run.P.allocate(1, 1 + static_cast<int>(gen() % 5), 1, K + 2);
        a.run.OBS.allocate(1, a.run.P.last_row(), 1, K);
        code_and_classify(a.run);
        reference::code_and_classify(b.run);
        expect_same(a.run.X, b.run.X, "X");
        expect_same(a.run.CS, b.run.CS, "CS");
        expect_same(a.run.PS, b.run.PS, "PS");
        ASSERT_EQ(a.run.NPATT, b.run.NPATT) << "trial " << trial;
        for (int i = 0; i <= K; ++i)
            for (int j = 0; j <= K; ++j) ASSERT_EQ(a.run.PSN(i, j), b.run.PSN(i, j));
        for (int L = 1; L <= a.run.NPATT; ++L) {
            for (int j = 1; j <= K + 2; ++j) ASSERT_EQ(a.run.P(L, j), b.run.P(L, j)) << trial << " " << L;
            for (int j = 1; j <= K; ++j) ASSERT_EQ(a.run.OBS(L, j), b.run.OBS(L, j)) << trial << " " << L;
        }
        for (int I = 1; I <= N; ++I) ASSERT_EQ(a.run.PATT(I), b.run.PATT(I));
    }
}

// Data of the kinds that take every path: K up to 60, everything complete,
// a single incomplete pattern, every case a pattern of its own, a repeated
// or a constant variable (zero pivots), variables of wildly different
// scales (overflows, in the elements a sweep keeps and in those it drops).
std::vector<std::vector<double>> data_of_kind(std::mt19937_64& gen, int kind, int& K) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    K = 1 + static_cast<int>(gen() % (kind == 0 ? kLargestK : 12));
    int N = K + 3 + static_cast<int>(gen() % 150);
    if (kind == 3) K = std::max(K, 7), N = 100;  // 100 cases, 100 patterns
    auto cases = random_cases(gen, N, K, kind == 1 ? 0.0 : (gen() % 40) / 100.0);
    const int odd = static_cast<int>(gen() % K);
    for (int i = 0; i < N; ++i) {
        auto& c = cases[static_cast<std::size_t>(i)];
        for (int j = 0; j < K; ++j) {
            if (kind == 2) c[j] = j == odd && i % 3 ? 9.0 : c[j] == 9.0 ? 20.0 : c[j];
            if (kind == 3) c[j] = (i >> j) & 1 && j < 7 ? 9.0 : c[j] == 9.0 ? 20.0 : c[j];
        }
        if (kind == 4 && odd > 0) c[odd] = c[odd - 1] == 9.0 ? 21.0 : c[odd - 1];
        if (kind == 5 && c[odd] != 9.0) c[odd] = 3.0;
    }
    if (kind == 6) {
        std::vector<double> scale(static_cast<std::size_t>(K));
        for (auto& f : scale) f = std::pow(10.0, std::floor(u(gen) * 300.0) - 150.0);
        for (auto& c : cases)
            for (int j = 0; j < K; ++j)
                if (c[j] != 9.0) c[j] = (c[j] - 19.0) * scale[static_cast<std::size_t>(j)];
    }
    return cases;
}

// Whole passes, the program's kernels against the straightforward ones:
// the same bits in X, SS, B, COV and CORR, and the same report when a fault
// ends the run, with and without the attrition correction and the
// completion step's lists of products.
TEST_P(Kernels, WholePassesMatch) {
    std::mt19937_64 gen(13);
    int faults = 0;
    for (int trial = 0; trial < 7 * kTrials; ++trial) {
        int K = 0;
        auto cases = data_of_kind(gen, trial % 7, K);
        TestRun a(cases), b(cases);
        // Every third trial without the completion step's lists of products.
        EstimationPlans plans;
        if (trial % 3 == 0) plans.max_products = 0;
        for (talvo::Run* r : {&a.run, &b.run}) {
            r->BMOD = trial % 2;
            r->YINT = 0.25;
            r->YHAT = 1.5;
            r->SIV = StartMethod::Pairwise;
            code_and_classify(*r);
        }
        Mat none;
        std::string ra = report_of([&] {
            set_sample_constants(a.run);
            start_values(a.run, none);
        });
        ASSERT_EQ(ra, report_of([&] {
                      set_sample_constants(b.run);
                      start_values(b.run, none);
                  }));
        Mat wide = reference::widen(b.run);
        for (int pass = 0; pass < 4 && ra.empty(); ++pass) {
            if (pass > 0) {
                ra = report_of([&] { e_step(a.run, plans); });
                ASSERT_EQ(ra, report_of([&] { reference::e_step(b.run, wide); })) << "trial " << trial;
                if (!ra.empty()) break;
                expect_same(a.run.X, b.run.X, "X");
                expect_same(a.run.SS, b.run.SS, "SS");
            }
            ra = report_of([&] { regressions(a.run); });
            ASSERT_EQ(ra, report_of([&] { reference::regressions(b.run); }));
            if (!ra.empty()) break;
            expect_same(a.run.B, b.run.B, "B");
            expect_same(a.run.COV, b.run.COV, "COV");
            ASSERT_EQ(a.run.MAXDIFF, b.run.MAXDIFF);
            ra = report_of([&] { correction(a.run, plans); });
            ASSERT_EQ(ra, report_of([&] { reference::correction(b.run); })) << "trial " << trial;
            if (ra.empty()) expect_same(a.run.CORR, b.run.CORR, "CORR");
        }
        if (ra.empty()) {  // the final completion, and the predictions of the residuals
            ra = report_of([&] { complete_cases(a.run); });
            ASSERT_EQ(ra, report_of([&] { reference::complete_cases(b.run, wide); }));
            expect_same(a.run.X, b.run.X, "X");
            std::vector<double> four(static_cast<std::size_t>(K)), one(four.size());
            for (std::int32_t I = 1; I <= a.run.N && ra.empty(); ++I) {
                ra = report_of([&] { predictions(a.run, I, four.data()); });
                ASSERT_EQ(ra, report_of([&] {
                              for (std::int32_t J = 1; J <= K; ++J)
                                  one[static_cast<std::size_t>(J - 1)] = prediction(b.run, I, J);
                          }));
                if (ra.empty()) {
                    ASSERT_EQ(0, std::memcmp(four.data(), one.data(), four.size() * sizeof(double)));
                }
            }
            // A chain that ends infinite, in the lanes or in the tail.
            const std::int32_t J = 1 + trial % K;
            a.run.B(J, 0) = b.run.B(J, 0) = INFINITY;
            const std::string infinite = report_of([&] { predictions(a.run, 1, four.data()); });
            ASSERT_EQ(infinite, report_of([&] { prediction(b.run, 1, J); }));
            ASSERT_FALSE(infinite.empty());
        }
        faults += !ra.empty();
    }
    EXPECT_GE(faults, kTrials);  // the faults were exercised too
}

// A pattern whose sweep overflows only in the elements the correction
// leaves out: variable 1 of scale 1e-152 and variable 2 correlated with it
// at .99999 make the swept corner reach 5e308 at the second pivot, while
// the block of the missing variables stays moderate. At .5 nothing
// overflows.
TEST_P(Kernels, AnOverflowInTheLeftOutElementsIsFound) {
    for (double r12 : {0.99999, 0.5}) {
        TestRun a({{1, 1, 1, 1}, {1, 1, 9, 9}}), b({{1, 1, 1, 1}, {1, 1, 9, 9}});
        for (talvo::Run* r : {&a.run, &b.run}) {
            code_and_classify(*r);  // pattern 2 observes variables 1 and 2
            r->CN = 2.0;
            const double s[] = {0.0, 1e-152, 1.0, 1.0, 1.0};
            for (int i = 1; i <= 4; ++i) {
                r->SS(0, i) = 0.0;
                for (int j = 1; j <= i; ++j) {
                    const double rho = i == j ? 1.0 : i == 2 && j == 1 ? r12 : 0.5;
                    r->SS(i, j) = rho * s[i] * s[j] * r->N;
                }
            }
        }
        EstimationPlans plans;
        const std::string ra = report_of([&] { correction(a.run, plans); });
        EXPECT_EQ(ra, report_of([&] { reference::correction(b.run); })) << r12;
        EXPECT_EQ(ra.empty(), r12 == 0.5);
        if (ra.empty()) expect_same(a.run.CORR, b.run.CORR, "CORR");
    }
}

}  // namespace
}  // namespace talvo
