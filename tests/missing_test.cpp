// Missing-value coding, the sums, the pattern table and the report.
#include <gtest/gtest.h>

#include <random>

#include "missing/coding.h"
#include "missing/patterns.h"
#include "missing/report.h"
#include "run_helpers.h"

namespace talvo {
namespace {

using testing::TestRun;

TEST(Coding, SumsOfTheSmallExample) {
    TestRun t({{1, 2}, {9, 4}, {5, 9}});
    talvo::Run& r = t.run;
    code_and_sum(r);
    EXPECT_EQ(r.CS(0, 0), 1);
    EXPECT_EQ(r.CS(0, 1), 1);
    EXPECT_EQ(r.CS(0, 2), 2);
    EXPECT_EQ(r.CS(1, 1), 1);
    EXPECT_EQ(r.CS(2, 1), 2);
    EXPECT_EQ(r.CS(2, 2), 4);
    EXPECT_EQ(r.PS(0, 1), 5);
    EXPECT_EQ(r.PS(0, 2), 4);
    EXPECT_EQ(r.PS(1, 1), 25);
    EXPECT_EQ(r.PS(2, 2), 16);
    EXPECT_EQ(r.PS(2, 1), 0);
    EXPECT_EQ(r.PSN(1, 1), 1);
    EXPECT_EQ(r.PSN(2, 2), 1);
    EXPECT_EQ(r.PSN(2, 1), 0);
    EXPECT_EQ(r.X(2, 1), 0.0);
    EXPECT_EQ(r.X(2, 3), 0.0);  // X(2,K+1)
    EXPECT_EQ(r.X(2, 5), 1.0);  // X(2,2K+1)
    EXPECT_EQ(r.X(1, 0), 1.0);
    // Nothing outside row 0, CS(0,0) and the lower triangle.
    EXPECT_EQ(r.CS(1, 2), 0.0);
    EXPECT_EQ(r.PS(1, 2), 0.0);
    EXPECT_EQ(r.PSN(1, 2), 0);
}

TEST(Coding, WhatCountsAsMissing) {
    TestRun t({{9.0, 9.5, 9.999, 10.0, 8.999}, {-9.0, -9.5, -10.0, -8.5, 0.5}});
    code_and_sum(t.run);
    const int K = 5;
    double want[2][5] = {{0, 0, 0, 1, 1}, {1, 1, 1, 1, 1}};
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= K; ++j) EXPECT_EQ(t.run.X(i, K + j), want[i - 1][j - 1]) << i << "," << j;
    EXPECT_EQ(t.run.X(1, 3), 0.0);  // 9.999 is missing and stored as 0

    TestRun neg({{-9.0, -9.5, -10.0, -8.5}}, -9.0);
    code_and_sum(neg.run);
    EXPECT_EQ(neg.run.X(1, 5), 0.0);
    EXPECT_EQ(neg.run.X(1, 6), 0.0);
    EXPECT_EQ(neg.run.X(1, 7), 1.0);
    EXPECT_EQ(neg.run.X(1, 8), 1.0);

    TestRun fraction({{9.5, 9.0}}, 9.5);  // a code with a fraction never matches
    code_and_sum(fraction.run);
    EXPECT_EQ(fraction.run.X(1, 5), 2.0);
}

TEST(Patterns, NumberedByFirstOccurrence) {
    TestRun t({{1, 9, 1, 1}, {9, 1, 1, 1}, {1, 9, 1, 1}, {1, 1, 1, 1}});
    talvo::Run& r = t.run;
    code_and_sum(r);
    build_pattern_table(r);
    ASSERT_EQ(r.NPATT, 3);
    std::vector<int> row1, row2, row3;
    for (int j = 1; j <= 6; ++j) {
        row1.push_back(r.P(1, j));
        row2.push_back(r.P(2, j));
        row3.push_back(r.P(3, j));
    }
    EXPECT_EQ(row1, (std::vector<int>{1, 2, 3, 4, 0, 1}));
    EXPECT_EQ(row2, (std::vector<int>{1, 3, 4, 2, 1, 2}));
    EXPECT_EQ(row3, (std::vector<int>{2, 3, 4, 1, 1, 1}));
}

TEST(Patterns, OrderMissingCountAndTheEmptyCase) {
    TestRun t({{1, 9, 1, 9}, {9, 9, 9, 9}, {9, 1, 9, 1}});
    talvo::Run& r = t.run;
    code_and_sum(r);
    EXPECT_EQ(r.PA(1, 1), 1);
    EXPECT_EQ(r.PA(1, 2), 3);
    EXPECT_EQ(r.PA(1, 3), 2);
    EXPECT_EQ(r.PA(1, 4), 4);
    build_pattern_table(r);
    ASSERT_EQ(r.NPATT, 4);
    EXPECT_EQ(r.P(1, 6), 0);  // no complete case: row 1 stays, with no case
    EXPECT_EQ(r.P(2, 5), 2);
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(r.P(3, j), j);  // every variable missing: 1..K
    EXPECT_EQ(r.P(3, 5), 4);
    // Two missing each, but different variables: two patterns.
    EXPECT_EQ(r.P(4, 5), 2);
    EXPECT_EQ(r.P(4, 1), 2);
    EXPECT_EQ(r.P(4, 2), 4);
}

TEST(Patterns, TheIndexBuildsTheTableOfThePlainScan) {
    std::mt19937_64 gen(20261206);
    for (int trial = 0; trial < 40; ++trial) {
        int K = 1 + static_cast<int>(gen() % 70);  // keys of one and of two words
        int N = 1 + static_cast<int>(gen() % 400);
        double rate = (gen() % 100) / 100.0;
        std::vector<std::vector<double>> cases(N, std::vector<double>(K));
        for (auto& c : cases)
            for (auto& v : c) v = std::uniform_real_distribution<double>(0, 1)(gen) < rate ? 9.0 : 1.0;
        TestRun t(cases);
        t.run.PTN = 1 + static_cast<int>(gen() % 5);  // small tables must grow
        t.run.P.allocate(1, t.run.PTN, 1, K + 2);
        code_and_sum(t.run);
        build_pattern_table(t.run);
        TestRun s(cases);
        code_and_sum(s.run);
        build_pattern_table_scan(s.run);
        ASSERT_EQ(t.run.NPATT, s.run.NPATT) << "trial " << trial;
        long total = 0;
        for (int L = 1; L <= t.run.NPATT; ++L) {
            for (int j = 1; j <= K + 2; ++j) ASSERT_EQ(t.run.P(L, j), s.run.P(L, j)) << trial << " " << L;
            total += t.run.P(L, K + 2);
        }
        EXPECT_EQ(total, N);
    }
}

TEST(Report, FiguresAndRecords) {
    TestRun t({{1, 1, 1}, {1, 9, 1}, {9, 1, 9}, {1, 1, 1}});
    talvo::Run& r = t.run;
    code_and_sum(r);
    build_pattern_table(r);
    report_missingness(r);
    EXPECT_EQ(r.S1, 2);
    EXPECT_EQ(r.S2, 3.0);
    EXPECT_EQ(r.PS2, 25.0);
    EXPECT_EQ(r.PNUM, 3);
    EXPECT_EQ(r.CPATT, 1.0f);
    EXPECT_TRUE(r.PA.empty());
    EXPECT_EQ(t.console(),
              "\\r\\n MISSINGNESS: Pattern frequencies and percentages\\r\\n\\r\\n Total number of missingness "
              "patterns:    3\\r\\n Largest number within-case missing:      2     66.7%\\r\\n Percentage total "
              "missing variables:    25.00%\\r\\n\\r\\n Press <ENTER> to continue ");
}

TEST(Report, NoCompleteCaseAndEveryVariableMissing) {
    TestRun t({{9, 9}, {1, 9}});
    talvo::Run& r = t.run;
    code_and_sum(r);
    build_pattern_table(r);
    report_missingness(r);
    EXPECT_EQ(r.PNUM, r.NPATT - 1);
    EXPECT_EQ(r.CPATT, 2.0f);
    EXPECT_NE(t.console().find("missing:      2     ****%"), std::string::npos) << t.console();
    EXPECT_NE(t.console().find("patterns:    2"), std::string::npos);
}

TEST(Report, EveryCaseComplete) {
    TestRun t({{1, 2}, {3, 4}});
    code_and_sum(t.run);
    build_pattern_table(t.run);
    report_missingness(t.run);
    EXPECT_EQ(t.run.NPATT, 1);
    EXPECT_EQ(t.run.PNUM, 1);
    EXPECT_NE(t.console().find("missing:      0       .0%\\r\\n Percentage total missing variables:      .00%"),
              std::string::npos)
        << t.console();
}

TEST(Report, EndOfInputAtThePause) {
    TestRun t({{1, 2}, {3, 4}}, 9.0, "");
    code_and_sum(t.run);
    build_pattern_table(t.run);
    EXPECT_EQ(testing::report_of([&] { report_missingness(t.run); }),
              "\\r\\nrun-time error F6501: READ(CON)\\r\\n- end of file\\r\\n");
}

}  // namespace
}  // namespace talvo
