// Writing the result files for a large run.
//   bench_results [N=1000000] [K=20]
// Times temp.cov, temp.ptn, the final completion, temp.dat and temp.res
// under the default format, and, as the baseline measured in the same run,
// temp.dat written with the format text translated afresh for every row.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/intake.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "generate.h"
#include "measure.h"
#include "missing/coding.h"
#include "missing/patterns.h"
#include "results/results.h"
#include "state/allocate.h"

using namespace talvo;
using namespace talvo::bench;

int main(int argc, char** argv) {
    DataShape shape;
    shape.N = argc > 1 ? std::atoll(argv[1]) : 1000000;
    shape.K = argc > 2 ? std::atoi(argv[2]) : 20;
    Scratch scratch;
    std::string path = scratch.path("data.dat");
    write_data(path, shape);
    std::filesystem::current_path(scratch.dir());
    Run run;
    run.FIN = path;
    run.N = static_cast<std::int32_t>(shape.N);
    run.K = shape.K;
    run.MVI = -99;
    run.PTN = 20;
    run.SIV = 1;
    run.OPTOUT = 1;
    run.OUTFMT = "(6F12.7)";
    run.OUTFMT.resize(40, ' ');
    run.con = Console(0, open("/dev/null", O_WRONLY));
    allocate(run);
    read_data(run);
    code_and_sum(run);
    build_pattern_table(run);
    // What the missingness report would leave for the pattern file.
    bool none_complete = static_cast<std::int32_t>(run.CS(0, 0)) == 0;
    run.CPATT = none_complete ? 2.0f : 1.0f;
    run.PNUM = none_complete ? run.NPATT - 1 : run.NPATT;
    start_values(run);
    regressions(run);
    correction(run);
    run.COUNT = 1;
    e_step(run);
    regressions(run);
    correction(run);

    Stopwatch w;
    write_results(run);
    run.ptn.close();
    double all = w.seconds();
    double bytes = 0;
    for (const char* f : {"temp.cov", "temp.ptn", "temp.dat", "temp.res"})
        bytes += static_cast<double>(std::filesystem::file_size(f));
    std::printf("N = %lld, K = %d: temp.cov, temp.ptn, temp.dat and temp.res in %.3f s (%.0f MiB, %.0f MiB/s)\n",
                static_cast<long long>(shape.N), shape.K, all, mib(bytes), mib(bytes) / all);

    // temp.dat again, the format translated once and translated per row.
    const std::int32_t K = run.K;
    std::vector<format::Item> row(static_cast<size_t>(K)), flags(static_cast<size_t>(K));
    format::Format flag_format = format::translate("(' ',40(I1,1X))");
    // Each way twice, alternating, the better time of each kept.
    double once = 1e300, per_row = 1e300;
    for (int round = 0; round < 4; ++round) {
        const int variant = round % 2;
        OutFile f;
        f.open(variant ? "again1.dat" : "again0.dat");
        format::Format user = format::translate(run.OUTFMT);
        Stopwatch wv;
        for (std::int32_t I = 1; I <= run.N; ++I) {
            const double* x = run.X.row(I);
            for (std::int32_t J = 1; J <= K; ++J) {
                row[static_cast<size_t>(J - 1)] = format::Item::of(x[J]);
                flags[static_cast<size_t>(J - 1)] = format::Item::of_int(static_cast<std::int32_t>(x[K + J]));
            }
            if (variant == 1) user = format::translate(run.OUTFMT);
            f.write(user, row);
            f.write(flag_format, flags);
        }
        f.close();
        double t = wv.seconds();
        double& best = variant == 0 ? once : per_row;
        if (t < best) best = t;
    }
    std::printf("temp.dat alone: format translated once %.3f s, per row %.3f s (%.2fx)\n", once, per_row,
                per_row / once);
    return 0;
}
