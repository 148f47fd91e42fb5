// The program on a real terminal (a pseudo-terminal): reads end the open
// line, prompts do not chain, and over-long input lines are errors. Echo
// and output processing are switched off, so the bytes seen are exactly
// the bytes the program writes (standard output and error both go there).
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// What the program writes for the typed input, and its exit status.
std::pair<std::string, int> run_in_terminal(const std::string& input, const fs::path& dir) {
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
    if (pid < 0) return {"no terminal", -2};
    std::string out;
    char buf[4096];
    // Type ahead only once the first prompt shows: the terminal is set up by then.
    bool typed = false;
    for (;;) {
        if (!typed && out.find("Specify input data file: ") != std::string::npos) {
            for (std::size_t at = 0; at < input.size();) {
                ssize_t n = write(master, input.data() + at, input.size() - at);
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
            typed = true;
        }
        ssize_t n = read(master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            break;  // EIO: the program has ended
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

const std::string kBanner =
    "\r\n\r\nCOVARIANCE ESTIMATION WITH MISSING VALUES \r\n   An application of the EM algorithm \r\n"
    "             TALVO.EXE v2.3 \r\n    \r\n\r\n\r\nSpecify input data file: ";
const std::string kEof = "\x04", kLong(140, '1');

TEST(Terminal, EndOfInputAndOverLongLines) {
    char tmpl[] = "/tmp/talvo-tty-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    auto [out, status] = run_in_terminal("data.txt\nabc\n" + kEof, dir);
    if (status == -2) GTEST_SKIP() << "no pseudo-terminal on this machine";
    const std::string asked_twice =
        "Sample size (n): Sample size (n): \r\nrun-time error F6501: READ(CON)\r\n- end of file\r\n";
    EXPECT_EQ(out, kBanner + asked_twice);
    EXPECT_EQ(status, 1);
    // Asked again at a numeric prompt, the end of the run at the file name.
    EXPECT_EQ(run_in_terminal("x\n" + kLong + "\n" + kEof, dir).first, kBanner + asked_twice);
    EXPECT_EQ(run_in_terminal(kLong + "\n" + kEof, dir).first,
              kBanner + "\r\nrun-time error F6407: READ(CON)\r\n- console input line too long\r\n");
    fs::remove_all(dir);
}

TEST(Terminal, AWholeRunReadsEndOpenLinesAndPromptsDoNotChain) {
    char tmpl[] = "/tmp/talvo-tty-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    std::ofstream(dir / "w.dat") << "1 2\n2 3\n3 5\n4 9\n";
    auto [out, status] = run_in_terminal("w.dat\n4\n2\n\n\n1\n\n\n\n\n\n\n", dir);
    if (status == -2) GTEST_SKIP() << "no pseudo-terminal on this machine";
    const std::string want =
        "Sample size (n): Number of variables (k): Input maximum # of allowable missing patterns (20): Input missing "
        "value indicator (9): Select start values (1=LW,2=PW,3=CM): Maximum number of iterations (200): Convergence "
        "criterion (.00001): Additional output? (1=Yes,<CR>=No): Specify output format (6F12.7): "
        "\r\n INITIAL FIVE CASES OF DATA\r\n\r\n CASE # 1\r\n   1.000     2.000\r\n\r\n CASE # 2\r\n   2.000     3.000"
        "\r\n\r\n CASE # 3\r\n   3.000     5.000\r\n\r\n CASE # 4\r\n   4.000     9.000\r\n\r\n <Press <ENTER> to "
        "continue "
        "\r\n\r\n MISSINGNESS: Pattern frequencies and percentages\r\n\r\n Total number of missingness patterns:    2"
        "\r\n Largest number within-case missing:      1     50.0%\r\n Percentage total missing variables:    12.50%"
        "\r\n\r\n Press <ENTER> to continue \r\nITER =   1     CONV =    1.756172839506178\r\n"
        "ITER =   2     CONV =     .002057613168716\r\nITER =   3     CONV =     .000685871056243\r\n"
        "ITER =   4     CONV =     .000228623685416\r\nITER =   5     CONV =     .000076207895139\r\n"
        "ITER =   6     CONV =     .000025402631711\r\nITER =   7     CONV =     .000008467543907\r\n";
    EXPECT_EQ(out, kBanner + want);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::exists(dir / "temp.cov"));
    fs::remove_all(dir);
}

}  // namespace
