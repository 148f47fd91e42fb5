#include "straightforward.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/intake.h"
#include "app/talvo.h"
#include "engine/sequence.h"
#include "estimate/correction.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "measure.h"
#include "reference.h"
#include "results/results.h"
#include "state/allocate.h"

namespace talvo::bench {

namespace {

int null_fd() {
    static const int fd = open("/dev/null", O_RDWR);
    return fd;
}

// The passes with the straightforward kernels of tests/reference: its
// completion step works on the data matrix as the formulas write it, made
// once the data are coded.
class Straightforward final : public PassKernels {
public:
    void complete(Run& run, EstimationPlans&) const override {
        if (wide_.empty()) wide_ = reference::widen(run);
        reference::e_step(run, wide_);
    }
    void regress(Run& run, const std::function<void()>& checked) const override {
        reference::regressions(run);
        if (checked) checked();
    }
    void correct(Run& run, EstimationPlans&) const override { reference::correction(run); }

private:
    mutable Mat wide_;
};

// The data file read as the dialog program reads it; nothing shown.
struct ReadOnly final : RunSteps {
    void read_data(Run& run) override { talvo::read_data(run); }
};

// A console answering from a temporary file, writing nowhere.
Console answering(const std::string& answers) {
    FILE* f = std::tmpfile();
    std::fwrite(answers.data(), 1, answers.size(), f);
    std::fflush(f);
    std::rewind(f);
    Console con(dup(fileno(f)), null_fd());
    std::fclose(f);
    con.set_terminal(false, false);
    return con;
}

}  // namespace

Prepared::Prepared(const std::string& path, std::int64_t N, int K, double missing_code) {
    run.FIN = path;
    run.N = static_cast<std::int32_t>(N);
    run.K = K;
    run.MVI = missing_code;
    run.PTN = 20;
    run.SIV = StartMethod::Listwise;
    run.MAXITER = 0;  // pass 0 only: the start values, their regressions and correction
    run.CRIT = kDefaultCrit;
    run.OUTFMT = "(6F12.7)";
    ReadOnly steps;
    run_estimation(run, steps);
    run.COUNT = 1;
    wide = reference::widen(run);
}

void Prepared::fast_pass() {
    e_step(run, plans);
    regressions(run);
    correction(run, plans);
}

void Prepared::straightforward_pass() {
    reference::e_step(run, wide);
    reference::regressions(run);
    reference::correction(run);
}

void Prepared::sum_values() {
    double s = 0.0;
    for (std::int32_t I = 1; I <= run.N; ++I) {
        const double* x = run.X.row(I);
        for (std::int32_t J = 1; J <= run.K; ++J) s += x[J];
    }
    if (s == 1.5) std::puts("");
}

void Prepared::write_results() {
    ResultFiles files;
    files.names.folder = std::filesystem::temp_directory_path().string();
    talvo::write_results(run, files);
    files.close();
}

double Prepared::result_bytes() const {
    double bytes = 0;
    for (const char* f : {"temp.cov", "temp.ptn", "temp.dat", "temp.res"})
        bytes += static_cast<double>(std::filesystem::file_size(std::filesystem::temp_directory_path() / f));
    return bytes;
}

void whole_run(const std::string& answers, bool straightforward) {
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    const Straightforward kernels;
    Console con = answering(answers);
    Run run;
    run_dialog(con, run, straightforward ? &kernels : nullptr);
    std::filesystem::current_path(here);
}

void read_bytes(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    std::vector<char> buf(1 << 20);
    unsigned long sum = 0;
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0)
        for (ssize_t i = 0; i < n; i += 64) sum += static_cast<unsigned char>(buf[static_cast<std::size_t>(i)]);
    close(fd);
    if (sum == 1) std::puts("");
}

void read_with_strtod(const std::string& path) {
    std::string text;
    {
        int fd = open(path.c_str(), O_RDONLY);
        std::vector<char> buf(1 << 20);
        ssize_t n;
        while ((n = read(fd, buf.data(), buf.size())) > 0) text.append(buf.data(), static_cast<std::size_t>(n));
        close(fd);
    }
    const char* at = text.c_str();
    double sum = 0.0;
    for (char* end;; at = end) {
        const double v = std::strtod(at, &end);
        if (end == at) break;
        sum += v;
    }
    if (sum == 1.5) std::puts("");
}

double read_values(const std::string& path, std::int64_t N, int K) {
    Run run;
    run.FIN = path;
    run.N = static_cast<std::int32_t>(N);
    run.K = K;
    allocate(run);
    Stopwatch w;
    read_data(run);
    return w.seconds();
}

}  // namespace talvo::bench
