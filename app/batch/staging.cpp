#include "app/batch/staging.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "app/batch/outputs.h"

namespace talvo::batch {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler reads. Set before it is installed, and changed only by
// the thread it runs on, with the signals held off.
std::vector<const char*> g_paths;  // the temporary files, owned by the Staging
std::atomic<std::size_t> g_count{0};
std::atomic<int> g_log{-1};
std::atomic<bool> g_done{false};  // the results are in place: the signal's default action only
bool g_terminal = false;          // standard error is a terminal, which may show a progress line
pthread_t g_main;
struct sigaction g_old[std::size(kSignals)];

// The log's last line, and the line on standard error.
const char* log_note(int sig) {
    switch (sig) {
        case SIGINT: return "\r\ninterrupted by SIGINT: no result file written\r\n";
        case SIGTERM: return "\r\ninterrupted by SIGTERM: no result file written\r\n";
        default: return "\r\ninterrupted by SIGHUP: no result file written\r\n";
    }
}
const char* error_note(int sig) {
    switch (sig) {
        case SIGINT: return "talvo-batch: interrupted by SIGINT: no result file written\n";
        case SIGTERM: return "talvo-batch: interrupted by SIGTERM: no result file written\n";
        default: return "talvo-batch: interrupted by SIGHUP: no result file written\n";
    }
}

// Only async-signal-safe calls: the temporary files removed, the log told,
// and the signal taken again with its default action, so that whoever
// started the run sees what ended it. The run's other threads pass the
// signal on to the one that holds the files.
extern "C" void on_signal(int sig) {
    if (!pthread_equal(pthread_self(), g_main)) {
        pthread_kill(g_main, sig);
        return;
    }
    const int saved = errno;
    if (g_done.load()) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    const std::size_t n = g_count.load();
    for (std::size_t i = 0; i < n; ++i) ::unlink(g_paths[i]);
    if (const int log = g_log.load(); log >= 0) (void)!::write(log, log_note(sig), std::strlen(log_note(sig)));
    if (g_terminal) (void)!::write(2, "\r\033[K", 4);
    (void)!::write(2, error_note(sig), std::strlen(error_note(sig)));
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // taken when the handler returns
    errno = saved;
}

}  // namespace

Staging::Staging(const Options& o) : out_(o.out) {
    for (const std::string& name : planned_files(o)) {
        if (name == kLogName) continue;
        final_.push_back(in_folder(o, name));
        temp_.push_back(in_folder(o, staged_name(name)));
    }
    g_paths.clear();
    for (const std::string& t : temp_) g_paths.push_back(t.c_str());
    g_count = g_paths.size();
    g_log = -1;
    g_done = false;
    g_main = pthread_self();
    g_terminal = isatty(2) == 1;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals) sigaddset(&sa.sa_mask, s);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], nullptr, &g_old[i]);
        // A signal ignored by whoever started the run (nohup, a job in the
        // background of a script) stays ignored.
        if (g_old[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &sa, nullptr);
    }
}

Staging::~Staging() {
    SignalsHeld held;
    if (!committed_) discard();
    g_count = 0;
    g_log = -1;
    g_done = true;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &g_old[i], nullptr);
}

std::string Staging::path(const std::string& name) const {
    const std::string temp = staged_name(name);
    return out_ == "." ? temp : out_ + "/" + temp;
}

void Staging::set_log(int fd) { g_log = fd; }

std::string Staging::commit() {
    for (std::size_t i = 0; i < temp_.size(); ++i) {
        if (::rename(temp_[i].c_str(), final_[i].c_str()) == 0) continue;
        const int e = errno;
        for (std::size_t j = 0; j < i; ++j) ::unlink(final_[j].c_str());
        discard();
        return final_[i] + ": cannot be put in place: " + std::strerror(e);
    }
    committed_ = true;
    g_count = 0;
    g_log = -1;
    g_done = true;
    return "";
}

void Staging::withdraw() {
    for (const std::string& f : final_) ::unlink(f.c_str());
    committed_ = false;
}

void Staging::discard() {
    for (const std::string& t : temp_) ::unlink(t.c_str());
}

SignalsHeld::SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

}  // namespace talvo::batch
