// The program on a real terminal (a pseudo-terminal): reads end the open
// line, prompts do not chain, and over-long input lines are errors.
// Echo and output processing are switched off so that the bytes seen are
// exactly the bytes the program writes (standard output and standard error
// both go to the terminal).
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "helpers.h"

namespace {

namespace fs = std::filesystem;
using talvo::testing::visible;

struct Result {
    std::string output;
    int status = -1;
};

Result run_in_terminal(const std::string& input, const fs::path& dir) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        termios t;
        tcgetattr(0, &t);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(0, TCSANOW, &t);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(TALVO_BIN, TALVO_BIN, static_cast<char*>(nullptr));
        _exit(127);
    }
    Result r;
    if (pid < 0) {
        r.status = -2;  // no terminal to be had
        return r;
    }
    char buf[4096];
    // Type ahead only once the first prompt shows: the terminal is set up by then.
    while (r.output.find("Specify input data file: ") == std::string::npos) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) r.output.append(buf, static_cast<size_t>(n));
        else if (!(n < 0 && errno == EINTR)) break;
    }
    const char* p = input.data();
    size_t left = input.size();
    while (left > 0) {
        ssize_t n = write(master, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    for (;;) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) {
            r.output.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EIO: the program has ended and closed the terminal
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class Terminal : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/talvo-tty-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

const std::string kBanner =
    "\r\n\r\nCOVARIANCE ESTIMATION WITH MISSING VALUES \r\n   An application of the EM algorithm \r\n"
    "             TALVO.EXE v2.3 \r\n    \r\n\r\n";
const std::string kEof = "\x04";

TEST_F(Terminal, PromptsStandOnTheirOwnLinesAndEndOfInputIsReported) {
    Result r = run_in_terminal("data.txt\nabc\n" + kEof, dir_);
    if (r.status == -2) GTEST_SKIP() << "no pseudo-terminal on this machine";
    EXPECT_EQ(visible(r.output),
              visible(kBanner + "\r\nSpecify input data file: Sample size (n): Sample size (n): " +
                      "\r\nrun-time error F6501: READ(CON)\r\n- end of file\r\n"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(Terminal, AnOverLongLineIsAskedAgainOrEndsTheRun) {
    std::string long_line(140, '1');
    Result r = run_in_terminal(long_line + "\nx\n" + long_line + "\n" + kEof, dir_);
    EXPECT_EQ(visible(r.output), visible(kBanner + "\r\nSpecify input data file: " +
                                         "\r\nrun-time error F6407: READ(CON)\r\n- console input line too long\r\n"));
    EXPECT_EQ(r.status, 1);
    r = run_in_terminal("x\n" + long_line + "\n" + kEof, dir_);
    EXPECT_EQ(visible(r.output),
              visible(kBanner + "\r\nSpecify input data file: Sample size (n): Sample size (n): " +
                      "\r\nrun-time error F6501: READ(CON)\r\n- end of file\r\n"));
}

TEST_F(Terminal, AWholeRunReadsEndOpenLinesAndPromptsDoNotChain) {
    std::ofstream(dir_ / "w.dat") << "1 2\n2 3\n3 5\n4 9\n";
    Result r = run_in_terminal("w.dat\n4\n2\n\n\n1\n\n\n\n\n\n\n", dir_);
    if (r.status == -2) GTEST_SKIP() << "no pseudo-terminal on this machine";
    std::string want = kBanner +
                       "\r\nSpecify input data file: Sample size (n): Number of variables (k): Input maximum # of "
                       "allowable missing patterns (20): Input missing value indicator (9): Select start values "
                       "(1=LW,2=PW,3=CM): Maximum number of iterations (200): Convergence criterion (.00001): "
                       "Additional output? (1=Yes,<CR>=No): Specify output format (6F12.7): "
                       "\r\n INITIAL FIVE CASES OF DATA"
                       "\r\n\r\n CASE # 1\r\n   1.000     2.000"
                       "\r\n\r\n CASE # 2\r\n   2.000     3.000"
                       "\r\n\r\n CASE # 3\r\n   3.000     5.000"
                       "\r\n\r\n CASE # 4\r\n   4.000     9.000"
                       "\r\n\r\n <Press <ENTER> to continue \r\n"
                       "\r\n MISSINGNESS: Pattern frequencies and percentages"
                       "\r\n\r\n Total number of missingness patterns:    2"
                       "\r\n Largest number within-case missing:      1     50.0%"
                       "\r\n Percentage total missing variables:    12.50%"
                       "\r\n\r\n Press <ENTER> to continue \r\n"
                       "ITER =   1     CONV =    1.756172839506178\r\n"
                       "ITER =   2     CONV =     .002057613168716\r\n"
                       "ITER =   3     CONV =     .000685871056243\r\n"
                       "ITER =   4     CONV =     .000228623685416\r\n"
                       "ITER =   5     CONV =     .000076207895139\r\n"
                       "ITER =   6     CONV =     .000025402631711\r\n"
                       "ITER =   7     CONV =     .000008467543907\r\n";
    EXPECT_EQ(visible(r.output), visible(want));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(dir_ / "temp.cov"));
    EXPECT_FALSE(fs::exists(dir_ / "temp.dat"));
}

}  // namespace
