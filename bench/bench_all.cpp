// Every benchmark of the program, each figure beside a baseline measured in
// the same run, on synthetic data (correlated normal values, 20% of them
// missing at random, written as -99):
//   bench_all [em] [run] [results] [memory] [intake]   (default: all)
// em       seconds per EM pass for 200,000 x 50, 100,000 x 20 and
//          1,000,000 x 10, on every thread and on one; the baseline is the
//          straightforward pass (completion step with every flag tested,
//          regressions and each pattern's whole moment matrix swept pivot
//          by pivot); for 1,000,000 x 10 also the streaming floor, one
//          summing pass over the same values
// run      whole runs of 1,000,000 x 10 with the default answers, and with
//          additional output and (10E25.16); baseline: the same runs with
//          the straightforward passes, and for the default run the reading
//          of its numbers with strtod
// results  the four result files of 1,000,000 x 20; baseline: one thread
// memory   peak memory of a whole run of 1,000,000 x 20 with additional
//          output; baseline: the values alone as doubles
// intake   reading the data file of 1,000,000 x 20; baseline: reading its
//          bytes
// ml       the maximum-likelihood passes to the same criterion (1e-8
//          relative) with SQUAREM against plain EM, on synthetic data and on
//          two public data sets (tests/stats); and the standard errors of
//          100,000 x 20 against one plain pass
// impute   M = 5 imputed data sets of 100,000 x 20 by data augmentation
//          (burn-in 100, 50 passes between: 301 passes), on every thread
//          and on one; baseline: the maximum-likelihood EM of the same data
//          (criterion 1e-8, plain) and one EM pass
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/threads.h"
#include "estimate/augment.h"
#include "estimate/ml.h"
#include "generate.h"
#include "measure.h"
#include "stats/information.h"
#include "straightforward.h"

using namespace talvo;
using namespace talvo::bench;

namespace {

Scratch scratch;

// The data file of a shape, written once.
std::string data_file(std::int64_t N, int K) {
    static std::map<std::pair<std::int64_t, int>, std::string> made;
    auto& path = made[{N, K}];
    if (path.empty()) {
        DataShape shape;
        shape.N = N;
        shape.K = K;
        path = scratch.path(std::to_string(N) + "x" + std::to_string(K) + ".dat");
        write_data(path, shape);
    }
    return path;
}

void em_pass(std::int64_t N, int K) {
    Prepared a(data_file(N, K), N, K), b(data_file(N, K), N, K);
    const int threads = thread_count();
    auto time_passes = [&](int passes, auto pass) {
        double best = 1e300;
        for (int i = 0; i < passes; ++i) best = std::min(best, best_of(1, pass));
        return best;
    };
    const double every = time_passes(3, [&] { a.fast_pass(); });
    use_threads(1);
    const double one = time_passes(3, [&] { a.fast_pass(); });
    use_threads(0);
    const double base = time_passes(1, [&] { b.straightforward_pass(); });
    std::printf(
        "EM pass %7lld x %2d (%6d patterns): %.4f s on %d threads, %.4f s on one; straightforward %.3f s "
        "(%.1fx)\n",
        static_cast<long long>(N), K, a.run.NPATT, every, threads, one, base, base / every);
    if (N == 1000000 && K == 10) {
        const double floor = time_passes(3, [&] { a.sum_values(); });
        std::printf("  streaming floor, one summing pass over the values: %.4f s (the pass is %.1fx it)\n", floor,
                    every / floor);
    }
    std::fflush(stdout);
}

void whole_runs() {
    const std::string path = data_file(1000000, 10);
    const double strtod_read = best_of(2, [&] { read_with_strtod(path); });
    for (bool all : {false, true}) {
        const std::string answers = path + "\n1000000\n10\n\n-99\n\n\n\n" + (all ? "1\n(10E25.16)\n" : "\n\n") + "\n\n";
        const double fast = best_of(2, [&] { whole_run(answers, false); });
        const double base = best_of(1, [&] { whole_run(answers, true); });
        std::printf("whole run 1000000 x 10, %s: %.3f s; with straightforward passes %.3f s (%.1fx)\n",
                    all ? "additional output and (10E25.16)" : "default answers", fast, base, base / fast);
        if (!all)
            std::printf("  reading its data file with strtod: %.3f s (the whole run is %.2fx it)\n", strtod_read,
                        fast / strtod_read);
        std::fflush(stdout);
    }
}

void result_files() {
    Prepared a(data_file(1000000, 20), 1000000, 20);
    a.fast_pass();
    a.run.OPTOUT = 1;
    const double every = best_of(2, [&] { a.write_results(); });
    use_threads(1);
    const double one = best_of(2, [&] { a.write_results(); });
    use_threads(0);
    std::printf(
        "result files 1000000 x 20 (temp.cov, .ptn, .dat, .res, %.0f MiB): %.3f s on %d threads; one "
        "thread %.3f s (%.1fx)\n",
        mib(a.result_bytes()), every, thread_count(), one, one / every);
    std::fflush(stdout);
}

void peak_memory() {
    const std::string path = data_file(1000000, 20);
    const std::string answers = path + "\n1000000\n20\n\n-99\n\n3\n\n1\n\n\n\n";
    pid_t pid = fork();
    if (pid == 0) {
        whole_run(answers, false);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    const double peak = static_cast<double>(u.ru_maxrss) / 1024.0, values = mib(1000000.0 * 20 * 8);
    std::printf(
        "peak memory, whole run 1000000 x 20 with additional output: %.0f MiB; the values as doubles %.0f MiB "
        "(%.2fx)\n",
        peak, values, peak / values);
    std::fflush(stdout);
}

void intake() {
    const std::string path = data_file(1000000, 20);
    const double bytes = static_cast<double>(std::filesystem::file_size(path));
    const double raw = best_of(2, [&] { read_bytes(path); });
    double parse = 1e300;
    for (int i = 0; i < 2; ++i) parse = std::min(parse, read_values(path, 1000000, 20));
    std::printf("intake 1000000 x 20 (%.0f MiB): %.3f s, %.0f MiB/s; reading the bytes %.3f s (%.1fx)\n", mib(bytes),
                parse, mib(bytes) / parse, raw, parse / raw);
    std::fflush(stdout);
}

// A public data set of tests/stats (CSV, NA for a missing value) as a data
// file the program reads, -99999 for a missing value; its N and K.
std::string public_data(const std::string& name, std::int64_t& N, int& K) {
    std::ifstream in(std::string(TALVO_SOURCE) + "/tests/stats/" + name + ".csv");
    const std::string path = scratch.path(name + ".dat");
    std::ofstream out(path);
    std::string line;
    std::getline(in, line);
    N = 0;
    while (std::getline(in, line)) {
        K = 1;
        for (char& c : line) {
            if (c == ',') {
                c = ' ';
                ++K;
            }
        }
        std::string row;
        std::istringstream fields(line);
        for (std::string f; fields >> f;) row += (f == "NA" ? "-99999" : f) + " ";
        out << row << "\n";
        ++N;
    }
    return path;
}

void ml_passes(const std::string& label, const std::string& path, std::int64_t N, int K, double mvi) {
    double seconds[2];
    int passes[2];
    for (int accelerate = 0; accelerate < 2; ++accelerate) {
        Prepared p(path, N, K, mvi);
        Normal theta = normal_from_sums(p.run);
        MlOptions o;
        o.criterion = 1e-8;
        o.max_passes = 100000;
        o.accelerate = accelerate == 1;
        Stopwatch w;
        passes[accelerate] = ml_em(p.run, theta, o).passes;
        seconds[accelerate] = w.seconds();
    }
    std::printf("ML %-22s plain EM %5d passes %.3f s; SQUAREM %4d passes %.3f s (%.1fx fewer passes, %.1fx faster)\n",
                label.c_str(), passes[0], seconds[0], passes[1], seconds[1], static_cast<double>(passes[0]) / passes[1],
                seconds[0] / seconds[1]);
    std::fflush(stdout);
}

void maximum_likelihood() {
    for (const char* name : {"boys", "mammalsleep"}) {
        std::int64_t N = 0;
        int K = 0;
        const std::string path = public_data(name, N, K);
        ml_passes(std::string(name) + " " + std::to_string(N) + " x " + std::to_string(K), path, N, K, -99999);
    }
    for (auto [N, K] : {std::pair<std::int64_t, int>{100000, 20}, {1000000, 10}})
        ml_passes(std::to_string(N) + " x " + std::to_string(K), data_file(N, K), N, K, -99);
    Prepared p(data_file(100000, 20), 100000, 20, -99);
    Normal theta = normal_from_sums(p.run);
    MlOptions o;
    o.criterion = 1e-8;
    o.accelerate = true;
    ml_em(p.run, theta, o);
    Normal next;
    const PatternCases groups = group_cases(p.run);
    const double pass = best_of(2, [&] { ml_step(p.run, groups, theta, next); });
    stats::Precision pr;
    const double se = best_of(1, [&] { pr = stats::precision(stats::information(p.run, groups, theta)); });
    std::printf("standard errors 100000 x 20 (%d patterns, %zu parameters): %.3f s; one EM pass %.4f s (%.0fx)\n",
                p.run.NPATT, pr.se.size(), se, pass, se / pass);
    std::fflush(stdout);
}

void imputation() {
    const std::int64_t N = 100000;
    const int K = 20;
    Prepared p(data_file(N, K), N, K, -99);
    Normal theta = normal_from_sums(p.run);
    MlOptions o;
    o.criterion = 1e-8;
    o.max_passes = 100000;
    Stopwatch em;
    const std::int32_t em_passes = ml_em(p.run, theta, o).passes;
    const double em_seconds = em.seconds();
    const PatternCases groups = group_cases(p.run);
    Normal next;
    const double pass = best_of(2, [&] { ml_step(p.run, groups, theta, next); });
    AugmentOptions a;
    a.sets = 5;
    for (int threads : {0, 1}) {
        use_threads(threads);
        Stopwatch w;
        const AugmentFacts f = augment(p.run, groups, theta, a, nullptr);
        const double s = w.seconds();
        std::printf(
            "impute 100000 x 20, M = 5 (%d passes, %s): %.3f s, %.4f s a pass; ML EM %d passes %.3f s "
            "(%.2fx), one EM pass %.4f s\n",
            f.passes, threads == 0 ? "every thread" : "one thread", s, s / f.passes, em_passes, em_seconds,
            s / em_seconds, pass);
        std::fflush(stdout);
    }
    use_threads(0);
}

}  // namespace

int main(int argc, char** argv) {
    std::set<std::string> want(argv + 1, argv + argc);
    auto on = [&](const char* s) { return want.empty() || want.count(s); };
    if (on("em"))
        for (auto [N, K] : {std::pair<std::int64_t, int>{200000, 50}, {100000, 20}, {1000000, 10}}) em_pass(N, K);
    if (on("run")) whole_runs();
    if (on("results")) result_files();
    if (on("memory")) peak_memory();
    if (on("intake")) intake();
    if (on("ml")) maximum_likelihood();
    if (on("impute")) imputation();
    return 0;
}
