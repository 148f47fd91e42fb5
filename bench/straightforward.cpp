#include "straightforward.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/dialog.h"
#include "app/intake.h"
#include "app/sequence.h"
#include "base/fp.h"
#include "estimate/correction.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "estimate/sweep.h"
#include "measure.h"
#include "missing/coding.h"
#include "missing/summary.h"
#include "reference.h"
#include "results/results.h"
#include "state/allocate.h"

namespace talvo::bench {

namespace {

int null_fd() {
    static const int fd = open("/dev/null", O_RDWR);
    return fd;
}

void straightforward_em(Run& run, Mat& wide) {
    if (run.MAXITER < 0 && run.CRIT <= 0.0) run.MAXITER = run.MAXITER == INT_MIN ? INT_MAX : -run.MAXITER;
    for (;;) {
        if (run.COUNT >= 1) reference::e_step(run, wide);
        reference::regressions(run);
        if (run.NPATT == 1) break;
        reference::correction(run);
        if (run.COUNT == run.MAXITER || run.COUNT == INT_MAX) break;
        run.COUNT = run.COUNT + 1;
    }
}

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

Prepared::Prepared(const std::string& path, std::int64_t N, int K) {
    run.FIN = path;
    run.N = static_cast<std::int32_t>(N);
    run.K = K;
    run.MVI = -99;
    run.PTN = 20;
    run.SIV = 1;
    run.MAXITER = 200;
    run.CRIT = static_cast<double>(1.0e-5f);
    run.OUTFMT = "(6F12.7)";
    run.OUTFMT.resize(40, ' ');
    run.con = answering("\n\n\n\n");
    allocate(run);
    read_data(run);
    code_and_classify(run);
    summarise_missingness(run);
    start_values(run);
    regressions(run);
    correction(run, plans);
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
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    talvo::write_results(run);
    run.ptn.close();
    std::filesystem::current_path(here);
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
    Run run;
    run.con = answering(answers);
    if (!straightforward) {
        execute(run);
    } else {
        ask_parameters(run.con, run);
        allocate(run);
        read_data(run);
        show_first_cases(run);
        code_and_classify(run);
        summarise_missingness(run);
        start_values(run);
        Mat wide = reference::widen(run);
        straightforward_em(run, wide);
        talvo::write_results(run);
        run.ptn.close();
    }
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
