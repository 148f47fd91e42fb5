#include "app/batch/statistics.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "app/batch/outputs.h"
#include "stats/information.h"
#include "stats/linalg.h"
#include "stats/mcar.h"

namespace talvo::batch {

namespace {

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char u[8];
                    std::snprintf(u, sizeof u, "\\u%04x", c);
                    out += u;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string json_number(double v) { return std::isfinite(v) ? shortest(v) : "null"; }

std::string rounded(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string labelled(std::string label, const std::string& value) {
    label.resize(40, ' ');
    return label + value + "\n";
}

// Everything the summaries say.
struct Facts {
    std::optional<double> loglik;
    stats::Coverage coverage;
    std::optional<stats::McarTest> mcar;
    std::optional<stats::Precision> precision;
    double eigen_ratio = NAN;
    std::vector<std::pair<std::string, std::string>> never_together;
};

// The covariance matrix of theta, K x K.
stats::Sym covariances(const Normal& theta) {
    stats::Sym S(static_cast<std::size_t>(theta.K));
    S.a = theta.cov;
    return S;
}

// A matrix of K x K numbers as CSV with the names around it.
void matrix_csv(std::string& out, const std::vector<std::string>& names, auto value) {
    const std::size_t K = names.size();
    out += "variable";
    for (const std::string& n : names) out.append(",").append(csv_field(n));
    out += "\n";
    for (std::size_t j = 0; j < K; ++j) {
        out += csv_field(names[j]);
        for (std::size_t l = 0; l < K; ++l) out.append(",").append(value(j, l));
        out += "\n";
    }
}

std::string write_file(const std::function<std::string(const std::string&)>& path, const std::string& name,
                       std::string text) {
    Writer w(path(name));
    w.out() = std::move(text);
    return w.finish();
}

}  // namespace

std::vector<std::string> statistics_files(const Options& o) {
    std::vector<std::string> files{"summary.txt", "summary.json"};
    if (o.csv) files.push_back("correlation.csv");
    if (o.csv && o.ml) files.insert(files.end(), {"pairwise.csv", "mcar.csv"});
    if (o.se) files.insert(files.end(), {"standard-errors.csv", "acov.csv"});
    return files;
}

std::string write_statistics(const Options& o, Run& run, const RunOutcome& out, const std::vector<std::string>& names,
                             const std::string& verdict, std::vector<std::string>& warnings,
                             const std::function<std::string(const std::string&)>& path) {
    const std::int32_t K = run.K;
    const auto k = static_cast<std::size_t>(K);
    const PatternCases groups = group_cases(run);
    // The parameters the summaries speak of: the maximum-likelihood
    // estimates, or the legacy estimator's means and covariances as reported.
    Normal theta = out.theta;
    if (!o.ml) {
        theta = Normal(K);
        for (std::int32_t j = 1; j <= K; ++j) {
            theta.mean[static_cast<std::size_t>(j - 1)] = run.COV(0, j);
            for (std::int32_t l = 1; l <= K; ++l) theta.sigma(j - 1, l - 1) = run.COV(j, l);
        }
    }
    Facts f;
    f.coverage = stats::coverage(run, groups);
    try {
        f.loglik = o.ml ? out.ml.log_likelihood : log_likelihood(run, groups, theta);
        if (o.ml) f.mcar = stats::little_test(run, groups, theta);
        if (o.se) f.precision = stats::precision(stats::information(run, groups, theta));
    } catch (const RunEnd&) {
        // A covariance matrix whose observed blocks are not positive
        // definite has no likelihood: the summaries say so.
    }
    const std::vector<double> eigen = stats::eigenvalues(covariances(theta));
    if (!eigen.empty() && eigen.back() > 0.0) f.eigen_ratio = eigen.front() / eigen.back();
    for (std::size_t j = 0; j < k; ++j)
        for (std::size_t l = 0; l < j; ++l)
            if (f.coverage.pairs[j * k + l] == 0) {
                f.never_together.emplace_back(names[l], names[j]);
                warnings.push_back("warning: " + names[l] + " and " + names[j] +
                                   " are never observed together: their covariance is not identified by the data");
            }

    // summary.txt
    std::string txt = std::string(version_text());
    txt += labelled("data file:", o.data);
    txt += labelled("estimator:", o.ml ? std::string("maximum likelihood, covariances with divisor ") +
                                             (o.divisor_n1 ? "N - 1" : "N") + (o.accelerate ? ", SQUAREM" : "")
                                       : "legacy (talvo's), covariances with divisor N - 1");
    txt += labelled("verdict:", verdict);
    txt += labelled(
        "passes:", std::to_string(out.em.passes) +
                       (o.ml ? " (evaluations of the EM map" +
                                   (o.accelerate ? ", " + std::to_string(out.ml.rejected) + " steps refused" : "") + ")"
                             : ""));
    txt += labelled("criterion:", shortest(run.CRIT) + (run.EST.stop == Estimator::Stop::Relative || o.ml
                                                            ? " on the relative change of a mean or covariance"
                                                            : " on the absolute change of a covariance"));
    txt += labelled("-2 log L:",
                    f.loglik ? shortest(-2.0 * *f.loglik) : "not computed (no positive definite covariances)");
    txt += labelled("cases (N):", std::to_string(run.N));
    txt += labelled("complete cases:", std::to_string(f.coverage.complete));
    txt += labelled("patterns:", std::to_string(run.PNUM));
    txt += labelled("pairwise cases:", "fewest " + std::to_string(f.coverage.fewest) + ", harmonic mean " +
                                           rounded(f.coverage.harmonic, 6));
    if (f.mcar)
        txt +=
            labelled("Little's MCAR test:", "d2 = " + rounded(f.mcar->d2, 6) + ", df = " + std::to_string(f.mcar->df) +
                                                ", p = " + rounded(f.mcar->p, 4) +
                                                ", effect size sqrt(d2/N) = " + rounded(f.mcar->effect, 4));
    if (f.precision && f.precision->ok)
        txt += labelled("worst fraction of missing information:", rounded(f.precision->worst_fmi, 4));
    txt += labelled("smallest / largest eigenvalue:", rounded(f.eigen_ratio, 4));
    for (const auto& [a, b] : f.never_together) txt += labelled("never observed together:", a + ", " + b);

    // summary.json
    std::string js = "{\n";
    auto field = [&](const std::string& key, const std::string& value) {
        js += "  " + json_string(key) + ": " + value + ",\n";
    };
    field("program", json_string(std::string(version_text().substr(0, version_text().size() - 1))));
    field("data", json_string(o.data));
    field("estimator", json_string(o.ml ? "ml" : "legacy"));
    field("divisor", json_string(o.ml && !o.divisor_n1 ? "n" : "n-1"));
    field("accelerated", o.accelerate ? "true" : "false");
    field("converged", out.em.converged ? "true" : "false");
    field("verdict", json_string(verdict));
    field("passes", std::to_string(out.em.passes));
    field("criterion", json_number(run.CRIT));
    field("rule", json_string(run.EST.stop == Estimator::Stop::Relative || o.ml ? "relative" : "absolute"));
    field("minus_two_log_likelihood", f.loglik ? json_number(-2.0 * *f.loglik) : "null");
    field("cases", std::to_string(run.N));
    field("complete_cases", std::to_string(f.coverage.complete));
    field("patterns", std::to_string(run.PNUM));
    field("pairwise_fewest", std::to_string(f.coverage.fewest));
    field("pairwise_harmonic_mean", json_number(f.coverage.harmonic));
    field("mcar", f.mcar ? "{\"d2\": " + json_number(f.mcar->d2) + ", \"df\": " + std::to_string(f.mcar->df) +
                               ", \"p\": " + json_number(f.mcar->p) +
                               ", \"effect_size\": " + json_number(f.mcar->effect) + "}"
                         : "null");
    field("worst_fraction_missing_information",
          f.precision && f.precision->ok ? json_number(f.precision->worst_fmi) : "null");
    field("eigenvalue_ratio", json_number(f.eigen_ratio));
    std::string pairs = "[";
    for (const auto& [a, b] : f.never_together)
        pairs += (pairs.size() > 1 ? ", [" : "[") + json_string(a) + ", " + json_string(b) + "]";
    js += "  \"never_together\": " + pairs + "]\n}\n";

    for (auto [name, text] : {std::pair{"summary.txt", &txt}, {"summary.json", &js}})
        if (std::string e = write_file(path, name, *text); !e.empty()) return e;

    if (o.csv) {
        std::string corr;
        matrix_csv(corr, names, [&](std::size_t j, std::size_t l) {
            return shortest(theta.cov[j * k + l] / std::sqrt(theta.cov[j * k + j] * theta.cov[l * k + l]));
        });
        if (std::string e = write_file(path, "correlation.csv", corr); !e.empty()) return e;
    }
    if (o.csv && o.ml) {
        std::string pw;
        matrix_csv(pw, names,
                   [&](std::size_t j, std::size_t l) { return std::to_string(f.coverage.pairs[j * k + l]); });
        if (std::string e = write_file(path, "pairwise.csv", pw); !e.empty()) return e;
        std::string mc = "pattern,cases";
        for (const std::string& n : names) mc.append(",").append(csv_field(n));
        mc += ",d2\n";
        if (f.mcar) {
            for (const stats::McarPattern& p : f.mcar->patterns) {
                std::vector<std::string> cells(k, "NA");
                for (std::size_t a = 0; a < p.observed.size(); ++a)
                    cells[static_cast<std::size_t>(p.observed[a] - 1)] = shortest(p.means[a]);
                mc += std::to_string(p.pattern) + "," + std::to_string(p.cases);
                for (const std::string& c : cells) mc.append(",").append(c);
                mc.append(",").append(shortest(p.d2)).append("\n");
            }
        }
        if (std::string e = write_file(path, "mcar.csv", mc); !e.empty()) return e;
    }
    if (o.se) {
        std::string se = "parameter,estimate,se,fmi\n", acov = "parameter";
        const std::size_t q = stats::parameter_count(K);
        std::vector<std::string> labels(q);
        for (std::size_t i = 0; i < q; ++i) labels[i] = stats::parameter_label(K, i, names);
        for (std::size_t i = 0; i < q; ++i) acov.append(",").append(csv_field(labels[i]));
        acov += "\n";
        const bool ok = f.precision && f.precision->ok;
        for (std::size_t i = 0; i < q; ++i) {
            double estimate = 0.0;
            if (i < k) {
                estimate = theta.mean[i];
            } else {
                for (std::int32_t j = 0; j < K; ++j)
                    for (std::int32_t l = 0; l <= j; ++l)
                        if (stats::covariance_index(K, j, l) == i) estimate = theta.sigma(j, l);
            }
            se += csv_field(labels[i]) + "," + shortest(estimate) + "," + (ok ? shortest(f.precision->se[i]) : "NA") +
                  "," + (ok ? shortest(f.precision->fmi[i]) : "NA") + "\n";
            acov += csv_field(labels[i]);
            for (std::size_t j = 0; j < q; ++j)
                acov.append(",").append(ok ? shortest(f.precision->acov(i, j)) : std::string("NA"));
            acov += "\n";
        }
        if (!ok) warnings.push_back("warning: the observed information is not positive definite: no standard errors");
        for (auto [name, text] : {std::pair{"standard-errors.csv", &se}, {"acov.csv", &acov}})
            if (std::string e = write_file(path, name, *text); !e.empty()) return e;
    }
    return "";
}

}  // namespace talvo::batch
