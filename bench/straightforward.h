// Runs for the benchmarks: a run prepared up to its first pass, its passes
// with the program's kernels or the straightforward ones, and whole runs.
#pragma once

#include <cstdint>
#include <string>

#include "estimate/plans.h"
#include "state/run.h"

namespace talvo::bench {

// The data read, coded and summed, the start values set and pass 0 done.
struct Prepared {
    Run run;
    EstimationPlans plans;
    Mat wide;  // the data matrix of the straightforward completion step
    Prepared(const std::string& path, std::int64_t N, int K, double missing_code = -99);
    // One pass: the completion step, the regressions, the correction.
    void fast_pass();
    void straightforward_pass();
    // A summing pass over the values of X.
    void sum_values();
    void write_results();
    double result_bytes() const;
};

// A whole run in this process, the dialog answered from `answers`, its
// console output thrown away; with the straightforward passes on request.
void whole_run(const std::string& answers, bool straightforward);

// Reading a file's bytes; reading its N x K values (seconds).
void read_bytes(const std::string& path);
// Reading its numbers with the C library's strtod, one after another.
void read_with_strtod(const std::string& path);
double read_values(const std::string& path, std::int64_t N, int K);

}  // namespace talvo::bench
