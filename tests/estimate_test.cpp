// Start values, the sweep operator, the completion step and the EM loop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "estimate/sweep.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "run_helpers.h"

namespace talvo {
namespace {

using testing::report_of;
using testing::TestRun;

Mat matrix(std::vector<std::vector<double>> rows) {
    Mat m;
    int K = static_cast<int>(rows.size()) - 1;
    m.allocate(0, K, 0, K);
    for (int i = 0; i <= K; ++i)
        for (int j = 0; j <= K; ++j) m(i, j) = rows[i][j];
    return m;
}

void expect_matrix(const Mat& m, std::vector<std::vector<double>> want) {
    int K = static_cast<int>(want.size()) - 1;
    for (int i = 0; i <= K; ++i)
        for (int j = 0; j <= K; ++j) EXPECT_EQ(m(i, j), want[i][j]) << "(" << i << "," << j << ")";
}

TEST(Sweep, ExamplesAndExactSymmetry) {
    Mat G = matrix({{1, 2, 3}, {2, 5, 7}, {3, 7, 11}});
    Mat H = matrix({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    SWEEP(G, H, 0, 2);
    expect_matrix(H, {{-1, 2, 3}, {2, 1, 1}, {3, 1, 2}});
    expect_matrix(G, {{-1, 2, 3}, {2, 1, 1}, {3, 1, 2}});
    SWEEP(G, H, 1, 2);
    expect_matrix(H, {{-5, 2, 1}, {2, -1, 1}, {1, 1, 1}});
    Mat one = matrix({{1, 0.3}, {0.3, 2.5}});
    Mat h1 = matrix({{0, 0}, {0, 0}});
    SWEEP(one, h1, 0, 1);
    expect_matrix(h1, {{-1, 0.3}, {0.3, 2.5 - 0.3 * 0.3}});
}

TEST(Sweep, ProductBeforeDivisionAndSymmetryOnAwkwardNumbers) {
    Mat G = matrix({{1, 0.1, 0.7}, {0.1, 0.3, 0.11}, {0.7, 0.11, 1.3}});
    Mat H = matrix({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    for (int k = 0; k <= 2; ++k) {
        Mat before = G;
        SWEEP(G, H, k, 2);
        for (int j = 0; j <= 2; ++j) {
            for (int l = 0; l <= 2; ++l) {
                EXPECT_EQ(G(j, l), H(j, l));
                EXPECT_EQ(H(j, l), H(l, j));
                if (j != k && l != k) {
                    EXPECT_EQ(H(j, l), before(j, l) - (before(j, k) * before(k, l)) / before(k, k));
                }
            }
        }
        EXPECT_EQ(H(k, k), -(1 / before(k, k)));
    }
}

TEST(Sweep, ZeroPivotIsADivisionByZero) {
    Mat G = matrix({{1, 2}, {2, 4}});
    Mat H = matrix({{0, 0}, {0, 0}});
    SWEEP(G, H, 0, 1);  // leaves the variance 0
    EXPECT_EQ(report_of([&] { SWEEP(G, H, 1, 1); }),
              "\\r\\nrun-time error M6103: MATH\\r\\n- floating-point error: divide by zero\\r\\n");
}

// Data coded and sorted into patterns, ready for the start values.
void analyse(talvo::Run& r) {
    code_and_sum(r);
    build_pattern_table(r);
}

// ... and the start values, ready for the EM loop.
void ready(talvo::Run& r) {
    analyse(r);
    start_values(r);
}

TEST(StartValues, ListwiseWithEveryCaseCompleteIsTheSums) {
    TestRun t({{1, 2}, {2, 3}, {4, 7}});
    ready(t.run);
    for (int i = 0; i <= 2; ++i)
        for (int j = 1; j <= (i ? i : 2); ++j) EXPECT_EQ(t.run.SS(i, j), t.run.CS(i, j));
    EXPECT_EQ(t.run.RN, 3.0);
    EXPECT_EQ(t.run.CN, 1.5);
    EXPECT_EQ(t.run.CN1, 2.0 / 3.0);
}

TEST(StartValues, PairwiseFactorsAreWholeNumberQuotients) {
    // N = 10, eight complete cases, variable 1 observed in one incomplete case.
    std::vector<std::vector<double>> cases(8, {1.0, 1.0});
    cases.push_back({2.0, 9.0});
    cases.push_back({9.0, 9.0});
    TestRun t(cases);
    t.run.SIV = 2;
    ready(t.run);
    EXPECT_EQ(t.run.SS(0, 1), (2.0 + 8.0) * 1.0);  // 10 div 9 = 1
    EXPECT_EQ(t.run.SS(0, 2), 8.0 * 1.0);          // 10 div 8 = 1
    // No complete case, variable 1 observed in 4 of 10 cases: 10 div 4 = 2.
    TestRun u({{1, 5, 9}, {2, 9, 5}, {3, 5, 9}, {4, 9, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5}, {9, 5, 5},
               {9, 5, 5}});
    u.run.SIV = 1;  // no complete case: the listwise choice becomes pairwise
    ready(u.run);
    EXPECT_EQ(u.run.SIV, 2);
    EXPECT_EQ(u.run.SS(0, 1), 10.0 * 2.0);
    EXPECT_EQ(u.run.SS(1, 1), 30.0 * 2.0);
    EXPECT_EQ(u.run.SS(0, 2), 40.0 * 1.0);   // 8 cases: 10 div 8 = 1
    EXPECT_EQ(u.run.SS(2, 1), 20.0 * 5.0);   // 2 cases: 10 div 2 = 5
    EXPECT_EQ(u.run.SS(3, 1), 30.0 * 5.0);
    EXPECT_EQ(u.run.SS(3, 2), 150.0 * 1.0);  // 6 cases: 10 div 6 = 1
}

TEST(StartValues, PairwiseStopsWhereNoCaseObservesAPair) {
    TestRun t({{1, 9}, {9, 1}, {2, 9}});
    t.run.SIV = 2;
    analyse(t.run);
    EXPECT_EQ(report_of([&] { start_values(t.run); }),
              "No pairwise start values: variables 1 and 2 are never observed together; aborting...");
    TestRun u({{9, 1}, {9, 2}});
    u.run.SIV = 2;
    analyse(u.run);
    EXPECT_EQ(report_of([&] { start_values(u.run); }),
              "No pairwise start values: variable 1 is never observed; aborting...");
}

TEST(StartValues, OneCaseDividesByZero) {
    TestRun t({{1, 2}});
    analyse(t.run);
    EXPECT_EQ(report_of([&] { start_values(t.run); }),
              "\\r\\nrun-time error M6103: MATH\\r\\n- floating-point error: divide by zero\\r\\n");
}

class FileStart : public talvo::testing::InTempDir {
protected:
    // Start values of eleven cases, read from the given start.cov.
    std::string start(const std::string& content, talvo::Run*& r) {
        std::ofstream("start.cov") << content;
        std::vector<std::vector<double>> cases(11, {1.0, 2.0});
        t_ = std::make_unique<TestRun>(cases);
        r = &t_->run;
        r->SIV = 3;
        r->SVFIN = "  start.cov";
        analyse(*r);
        return report_of([&] { start_values(*r); });
    }
    std::unique_ptr<TestRun> t_;
};

TEST_F(FileStart, TheExampleFile) {
    talvo::Run* r;
    ASSERT_EQ(start("4 3\n3 9\n1 2\n", r), "");
    EXPECT_EQ(r->SS(0, 1), 11.0);
    EXPECT_EQ(r->SS(0, 2), 22.0);
    EXPECT_NEAR(r->SS(1, 1), 51.0, 1e-12);
    EXPECT_NEAR(r->SS(2, 1), 52.0, 1e-12);
    EXPECT_NEAR(r->SS(2, 2), 134.0, 1e-12);
    EXPECT_EQ(r->SS(1, 1), (1.0 * 1.0 + 4.0 * (10.0 / 11.0)) * 11.0);
}

TEST_F(FileStart, RowsOverSeveralLinesExtraNumbersAndTheUpperTriangle) {
    talvo::Run* r;
    ASSERT_EQ(start("4\n   -777\n3,9 12345\n1 2 3\n", r), "");
    EXPECT_NEAR(r->SS(2, 1), 52.0, 1e-12);
    EXPECT_NEAR(r->SS(2, 2), 134.0, 1e-12);
    // A slash leaves entries at 0.
    ASSERT_EQ(start("4 3\n/\n1 2\n", r), "");
    EXPECT_EQ(r->SS(2, 2), (2.0 * 2.0 + 0.0) * 11.0);
}

TEST_F(FileStart, ShortOrBadFilesEndTheRun) {
    talvo::Run* r;
    EXPECT_EQ(start("4 3\n3 9\n1\n", r), "\\r\\nrun-time error F6501: READ(start.cov)\\r\\n- end of file\\r\\n");
    EXPECT_EQ(start("4 3\n3 x\n1 2\n", r), "\\r\\nrun-time error F6103: READ(start.cov)\\r\\n- invalid real\\r\\n");
    std::filesystem::remove("start.cov");
    std::vector<std::vector<double>> cases(3, {1.0, 2.0});
    TestRun t(cases);
    t.run.SIV = 3;
    t.run.SVFIN = "other.cov";
    analyse(t.run);
    EXPECT_EQ(report_of([&] { start_values(t.run); }),
              "\\r\\nrun-time error F6501: READ(other.cov)\\r\\n- end of file\\r\\n");
    EXPECT_TRUE(std::filesystem::exists("other.cov"));
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
        e_step(r);
        double x = bmod ? 14.5 : 7.0;
        EXPECT_EQ(r.X(1, 1), x);
        EXPECT_EQ(r.SS(0, 1), x);
        EXPECT_EQ(r.SS(1, 1), x * x);
        EXPECT_EQ(r.SS(2, 1), 3 * x);
        EXPECT_EQ(r.SS(2, 2), 9.0);  // from the pairwise sums only
        EXPECT_EQ(r.SS(0, 2), 3.0);
        EXPECT_EQ(r.SS(0, 0), 0.0);
        EXPECT_EQ(r.SS(1, 2), 0.0);
    }
}

TEST(Completion, SequentialFillingAndTwoMissingValues) {
    TestRun t({{9, 2, 9}});
    talvo::Run& r = t.run;
    analyse(r);
    r.BMOD = 1;  // two missing values: no correction
    r.YHAT = 100;
    r.YINT = 100;
    r.B(1, 0) = 1;
    r.B(1, 1) = 2;   // variable 2
    r.B(1, 2) = 3;   // variable 3
    r.B(3, 0) = 0.5;
    r.B(3, 1) = 10;  // variable 1
    r.B(3, 2) = 1;   // variable 2
    e_step(r);
    EXPECT_EQ(r.X(1, 1), 1 + 2 * 2 + 3 * 0.0);  // variable 3 still 0 on the first pass
    EXPECT_EQ(r.X(1, 3), 0.5 + 10 * 5 + 1 * 2);
    e_step(r);
    EXPECT_EQ(r.X(1, 1), 1 + 2 * 2 + 3 * 52.5);
}

TEST(Completion, OneMissingWithYhatOneAndYintZeroChangesNothing) {
    TestRun a({{9, 3}, {1, 2}}), b({{9, 3}, {1, 2}});
    for (talvo::Run* r : {&a.run, &b.run}) {
        analyse(*r);
        r->B(1, 0) = 0.1;
        r->B(1, 1) = 0.7;
    }
    b.run.BMOD = 1;
    b.run.YHAT = 1.0;
    b.run.YINT = 0.0;
    e_step(a.run);
    e_step(b.run);
    EXPECT_EQ(a.run.X(1, 1), b.run.X(1, 1));
    EXPECT_EQ(a.run.SS(1, 1), b.run.SS(1, 1));
}

// The log lines of a run's console output.
std::vector<std::string> log_lines(const std::string& console) {
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = console.find("ITER = ", at)) != std::string::npos) {
        size_t end = console.find("\\r\\n", at);
        lines.push_back(console.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at += 7;
    }
    return lines;
}

TEST(EM, WorkedExamplePassZero) {
    TestRun t({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    talvo::Run& r = t.run;
    analyse(r);
    start_values(r);
    r.CRIT = 1e9;  // met at once: the loop ends after pass 0
    em(r);
    EXPECT_EQ(r.MAXITER, 0);
    EXPECT_NEAR(r.COV(0, 1), 2.0, 5e-7);
    EXPECT_NEAR(r.COV(0, 2), 3.333333, 5e-7);
    EXPECT_NEAR(r.COV(1, 1), 0.888889, 5e-7);
    EXPECT_NEAR(r.COV(2, 2), 2.074074, 5e-7);
    EXPECT_NEAR(r.COV(2, 1), 1.333333, 5e-7);
    EXPECT_EQ(r.COV(1, 2), r.COV(2, 1));
    EXPECT_NEAR(r.B(2, 0), 0.333333, 5e-7);
    EXPECT_NEAR(r.B(2, 1), 1.5, 5e-7);
    EXPECT_NEAR(r.B(2, 2), 0.055556, 5e-7);
    EXPECT_NEAR(r.CORR(2, 2), 0.074074, 5e-7);
    EXPECT_EQ(r.CORR(1, 1), 0.0);
    EXPECT_TRUE(log_lines(t.console()).empty());
}

TEST(EM, WorkedExampleToTheEnd) {
    TestRun t({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    talvo::Run& r = t.run;
    analyse(r);
    start_values(r);
    em(r);
    EXPECT_EQ(log_lines(t.console()),
              (std::vector<std::string>{
                  "ITER =   1     CONV =    1.756172839506178", "ITER =   2     CONV =     .002057613168716",
                  "ITER =   3     CONV =     .000685871056243", "ITER =   4     CONV =     .000228623685416",
                  "ITER =   5     CONV =     .000076207895139", "ITER =   6     CONV =     .000025402631711",
                  "ITER =   7     CONV =     .000008467543907"}));
    EXPECT_EQ(r.MAXITER, 7);
    EXPECT_NEAR(r.X(4, 2), 6.333333, 5e-7);
    EXPECT_NEAR(r.COV(0, 1), 2.5, 5e-7);
    EXPECT_NEAR(r.COV(0, 2), 4.083333, 5e-7);
    EXPECT_NEAR(r.COV(1, 1), 1.666667, 5e-7);
    EXPECT_NEAR(r.COV(2, 2), 3.833329, 5e-7);
    EXPECT_NEAR(r.COV(2, 1), 2.5, 5e-7);
}

TEST(EM, PassLimitCountsAndEnds) {
    for (int limit : {1, 5}) {
        TestRun t({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
        analyse(t.run);
        start_values(t.run);
        t.run.CRIT = -1.0;  // never met
        t.run.MAXITER = limit;
        em(t.run);
        EXPECT_EQ(log_lines(t.console()).size(), static_cast<size_t>(limit));
        EXPECT_EQ(t.run.COUNT, limit);
    }
    // A negative limit with a criterion that cannot be met is taken as positive.
    TestRun t({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    ready(t.run);
    t.run.CRIT = 0.0;
    t.run.MAXITER = -3;
    em(t.run);
    EXPECT_EQ(log_lines(t.console()).size(), 3u);
    // A criterion equal to the change does not stop the loop: pass 2's
    // change as the criterion runs on to pass 3.
    TestRun u({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    ready(u.run);
    u.run.CRIT = -1;
    u.run.MAXITER = 2;
    em(u.run);
    TestRun w({{1, 2}, {2, 3}, {3, 5}, {4, 9}});
    ready(w.run);
    w.run.CRIT = u.run.MAXDIFF;
    em(w.run);
    EXPECT_EQ(w.run.MAXITER, 3);
}

TEST(EM, EveryCaseCompleteNeedsNoPass) {
    TestRun t({{1, 2}, {2, 3}, {3, 5}, {4, 4}});
    ready(t.run);
    em(t.run);
    EXPECT_TRUE(log_lines(t.console()).empty());
    EXPECT_EQ(t.run.COUNT, 0);
    // The ordinary sample means and covariances.
    EXPECT_EQ(t.run.COV(0, 1), 2.5);
    EXPECT_NEAR(t.run.COV(1, 1), 5.0 / 3.0, 1e-15);
    EXPECT_NEAR(t.run.COV(2, 1), 4.0 / 3.0, 1e-15);
}

TEST(EM, OneVariable) {
    TestRun t({{1}, {2}, {9}, {3}});
    ready(t.run);
    em(t.run);
    EXPECT_NEAR(t.run.B(1, 0), 2.0, 1e-12);  // the mean
    // The variance with divisor N; the correction's factor N/(N-1) makes its
    // fixed point 2 / (N - N/(N-1)) = 0.75.
    EXPECT_NEAR(t.run.B(1, 1), 0.75, 1e-4);
    EXPECT_EQ(log_lines(t.console()).size(), static_cast<size_t>(t.run.MAXITER));
}

TEST(EM, AConstantVariableEndsWithTheFaultReport) {
    TestRun t({{5, 2}, {5, 3}, {5, 9}, {5, 4}});
    ready(t.run);
    EXPECT_EQ(report_of([&] { em(t.run); }),
              "\\r\\nrun-time error M6103: MATH\\r\\n- floating-point error: divide by zero\\r\\n");
}

TEST(EM, HugeValuesOverflow) {
    TestRun t({{1e200, 2}, {3e200, 3}, {2e200, 9}, {5e200, 4}});
    EXPECT_EQ(report_of([&] { code_and_sum(t.run); }),
              "\\r\\nrun-time error M6104: MATH\\r\\n- floating-point error: overflow\\r\\n");
}

}  // namespace
}  // namespace talvo
