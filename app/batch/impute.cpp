#include "app/batch/impute.h"

#include "app/batch/plots.h"
#include "base/errors.h"
#include "estimate/augment.h"
#include "stats/information.h"
#include "stats/pool.h"

namespace talvo::batch {

namespace {

std::string set_name(std::int32_t m) { return "imputed-" + std::to_string(m) + ".csv"; }

// The names, led by those of the id columns.
void header(std::string& out, const std::vector<std::string>& names, const IdColumns& ids) {
    out += ids.header;
    for (std::size_t j = 0; j < names.size(); ++j) (out += csv_field(names[j])) += j + 1 < names.size() ? ',' : '\n';
}

// Each data set written as it is drawn, and the series of the worst linear
// function of the parameters drawn.
class Files final : public AugmentObserver {
public:
    Files(const std::vector<std::string>& names, const IdColumns& ids, const PathOf& path, std::vector<double> worst)
        : names_(names), ids_(ids), path_(path), worst_(std::move(worst)) {}

    void data_set(std::int32_t m, const Run& run) override {
        Writer w(path_(set_name(m)));
        header(w.out(), names_, ids_);
        const bool with_ids = !ids_.header.empty();
        for (std::int32_t I = 1; I <= run.N; ++I) {
            if (with_ids) w.out() += ids_.of_case(I);
            for (std::int32_t J = 1; J <= run.K; ++J) (w.out() += shortest(run.X(I, J))) += J < run.K ? ',' : '\n';
            w.step();
        }
        if (std::string e = w.finish(); !e.empty()) stop(e);
    }
    void parameters_drawn(std::int32_t, const Normal& theta) override {
        if (!worst_.empty()) series.push_back(value(theta));
    }
    // The worst linear function at theta.
    double value(const Normal& theta) const {
        const std::int32_t K = theta.K;
        double v = 0.0;
        for (std::int32_t j = 0; j < K; ++j)
            v += worst_[static_cast<std::size_t>(j)] * theta.mean[static_cast<std::size_t>(j)];
        for (std::int32_t j = 0; j < K; ++j)
            for (std::int32_t l = 0; l <= j; ++l) v += worst_[stats::covariance_index(K, j, l)] * theta.sigma(j, l);
        return v;
    }
    std::vector<double> series;

private:
    const std::vector<std::string>& names_;
    const IdColumns& ids_;
    const PathOf& path_;
    std::vector<double> worst_;
};

std::string number(double v) { return std::isfinite(v) ? shortest(v) : "NA"; }

}  // namespace

std::vector<std::string> impute_files(const Options& o) {
    std::vector<std::string> files;
    for (std::int32_t m = 1; m <= o.impute; ++m) files.push_back(set_name(m));
    if (o.impute > 0) files.insert(files.end(), {"imputed-flags.csv", "pooled.csv"});
    if (o.impute > 0 && o.plot) files.push_back("chains.svg");
    return files;
}

std::string impute_head(const Options& o) {
    return std::to_string(o.impute) + " data sets by data augmentation, seed " + std::to_string(o.seed) + ", burn-in " +
           std::to_string(o.burn_in) + " passes, " + std::to_string(o.between) + " between, " +
           (o.ridge > 0.0 ? "ridge prior of " + shortest(o.ridge) + " pseudo-observations" : "noninformative prior");
}

std::string write_imputations(const Options& o, Run& run, const Normal& theta, const std::vector<std::string>& names,
                              const IdColumns& ids, const PathOf& path, std::vector<std::string>& log) {
    const std::int32_t N = run.N, K = run.K;
    {
        Writer flags(path("imputed-flags.csv"));
        header(flags.out(), names, ids);
        for (std::int32_t I = 1; I <= N; ++I) {
            if (!ids.header.empty()) flags.out() += ids.of_case(I);
            for (std::int32_t J = 1; J <= K; ++J) {
                flags.out() += run.OBS(run.PATT(I), J) ? '0' : '1';
                flags.out() += J < K ? ',' : '\n';
            }
            flags.step();
        }
        if (std::string e = flags.finish(); !e.empty()) return e;
    }
    const PatternCases groups = group_cases(run);
    std::vector<double> worst;
    if (o.plot) worst = stats::worst_linear_function(stats::information(run, groups, theta));
    AugmentOptions a;
    a.sets = o.impute;
    a.burn_in = o.burn_in;
    a.between = o.between;
    a.seed = o.seed;
    a.ridge = o.ridge;
    Files files(names, ids, path, worst);
    const AugmentFacts facts = augment(run, groups, theta, a, &files);
    log.push_back("imputed " + std::to_string(o.impute) + " data sets in " + std::to_string(facts.passes) +
                  " passes of data augmentation");

    const std::vector<stats::Pooled> pooled = stats::pool_normal(facts.complete, N);
    Writer p(path("pooled.csv"));
    p.out() = "parameter,estimate,within,between,total,se,df,riv,lambda,fmi\n";
    for (std::size_t i = 0; i < pooled.size(); ++i) {
        const stats::Pooled& q = pooled[i];
        p.out() += csv_field(stats::parameter_label(K, i, names));
        for (double v : {q.estimate, q.within, q.between, q.total, q.se, q.df, q.riv, q.lambda, q.fmi})
            p.out().append(",").append(number(v));
        p.out() += "\n";
    }
    if (std::string e = p.finish(); !e.empty()) return e;
    if (o.plot) {
        std::vector<std::int32_t> set_passes;
        for (std::int32_t m = 1; m <= o.impute; ++m) set_passes.push_back(data_set_pass(a, m));
        std::vector<double> series;
        if (!worst.empty()) {
            series.push_back(files.value(theta));  // pass 0: the maximum-likelihood estimates
            series.insert(series.end(), files.series.begin(), files.series.end());
        }
        Writer w(path("chains.svg"));
        w.out() = chains_svg(series, set_passes, o.burn_in);
        if (std::string e = w.finish(); !e.empty()) return e;
    }
    return "";
}

}  // namespace talvo::batch
