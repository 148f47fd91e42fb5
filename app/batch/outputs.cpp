#include "app/batch/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/batch/impute.h"
#include "app/batch/statistics.h"
#include "base/errors.h"
#include "base/sysio.h"
#include "textio/format.h"

namespace talvo::batch {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

}  // namespace

// A name as a CSV field, quoted when it must be.
std::string csv_field(std::string_view name) {
    const bool plain = !name.empty() && name.find_first_of(",\"\r\n") == std::string::npos && name.front() != ' ' &&
                       name.back() != ' ' && name.front() != '\t' && name.back() != '\t';
    if (plain) return std::string(name);
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string in_folder(const Options& o, const std::string& name) { return o.out == "." ? name : o.out + "/" + name; }

std::vector<std::string> planned_files(const Options& o) {
    std::vector<std::string> files{std::string(kLogName), "temp.cov"};
    if (o.all) files.insert(files.end(), {"temp.ptn", "temp.dat", "temp.res"});
    if (o.csv) files.insert(files.end(), {"covariance.csv", "means.csv"});
    if (o.csv && o.all) files.insert(files.end(), {"completed.csv", "filled.csv"});
    if (o.plot) files.insert(files.end(), {"trace.svg", "patterns.svg"});
    for (const std::string& f : statistics_files(o)) files.push_back(f);
    for (const std::string& f : impute_files(o)) files.push_back(f);
    return files;
}

std::vector<std::string> output_files() {
    Options every;
    every.all = every.csv = every.plot = true;
    every.impute = kMostImputations;
    return planned_files(every);
}

std::string staged_name(const std::string& name) { return "." + name + ".partial"; }

std::string prepare_folder(const Options& o) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec) return o.out + ": the output folder cannot be made: " + ec.message();
    if (!std::filesystem::is_directory(o.out, ec)) return o.out + ": is not a folder";
    std::string probe = o.out + "/.talvo-batch-XXXXXX";
    int fd = mkstemp(probe.data());
    if (fd < 0) return o.out + ": the output folder cannot be written: " + std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());

    const std::vector<std::string> planned = planned_files(o);
    std::string ours, earlier;  // those this run writes, and those it does not
    int n_ours = 0, n_earlier = 0;
    for (const std::string& f : output_files()) {
        struct stat st;
        if (lstat(in_folder(o, f).c_str(), &st) != 0) continue;
        const bool planned_here = std::find(planned.begin(), planned.end(), f) != planned.end();
        (planned_here ? ours : earlier) += ((planned_here ? n_ours++ : n_earlier++) ? ", " : "") + in_folder(o, f);
    }
    const int count = n_ours + n_earlier;
    if (count > 0 && !o.force) {
        const char* them = count == 1 ? "it" : "them";
        if (n_earlier == 0)
            return ours + (n_ours == 1 ? " exists" : " exist") + "; give --force to replace " + them +
                   ", or another --out";
        const std::string left = earlier +
                                 (n_earlier == 1 ? " is an earlier run's output" : " are an earlier run's outputs") +
                                 " that this run would not write";
        if (n_ours == 0) return left + "; give --force to remove " + them + ", or another --out";
        return ours + (n_ours == 1 ? " exists" : " exist") + ", and " + left +
               "; give --force to replace and remove them, or another --out";
    }

    // The folder is this run's: what an earlier run left goes, so that a run
    // that fails leaves nothing beside its log. The data file and the
    // start-value file stay: they are read by now, and replaced only by a
    // result of this run (a start-value file is named in the log).
    std::vector<struct stat> inputs;
    for (const std::string* input : {&o.data, &o.start_file}) {
        struct stat st;
        if (!input->empty() && stat(input->c_str(), &st) == 0) inputs.push_back(st);
    }
    for (const std::string& f : output_files()) {
        for (const std::string& name : {in_folder(o, staged_name(f)), in_folder(o, f)}) {
            struct stat st;
            if (lstat(name.c_str(), &st) != 0) continue;
            if (std::any_of(inputs.begin(), inputs.end(),
                            [&](const struct stat& in) { return in.st_dev == st.st_dev && in.st_ino == st.st_ino; }))
                continue;
            if (::unlink(name.c_str()) != 0) return name + ": cannot be removed: " + std::strerror(errno);
        }
    }
    return "";
}

std::string check_format(const std::string& text, std::int32_t K) {
    auto fault = [&](int number, std::string_view what) {
        char num[16];
        std::snprintf(num, sizeof num, "F%04d", number);
        return "--format '" + text + "'" + std::string(what) + ": " + std::string(describe(number)) + " (" + num + ")";
    };
    const format::Format f = format::translate(text);
    for (const format::Instr& in : f.code)
        if (in.op == format::Op::Error) return fault(in.error, ", column " + std::to_string(in.offset + 1));
    if (K == 0) return "";
    struct Discard final : format::RecordSink {
        void record(std::string_view, bool) override {}
    } sink;
    const std::vector<format::Item> row(static_cast<std::size_t>(K), format::Item::of(0.0));
    if (int e = format::write(sink, f, row)) return fault(e, " for a row of " + std::to_string(K) + " values");
    return "";
}

Writer::Writer(std::string name) : name_(std::move(name)) {
    do {
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) error_ = errno;
}

Writer::~Writer() {
    if (fd_ >= 0) ::close(fd_);
}

void Writer::flush() {
    if (fd_ >= 0 && error_ == 0) error_ = write_all(fd_, buf_);
    buf_.clear();
}

void Writer::step() {
    if (buf_.size() >= kBlock) flush();
}

std::string Writer::finish() {
    flush();
    if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ ? name_ + ": cannot be written: " + std::strerror(error_) : "";
}

std::string write_csv_files(const Options& o, const Run& run, const std::vector<std::string>& names, const PathOf& path,
                            const IdColumns& ids) {
    const std::int32_t N = run.N, K = run.K;
    auto where = [&](const std::string& name) { return path ? path(name) : in_folder(o, name); };
    auto header = [&](std::string& out, bool corner) {
        if (corner) out += "variable,";
        for (std::int32_t J = 1; J <= K; ++J) (out += csv_field(names[J - 1])) += J < K ? ',' : '\n';
    };
    // Row I of a matrix, columns 1..K.
    auto row = [&](std::string& out, const Mat& m, std::int32_t I) {
        for (std::int32_t J = 1; J <= K; ++J) (out += shortest(m(I, J))) += J < K ? ',' : '\n';
    };
    Writer cov(where("covariance.csv"));
    header(cov.out(), true);
    for (std::int32_t I = 1; I <= K; ++I) {
        cov.out() += csv_field(names[I - 1]) + ",";
        row(cov.out(), run.COV, I);
    }
    Writer means(where("means.csv"));
    header(means.out(), false);
    row(means.out(), run.COV, 0);
    for (Writer* w : {&cov, &means})
        if (std::string e = w->finish(); !e.empty()) return e;
    if (run.OPTOUT != 1) return "";

    Writer data(where("completed.csv")), filled(where("filled.csv"));
    for (Writer* w : {&data, &filled}) {
        w->out() += ids.header;
        header(w->out(), false);
    }
    const bool with_ids = !ids.header.empty();
    for (std::int32_t I = 1; I <= N; ++I) {
        if (with_ids) data.out() += ids.of_case(I);
        row(data.out(), run.X, I);
        if (with_ids) filled.out() += ids.of_case(I);
        for (std::int32_t J = 1; J <= K; ++J) {
            filled.out() += run.OBS(run.PATT(I), J) ? '0' : '1';
            filled.out() += J < K ? ',' : '\n';
        }
        data.step();
        filled.step();
    }
    for (Writer* w : {&data, &filled})
        if (std::string e = w->finish(); !e.empty()) return e;
    return "";
}

}  // namespace talvo::batch
