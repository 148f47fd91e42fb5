#include "app/talvo.h"

#include "app/dialog.h"
#include "app/intake.h"
#include "engine/sequence.h"
#include "missing/summary.h"
#include "results/results.h"

namespace talvo {

namespace {

class DialogSteps final : public RunSteps, PassObserver {
public:
    DialogSteps(Console& con, const PassKernels* kernels) : con_(con), kernels_(kernels) {}

    void set_parameters(Run& run) override { ask_parameters(con_, run); }
    void read_data(Run& run) override { talvo::read_data(run); }
    void data_read(const Run& run) override {
        show_first_cases(con_, run);
        con_.pause("0 <Press <ENTER> to continue ");
    }
    void patterns_found(const Run& run) override {
        report_missingness(con_, run);
        con_.pause("0 Press <ENTER> to continue ");
    }
    void read_start_values(const Run& run, Mat& SVC) override { read_start_file(run.SVFIN, run.K, SVC); }
    PassObserver* observer() override { return this; }
    const PassKernels* kernels() const override { return kernels_; }
    void estimated(Run& run, const EmFacts&) override {
        write_results(run, files_);
        files_.close();
    }
    void ending_early(RunEnd& end) override { files_.close_after_failure(end); }

private:
    Console& con_;
    const PassKernels* kernels_;
    ResultFiles files_;

    // One line for each pass after the start values.
    void pass_checked(const PassReport& report) override {
        static const format::Format log_line = format::translate("(' ITER = ',I3,'     CONV = ',F20.15)");
        if (report.pass < 1) return;
        const format::Item items[] = {format::Item::of_int(report.pass), format::Item::of(report.largest_change)};
        con_.write(log_line, items);
    }
};

}  // namespace

int run_dialog(Console& con, Run& run, const PassKernels* kernels) {
    DialogSteps steps(con, kernels);
    const RunOutcome out = run_estimation(run, steps);
    if (!out.end) {
        con.close_line();
        return 0;
    }
    if (out.end->kind == RunEnd::Kind::Stop) {
        con.close_line();
        con.line(" " + out.end->message);
        con.close_line();
    } else {
        con.report(report_text(*out.end));
    }
    // Every early end is a failure: the run did not write its results.
    return 1;
}

}  // namespace talvo
