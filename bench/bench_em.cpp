// EM passes on synthetic data, 20% of the values missing at random.
//   bench_em [N K]...   (default: 100000 10, 100000 40, 1000000 10)
// For each size: seconds per pass of the program's kernels, the same pass
// with the straightforward completion step and correction as the baseline
// measured in the same run, and the peak memory.
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "app/intake.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "generate.h"
#include "measure.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "reference.h"
#include "state/allocate.h"

using namespace talvo;
using namespace talvo::bench;

namespace {

// The log lines of the passes are not wanted here.
int quiet = -1;

void one_size(std::int64_t N, int K) {
    DataShape shape;
    shape.N = N;
    shape.K = K;
    shape.missing = 0.2;
    Scratch scratch;
    std::string path = scratch.path("data.dat");
    write_data(path, shape);
    Run run;
    run.FIN = path;
    run.N = static_cast<std::int32_t>(N);
    run.K = K;
    run.MVI = -99;
    run.PTN = 20;
    run.SIV = 1;
    run.con = Console(0, quiet);
    allocate(run);
    read_data(run);
    code_and_sum(run);
    build_pattern_table(run);
    start_values(run);
    // Pass 0, then timed passes.
    regressions(run);
    correction(run);
    run.COUNT = 1;
    // One pass in seconds: completion step, regressions, correction.
    struct Times {
        double estep = 0, corr = 0, all = 0;
    };
    auto pass = [&](void (*estep_fn)(Run&), void (*corr_fn)(Run&), Times& t) {
        Stopwatch w1;
        estep_fn(run);
        double e = w1.seconds();
        Stopwatch w2;
        regressions(run);
        double r = w2.seconds();
        Stopwatch w3;
        corr_fn(run);
        double c = w3.seconds();
        t.estep += e;
        t.corr += c;
        t.all += e + r + c;
    };
    const int passes = 3;
    Times fast, base;
    for (int p = 0; p < passes; ++p) {
        pass(e_step, correction, fast);
        pass(reference::e_step, reference::correction, base);
    }
    std::printf(
        "N = %7lld  K = %2d  patterns %6d:  %.3f s per pass  (straightforward %.3f s, %.1fx; "
        "completion %.1fx, correction %.1fx)  peak %.0f MiB\n",
        static_cast<long long>(N), K, run.NPATT, fast.all / passes, base.all / passes, base.all / fast.all,
        base.estep / fast.estep, base.corr / fast.corr, peak_mib());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<std::int64_t, int>> sizes;
    for (int i = 1; i + 1 < argc; i += 2) sizes.emplace_back(std::atoll(argv[i]), std::atoi(argv[i + 1]));
    if (sizes.empty()) sizes = {{100000, 10}, {100000, 40}, {1000000, 10}};
    quiet = open("/dev/null", O_WRONLY);
    for (auto [N, K] : sizes) one_size(N, K);
    return 0;
}
