#include "app/batch/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/errors.h"
#include "base/sysio.h"
#include "textio/format.h"

namespace talvo::batch {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

}  // namespace

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
    return files;
}

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
    if (o.force) return "";
    std::string there;
    int count = 0;
    for (const std::string& f : planned_files(o)) {
        struct stat st;
        if (lstat(in_folder(o, f).c_str(), &st) != 0) continue;
        there += (count++ ? ", " : "") + in_folder(o, f);
    }
    if (count == 0) return "";
    return there + (count == 1 ? " exists" : " exist") + "; give --force to replace " + (count == 1 ? "it" : "them") +
           ", or another --out";
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

std::string write_csv_files(const Options& o, const Run& run, const std::vector<std::string>& names,
                            const IdColumns& ids) {
    const std::int32_t N = run.N, K = run.K;
    auto header = [&](std::string& out, bool corner) {
        if (corner) out += "variable,";
        for (std::int32_t J = 1; J <= K; ++J) (out += csv_field(names[J - 1])) += J < K ? ',' : '\n';
    };
    // Row I of a matrix, columns 1..K.
    auto row = [&](std::string& out, const Mat& m, std::int32_t I) {
        for (std::int32_t J = 1; J <= K; ++J) (out += shortest(m(I, J))) += J < K ? ',' : '\n';
    };
    Writer cov(in_folder(o, "covariance.csv"));
    header(cov.out(), true);
    for (std::int32_t I = 1; I <= K; ++I) {
        cov.out() += csv_field(names[I - 1]) + ",";
        row(cov.out(), run.COV, I);
    }
    Writer means(in_folder(o, "means.csv"));
    header(means.out(), false);
    row(means.out(), run.COV, 0);
    for (Writer* w : {&cov, &means})
        if (std::string e = w->finish(); !e.empty()) return e;
    if (run.OPTOUT != 1) return "";

    Writer data(in_folder(o, "completed.csv")), filled(in_folder(o, "filled.csv"));
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
