#include "app/batch/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/batch/outputs.h"
#include "app/batch/plots.h"
#include "app/batch/table.h"
#include "app/intake.h"
#include "base/sysio.h"
#include "engine/sequence.h"
#include "missing/summary.h"
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
std::string hint(const RunEnd& end, bool start_file) {
    if (start_file) return "talvo-batch: a start-value file holds K rows of K covariances, then a row of K means\n";
    if (end.kind != RunEnd::Kind::MathFault) return "";
    if (end.number == static_cast<int>(Fault::Overflow))
        return "talvo-batch: values so large that their products overflow: rescale the data\n";
    return "talvo-batch: a variable is constant, or repeats another or is an exact linear function of others\n";
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
        item("criterion:", shortest(run.CRIT)),
    };
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

// A start-value file that can be read: "" or what is wrong.
std::string check_start_file(const Options& o) {
    if (o.start != Start::File) return "";
    int fd = ::open(o.start_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return o.start_file + ": cannot be opened: " + std::strerror(errno);
    struct stat st;
    const bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (folder) return o.start_file + ": is a folder, not a start-value file";
    return "";
}

// The phases of talvo on the checked data, without its pauses: the log
// takes the console's lines, and the results go to the output folder.
class BatchSteps final : public RunSteps, PassObserver {
public:
    BatchSteps(const Options& o, Table& t, Console& log) : o_(o), t_(t), log_(log) { files_.names.folder = o.out; }

    void read_data(Run& run) override {
        fill_data(o_, t_, run);  // the run takes the values
    }
    void data_read(const Run& run) override { show_first_cases(log_, run); }
    void patterns_found(const Run& run) override { report_missingness(log_, run); }
    void read_start_values(const Run& run, Mat& SVC) override { read_start_file(o_.start_file, run.K, SVC); }
    PassObserver* observer() override { return this; }
    void estimated(Run& run, const EmFacts&) override {
        write_results(run, files_);
        files_.close();
        progress_.clear();
        if (files_.cov.starred() > 0)
            write_all(2, "talvo-batch: warning: temp.cov holds asterisks: values too wide for the format's fields\n");
        if (o_.csv) trouble_ = write_csv_files(o_, run, t_.names, t_.ids);
        if (o_.plot && trouble_.empty()) {
            for (auto [name, svg] : {std::pair{"trace.svg", trace_svg(changes_, run.CRIT)},
                                     {"patterns.svg", patterns_svg(run, t_.names)}}) {
                Writer w(in_folder(o_, name));
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

private:
    const Options& o_;
    Table& t_;
    Console& log_;
    ResultFiles files_;
    std::vector<double> changes_;  // the largest change of each pass, pass 0 first
    Progress progress_;
    const bool terminal_ = isatty(2) == 1;
    std::string trouble_;

    // The log line of each pass after the start values, as talvo writes it,
    // and the progress line on a terminal.
    void pass_checked(const PassReport& report) override {
        static const format::Format log_line = format::translate("(' ITER = ',I3,'     CONV = ',F20.15)");
        changes_.push_back(report.largest_change);
        if (report.pass >= 1) {
            const format::Item items[] = {format::Item::of_int(report.pass), format::Item::of(report.largest_change)};
            log_.write(log_line, items);
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
}

// The run, its log and its verdict; the exit status.
int run_and_report(const Options& o, Table& t, Run& run) {
    const std::string log_name = in_folder(o, std::string(kLogName));
    const int log = ::open(log_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (log < 0) return failed(log_name + ": cannot be written: " + std::strerror(errno));
    Console con(-1, log);
    for (const std::string& line : head(o, t, run)) con.line(" " + line);
    auto finish = [&](const std::string& last) {
        con.line(" " + last);
        con.close_line();
        ::close(log);
    };

    BatchSteps steps(o, t, con);
    const RunOutcome out = run_estimation(run, steps);
    if (out.end) {
        const std::string why = report_line(*out.end);
        const bool start_file = o.start == Start::File && out.end->kind == RunEnd::Kind::IoError &&
                                out.end->file == trim_name(o.start_file);
        finish("failed: " + why);
        write_all(2, "talvo-batch: " + why + "\n" + hint(*out.end, start_file));
        return kFailed;
    }
    if (!steps.trouble().empty()) {
        finish("failed: " + steps.trouble());
        return failed(steps.trouble());
    }

    const EmFacts& em = out.em;
    std::string verdict;
    if (em.converged) {
        verdict = "converged after " + std::to_string(em.passes) + (em.passes == 1 ? " pass" : " passes");
        if (em.complete) verdict += ": no value is missing";
    } else {
        verdict = "not converged: pass limit " + std::to_string(o.max_passes) + " reached, largest change " +
                  shortest(em.last_change);
    }
    finish(verdict);
    write_all(1, verdict + "\n");
    return em.converged ? kConverged : kNotConverged;
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
    if (std::string e = check_format(fmt, t.K); !e.empty()) return usage(e);
    if (std::string e = prepare_folder(o); !e.empty()) return failed(e);
    Run run;
    set_parameters(run, o, t, fmt);
    return run_and_report(o, t, run);
}

}  // namespace talvo::batch
