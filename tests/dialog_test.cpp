// The parameter dialog: defaults, forcing rules, the attrition switch and
// asking again.
#include "app/dialog.h"

#include <gtest/gtest.h>

#include "helpers.h"

namespace talvo {
namespace {

// The dialog answered by the given lines; the parameters it leaves.
struct Dialog : testing::TestConsole {
    Params p;
    explicit Dialog(const std::string& answers) : TestConsole(answers) { ask_parameters(con, p); }
};

std::string padded(std::string s) {
    s.resize(40, ' ');
    return s;
}

TEST(Dialog, EnterEverywhereGivesTheDefaults) {
    Dialog d("data.txt\n\n\n\n\n\n\n\n\n\n");
    EXPECT_EQ(d.p.FIN, padded("data.txt"));
    EXPECT_EQ((std::vector<int>{d.p.N, d.p.K, d.p.PTN, static_cast<int>(d.p.SIV), d.p.MAXITER, d.p.OPTOUT, d.p.BMOD}),
              (std::vector<int>{0, 0, 20, 1, 200, 0, 0}));
    EXPECT_EQ(d.p.MVI, 9.0);
    EXPECT_EQ(d.p.CRIT, 9.999999747378752E-06);
    EXPECT_EQ(d.p.OUTFMT, padded("(6F12.7)"));
}

TEST(Dialog, ForcingRules) {
    for (const char* siv : {"0", "4", "9", "-1"})
        EXPECT_EQ(Dialog(std::string("f\n5\n2\n\n\n") + siv + "\n\n\n\n\n").p.SIV, StartMethod::Listwise);
    Dialog cm("f\n5\n2\n\n0\n3\n\n\n.00001\n7\n\n");
    EXPECT_EQ(cm.p.SIV, StartMethod::File);
    EXPECT_EQ(cm.p.SVFIN, padded("start.cov"));
    EXPECT_EQ(cm.p.MVI, 9.0);
    EXPECT_EQ(cm.p.CRIT, 1.0e-5);  // typed with its point: the nearest double
    EXPECT_EQ(cm.p.OPTOUT, 1);
    EXPECT_EQ(Dialog("f\n5\n2\n\n\n3\n  my.cov\n\n\n\n\n").p.SVFIN, padded("  my.cov"));
}

TEST(Dialog, TheAttritionSwitch) {
    Dialog on("f\n5\n2\n2\n\n\n\n\n2\n2\n.5\n\n");
    EXPECT_EQ((std::vector<int>{on.p.BMOD, on.p.OPTOUT}), (std::vector<int>{1, 1}));
    EXPECT_EQ(on.p.YINT, 2.0e-8);  // no point: 8 implied decimals
    EXPECT_EQ(on.p.YHAT, 0.5);
    EXPECT_EQ(Dialog("f\n5\n2\n2\n\n\n\n\n2\n\n\n\n").p.YHAT, 1.0);
    Dialog off("f\n5\n2\n\n\n\n\n\n2\n\n");
    EXPECT_EQ((std::vector<int>{off.p.BMOD, off.p.OPTOUT}), (std::vector<int>{0, 1}));
}

}  // namespace
}  // namespace talvo
