// The console: carriage control, prompts, the shared terminal state and
// the answer reads, checked on the exact bytes written.
#include "textio/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "helpers.h"
#include "textio/errors.h"

namespace talvo {
namespace {

using talvo::testing::visible;

// A console reading the given input and writing into a temporary file.
class ConsoleTest : public ::testing::Test {
protected:
    void start(const std::string& input, bool terminal) {
        in_ = std::tmpfile();
        out_ = std::tmpfile();
        std::fwrite(input.data(), 1, input.size(), in_);
        std::fflush(in_);
        std::rewind(in_);
        con_ = std::make_unique<Console>(fileno(in_), fileno(out_));
        con_->set_terminal(terminal, terminal);
    }
    void TearDown() override {
        if (in_) std::fclose(in_);
        if (out_) std::fclose(out_);
    }
    std::string output() { return visible(talvo::testing::read_all(fileno(out_))); }
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
    std::unique_ptr<Console> con_;
};

TEST_F(ConsoleTest, CarriageControl) {
    start("", false);
    con_->line("0");
    con_->line(" COVARIANCE");
    con_->line("0 INITIAL");
    con_->line("1page");
    con_->line("+over");
    con_->line("xplain");
    con_->line(" ");
    con_->line(" ");
    con_->close_line();
    EXPECT_EQ(output(), "\\r\\n\\r\\nCOVARIANCE\\r\\n\\r\\n INITIAL\\r\\n\\f\\b \\rpage\\rover\\r\\nplain\\r\\n\\r\\n\\r\\n");
}

TEST_F(ConsoleTest, RedirectedPromptsChainOnOneLine) {
    start("a\n5\n", false);
    con_->line(" ");
    con_->prompt(" Specify input data file: ");
    std::string name;
    ASSERT_EQ(con_->read_text(40, name, 40), 0);
    EXPECT_EQ(name, "a" + std::string(39, ' '));
    con_->prompt(" Sample size (n): ");
    std::int32_t n = 0;
    ASSERT_EQ(con_->read_int(8, n), 0);
    EXPECT_EQ(n, 5);
    con_->line("0 INITIAL FIVE CASES OF DATA");
    con_->line("0 <Press <ENTER> to continue ");
    EXPECT_EQ(con_->read_line(name), err::EndOfFile);
    EXPECT_EQ(output(),
              "\\r\\nSpecify input data file:  Sample size (n): 0 INITIAL FIVE CASES OF DATA\\r\\n\\r\\n <Press <ENTER> to "
              "continue ");
}

TEST_F(ConsoleTest, TerminalReadsEndTheLine) {
    start("a\n\nx\n", true);
    con_->line(" ");
    con_->prompt(" Specify input data file: ");
    std::string s;
    ASSERT_EQ(con_->read_text(40, s, 40), 0);
    con_->prompt(" Sample size (n): ");
    std::int32_t n = 3;
    ASSERT_EQ(con_->read_int(8, n), 0);
    EXPECT_EQ(n, 0);
    con_->line("0 <Press <ENTER> to continue ");
    ASSERT_EQ(con_->read_text(1, s, 1), 0);
    EXPECT_EQ(s, "x");
    con_->line("0 MISSINGNESS");
    con_->close_line();
    EXPECT_EQ(output(),
              "\\r\\nSpecify input data file: Sample size (n): \\r\\n <Press <ENTER> to continue \\r\\n\\r\\n "
              "MISSINGNESS\\r\\n");
}

TEST_F(ConsoleTest, EmptyLinesGiveZeroAndBlanks) {
    start("\n\n\n\r\n", false);
    std::string s;
    ASSERT_EQ(con_->read_text(40, s, 40), 0);
    EXPECT_EQ(s, std::string(40, ' '));
    ASSERT_EQ(con_->read_text(1, s, 1), 0);
    EXPECT_EQ(s, " ");
    double d = 5;
    ASSERT_EQ(con_->read_real(4, 0, d), 0);
    EXPECT_EQ(d, 0.0);
    std::int32_t i = 5;
    ASSERT_EQ(con_->read_int(4, i), 0);  // CR LF line end
    EXPECT_EQ(i, 0);
    EXPECT_EQ(con_->read_int(4, i), err::EndOfFile);
}

TEST_F(ConsoleTest, LongLinesOnATerminalAreErrors) {
    std::string long_line(131, '7');
    start(long_line + "\n" + std::string(132, '7') + "\n" + long_line + "\r\n", true);
    std::string s;
    EXPECT_EQ(con_->read_line(s), 0);  // 131 characters and the line feed
    EXPECT_EQ(con_->read_line(s), err::LineTooLong);
    EXPECT_EQ(con_->read_line(s), err::LineTooLong);  // CR LF: 133 with its end
}

TEST_F(ConsoleTest, LongLinesRedirectedAreCut) {
    start(std::string(100000, '9') + "\n" + "12\n", false);
    std::int32_t v = 0;
    ASSERT_EQ(con_->read_int(4, v), 0);
    EXPECT_EQ(v, 9999);
    ASSERT_EQ(con_->read_int(4, v), 0);
    EXPECT_EQ(v, 12);
}

TEST_F(ConsoleTest, BinaryJunkIsJustAnAnswer) {
    std::string junk("\x01\xff\x00\x7f\x1b[2J", 8);
    start(junk + "\n" + junk + "\n7", false);
    std::int32_t v = 0;
    EXPECT_EQ(con_->read_int(8, v), err::InvalidInt);
    std::string s;
    ASSERT_EQ(con_->read_text(40, s, 40), 0);
    EXPECT_EQ(s.substr(0, 8), junk);
    ASSERT_EQ(con_->read_int(8, v), 0);  // a last line without its line end
    EXPECT_EQ(v, 7);
}

}  // namespace
}  // namespace talvo
