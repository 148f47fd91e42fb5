// The console: carriage control, prompts and the answer reads, checked on
// the bytes written.
#include "textio/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.h"
#include "helpers.h"

namespace talvo {
namespace {

using testing::TestConsole;

TEST(Console, CarriageControl) {
    TestConsole t;
    for (const char* rec : {"0", " COVARIANCE", "0 INITIAL", "1page", "+over", "xplain", " ", " "}) t.con.line(rec);
    t.con.close_line();
    EXPECT_EQ(t.output(), "\r\n\r\nCOVARIANCE\r\n\r\n INITIAL\r\n\f\b \rpage\rover\r\nplain\r\n\r\n\r\n");
}

TEST(Console, RedirectedPromptsChainATerminalEndsTheLine) {
    for (bool terminal : {false, true}) {
        TestConsole t("a\n5\n", terminal);
        t.con.line(" ");
        t.con.prompt(" Specify input data file: ");
        std::string name;
        ASSERT_EQ(t.con.read_text(40, name, 40), 0);
        EXPECT_EQ(name, "a" + std::string(39, ' '));
        t.con.prompt(" Sample size (n): ");
        std::int32_t n = 0;
        ASSERT_EQ(t.con.read_int(8, n), 0);
        EXPECT_EQ(n, 5);
        t.con.line("0 INITIAL FIVE CASES OF DATA");
        EXPECT_EQ(t.con.read_line(name), err::EndOfFile);
        EXPECT_EQ(t.output(), terminal
                                  ? "\r\nSpecify input data file: Sample size (n): \r\n INITIAL FIVE CASES OF DATA\r\n"
                                  : "\r\nSpecify input data file:  Sample size (n): 0 INITIAL FIVE CASES OF DATA");
    }
}

TEST(Console, LinesEndsAndLengths) {
    // Empty lines, a CR LF line end, an over-long redirected line cut, junk,
    // and a last line without its line end.
    std::string junk("\x01\xff\x00\x7f", 4);
    TestConsole t("\n\r\n" + std::string(100000, '9') + "\n" + junk + "\n7", false);
    std::string s;
    ASSERT_EQ(t.con.read_text(40, s, 40), 0);
    EXPECT_EQ(s, std::string(40, ' '));
    double d = 5;
    ASSERT_EQ(t.con.read_real(4, 0, d), 0);
    EXPECT_EQ(d, 0.0);
    std::int32_t v = 0;
    ASSERT_EQ(t.con.read_int(4, v), 0);
    EXPECT_EQ(v, 9999);
    EXPECT_EQ(t.con.read_int(8, v), err::InvalidInt);
    ASSERT_EQ(t.con.read_int(8, v), 0);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(t.con.read_int(8, v), err::EndOfFile);
    // On a terminal a line of more than 132 characters, its end included, is an error.
    std::string long_line(131, '7');
    TestConsole tty(long_line + "\n" + long_line + "7\n" + long_line + "\r\n", true);
    EXPECT_EQ(tty.con.read_line(s), 0);
    EXPECT_EQ(tty.con.read_line(s), err::LineTooLong);
    EXPECT_EQ(tty.con.read_line(s), err::LineTooLong);
}

TEST(Console, AFailingReadIsReported) {
    int dir = open("/tmp", O_RDONLY | O_DIRECTORY);
    Console con(dir, 1);
    std::string s;
    EXPECT_EQ(con.read_line(s), err::ReadFailure);
    close(dir);
}

// A write to the output that fails is dropped, the run going on, and
// the first failure kept for whoever asks (talvo-batch's log).
TEST(Console, AFailingWriteIsKept) {
    TestConsole t;
    t.con.line(" fine");
    EXPECT_EQ(t.con.output_error(), 0);
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    Console con(-1, full);
    con.line(" dropped");
    con.close_line();
    EXPECT_EQ(con.output_error(), ENOSPC);
    close(full);
}

}  // namespace
}  // namespace talvo
