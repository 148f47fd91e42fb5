#include "engine/estimate.h"

#include <cstring>

#include "engine/sequence.h"

namespace talvo {

namespace {

class InMemory final : public RunSteps {
public:
    InMemory(const DataMatrix& data, const EstimateOptions& options) : data_(data), options_(options) {}

    void read_data(Run& run) override {
        const std::size_t K = static_cast<std::size_t>(run.K);
        for (std::int32_t I = 1; I <= run.N; ++I)
            std::memcpy(run.X.row(I) + 1, data_.values.data() + static_cast<std::size_t>(I - 1) * K,
                        K * sizeof(double));
    }
    void read_start_values(const Run& run, Mat& SVC) override {
        const std::int32_t K = run.K;
        const auto k = static_cast<std::size_t>(K);
        if (options_.start_means.size() != k || options_.start_covariances.size() != k * k)
            stop("Start values need " + std::to_string(K) + " means and " + std::to_string(K) + " x " +
                 std::to_string(K) + " covariances; aborting...");
        for (std::int32_t J = 1; J <= K; ++J) {
            SVC(0, J) = options_.start_means[static_cast<std::size_t>(J - 1)];
            for (std::int32_t L = 1; L <= K; ++L)
                SVC(J, L) =
                    options_.start_covariances[static_cast<std::size_t>(J - 1) * k + static_cast<std::size_t>(L - 1)];
        }
    }
    PassObserver* observer() override { return options_.observer; }
    const PassKernels* kernels() const override { return options_.kernels; }

private:
    const DataMatrix& data_;
    const EstimateOptions& options_;
};

}  // namespace

EstimateResult estimate(const DataMatrix& data, const EstimateOptions& options) {
    EstimateResult result;
    if (data.values.size() !=
        static_cast<std::size_t>(data.N < 0 ? 0 : data.N) * static_cast<std::size_t>(data.K < 0 ? 0 : data.K)) {
        RunEnd end;
        end.message = "The data hold " + std::to_string(data.values.size()) + " values, not N x K; aborting...";
        result.end = end;
        return result;
    }
    Run run;
    run.N = data.N;
    run.K = data.K;
    run.MVI = data.code;
    run.PTN = 20;
    run.SIV = options.start;
    run.MAXITER = options.max_passes;
    run.CRIT = options.criterion;
    run.BMOD = options.attrition ? 1 : 0;
    run.YINT = options.attrition_intercept;
    run.YHAT = options.attrition_slope;
    run.EST = options.estimator;
    InMemory steps(data, options);
    const RunOutcome out = run_estimation(run, steps);
    result.em = out.em;
    result.end = out.end;
    result.patterns = run.PNUM;
    result.start = run.SIV;
    result.start_note = run.START_NOTE;
    if (run.EST.method == Estimator::Method::MaximumLikelihood) result.log_likelihood = out.ml.log_likelihood;
    if (out.end) return result;
    const auto k = static_cast<std::size_t>(run.K);
    result.means.resize(k);
    result.covariances.resize(k * k);
    for (std::int32_t J = 1; J <= run.K; ++J) {
        result.means[static_cast<std::size_t>(J - 1)] = run.COV(0, J);
        for (std::int32_t L = 1; L <= run.K; ++L)
            result.covariances[static_cast<std::size_t>(J - 1) * k + static_cast<std::size_t>(L - 1)] = run.COV(J, L);
    }
    return result;
}

}  // namespace talvo
