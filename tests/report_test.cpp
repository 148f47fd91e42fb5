// The result files written by the program's fixed layouts and the user's
// format: the pattern file example and the flag lines of temp.dat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "estimate/em.h"
#include "estimate/start.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "missing/report.h"
#include "report/results.h"
#include "run_helpers.h"

namespace talvo {
namespace {

using testing::TestRun;

class ResultFiles : public testing::InTempDir {};

TEST_F(ResultFiles, ThePatternFileExample) {
    // K = 4, two complete cases and one case missing variables 2 and 4.
    TestRun t({{1, 2, 3, 4}, {2, 9, 4, 9}, {3, 1, 5, 2}});
    code_and_sum(t.run);
    build_pattern_table(t.run);
    report_missingness(t.run);
    write_pattern_file(t.run);
    t.run.ptn.close();
    EXPECT_EQ(slurp("temp.ptn"),
              "MISSINGNESS PATTERNS\r\n"
              "Reordered with observed variables listed first\r\n"
              "\r\n"
              "Total # of missingness patterns:     2\r\n"
              "\r\n"
              "\r\n"
              "  1   2   3   4\r\n"
              "    0  missing variables within above pattern\r\n"
              "    2  cases with above missingness pattern\r\n"
              "\r\n"
              "  1   3   2   4\r\n"
              "    2  missing variables within above pattern\r\n"
              "    1  cases with above missingness pattern\r\n"
              "\r\n");
}

TEST_F(ResultFiles, FifteenVariablesFitOneOrderLineSixteenDoNot) {
    for (int K : {15, 16}) {
        std::vector<std::vector<double>> cases(K + 3, std::vector<double>(K));
        for (size_t i = 0; i < cases.size(); ++i)
            for (int j = 0; j < K; ++j) cases[i][j] = static_cast<double>((i * 7 + j * 3) % 11) + j;
        TestRun t(cases);
        code_and_sum(t.run);
        build_pattern_table(t.run);
        report_missingness(t.run);
        write_pattern_file(t.run);
        t.run.ptn.close();
        std::string ptn = slurp("temp.ptn");
        std::string order = "  1   2   3   4   5   6   7   8   9  10  11  12  13  14  15\r\n";
        EXPECT_NE(ptn.find(K == 15 ? order + "    0  missing" : order + " 16\r\n    0  missing"), std::string::npos)
            << ptn;
    }
}

}  // namespace
}  // namespace talvo
