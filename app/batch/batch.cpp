#include "app/batch/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/batch/impute.h"
#include "app/batch/outputs.h"
#include "app/batch/plots.h"
#include "app/batch/staging.h"
#include "app/batch/start.h"
#include "app/batch/statistics.h"
#include "app/batch/table.h"
#include "app/batch/trust.h"
#include "app/intake.h"
#include "base/sysio.h"
#include "engine/sequence.h"
#include "results/results.h"

namespace talvo::batch {

namespace {

int usage(const std::string& e) {
    write_all(2, "talvo-batch: " + e + "\nTry 'talvo-batch --help' for more information.\n");
    return kUsage;
}

int failed(const std::string& e) {
    write_all(2, "talvo-batch: " + e + "\n");
    return kFailed;
}

// What usually lies behind a run that ended early.
std::string hint(const Options& o, const Run& run, const RunEnd& end) {
    const std::string h = fault_hint(o, run, end);
    return h.empty() ? "" : "talvo-batch: " + h + "\n";
}

// The parameters the run uses, for the head of the log.
std::vector<std::string> head(const Options& o, const Table& t, const Run& run) {
    auto item = [](std::string label, const std::string& value) {
        label.resize(22, ' ');
        return label + value;
    };
    std::string names, missing = std::to_string(t.missing) + " (";
    for (const std::string& n : t.names) names += (names.empty() ? ": " : ", ") + n;
    if (o.missing) missing += "code " + shortest(t.code) + (o.na ? "; " : "");
    if (o.na) {
        for (std::size_t i = 0; i < o.na_words.size(); ++i) missing += (i ? ", " : "") + o.na_words[i];
        missing += " and empty fields";
        if (t.code_chosen) missing += ", coded " + shortest(t.code);
    }
    if (!o.missing && !o.na) missing += "default code 9";
    const char* starts[] = {"listwise", "pairwise", "from the file "};
    std::vector<std::string> lines{
        std::string(version_text().substr(0, version_text().size() - 1)),
        item("data file:", o.data),
        item("cases (n):", std::to_string(run.N)),
        item("variables (k):", std::to_string(run.K) + (t.named ? names : "")),
        item("missing values:", missing + ")"),
        item("start values:", starts[static_cast<int>(run.SIV) - 1] + o.start_file),
        item("pass limit:", std::to_string(run.MAXITER)),
        item("criterion:", shortest(run.CRIT) + (o.absolute ? " (largest absolute change of a covariance)"
                                                            : " (largest change relative to the scale)")),
    };
    if (o.ridge > 0.0 && o.impute == 0)
        lines.push_back(item("ridge prior:", shortest(o.ridge) + " pseudo-observations"));
    if (o.impute > 0) lines.push_back(item("imputation:", impute_head(o)));
    if (run.BMOD == 1)
        lines.push_back(item("attrition correction:", shortest(run.YINT) + " + " + shortest(run.YHAT) + " x value"));
    lines.push_back(item("additional output:", run.OPTOUT == 1 ? "yes" : "no"));
    lines.push_back(item("output format:", run.OUTFMT));
    return lines;
}

// A progress line on a terminal: the pass, its largest change, the time so far.
struct Progress {
    using Clock = std::chrono::steady_clock;
    Clock::time_point start = Clock::now(), last;
    bool shown = false;
    void operator()(const PassReport& report) {
        const auto now = Clock::now();
        if (shown && now - last < std::chrono::milliseconds(200)) return;
        last = now;
        shown = true;
        char line[128];
        std::snprintf(line, sizeof line, "\rpass %d, largest change %.3e, %.1f s ", report.pass, report.largest_change,
                      std::chrono::duration<double>(now - start).count());
        write_all(2, line);
    }
    void clear() {
        if (shown) write_all(2, "\r\033[K");
        shown = false;
    }
};

// The phases of talvo on the checked data, without its pauses: the log
// takes the console's lines, and the results go to the output folder.
class BatchSteps final : public RunSteps, PassObserver {
public:
    BatchSteps(const Options& o, Table& t, const Mat& start, Console& log, const Staging& staging)
        : o_(o), t_(t), start_(start), log_(log), staging_(staging) {
        ResultNames& names = files_.names;
        names.folder = o.out;
        for (std::string* name : {&names.cov, &names.ptn, &names.dat, &names.res}) *name = staged_name(*name);
    }

    void read_data(Run& run) override {
        fill_data(o_, t_, run);  // the run takes the values
    }
    void data_read(const Run& run) override {
        const std::vector<std::string> lines = first_case_lines(run);
        for (std::size_t i = 0; i < lines.size(); ++i) log_.line((i == 0 ? "0" : " ") + lines[i]);
        log_written();
    }
    void patterns_found(const Run& run) override {
        const std::vector<std::string> lines = summary_lines(run);
        for (std::size_t i = 0; i < lines.size(); ++i) log_.line((i == 0 ? "0" : " ") + lines[i]);
        log_written();
    }
    void start_values_set(const Run& run) override {
        for (const std::string& note : start_notes(o_, run)) {
            log_.line(" " + note);
            write_all(2, "talvo-batch: " + note + "\n");
        }
        log_written();
    }
    // The values read before the run.
    void read_start_values(const Run& run, Mat& SVC) override {
        for (std::int32_t I = 0; I <= run.K; ++I)
            for (std::int32_t J = 1; J <= run.K; ++J) SVC(I, J) = start_(I, J);
    }
    PassObserver* observer() override { return this; }
    void estimated(Run& run, const EmFacts&) override {
        write_results(run, files_);
        files_.close();
        progress_.clear();
        if (files_.cov.starred() > 0)
            write_all(2, "talvo-batch: warning: temp.cov holds asterisks: values too wide for the format's fields\n");
        warning_ = near_singular_warning(run, t_.names);
        if (o_.csv)
            trouble_ = write_csv_files(
                o_, run, t_.names, [&](const std::string& n) { return staging_.path(n); }, t_.ids);
        if (o_.plot && trouble_.empty()) {
            for (auto [name, svg] : {std::pair{"trace.svg", trace_svg(changes_, run.CRIT, logliks_)},
                                     {"patterns.svg", patterns_svg(run, t_.names)}}) {
                Writer w(staging_.path(name));
                w.out() = svg;
                if (trouble_ = w.finish(); !trouble_.empty()) break;
            }
        }
    }
    void ending_early(RunEnd& end) override {
        files_.close_after_failure(end);
        progress_.clear();
    }

    // What went wrong after the results were written, or "".
    const std::string& trouble() const { return trouble_; }
    // The warning of a near-singular estimate, or "".
    const std::string& warning() const { return warning_; }

private:
    const Options& o_;
    Table& t_;
    const Mat& start_;
    Console& log_;
    const Staging& staging_;
    ResultFiles files_;
    std::vector<double> changes_;  // the largest change of each pass, pass 0 first
    std::vector<double> logliks_;  // the log-likelihood of each pass, where computed
    Progress progress_;
    const bool terminal_ = isatty(2) == 1;
    std::string trouble_, warning_;

    // A log that cannot be written ends the run: it is the run's record.
    void log_written() const {
        if (int e = log_.output_error())
            stop(in_folder(o_, std::string(kLogName)) + ": cannot be written: " + std::strerror(e));
    }

    // The log line of each pass after the start values, and the progress
    // line on a terminal.
    void pass_checked(const PassReport& report) override {
        changes_.push_back(report.largest_change);
        logliks_.push_back(report.log_likelihood);
        if (report.pass >= 1) {
            log_.line(std::string(" ").append(pass_line(report)));
            log_written();
        }
        if (terminal_) progress_(report);
    }
};

void set_parameters(Run& run, const Options& o, const Table& t, const std::string& fmt) {
    run.FIN = o.data;
    run.N = t.N;
    run.K = t.K;
    run.PTN = 20;  // a starting size only: the pattern table grows as the data need
    run.MVI = t.code;
    run.SIV = o.start == Start::Listwise   ? StartMethod::Listwise
              : o.start == Start::Pairwise ? StartMethod::Pairwise
                                           : StartMethod::File;
    run.SVFIN = o.start_file;
    run.MAXITER = o.max_passes;
    run.CRIT = o.criterion;
    run.OPTOUT = o.all ? 1 : 0;
    run.BMOD = o.attrition ? 1 : 0;
    run.YINT = o.b0;
    run.YHAT = o.b1;
    run.OUTFMT = fmt;
    run.EST = estimator_of(o);
}

// The run, its log and its verdict; the exit status. The results are put
// in place at a normal end only, and before the log's last line.
int run_and_report(const Options& o, Table& t, const Mat& start, Run& run, Staging& staging) {
    const std::string log_name = in_folder(o, std::string(kLogName));
    const int log = ::open(log_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (log < 0) return failed(log_name + ": cannot be written: " + std::strerror(errno));
    staging.set_log(log);
    Console con(-1, log);
    auto log_fault = [&](int e) { return e ? log_name + ": cannot be written: " + std::strerror(e) : std::string(); };
    // The last line, and the log closed: "" or what went wrong.
    auto finish = [&](const std::string& last) {
        con.line(" " + last);
        con.close_line();
        staging.set_log(-1);
        int e = con.output_error();
        if (::close(log) != 0 && e == 0) e = errno;
        return log_fault(e);
    };
    for (const std::string& line : head(o, t, run)) con.line(" " + line);
    if (con.output_error()) {
        const std::string e = log_fault(con.output_error());
        staging.set_log(-1);
        ::close(log);
        return failed(e);
    }

    BatchSteps steps(o, t, start, con, staging);
    const RunOutcome out = run_estimation(run, steps);
    // The imputations, with signals taken: they may take long. They read
    // only the observed values and replace the filled ones, which the
    // statistics do not read.
    std::string impute_error;
    std::vector<std::string> impute_lines;
    if (o.impute > 0 && !out.end && steps.trouble().empty()) {
        try {
            impute_error = write_imputations(
                o, run, out.theta, t.names, t.ids, [&](const std::string& n) { return staging.path(n); }, impute_lines);
        } catch (const RunEnd& end) {
            impute_error = report_line(end);
        } catch (const std::bad_alloc&) {
            impute_error = std::string(kNoStorage);
        }
    }
    std::string verdict;
    {
        SignalsHeld held;
        if (out.end && out.end->kind == RunEnd::Kind::Degenerate) {
            staging.discard();
            const std::vector<std::string> lines = degenerate_text(o, run, *out.end, t.names);
            con.line(" failed: " + lines[0]);
            for (std::size_t i = 1; i + 1 < lines.size(); ++i) con.line(" " + lines[i]);
            finish(lines.back());
            for (const std::string& line : lines) write_all(2, "talvo-batch: " + line + "\n");
            return kFailed;
        }
        if (out.end || !steps.trouble().empty()) {
            staging.discard();
            const std::string why = out.end ? report_line(*out.end) : steps.trouble();
            finish("failed: " + why);
            write_all(2, "talvo-batch: " + why + "\n" + (out.end ? hint(o, run, *out.end) : ""));
            return kFailed;
        }
        const EmFacts& em = out.em;
        if (em.converged) {
            verdict = "converged after " + std::to_string(em.passes) + (em.passes == 1 ? " pass" : " passes");
            if (em.complete) verdict += ": no value is missing";
        } else {
            verdict = pass_limit_verdict(o, em.last_change);
        }
        std::vector<std::string> warnings;
        if (!steps.warning().empty()) warnings.push_back(steps.warning());
        if (std::string e = write_statistics(o, run, out, t.names, verdict, warnings,
                                             [&](const std::string& n) { return staging.path(n); });
            !e.empty()) {
            staging.discard();
            finish("failed: " + e);
            return failed(e);
        }
        if (o.impute > 0) {
            for (const std::string& line : impute_lines) con.line(" " + line);
            if (!impute_error.empty()) {
                staging.discard();
                finish("failed: " + impute_error);
                return failed(impute_error);
            }
            if (!em.converged)
                warnings.push_back(
                    "warning: the data augmentation started from estimates that have not converged; the burn-in "
                    "must make up for it");
        }
        for (const std::string& w : warnings) {
            con.line(" " + w);
            write_all(2, "talvo-batch: " + w + "\n");
        }
        if (std::string e = staging.commit(); !e.empty()) {
            finish("failed: " + e);
            return failed(e);
        }
        if (std::string e = finish(verdict); !e.empty()) {
            staging.withdraw();
            return failed(e);
        }
    }
    write_all(1, verdict + "\n");
    return out.em.converged ? kConverged : kNotConverged;
}

}  // namespace

int run_batch(int argc, char** argv) {
    const Command cmd = parse_command_line(argc, argv);
    switch (cmd.what) {
        case Command::What::Help: write_all(1, help_text()); return kConverged;
        case Command::What::Version: write_all(1, version_text()); return kConverged;
        case Command::What::Usage: return usage(cmd.error);
        case Command::What::Run: break;
    }
    const Options& o = cmd.options;
    if (!o.format.empty())
        if (std::string e = check_format(o.format, 0); !e.empty()) return usage(e);
    if (std::string e = check_start_file(o); !e.empty()) return failed(e);
    Table t;
    try {
        if (std::string e = read_table(o, t); !e.empty()) return t.usage ? usage(e) : failed(e);
    } catch (const RunEnd& e) {
        return failed(report_line(e));
    } catch (const std::bad_alloc&) {
        return failed(std::string(kNoStorage));
    }
    const std::string fmt = o.format.empty() ? default_format(t.K) : o.format;
    if (std::string e = check_format(fmt, t.K); !e.empty()) {
        if (!o.format.empty()) return usage(e);
        // The default writes a row of values on one line, which has room
        // for so many only.
        return failed(o.data + ": " + std::to_string(t.K) + " variables: a row of the result files would be " +
                      std::to_string(std::int64_t{24} * t.K) + " characters long, more than a line can hold (" +
                      std::to_string(format::kMaxRecord) + ")");
    }
    Mat start;
    if (o.start == Start::File)
        if (std::string e = read_start_values(o, t.K, start); !e.empty()) return failed(e);
    // From here a signal removes what the run has written of its results.
    Staging staging(o);
    {
        SignalsHeld held;
        if (std::string e = prepare_folder(o); !e.empty()) return failed(e);
    }
    Run run;
    set_parameters(run, o, t, fmt);
    return run_and_report(o, t, start, run, staging);
}

}  // namespace talvo::batch
