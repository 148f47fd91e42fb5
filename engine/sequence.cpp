#include "engine/sequence.h"

#include <new>
#include <stdexcept>
#include <string>

#include "estimate/start.h"
#include "missing/coding.h"
#include "missing/summary.h"
#include "state/allocate.h"

namespace talvo {

void RunSteps::read_start_values(const Run&, Mat&) { stop("No start values given; aborting..."); }

namespace {

void phases(Run& run, RunSteps& steps, RunOutcome& out) {
    steps.set_parameters(run);
    check_sizes(run);
    allocate(run);
    steps.read_data(run);
    steps.data_read(run);
    code_and_classify(run);
    summarise_missingness(run);
    steps.patterns_found(run);
    set_sample_constants(run);
    Mat SVC;
    if (run.SIV == StartMethod::File) {
        SVC.allocate(0, run.K, 1, run.K);
        steps.read_start_values(run, SVC);
    }
    start_values(run, SVC);
    SVC.release();
    steps.start_values_set(run);
    if (run.EST.method == Estimator::Method::MaximumLikelihood)
        out.em = ml_passes(run, steps.observer(), out.theta, out.ml);
    else
        out.em = em(run, steps.observer(), steps.kernels());
    steps.estimated(run, out.em);
}

}  // namespace

RunOutcome run_estimation(Run& run, RunSteps& steps) {
    RunOutcome out;
    try {
        try {
            phases(run, steps, out);
            return out;
        } catch (const std::bad_alloc&) {
            stop(std::string(kNoStorage));
        } catch (const std::length_error&) {
            stop(std::string(kNoStorage));
        }
    } catch (const RunEnd& e) {
        out.end = e;
    }
    steps.ending_early(*out.end);
    return out;
}

}  // namespace talvo
