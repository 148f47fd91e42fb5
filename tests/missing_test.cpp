// Missing-value coding, the sums and the pattern table, and the storage
// they work in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "helpers.h"
#include "missing/coding.h"

namespace talvo {
namespace {

using testing::TestRun;

TEST(Storage, WorkArraysTakeNoMemoryBeforeTheyAreUsed) {
    // A mistyped K: the arrays take 800 MB, none of which is touched.
    auto resident = [] {
        long pages = 0, resident_pages = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident_pages;
        return resident_pages * sysconf(_SC_PAGESIZE);
    };
    talvo::Run r;
    r.N = 5;
    r.K = 3000;
    const long before = resident();
    allocate(r);
    EXPECT_LT(resident() - before, static_cast<long>(*storage_bytes(r.N, r.K) / 20));
    EXPECT_EQ(r.COV(3000, 3000) + r.X(5, 3000) + r.PSN(1, 1), 0.0);
}

TEST(Coding, SumsOfTheSmallExample) {
    TestRun t({{1, 2}, {9, 4}, {5, 9}});
    talvo::Run& r = t.run;
    code_and_classify(r);
    // Row by row: row 0 then the lower triangle; CS(0,0) counts the complete cases.
    EXPECT_EQ((std::vector<double>{r.CS(0, 0), r.CS(0, 1), r.CS(0, 2), r.CS(1, 1), r.CS(2, 1), r.CS(2, 2)}),
              (std::vector<double>{1, 1, 2, 1, 2, 4}));
    EXPECT_EQ((std::vector<double>{r.PS(0, 1), r.PS(0, 2), r.PS(1, 1), r.PS(2, 1), r.PS(2, 2)}),
              (std::vector<double>{5, 4, 25, 0, 16}));
    EXPECT_EQ((std::vector<int>{r.PSN(1, 1), r.PSN(2, 1), r.PSN(2, 2)}), (std::vector<int>{1, 0, 1}));
    // Case 2: the missing value stored as 0; its pattern misses variable 1.
    EXPECT_EQ((std::vector<double>{r.X(2, 0), r.X(2, 1), r.X(2, 2)}), (std::vector<double>{1, 0, 4}));
    EXPECT_EQ((std::vector<int>{r.OBS(r.PATT(2), 1), r.OBS(r.PATT(2), 2)}), (std::vector<int>{0, 1}));
    // Nothing above the diagonal.
    EXPECT_EQ(r.CS(1, 2) + r.PS(1, 2) + r.PSN(1, 2), 0.0);
}

TEST(Coding, WhatCountsAsMissing) {
    struct Case {
        double code, value;
        bool missing;
    } cases[] = {{9, 9.0, true},     {9, 9.5, true},    {9, 9.999, true},  {9, 10.0, false},
                 {9, 8.999, false},  {9, -9.0, false},  {-9, -9.0, true},  {-9, -9.5, true},
                 {-9, -10.0, false}, {-9, -8.5, false}, {9.5, 9.5, false}, {9, 0.5, false}};
    for (const Case& c : cases) {
        TestRun t({{c.value, 1.0}}, c.code);
        code_and_classify(t.run);
        EXPECT_EQ(t.run.OBS(t.run.PATT(1), 1), c.missing ? 0 : 1) << c.code << " " << c.value;
        EXPECT_EQ(t.run.X(1, 1), c.missing ? 0.0 : c.value);
    }
}

TEST(Patterns, NumberedByFirstOccurrenceObservedFirst) {
    TestRun t({{1, 9, 1, 1}, {9, 1, 1, 1}, {1, 9, 1, 1}, {1, 1, 1, 1}, {1, 9, 1, 9}, {9, 9, 9, 9}, {9, 1, 9, 1}});
    talvo::Run& r = t.run;
    code_and_classify(r);
    std::vector<std::vector<int>> rows;
    for (int L = 1; L <= r.NPATT; ++L) {
        rows.emplace_back();
        for (int j = 1; j <= 6; ++j) rows.back().push_back(r.P(L, j));
    }
    EXPECT_EQ(rows, (std::vector<std::vector<int>>{{1, 2, 3, 4, 0, 1},
                                                   {1, 3, 4, 2, 1, 2},
                                                   {2, 3, 4, 1, 1, 1},
                                                   {1, 3, 2, 4, 2, 1},
                                                   {1, 2, 3, 4, 4, 1},
                                                   {2, 4, 1, 3, 2, 1}}));
}

}  // namespace
}  // namespace talvo
