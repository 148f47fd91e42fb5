// The fast kernels against their straightforward forms: the same bits in
// every result and the same report when a run ends, with the vector
// kernels built for AVX2 (where the machine has it) and for the plain
// instruction set.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/cpu.h"
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

class Kernels : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { force_plain_kernels(GetParam()); }
    void TearDown() override { force_plain_kernels(false); }
};

INSTANTIATE_TEST_SUITE_P(PlainAndBest, Kernels, ::testing::Values(true, false));

TEST_P(Kernels, SweepRunsMatchPivotByPivot) {
    std::mt19937_64 gen(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    int faults = 0;
    for (int trial = 0; trial < 300; ++trial) {
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
        const int last = static_cast<int>(gen() % (K + 1));
        std::string a = report_of([&] {
            for (int k = 0; k <= last; ++k) sweep(G, H, k, K);
        });
        ASSERT_EQ(a, report_of([&] { sweep_pivots(G2, H2, last, K); })) << "trial " << trial;
        faults += !a.empty();
        if (a.empty()) {
            expect_same(G, G2, "G");
            expect_same(H, H2, "H");
        }
    }
    EXPECT_GT(faults, 10);  // the faults were exercised too
}

// The coding, the sums and the pattern table (found through an index) give
// those of the straightforward pass and the plain scan of the table.
TEST_P(Kernels, CodingSumsAndPatternsMatch) {
    std::mt19937_64 gen(11);
    for (int trial = 0; trial < 40; ++trial) {
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

TEST_P(Kernels, CompletionAndCorrectionMatchOverWholeRuns) {
    std::mt19937_64 gen(13);
    for (int trial = 0; trial < 30; ++trial) {
        const int K = 1 + static_cast<int>(gen() % 12), N = K + 3 + static_cast<int>(gen() % 200);
        auto cases = random_cases(gen, N, K, (gen() % 40) / 100.0);
        TestRun a(cases), b(cases);
        for (talvo::Run* r : {&a.run, &b.run}) {
            r->BMOD = trial % 2;  // the attrition correction
            r->YINT = 0.25;
            r->YHAT = 1.5;
            r->SIV = 2;
            code_and_classify(*r);
        }
        std::string ra = report_of([&] { start_values(a.run); });
        ASSERT_EQ(ra, report_of([&] { start_values(b.run); }));
        // Pass 0 from the start values, then passes of completion step,
        // regressions and correction, fast against straightforward.
        for (int pass = 0; pass < 5 && ra.empty(); ++pass) {
            if (pass > 0) {
                ra = report_of([&] { e_step(a.run); });
                ASSERT_EQ(ra, report_of([&] { reference::e_step(b.run); }));
                if (!ra.empty()) break;
                expect_same(a.run.X, b.run.X, "X");
                expect_same(a.run.SS, b.run.SS, "SS");
            }
            ra = report_of([&] {
                regressions(a.run);
                correction(a.run);
            });
            ASSERT_EQ(ra, report_of([&] {
                          regressions(b.run);
                          reference::correction(b.run);
                      }));
            for (auto [x, y, what] : {std::tuple{&a.run.B, &b.run.B, "B"},
                                      {&a.run.CORR, &b.run.CORR, "CORR"},
                                      {&a.run.G, &b.run.G, "G"},
                                      {&a.run.H, &b.run.H, "H"}})
                if (ra.empty()) expect_same(*x, *y, what);
        }
    }
}

}  // namespace
}  // namespace talvo
