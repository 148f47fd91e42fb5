// The sweep operator, start values, the completion step and the EM loop on
// the worked examples. Expected values are written as the IEEE operations
// the formulas prescribe, so every check is exact.
#include <gtest/gtest.h>

#include <fstream>

#include "app/intake.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "estimate/sweep.h"
#include "helpers.h"
#include "missing/coding.h"

namespace talvo {
namespace {

using testing::fault_report;
using testing::report_of;
using testing::TestRun;
using Rows = std::vector<std::vector<double>>;

Mat matrix(const Rows& rows) {
    Mat m;
    const int K = static_cast<int>(rows.size()) - 1;
    m.allocate(0, K, 0, K);
    for (int i = 0; i <= K; ++i)
        for (int j = 0; j <= K; ++j) m(i, j) = rows[i][j];
    return m;
}

Rows rows_of(const Mat& m) {
    Rows r;
    for (auto i = m.first_row(); i <= m.last_row(); ++i) {
        r.emplace_back();
        for (auto j = m.first_col(); j <= m.last_col(); ++j) r.back().push_back(m(i, j));
    }
    return r;
}

TEST(Sweep, ExamplesAndAZeroPivot) {
    Mat G = matrix({{1, 2, 3}, {2, 5, 7}, {3, 7, 11}}), H = matrix({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    sweep(G, H, 0, 2);
    EXPECT_EQ(rows_of(H), (Rows{{-1, 2, 3}, {2, 1, 1}, {3, 1, 2}}));  // means 2, 3; variances 1, 2; covariance 1
    EXPECT_EQ(rows_of(G), rows_of(H));
    sweep(G, H, 1, 2);
    EXPECT_EQ(rows_of(H), (Rows{{-5, 2, 1}, {2, -1, 1}, {1, 1, 1}}));  // intercept 1, slope 1, residual variance 1
    // The product of the pivot-line elements before the division; exact symmetry.
    Mat A = matrix({{1, 0.1, 0.7}, {0.1, 0.3, 0.11}, {0.7, 0.11, 1.3}}), B = A;
    sweep(A, B, 1, 2);
    EXPECT_EQ(B(2, 0), 0.7 - (0.11 * 0.1) / 0.3);
    EXPECT_EQ(B(0, 2), B(2, 0));
    EXPECT_EQ(B(1, 1), -(1 / 0.3));
    Mat Z = matrix({{1, 2}, {2, 4}}), W = Z;
    sweep(Z, W, 0, 1);  // leaves the variance 0
    EXPECT_EQ(report_of([&] { sweep(Z, W, 1, 1); }), fault_report(6103, "divide by zero"));
}

void analyse(Run& r) { code_and_classify(r); }

// The start values as a run makes them; a start-value file is read first.
void start(Run& r) {
    set_sample_constants(r);
    Mat SVC;
    SVC.allocate(0, r.K, 1, r.K);
    if (r.SIV == StartMethod::File) read_start_file(r.SVFIN, r.K, SVC);
    start_values(r, SVC);
}

TEST(StartValues, PairwiseFactorsAreWholeNumberQuotients) {
    // N = 10, eight complete cases, variable 1 observed in one incomplete case: 10 div 9 = 1.
    Rows cases(8, {1.0, 1.0});
    cases.push_back({2.0, 9.0});
    cases.push_back({9.0, 9.0});
    TestRun t(cases);
    t.run.SIV = StartMethod::Pairwise;
    analyse(t.run);
    start(t.run);
    EXPECT_EQ(t.run.SS(0, 1), (2.0 + 8.0) * 1.0);
    // No complete case: the listwise choice becomes pairwise; variable 1
    // observed in 4 of 10 cases gives 10 div 4 = 2, a pair in 2 cases 5.
    TestRun u(
        {{1, 5, 9}, {2, 9, 5}, {3, 5, 9}, {4, 9, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5}});
    analyse(u.run);
    start(u.run);
    EXPECT_EQ(u.run.SIV, StartMethod::Pairwise);
    EXPECT_EQ((std::vector<double>{u.run.SS(0, 1), u.run.SS(1, 1), u.run.SS(0, 2), u.run.SS(2, 1), u.run.SS(3, 2)}),
              (std::vector<double>{10.0 * 2.0, 30.0 * 2.0, 40.0 * 1.0, 20.0 * 5.0, 150.0 * 1.0}));
}

TEST(StartValues, PairwiseStopsWhereNoCaseObservesAVariableOrAPair) {
    TestRun t({{1, 9}, {9, 1}, {2, 9}}), u({{9, 1}, {9, 2}});
    for (TestRun* x : {&t, &u}) {
        x->run.SIV = StartMethod::Pairwise;
        analyse(x->run);
    }
    EXPECT_EQ(report_of([&] { start(t.run); }),
              "No pairwise start values: variables 1 and 2 are never observed together; aborting...");
    EXPECT_EQ(report_of([&] { start(u.run); }), "No pairwise start values: variable 1 is never observed; aborting...");
}

class FileStart : public testing::InTempDir {};

TEST_F(FileStart, TheExampleFileAndASlash) {
    for (const char* text : {"4 3\n3 9\n1 2\n", "4\n   -777\n3,9 12345\n1 2 3\n", "4 3\n/\n1 2\n"}) {
        std::ofstream("start.cov") << text;
        TestRun t(Rows(11, {1.0, 2.0}));
        t.run.SIV = StartMethod::File;
        t.run.SVFIN = "  start.cov";
        analyse(t.run);
        start(t.run);
        const double cn1 = 10.0 / 11.0, slash = text[4] == '/';
        // N mean(I) mean(J) + (N - 1) cov(I,J): 11 x 1 + 10 x 4 = 51, 11 x 2 + 10 x 3 = 52, 11 x 4 + 10 x 9 = 134.
        EXPECT_EQ((std::vector<double>{t.run.SS(0, 1), t.run.SS(0, 2), t.run.SS(1, 1), t.run.SS(2, 1), t.run.SS(2, 2)}),
                  (std::vector<double>{1.0 * 11.0, 2.0 * 11.0, (1.0 * 1.0 + 4.0 * cn1) * 11.0,
                                       (2.0 * 1.0 + (slash ? 0.0 : 3.0) * cn1) * 11.0,
                                       (2.0 * 2.0 + (slash ? 0.0 : 9.0) * cn1) * 11.0}))
            << text;
    }
}

TEST(Completion, FillsAndAddsWithAndWithoutTheAttritionCorrection) {
    for (int bmod : {0, 1}) {
        TestRun t({{9, 3}});
        talvo::Run& r = t.run;
        analyse(r);
        r.BMOD = bmod;
        r.YINT = 0.5;
        r.YHAT = 2.0;
        r.B(1, 0) = 1;
        r.B(1, 1) = 2;
        EstimationPlans plans;
        e_step(r, plans);
        const double x = bmod ? 14.5 : 7.0;  // 1 + 2 x 3, then 7 x 2 + 0.5
        EXPECT_EQ(rows_of(r.SS), (Rows{{0, x, 3}, {0, x * x, 0}, {0, 3 * x, 9}}));
    }
    // Filled in sequence: variable 3 is still 0 when variable 1 is first
    // filled; two missing values get no correction.
    TestRun t({{9, 2, 9}});
    talvo::Run& r = t.run;
    analyse(r);
    r.BMOD = 1;
    r.YHAT = r.YINT = 100;
    r.B(1, 0) = 1, r.B(1, 1) = 2, r.B(1, 2) = 3;
    r.B(3, 0) = 0.5, r.B(3, 1) = 10, r.B(3, 2) = 1;
    EstimationPlans plans;
    e_step(r, plans);
    EXPECT_EQ(r.X(1, 1), 1 + 2 * 2 + 3 * 0.0);
    EXPECT_EQ(r.X(1, 3), 0.5 + 10 * 5 + 1 * 2);
    e_step(r, plans);
    EXPECT_EQ(r.X(1, 1), 1 + 2 * 2 + 3 * 52.5);
}

TEST(EM, WorkedExamplePassZero) {
    TestRun t({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    talvo::Run& r = t.run;
    analyse(r);
    start(r);
    r.CRIT = 1e9;  // met at once: the loop ends after pass 0, without a log line
    const EmFacts facts = em(r);
    EXPECT_TRUE(facts.converged);
    EXPECT_EQ(facts.passes, 0);
    // Listwise sums of the three complete cases, scaled by N / 3; pivot 0,
    // then pivot 1 for the regression of variable 2 on variable 1.
    const double f = 4.0 / 3.0, cn = 4.0 / 3.0;
    const double m1 = (f * 6) / 4, m2 = (f * 10) / 4, g11 = (f * 14) / 4, g21 = (f * 23) / 4, g22 = (f * 38) / 4;
    const double h11 = g11 - (m1 * m1) / 1.0, h21 = g21 - (m2 * m1) / 1.0, h22 = g22 - (m2 * m2) / 1.0;
    const double b22 = h22 - (h21 * h21) / h11;
    // Means 2 and 3.333333, variances .888889 and 2.074074, covariance 1.333333.
    EXPECT_EQ(rows_of(r.COV), (Rows{{0, m1, m2}, {0, h11 * cn, h21 * cn}, {0, h21 * cn, h22 * cn}}));
    // B(2,.) .333333, 1.5, .055556; CORR(2,2) .074074.
    EXPECT_EQ((std::vector<double>{r.B(2, 0), r.B(2, 1), r.B(2, 2), r.CORR(2, 2), r.CORR(1, 1)}),
              (std::vector<double>{m2 - (h21 * m1) / h11, h21 / h11, b22, (1.0 * b22) * cn + 0.0, 0.0}));
}

TEST(EM, ACriterionEqualToTheChangeDoesNotStopTheLoop) {
    TestRun u({{1, 2}, {2, 3}, {3, 5}, {4, 9}}), w({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    for (TestRun* t : {&u, &w}) {
        analyse(t->run);
        start(t->run);
    }
    u.run.CRIT = -1;  // never met
    u.run.MAXITER = 2;
    em(u.run);
    EXPECT_EQ(u.run.COUNT, 2);
    w.run.CRIT = u.run.MAXDIFF;  // pass 2's change
    const EmFacts facts = em(w.run);
    EXPECT_TRUE(facts.converged);
    EXPECT_EQ(facts.passes, 3);
}

}  // namespace
}  // namespace talvo
