// Data intake and missingness analysis on a large synthetic file.
//   bench_intake [N=1000000] [K=20] [missing rate=0.2]
// Prints the parse speed against reading the same bytes raw, the coding and
// pattern-table times against their straightforward forms (the plain
// pattern scan on a first slice of the cases, where it still finishes), and
// the peak memory against the size of X and PA.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/intake.h"
#include "generate.h"
#include "measure.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "reference.h"
#include "state/allocate.h"

using namespace talvo;
using namespace talvo::bench;

namespace {

double raw_read_seconds(const std::string& path) {
    return best_of(2, [&] {
        int fd = open(path.c_str(), O_RDONLY);
        std::vector<char> buf(1 << 20);
        unsigned long sum = 0;
        ssize_t n;
        while ((n = read(fd, buf.data(), buf.size())) > 0)
            for (ssize_t i = 0; i < n; i += 64) sum += static_cast<unsigned char>(buf[static_cast<size_t>(i)]);
        close(fd);
        if (sum == 1) std::puts("");
    });
}

void setup(Run& run, const std::string& path, std::int64_t N, int K) {
    run.FIN = path;
    run.N = static_cast<std::int32_t>(N);
    run.K = K;
    run.MVI = -99;
    run.PTN = 20;
}

}  // namespace

int main(int argc, char** argv) {
    DataShape shape;
    shape.N = argc > 1 ? std::atoll(argv[1]) : 1000000;
    shape.K = argc > 2 ? std::atoi(argv[2]) : 20;
    shape.missing = argc > 3 ? std::atof(argv[3]) : 0.2;
    Scratch scratch;
    std::string path = scratch.path("data.dat");
    double bytes = static_cast<double>(write_data(path, shape));
    std::printf("data: N = %lld, K = %d, %.0f%% missing, %.1f MiB\n", static_cast<long long>(shape.N), shape.K,
                shape.missing * 100, mib(bytes));

    double raw = raw_read_seconds(path);
    Run run;
    setup(run, path, shape.N, shape.K);
    Stopwatch wa;
    allocate(run);
    double alloc = wa.seconds();
    Stopwatch wr;
    read_data(run);
    double parse = wr.seconds();
    std::printf("allocate work arrays:  %.3f s\n", alloc);
    std::printf("read raw bytes:        %.3f s  (%.0f MiB/s)\n", raw, mib(bytes) / raw);
    std::printf("free-form intake:      %.3f s  (%.0f MiB/s, %.1f million values/s)  ratio to raw read %.1f\n", parse,
                mib(bytes) / parse, shape.N * shape.K / parse / 1e6, parse / raw);

    Stopwatch wc;
    code_and_sum(run);
    double code = wc.seconds();
    Stopwatch wp;
    build_pattern_table(run);
    double table = wp.seconds();
    double storage =
        mib(static_cast<double>(shape.N) * (2 * shape.K + 2) * 8 + static_cast<double>(shape.N) * (shape.K + 2) * 4);
    double values = mib(static_cast<double>(shape.N) * shape.K * 8);
    std::printf("coding and sums:       %.3f s\n", code);
    std::printf("pattern table:         %.3f s  (%d patterns)\n", table, run.NPATT);
    std::printf("peak memory:           %.0f MiB  (X and PA %.0f MiB; the file's values as doubles %.0f MiB)\n",
                peak_mib(), storage, values);

    // Baselines on a first slice: the straightforward coding and the plain scan.
    std::int64_t slice = shape.N < 20000 ? shape.N : 20000;
    double t_scan = 0, t_hash = 0, t_ref = 0, t_fast = 0;
    int patterns = 0;
    for (int variant = 0; variant < 2; ++variant) {
        Run r;
        setup(r, path, slice, shape.K);
        allocate(r);
        read_data(r);
        Stopwatch w1;
        if (variant == 0)
            reference::code_and_sum(r);
        else
            code_and_sum(r);
        (variant == 0 ? t_ref : t_fast) = w1.seconds();
        Stopwatch w2;
        if (variant == 0)
            reference::build_pattern_table(r);
        else
            build_pattern_table(r);
        (variant == 0 ? t_scan : t_hash) = w2.seconds();
        patterns = r.NPATT;
    }
    std::printf("first %lld cases (%d patterns):\n", static_cast<long long>(slice), patterns);
    std::printf("  coding, straightforward %.4f s, fast %.4f s: %.1fx\n", t_ref, t_fast, t_ref / t_fast);
    std::printf("  pattern table, plain scan %.4f s, index %.4f s: %.0fx\n", t_scan, t_hash, t_scan / t_hash);
    return 0;
}
