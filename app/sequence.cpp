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
#include "missing/summary.h"
#include "results/results.h"
#include "state/allocate.h"

namespace talvo {

void close_result_files(Run& run, RunEnd& end) {
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

namespace {

void sequence(Run& run) {
    ask_parameters(run.con, run);
    check_sizes(run);
    allocate(run);
    read_data(run);
    show_first_cases(run);
    run.con.pause("0 <Press <ENTER> to continue ");
    code_and_classify(run);
    summarise_missingness(run);
    run.con.pause("0 Press <ENTER> to continue ");
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
    close_result_files(run, end);
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
