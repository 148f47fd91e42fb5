// The parameter dialog: defaults, forcing rules, the attrition switch and
// asking again.
#include "app/dialog.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "helpers.h"
#include "run_helpers.h"

namespace talvo {
namespace {

// The dialog answered by the given lines; the parameters it leaves.
struct Dialog {
    Params p;
    std::string console;
    explicit Dialog(const std::string& answers) {
        FILE* in = std::tmpfile();
        FILE* out = std::tmpfile();
        std::fwrite(answers.data(), 1, answers.size(), in);
        std::fflush(in);
        std::rewind(in);
        Console con(fileno(in), fileno(out));
        con.set_terminal(false, false);
        NPUT(con, p);
        console = testing::read_all(fileno(out));
        std::fclose(in);
        std::fclose(out);
    }
};

std::string padded(std::string s) {
    s.resize(40, ' ');
    return s;
}

TEST(Dialog, EnterEverywhereGivesTheDefaults) {
    Dialog d("data.txt\n\n\n\n\n\n\n\n\n\n");
    EXPECT_EQ(d.p.FIN, padded("data.txt"));
    EXPECT_EQ(d.p.N, 0);
    EXPECT_EQ(d.p.K, 0);
    EXPECT_EQ(d.p.PTN, 20);
    EXPECT_EQ(d.p.MVI, 9.0);
    EXPECT_EQ(d.p.SIV, 1);
    EXPECT_EQ(d.p.MAXITER, 200);
    EXPECT_EQ(d.p.CRIT, 9.999999747378752E-06);
    EXPECT_EQ(d.p.OPTOUT, 0);
    EXPECT_EQ(d.p.BMOD, 0);
    EXPECT_EQ(d.p.OUTFMT, padded("(6F12.7)"));
    EXPECT_EQ(d.console.find("Correction"), std::string::npos);
}

TEST(Dialog, ForcingRules) {
    for (const char* siv : {"0", "4", "9", "-1"}) {
        Dialog d(std::string("f\n5\n2\n\n\n") + siv + "\n\n\n\n\n");
        EXPECT_EQ(d.p.SIV, 1) << siv;
    }
    Dialog cm("f\n5\n2\n\n0\n3\n\n\n.00001\n7\n\n");
    EXPECT_EQ(cm.p.SIV, 3);
    EXPECT_EQ(cm.p.SVFIN, padded("start.cov"));
    EXPECT_EQ(cm.p.MVI, 9.0);
    EXPECT_EQ(cm.p.CRIT, 1.0e-5);  // typed with its point: the nearest double
    EXPECT_EQ(cm.p.OPTOUT, 1);
    EXPECT_NE(cm.console.find("Specify start value (CM) file (START.COV): "), std::string::npos);
    Dialog named("f\n5\n2\n\n\n3\n  my.cov\n\n\n\n\n");
    EXPECT_EQ(named.p.SVFIN, padded("  my.cov"));
}

TEST(Dialog, TheAttritionSwitch) {
    Dialog on("f\n5\n2\n2\n\n\n\n\n2\n\n\n\n");
    EXPECT_EQ(on.p.BMOD, 1);
    EXPECT_EQ(on.p.OPTOUT, 1);
    EXPECT_EQ(on.p.YINT, 0.0);
    EXPECT_EQ(on.p.YHAT, 1.0);
    EXPECT_NE(on.console.find(" Correction for inaccessible posttest attrition\r\nSpecify intercept (B0) from resampled "
                              "Y:  Specify b-weight predicting resampled Y:  Specify output format"),
              std::string::npos);
    Dialog values("f\n5\n2\n2\n\n\n\n\n2\n2\n.5\n\n");
    EXPECT_EQ(values.p.YINT, 2.0e-8);  // no point: 8 implied decimals
    EXPECT_EQ(values.p.YHAT, 0.5);
    Dialog off("f\n5\n2\n\n\n\n\n\n2\n\n");
    EXPECT_EQ(off.p.BMOD, 0);
    EXPECT_EQ(off.p.OPTOUT, 1);
}

TEST(Dialog, AnswersThatCannotBeReadAreAskedAgain) {
    Dialog d("\n   \nf\nabc\n12x\n1 2\n1#1\n7\n\n\n\n\n\n\n\n");
    EXPECT_EQ(d.p.N, 12);
    EXPECT_EQ(d.p.K, 7);
    std::string want = "\r\nSpecify input data file:  Specify input data file:  Specify input data file:  Sample size (n): "
                       " Sample size (n):  Sample size (n):  Number of variables (k):  Number of variables (k): ";
    EXPECT_EQ(testing::visible(d.console.substr(d.console.find("\r\nSpecify"), want.size())), testing::visible(want));
}

}  // namespace
}  // namespace talvo
