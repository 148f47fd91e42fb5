#include "app/batch/trust.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "estimate/singular.h"

namespace talvo::batch {

namespace {

// A figure in three significant digits: 1.76, 0.000123, 3.21e-07.
std::string figure(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

std::string percent(double v, int decimals) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f%%", decimals, v);
    return buf;
}

std::string labelled(std::string label, const std::string& value) {
    label.resize(22, ' ');
    return label + value;
}

std::string name_of(const std::vector<std::string>& names, int v) {
    return v >= 1 && static_cast<std::size_t>(v) <= names.size() ? names[static_cast<std::size_t>(v - 1)]
                                                                 : "variable " + std::to_string(v);
}

std::string listed(const std::vector<std::string>& names, const std::vector<int>& vars) {
    std::string s;
    for (int v : vars) s += (s.empty() ? "" : ", ") + name_of(names, v);
    return s;
}

std::string cases(double n) {
    const auto c = static_cast<long long>(n);
    return std::to_string(c) + (c == 1 ? " complete case" : " complete cases");
}

}  // namespace

Estimator estimator_of(const Options& o) {
    Estimator e;
    e.stop = o.absolute ? Estimator::Stop::AbsoluteCovariance : Estimator::Stop::Relative;
    e.singular_tol = kSingularTol;
    e.ridge = o.impute > 0 ? 0.0 : o.ridge;  // with --impute the prior of the draws, not of the estimates
    e.start_fallback = !o.start_given;
    e.lenient_start = o.start_given && o.start == Start::Listwise;
    e.conditional_first_fill = !o.absolute;
    e.method = o.ml ? Estimator::Method::MaximumLikelihood : Estimator::Method::Legacy;
    e.accelerate = o.accelerate;
    e.divisor_n_minus_1 = o.divisor_n1;
    return e;
}

std::string pass_line(const PassReport& report) {
    std::string line = "pass " + std::to_string(report.pass) + ": largest " + (report.relative ? "relative " : "") +
                       "change " + figure(report.largest_change);
    if (std::isfinite(report.log_likelihood)) line += ", log-likelihood " + shortest(report.log_likelihood);
    return line;
}

std::vector<std::string> first_case_lines(const Run& run) {
    std::vector<std::string> lines{"first cases:"};
    for (std::int32_t I = 1; I <= 5 && I <= run.N; ++I) {
        std::string line = "case " + std::to_string(I) + ":";
        for (std::int32_t J = 1; J <= run.K; ++J) {
            const double x = run.X(I, J);
            const bool missing = std::trunc(x) == run.MVI || std::isnan(x);
            line += (J > 1 ? ", " : " ") + (missing ? std::string("NA") : shortest(x));
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> summary_lines(const Run& run) {
    const double values = static_cast<double>(run.N) * static_cast<double>(run.K);
    char missing[64];
    std::snprintf(missing, sizeof missing, "%.0f of %.0f (", run.S2, values);
    return {
        labelled("patterns:", std::to_string(run.PNUM)),
        labelled("missing in a case:", "at most " + std::to_string(run.S1) + " of " + std::to_string(run.K) +
                                           " variables (" + percent(run.PS1, 1) + ")"),
        labelled("values missing:", missing + percent(run.PS2, 2) + ")"),
    };
}

std::vector<std::string> start_notes(const Options& o, const Run& run) {
    const double complete = run.CS(0, 0);
    const std::string k = std::to_string(run.K), k1 = std::to_string(run.K + 1);
    std::vector<std::string> notes;
    switch (run.START_NOTE) {
        case StartNote::FewComplete:
            notes.push_back(cases(complete) + " for " + k + " variables (listwise start values need at least " + k1 +
                            "): the pairwise start values are used");
            break;
        case StartNote::Diagonal:
            notes.push_back(cases(complete) + " for " + k + " variables (listwise start values need at least " + k1 +
                            "), and the pairwise start values are not a positive definite covariance matrix: the "
                            "passes start from each variable's observed mean and variance, with no covariance");
            break;
        case StartNote::None: break;
    }
    if (o.start == Start::Listwise && run.SIV == StartMethod::Pairwise && run.START_NOTE == StartNote::None)
        notes.push_back("no case is complete: the pairwise start values are used");
    if (run.SIV == StartMethod::Pairwise && run.START_RATIO < kSingularTol)
        notes.push_back("the pairwise start values are not a positive definite covariance matrix (a pivot ratio of " +
                        figure(run.START_RATIO) + "); the passes start from them");
    if (!notes.empty()) return notes;
    if (o.start_given && o.start == Start::Listwise && run.SIV == StartMethod::Listwise &&
        (complete < run.K + 1.0 || run.START_RATIO < kSingularTol))
        return {"warning: --start listwise: the start values from " + cases(complete) + " for " + k +
                " variables are singular; the passes start from them as asked (--start pairwise avoids it)"};
    return {};
}

std::vector<std::string> degenerate_text(const Options& o, const Run& run, const RunEnd& end,
                                         const std::vector<std::string>& names) {
    const int first = end.variables.empty() ? 0 : end.variables[0];
    const std::vector<int> related(end.variables.begin() + (end.variables.empty() ? 0 : 1), end.variables.end());
    std::vector<int> all{first};
    all.insert(all.end(), related.begin(), related.end());
    const char* starts[] = {"listwise", "pairwise", "file"};
    const std::string where = end.pass == 0
                                  ? "in the " + std::string(starts[static_cast<int>(run.SIV) - 1]) + " start values"
                                  : "at pass " + std::to_string(end.pass);
    const std::string x = name_of(names, first);
    std::string what;
    if (end.constant && end.pass >= 1) {
        what = "the estimated variance of " + x + " is 0 " + where;
    } else if (end.constant) {
        what = x + " does not vary " + where;
    } else if (end.ratio < -kSingularTol) {
        what = "the covariance matrix is not positive definite " + where + ": " + x +
               " given the variables before it keeps a negative part of its variance (" + figure(end.ratio) + ")";
    } else if (related.empty()) {
        what = "the covariance matrix is singular " + where + ": " + x + " keeps no variance of its own";
    } else {
        what = "the covariance matrix is singular " + where + ": " + x + " is a linear function of " +
               listed(names, related) + " (the part of its variance left: " + figure(end.ratio) + ", below " +
               figure(kSingularTol) + ")";
    }
    // The ridge prior is the legacy estimator's; with maximum likelihood (or
    // imputation) the remedy names it with that estimator.
    const std::string with_ridge = o.ml ? "give --estimator legacy --ridge X" : "give --ridge X";
    std::vector<std::string> lines;
    if (run.N <= run.K) {
        lines.push_back(std::to_string(run.N) + " cases are too few for " + std::to_string(run.K) +
                        " variables: their covariances need at least " + std::to_string(run.K + 1) +
                        " cases; the covariance matrix is singular " + where);
        lines.push_back("use fewer variables or more cases, or " + with_ridge);
        return lines;
    }
    if (end.pass == 0 && run.SIV == StartMethod::File) {
        lines.push_back("the start values of " + o.start_file + " are degenerate: " +
                        (end.constant ? x + " has no variance" : what.substr(what.find(": ") + 2)));
        lines.push_back("a start-value file holds K rows of K covariances (divisor N - 1), then a row of K means");
        return lines;
    }
    lines.push_back(what);
    if (end.pass >= 1 && run.SIV == StartMethod::Pairwise && run.START_RATIO < kSingularTol) {
        lines.push_back(
            "the passes started from pairwise start values that are no covariance matrix: leave --start "
            "out, or " +
            with_ridge);
        return lines;
    }
    const std::string ridge =
        o.ridge > 0.0 ? " (--ridge " + figure(o.ridge) + " was not enough: a larger X shrinks more)" : "";
    if (end.constant)
        lines.push_back("drop " + x + ": a variable that does not vary has no regression");
    else
        lines.push_back("drop one of " + listed(names, all) + ", or " + with_ridge +
                        " to shrink the correlations toward 0 with X pseudo-observations" + ridge);
    return lines;
}

std::string near_singular_warning(const Run& run, const std::vector<std::string>& names) {
    const Singularity s = check_estimate(run, kNearSingular);
    if (s.variable == 0) return "";
    const std::string x = name_of(names, s.variable);
    if (s.constant)
        return "warning: the estimated variance of " + x + " is nearly 0 (" + figure(s.ratio) + " of its mean square)";
    const std::vector<int> related(s.related.begin(), s.related.end());
    return "warning: the estimated covariance matrix is near-singular: " + x + " is nearly a linear function of " +
           listed(names, related) + " (the part of its variance left: " + figure(s.ratio) +
           "); the estimates involving them are unstable";
}

std::string pass_limit_verdict(const Options& o, double last_change) {
    if (o.max_passes == 0) return "not converged: pass limit 0: no pass was run, the results are the start values";
    return "not converged: pass limit " + std::to_string(o.max_passes) + " reached, largest " +
           (o.absolute ? "" : "relative ") + "change " + shortest(last_change);
}

std::string fault_hint(const Options& o, const Run& run, const RunEnd& end) {
    if (end.kind != RunEnd::Kind::MathFault) return "";
    if (end.number == static_cast<int>(Fault::Overflow)) {
        if (o.attrition) {
            double largest = 1.0;
            for (std::int32_t I = 1; I <= run.N; ++I)
                for (std::int32_t J = 1; J <= run.K; ++J)
                    if (std::isfinite(run.X(I, J))) largest = std::max(largest, std::fabs(run.X(I, J)));
            if (!(std::fabs(o.b0) + std::fabs(o.b1) * 4.0 * largest <= DBL_MAX))
                return "the attrition line B0 + B1 x prediction overflowed (B0 = " + shortest(o.b0) +
                       ", B1 = " + shortest(o.b1) + "): give a smaller intercept or b-weight";
        }
        return "values so large that their products overflow: rescale the data";
    }
    if (o.start_given && o.start == Start::Listwise && run.SIV == StartMethod::Listwise &&
        (run.CS(0, 0) < run.K + 1.0 || run.START_RATIO < kSingularTol))
        return "the listwise start values are singular: use --start pairwise, or leave --start out";
    return "a variable is constant, or repeats another or is an exact linear function of others";
}

}  // namespace talvo::batch
