// Results complete or absent: every result file of a run is written under a
// temporary name in the output folder and put in place only when the run
// ends normally. A run that fails removes its temporary files; one ended by
// SIGINT, SIGTERM or SIGHUP removes them in the signal handler, adds a last
// line to the log, and then ends by the signal. talvo.log itself is written
// as the run goes.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "app/batch/options.h"

namespace talvo::batch {

// The result files of one run and the handler of its signals; one at a time.
class Staging {
public:
    // The result files the options ask for (every planned file but the
    // log); the handler is in place from here on.
    explicit Staging(const Options& o);
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    // Removes the temporary files left, and puts back the handlers there were.
    ~Staging();

    // Where the result file `name` is written.
    std::string path(const std::string& name) const;
    // The log that the handler ends with the line "interrupted by SIG...";
    // -1: none (before the log is closed).
    void set_log(int fd);
    // Renames every result file into place: "" or what went wrong, and then
    // no result file is left under its final name or a temporary one. From
    // here a signal ends the program at once. Signals must be held off
    // (SignalsHeld).
    std::string commit();
    // After commit(): the result files removed again, when what was to
    // follow them (the log's last line) failed.
    void withdraw();
    // Removes the temporary files.
    void discard();

private:
    std::string out_;
    std::vector<std::string> final_, temp_;
    bool committed_ = false;
};

// SIGINT, SIGTERM and SIGHUP held off in this thread while it lives; one
// that comes meanwhile is taken when it ends. (The handler sends a signal
// that another thread catches to this one.)
class SignalsHeld {
public:
    SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
    ~SignalsHeld();

private:
    sigset_t old_;  // the thread's signal mask before
};

}  // namespace talvo::batch
