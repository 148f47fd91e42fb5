// The start-value file of talvo-batch, read before the run: the values the
// dialog reads from the same file, and every fault told with its place.
#include "app/batch/start.h"

#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/intake.h"
#include "base/errors.h"
#include "helpers.h"

namespace talvo::batch {
namespace {

class StartFile : public testing::InTempDir {
protected:
    Options o;
    Mat SV;
    StartFile() {
        o.start = Start::File;
        o.start_file = "s.cov";
    }
    // Writes the text into s.cov and reads it for K variables: "" or the refusal.
    std::string read(const std::string& text, std::int32_t K) {
        std::ofstream("s.cov", std::ios::binary) << text;
        SV = Mat();
        return read_start_values(o, K, SV);
    }
    // Whether the dialog's reading of s.cov for K variables gives the same
    // bits; false if it ends the run.
    bool dialog_reads_the_same(std::int32_t K) {
        Mat SVC;
        SVC.allocate(0, K, 1, K);
        try {
            read_start_file("s.cov", K, SVC);
        } catch (const RunEnd&) {
            return false;
        }
        for (std::int32_t I = 0; I <= K; ++I)
            for (std::int32_t J = 1; J <= K; ++J)
                if (std::bit_cast<std::uint64_t>(SVC(I, J)) != std::bit_cast<std::uint64_t>(SV(I, J))) return false;
        return true;
    }
};

TEST_F(StartFile, ReadAsTheDialogReadsIt) {
    struct Case {
        std::string text;
        std::int32_t K;
    } cases[] = {
        {"2 1\n1 3\n0.5 -4\n", 2},
        {"2 1\r\n1 3\r\n0.5 -4\r\n", 2},
        {"  2.0E+00, 1.0D0\n1 3\n\n\n.5 -4\n\n", 2},  // blank lines between and after rows
        {"2\n1\n1\n3\n0.5\n-4", 2},                   // a row over several lines; no line end at the end
        {"2*1.5\n2*3\n2*0\n", 2},                     // repeat counts
        {"4 1 1 / what follows a slash is not read\n1 4 1\n1 1 4\n7 8 9 /\n", 3},
        {"  7.1234567  0.5000000\n  0.5000000  2.0000000\n  1.0000000 -1.5000000\n", 2},  // as (6F12.7) writes
        {"   1.000000000000000E+000\n   2.000000000000000E+000\n", 1},
        {"1.5-3 2\n2 1.5+3\n1 1\n", 2},  // exponents without a letter
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.text, c.K), "") << c.text;
        EXPECT_TRUE(dialog_reads_the_same(c.K)) << c.text;
    }
    EXPECT_EQ(read("4 1 1 / x\n1 4 1\n1 1 4\n7 8 9\n", 3), "");
    EXPECT_EQ(SV(1, 1), 4.0);
    EXPECT_EQ(SV(3, 3), 4.0);
    EXPECT_EQ(SV(0, 1), 7.0);
    EXPECT_EQ(SV(0, 3), 9.0);
}

TEST_F(StartFile, FaultsToldWithTheirPlace) {
    const std::string two =
        " (for 2 variables: 2 rows of 2 covariances, then a row of 2 means, each row starting on a "
        "new line)";
    struct Case {
        std::string text;
        std::int32_t K;
        std::string error;
    } cases[] = {
        // The file ends early: where, counted in rows.
        {"", 2, "s.cov: the file ends before the first covariance row" + two},
        {"\n\n", 2, "s.cov: the file ends before the first covariance row" + two},
        {"2 1\n", 2, "s.cov: the file ends after 1 of the 2 covariance rows" + two},
        {"2 1\n1\n", 2, "s.cov: the file ends within covariance row 2, after 1 of its 2 values" + two},
        {"2 1\n1 2\n", 2, "s.cov: the file ends after the 2 covariance rows, before the row of means" + two},
        {"2 1\n1 2\n3", 2, "s.cov: the file ends within the row of means, after 1 of its 2 values" + two},
        {"1 0 0\n0 1 0\n0 0 1\n", 3,
         "s.cov: the file ends after the 3 covariance rows, before the row of means (for 3 variables: 3 rows of 3 "
         "covariances, then a row of 3 means, each row starting on a new line)"},
        // Items that are not numbers, at their first character.
        {"2 1\n1 x2\n3 4\n", 2, "s.cov:2:3: \"x2\" is not a number"},
        {"2 1\n1   2.5.\n3 4\n", 2, "s.cov:2:5: \"2.5.\" is not a number"},
        {"2 1\n1 2\n3 ********\n", 2, "s.cov:3:3: \"********\" is not a number"},
        {"2 1\n1 2\n3 NaN\n", 2, "s.cov:3:3: \"NaN\" is not a number"},
        {"2 1e999\n1 2\n3 4\n", 2, "s.cov:1:3: \"1e999\" is beyond the range of double precision"},
        {"0*1\n1 2\n3 4\n", 2, "s.cov:1:1: \"0*1\": zero repeat count"},
        {"2 1\n1 \"2\"\n3 4\n", 2, "s.cov:2:3: \"\"2\"\" is not a number"},
        // Values left unset: the line where the row ends.
        {"2 /\n1 2\n3 4\n", 2,
         "s.cov:1: covariance row 1 gives 1 of its 2 values: an empty field or a slash leaves "
         "the others unset"},
        {"2 1\n1 2\n,4\n", 2,
         "s.cov:3: the row of means gives 1 of its 2 values: an empty field or a slash leaves "
         "the others unset"},
        {"2\n1*\n1 2\n3 4\n", 2,
         "s.cov:2: covariance row 1 gives 1 of its 2 values: an empty field or a slash "
         "leaves the others unset"},
        // Values the dialog would pass over: a file for more variables, a
        // row written on one line, rows after the means.
        {"2 1 7\n1 2 7\n7 7 7\n3 4 5\n", 2, "s.cov:1:5: more values on this line than the 2 of covariance row 1" + two},
        {"2 1 1 2 3 4\n", 2, "s.cov:1:5: more values on this line than the 2 of covariance row 1" + two},
        {"2 1\n1 2\n3 4\n5 6\n", 2, "s.cov:4:1: more values after the row of means" + two},
        {"2 1\n1 2\n3 4\n\n   x\n", 2, "s.cov:5:4: more values after the row of means" + two},
        {"2 ,\n1 2\n3 4\n", 2, "s.cov:2:3: more values on this line than the 2 of covariance row 1" + two},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.text, c.K), c.error) << c.text;
        EXPECT_FALSE(dialog_reads_the_same(c.K) && c.error.find("unset") == std::string::npos &&
                     c.error.find("more values") == std::string::npos)
            << "the dialog reads what is refused: " << c.text;
    }

    // The file itself.
    o.start_file = "none.cov";
    EXPECT_EQ(read_start_values(o, 2, SV), "none.cov: cannot be opened: No such file or directory");
    EXPECT_EQ(check_start_file(o), "none.cov: cannot be opened: No such file or directory");
    o.start_file = ".";
    EXPECT_EQ(check_start_file(o), ".: is a folder, not a start-value file");
    o.start = Start::Pairwise;
    EXPECT_EQ(check_start_file(o), "");
}

// Files made of the pieces of the free-form notation, good and bad: what is
// taken gives the dialog's bits, and what the dialog cannot read is refused.
TEST_F(StartFile, PiecesOfTheNotationAgreeWithTheDialog) {
    // Mostly numbers, so that many files are whole; now and then a piece
    // that makes or mars one.
    const std::vector<std::string> numbers = {"1", "-2.5", "3E2", "4D-1", "5*2", "7.", "-0", "1.5-3", "9", "2*.5"};
    const std::vector<std::string> others = {"2*", ",", "\t", "\r\n", "/", "x", "1e999", ".", "0*3", "\n\n"};
    std::mt19937 gen(11);
    int accepted = 0;
    for (int n = 0; n < 800; ++n) {
        // K + 1 rows of K values, a row now and then over two lines; then
        // one piece in three files put in somewhere.
        const std::int32_t K = 1 + static_cast<std::int32_t>(gen() % 3);
        std::string text;
        for (std::int32_t r = 0; r <= K; ++r) {
            for (std::int32_t j = 0; j < K; ++j) {
                const std::string& v = numbers[gen() % numbers.size()];
                if (v.find('*') != std::string::npos) j += v[0] - '1';  // r*c gives r values
                text += v + (gen() % 6 ? " " : "\n");
            }
            text += "\n";
        }
        if (gen() % 3 == 0) text.insert(gen() % (text.size() + 1), others[gen() % others.size()]);
        const std::string e = read(text, K);
        if (e.empty()) {
            ++accepted;
            EXPECT_TRUE(dialog_reads_the_same(K)) << "K=" << K << ": " << text;
        }
        // Every refusal names the file.
        EXPECT_TRUE(e.empty() || e.rfind("s.cov:", 0) == 0) << e;
    }
    EXPECT_GT(accepted, 50);
}

}  // namespace
}  // namespace talvo::batch
