#include "app/sequence.h"

#include <new>
#include <stdexcept>
#include <string>

#include "app/dialog.h"
#include "app/intake.h"
#include "base/errors.h"
#include "estimate/em.h"
#include "estimate/start.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "missing/summary.h"
#include "results/results.h"
#include "state/allocate.h"

namespace talvo {

namespace {

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
    ask_parameters(run.con, run);
    check_sizes(run);
    allocate(run);
    read_data(run);
    show_first_cases(run);
    code_and_sum(run);
    build_pattern_table(run);
    summarise_missingness(run);
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
            stop(std::string(kNoStorage));
        } catch (const std::length_error&) {
            stop(std::string(kNoStorage));
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
        run.con.report(report_text(end));
    }
    // Every early end is a failure: the run did not write its results.
    return 1;
}

}  // namespace talvo
