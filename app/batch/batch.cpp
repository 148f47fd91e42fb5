#include "app/batch/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>

#include "app/batch/outputs.h"
#include "app/batch/plots.h"
#include "app/batch/table.h"
#include "app/intake.h"
#include "app/sequence.h"
#include "base/sysio.h"
#include "estimate/em.h"
#include "estimate/start.h"
#include "missing/coding.h"
#include "missing/summary.h"
#include "results/results.h"
#include "state/allocate.h"

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

// A run that ended early, in one line: the report's two lines joined, or
// the stop's message.
std::string account(const RunEnd& end) {
    if (end.kind == RunEnd::Kind::Stop) return end.message;
    std::string r = report_text(end);
    r = r.substr(2, r.size() - 4);  // the empty line before, the line end after
    r.replace(r.find("\r\n"), 2, " ");
    return r;
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
        item("start values:", starts[run.SIV - 1] + o.start_file),
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
    void operator()(const Run& run) {
        const auto now = Clock::now();
        if (shown && now - last < std::chrono::milliseconds(200)) return;
        last = now;
        shown = true;
        char line[128];
        std::snprintf(line, sizeof line, "\rpass %d, largest change %.3e, %.1f s ", run.COUNT, run.MAXDIFF,
                      std::chrono::duration<double>(now - start).count());
        write_all(2, line);
    }
    void clear() const {
        if (shown) write_all(2, "\r\033[K");
    }
};

bool has_asterisks(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::find(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '*') !=
           std::istreambuf_iterator<char>();
}

// The phases of talvo on the checked data, without its pauses, then what
// was asked for besides; "" or what went wrong after the results.
std::string estimate(const Options& o, Table& t, Run& run) {
    check_sizes(run);
    allocate(run);
    fill_data(o, t, run);
    std::string().swap(t.text);  // the file's bytes are no longer needed
    show_first_cases(run);
    code_and_classify(run);
    summarise_missingness(run);
    start_values(run);
    em(run);
    write_results(run);
    run.ptn.close();
    if (has_asterisks("temp.cov"))
        write_all(2, "talvo-batch: warning: temp.cov holds asterisks: values too wide for the format's fields\n");
    if (o.csv)
        if (std::string e = write_csv_files(run, t.names); !e.empty()) return e;
    if (o.plot) {
        for (auto [name, svg] :
             {std::pair{"trace.svg", trace_svg(run)}, {"patterns.svg", patterns_svg(run, t.names)}}) {
            Writer w(name);
            w.out() = svg;
            if (std::string e = w.finish(); !e.empty()) return e;
        }
    }
    return "";
}

// A start-value file that can be read: "" or what is wrong. Its name made
// absolute, since the run takes place in the output folder.
std::string check_start_file(const Options& o, std::string& path) {
    if (o.start != Start::File) return "";
    int fd = ::open(o.start_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return o.start_file + ": cannot be opened: " + std::strerror(errno);
    struct stat st;
    const bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (folder) return o.start_file + ": is a folder, not a start-value file";
    path = std::filesystem::absolute(o.start_file).string();
    return "";
}

void set_parameters(Run& run, const Options& o, const Table& t, const std::string& fmt, const std::string& start) {
    run.FIN = o.data;
    run.N = t.N;
    run.K = t.K;
    run.PTN = 20;  // a starting size only: the pattern table grows as the data need
    run.MVI = t.code;
    run.SIV = o.start == Start::Listwise ? 1 : o.start == Start::Pairwise ? 2 : 3;
    run.SVFIN = start;
    run.MAXITER = o.max_passes;
    run.CRIT = o.criterion;
    run.OPTOUT = o.all ? 1 : 0;
    run.BMOD = o.attrition ? 1 : 0;
    run.YINT = o.b0;
    run.YHAT = o.b1;
    run.OUTFMT = fmt;
}

// The run in the output folder, its log and its verdict; the exit status.
int run_in_folder(const Options& o, Table& t, Run& run, const std::string& start_path) {
    const int log = ::open(kLogName.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (log < 0) return failed(std::string(kLogName) + ": cannot be written: " + std::strerror(errno));
    run.con = Console(-1, log);
    for (const std::string& line : head(o, t, run)) run.con.line(" " + line);
    Progress progress;
    if (isatty(2) == 1) run.after_pass = [&progress](const Run& r) { progress(r); };
    auto finish = [&](const std::string& last) {
        run.after_pass = nullptr;
        progress.clear();
        run.con.line(" " + last);
        run.con.close_line();
        ::close(log);
    };

    std::string trouble;
    try {
        try {
            trouble = estimate(o, t, run);
        } catch (const std::bad_alloc&) {
            stop(std::string(kNoStorage));
        } catch (const std::length_error&) {
            stop(std::string(kNoStorage));
        }
    } catch (const RunEnd& e) {
        RunEnd end = e;
        close_result_files(run, end);
        std::string why = account(end);
        const bool start_file = !start_path.empty() && end.kind == RunEnd::Kind::IoError && end.file == start_path;
        if (start_file) why.replace(why.find(start_path), start_path.size(), o.start_file);
        finish("failed: " + why);
        write_all(2, "talvo-batch: " + why + "\n" + hint(end, start_file));
        return kFailed;
    }
    if (!trouble.empty()) {
        finish("failed: " + trouble);
        return failed(trouble);
    }

    const bool converged = run.NPATT == 1 || run.changes.back() < run.CRIT;
    std::string verdict;
    if (converged) {
        verdict = "converged after " + std::to_string(run.COUNT) + (run.COUNT == 1 ? " pass" : " passes");
        if (run.NPATT == 1) verdict += ": no value is missing";
    } else {
        verdict = "not converged: pass limit " + std::to_string(o.max_passes) + " reached, largest change " +
                  shortest(run.changes.back());
    }
    finish(verdict);
    write_all(1, verdict + "\n");
    return converged ? kConverged : kNotConverged;
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
    std::string start_path;
    if (std::string e = check_start_file(o, start_path); !e.empty()) return failed(e);
    Table t;
    try {
        if (std::string e = read_table(o, t); !e.empty()) return failed(e);
    } catch (const RunEnd& e) {
        return failed(account(e));
    } catch (const std::bad_alloc&) {
        return failed(std::string(kNoStorage));
    }
    const std::string fmt = o.format.empty() ? default_format(t.K) : o.format;
    if (std::string e = check_format(fmt, t.K); !e.empty()) return usage(e);
    if (std::string e = prepare_folder(o); !e.empty()) return failed(e);
    if (o.out != "." && ::chdir(o.out.c_str()) != 0) return failed(o.out + ": " + std::strerror(errno));
    Run run;
    set_parameters(run, o, t, fmt, start_path);
    return run_in_folder(o, t, run, start_path);
}

}  // namespace talvo::batch
