#include "app/run.h"

#include <unistd.h>

#include <new>
#include <stdexcept>
#include <string>

#include "app/dialog.h"
#include "app/intake.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "missing/report.h"
#include "estimate/em.h"
#include "estimate/start.h"
#include "report/results.h"
#include "textio/errors.h"

namespace talvo {

namespace {

void write_all(int fd, const std::string& s) {
    const char* p = s.data();
    size_t left = s.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// A run ending early: the records collected for the open result files are
// written out first. Those records were written before whatever ended the
// run, so a failure among them is the error to report.
void close_all(Run& run, RunEnd& end) {
    for (OutFile* f : {&run.cov, &run.ptn, &run.dat, &run.res}) {
        int e = f->flush_pending();
        if (e && end.kind != RunEnd::Kind::Stop) {
            end.kind = RunEnd::Kind::IoError;
            end.number = e;
            end.stmt = Stmt::Write;
            end.file = f->name();
        }
        f->close_quietly();
    }
}

void sequence(Run& run) {
    NPUT(run.con, run);
    check_sizes(run);
    allocate(run);
    read_data(run);
    show_first_cases(run);
    code_and_sum(run);
    build_pattern_table(run);
    report_missingness(run);
    start_values(run);
    em(run);
    write_results(run);
}

}  // namespace

int execute(Run& run) {
    RunEnd end;
    try {
        try {
            sequence(run);
            // Normal end: the files still open are closed, an open line ended.
            run.ptn.close();
            run.con.close_line();
            return 0;
        } catch (const std::bad_alloc&) {
            stop(std::string(msg::NoStorage));
        } catch (const std::length_error&) {
            stop(std::string(msg::NoStorage));
        }
    } catch (const RunEnd& e) {
        end = e;
    }
    close_all(run, end);
    if (end.kind == RunEnd::Kind::Stop) {
        run.con.close_line();
        run.con.line(" " + end.message);
        run.con.close_line();
    } else {
        write_all(2, report_text(end));
    }
    return exit_status(end);
}

}  // namespace talvo
