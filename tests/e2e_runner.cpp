// Runs the end-to-end cases: each case directory under the given folder
// holds
//   about            one line: what the case shows
//   stdin            the answers, piped to the program
//   in/              files put into the fresh run directory first (optional)
//   expected/stdout, expected/stderr, expected/status
//   expected/files/  every file the run creates or changes, byte for byte;
//                    every other file must be an unchanged file of in/
// The program runs in a fresh temporary directory with redirected streams.
// Usage: e2e_runner <program> <cases folder> [case ...]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string escaped(const std::string& s, size_t from, size_t count) {
    std::string out;
    for (size_t i = from; i < s.size() && i < from + count; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\f') out += "\\f";
        else if (c == '\b') out += "\\b";
        else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out;
}

// Empty when equal; else where and how the bytes differ.
std::string compare(const std::string& what, const std::string& want, const std::string& got) {
    if (want == got) return {};
    size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
    size_t from = i > 30 ? i - 30 : 0;
    std::ostringstream os;
    os << "  " << what << ": first difference at byte " << i << " (expected " << want.size() << " bytes, got "
       << got.size() << ")\n"
       << "    expected: ..." << escaped(want, from, 80) << "\n"
       << "    got:      ..." << escaped(got, from, 80) << "\n";
    return os.str();
}

std::map<std::string, std::string> files_below(const fs::path& dir) {
    std::map<std::string, std::string> m;
    if (!fs::exists(dir)) return m;
    for (auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) m[fs::relative(e.path(), dir).string()] = slurp(e.path());
    return m;
}

// Runs the program; returns the exit status (or 128 + signal, or -1 on timeout).
int run_program(const std::string& program, const fs::path& dir, const fs::path& in, const fs::path& out,
                const fs::path& err) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int i = open(in.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (i < 0 || o < 0 || e < 0) _exit(126);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(120)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string run_case(const std::string& program, const fs::path& c) {
    char tmpl[] = "/tmp/talvo-e2e-XXXXXX";
    fs::path base = mkdtemp(tmpl);
    fs::path dir = base / "run";
    fs::create_directory(dir);
    // Links (a result file name pointing at /dev/full, say) are copied as links.
    if (fs::exists(c / "in")) fs::copy(c / "in", dir, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    int status = run_program(program, dir, c / "stdin", base / "stdout", base / "stderr");
    std::string report;
    fs::path exp = c / "expected";
    report += compare("stdout", slurp(exp / "stdout"), slurp(base / "stdout"));
    report += compare("stderr", slurp(exp / "stderr"), slurp(base / "stderr"));
    std::string want_status = slurp(exp / "status");
    while (!want_status.empty() && (want_status.back() == '\n' || want_status.back() == '\r')) want_status.pop_back();
    if (std::to_string(status) != want_status)
        report += "  exit status: expected " + want_status + ", got " + std::to_string(status) + "\n";
    auto want = files_below(c / "in");
    for (auto& [name, bytes] : files_below(exp / "files")) want[name] = bytes;
    auto got = files_below(dir);
    for (auto& [name, bytes] : want) {
        auto it = got.find(name);
        if (it == got.end()) report += "  file " + name + ": missing\n";
        else report += compare("file " + name, bytes, it->second);
    }
    for (auto& [name, bytes] : got)
        if (!want.count(name)) report += "  file " + name + ": not expected (" + std::to_string(bytes.size()) + " bytes)\n";
    fs::remove_all(base);
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_runner <program> <cases folder> [case ...]\n");
        return 2;
    }
    std::string program = fs::absolute(argv[1]).string();
    fs::path root = fs::absolute(argv[2]);
    std::vector<fs::path> cases;
    if (argc > 3) {
        for (int i = 3; i < argc; ++i) cases.push_back(root / argv[i]);
    } else {
        for (auto& e : fs::directory_iterator(root))
            if (e.is_directory() && fs::exists(e.path() / "stdin")) cases.push_back(e.path());
        std::sort(cases.begin(), cases.end());
    }
    int failed = 0;
    for (auto& c : cases) {
        std::string report = run_case(program, c);
        std::string about = slurp(c / "about");
        while (!about.empty() && about.back() == '\n') about.pop_back();
        if (report.empty()) {
            std::printf("ok   %s\n", c.filename().c_str());
        } else {
            ++failed;
            std::printf("FAIL %s: %s\n%s", c.filename().c_str(), about.c_str(), report.c_str());
        }
    }
    std::printf("%zu cases, %d failed\n", cases.size(), failed);
    return failed ? 1 : 0;
}
