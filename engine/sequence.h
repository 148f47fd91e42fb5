// One run: the phases in their fixed order, and the one guard that turns
// whatever ends a run early into its report. Every program runs its
// estimation through here; each adds its own reading, showing and writing
// as the steps of a RunSteps.
#pragma once

#include <optional>

#include "base/errors.h"
#include "estimate/em.h"
#include "estimate/ml.h"
#include "state/run.h"

namespace talvo {

// What a caller adds around the phases. Each step may end the run (a
// RunEnd, or std::bad_alloc for memory that cannot be had).
class RunSteps {
public:
    // The run parameters, before anything else (the dialog asks for them).
    virtual void set_parameters(Run&) {}
    // The values into X(1..N, 1..K); the storage is allocated and zero.
    virtual void read_data(Run& run) = 0;
    // The data are in (the dialog shows the first cases and waits).
    virtual void data_read(const Run&) {}
    // Coding, the pattern table and the summary figures are done.
    virtual void patterns_found(const Run&) {}
    // With the start method File: the means into SVC(0, 1..K) and the
    // covariances into SVC(1..K, 1..K).
    virtual void read_start_values(const Run& run, Mat& SVC);
    // The start values are in SS (START_NOTE and START_RATIO say what the
    // estimator's checks found).
    virtual void start_values_set(const Run&) {}
    // Who watches the passes, and the kernels of a pass (null: the program's own).
    virtual PassObserver* observer() { return nullptr; }
    virtual const PassKernels* kernels() const { return nullptr; }
    // The estimation is done: the results.
    virtual void estimated(Run&, const EmFacts&) {}
    // The run ends early with `end`: what the steps hold open is closed. A
    // failure on the way becomes the end to report.
    virtual void ending_early(RunEnd&) {}

protected:
    ~RunSteps() = default;
};

struct RunOutcome {
    EmFacts em;                 // how the iteration ended, when it ran
    std::optional<RunEnd> end;  // what ended the run early; none at a normal end
    // With the maximum-likelihood estimator: how its passes went, and the
    // estimates (covariances with divisor N).
    MlFacts ml;
    Normal theta;
};

// Allocation, intake, coding and patterns, summary, start values, the EM
// passes and the results, with the steps between them. Memory that cannot
// be had ends the run with the storage message.
RunOutcome run_estimation(Run& run, RunSteps& steps);

}  // namespace talvo
