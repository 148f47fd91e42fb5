// Times the phases of one run in-process (quick profile).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/intake.h"
#include "estimate/em.h"
#include "estimate/estep.h"
#include "estimate/start.h"
#include "missing/coding.h"
#include "missing/patterns.h"

using namespace talvo;
using Clock = std::chrono::steady_clock;
static double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

int main(int argc, char** argv) {
    Run run;
    run.FIN = argv[1];
    run.N = std::atoi(argv[2]);
    run.K = std::atoi(argv[3]);
    run.MVI = -99;
    run.PTN = 20;
    run.SIV = 1;
    auto t = Clock::now();
    allocate(run);
    std::printf("allocate %.3f\n", since(t));
    t = Clock::now();
    read_data(run);
    std::printf("read %.3f\n", since(t));
    t = Clock::now();
    code_and_sum(run);
    std::printf("code %.3f\n", since(t));
    t = Clock::now();
    build_pattern_table(run);
    std::printf("patterns %.3f (%d)\n", since(t), run.NPATT);
    start_values(run);
    t = Clock::now();
    e_step(run);
    std::printf("estep %.3f\n", since(t));
    run.MAXITER = 0;
    run.CRIT = -1;
    run.COUNT = 0;
    t = Clock::now();
    em(run);
    std::printf("pass0 (regressions+correction) %.3f\n", since(t));
}
