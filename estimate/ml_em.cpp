// The iteration of the maximum-likelihood EM: plain passes, or SQUAREM.
#include <cmath>

#include "base/fp.h"
#include "estimate/ml.h"

namespace talvo {

namespace {

// theta as one vector of parameters: the means, then the lower triangle
// of the covariances row after row.
std::vector<double> flatten(const Normal& t) {
    std::vector<double> v(t.mean);
    for (std::int32_t j = 0; j < t.K; ++j)
        for (std::int32_t l = 0; l <= j; ++l) v.push_back(t.sigma(j, l));
    return v;
}

Normal unflatten(const std::vector<double>& v, std::int32_t K) {
    Normal t(K);
    std::size_t at = 0;
    for (std::int32_t j = 0; j < K; ++j) t.mean[static_cast<std::size_t>(j)] = v[at++];
    for (std::int32_t j = 0; j < K; ++j) {
        for (std::int32_t l = 0; l <= j; ++l) {
            t.sigma(j, l) = v[at];
            t.sigma(l, j) = v[at++];
        }
    }
    return t;
}

// The EM map with its count, and whoever watches the passes.
class Map {
public:
    Map(Run& run, const MlOptions& o, MlFacts& facts) : run_(run), groups_(group_cases(run)), o_(o), facts_(facts) {}

    // next = F(theta); the log-likelihood at theta.
    double operator()(const Normal& theta, Normal& next) {
        const double ll = ml_step(run_, groups_, theta, next);
        ++facts_.passes;
        const double change = relative_change(theta, next);
        if (o_.observer) o_.observer->pass_checked(PassReport{facts_.passes - 1, change, true, ll});
        facts_.last_change = change;
        return ll;
    }
    bool spent() const { return facts_.passes >= o_.max_passes; }
    const PatternCases& groups() const { return groups_; }

private:
    Run& run_;
    const PatternCases groups_;
    const MlOptions& o_;
    MlFacts& facts_;
};

void plain(Map& F, Normal& theta, const MlOptions& o, MlFacts& facts) {
    Normal next;
    while (!F.spent()) {
        F(theta, next);
        theta = next;
        if (facts.last_change < o.criterion) {
            facts.converged = true;
            return;
        }
    }
}

// SQUAREM with the SqS3 step length (Varadhan and Roland 2008): from theta
// two EM steps, r = F(theta) - theta and v = F(F(theta)) - 2 F(theta) +
// theta, then the step theta + 2 a r + a^2 v with a = |r| / |v|, kept
// between 1 and a largest step that grows fourfold while steps of that
// length succeed, and one EM step from there to steady it. A step is
// refused, and the plain second EM step taken instead, when its covariance
// matrix is not positive definite (the likelihood reads only the observed
// blocks, so it could still be finite) or when its log-likelihood falls
// below that of theta.
void squarem(Map& F, Normal& theta, const MlOptions& o, MlFacts& facts) {
    const std::int32_t K = theta.K;
    const double kGrowth = 4.0;
    // SQUAREM need not raise the log-likelihood at every step: a step that
    // lowers it by at most this much is kept, as the SQUAREM package does by
    // default; a larger fall sends it back to plain EM. Demanding a strict
    // rise here took five times the passes on a growth data set.
    const double kSlack = 1.0;
    double largest = 1.0;
    Normal f1, f2, step, steadied, ahead;
    double ll = F(theta, f1);  // the log-likelihood at theta, and F(theta)
    for (;;) {
        if (facts.last_change < o.criterion) {
            theta = f1;
            facts.converged = true;
            return;
        }
        if (F.spent()) {
            theta = f1;
            return;
        }
        F(f1, f2);
        if (facts.last_change < o.criterion || F.spent()) {
            theta = f2;
            facts.converged = facts.last_change < o.criterion;
            return;
        }
        const std::vector<double> p0 = flatten(theta), p1 = flatten(f1), p2 = flatten(f2);
        double rr = 0.0, vv = 0.0;
        std::vector<double> r(p0.size()), v(p0.size()), p(p0.size());
        for (std::size_t i = 0; i < p0.size(); ++i) {
            r[i] = p1[i] - p0[i];
            v[i] = (p2[i] - p1[i]) - r[i];
            rr += r[i] * r[i];
            vv += v[i] * v[i];
        }
        double a = vv > 0.0 ? std::sqrt(rr / vv) : 1.0;
        if (!std::isfinite(a) || a < 1.0) a = 1.0;
        if (a > largest) a = largest;
        bool accepted = false;
        if (a != 1.0) {
            for (std::size_t i = 0; i < p0.size(); ++i) p[i] = p0[i] + 2.0 * a * r[i] + a * a * v[i];
            step = unflatten(p, K);
            bool finite = true;
            for (double x : p) finite = finite && std::isfinite(x);
            if (finite && positive_definite(step) && !F.spent()) {
                F(step, steadied);
                if (positive_definite(steadied) && !F.spent()) {
                    const double ll_new = F(steadied, ahead);
                    if (ll_new >= ll - kSlack) {
                        theta = steadied;
                        f1 = ahead;
                        ll = ll_new;
                        accepted = true;
                    }
                }
            }
        }
        if (accepted) {
            if (a == largest) largest *= kGrowth;
            continue;
        }
        if (a != 1.0) {
            ++facts.rejected;
            if (a == largest) largest = std::max(1.0, largest / kGrowth);
        } else if (a == largest) {
            largest *= kGrowth;  // the step of length 1 is the plain one, and succeeds
        }
        // The plain second EM step.
        theta = f2;
        if (F.spent()) return;
        ll = F(theta, f1);
    }
}

}  // namespace

MlFacts ml_em(Run& run, Normal& theta, const MlOptions& options) {
    MlFacts facts;
    Map F(run, options, facts);
    if (options.accelerate)
        squarem(F, theta, options, facts);
    else
        plain(F, theta, options, facts);
    // The estimates' log-likelihood, and the missing values filled at them.
    Normal unused;
    facts.log_likelihood = ml_step(run, F.groups(), theta, unused);
    ++facts.likelihood_checks;
    return facts;
}

EmFacts ml_passes(Run& run, PassObserver* observer, Normal& theta, MlFacts& facts) {
    theta = normal_from_sums(run);
    MlOptions o;
    o.max_passes = run.MAXITER < 0 ? INT32_MAX : run.MAXITER;
    o.criterion = run.CRIT;
    o.accelerate = run.EST.accelerate;
    o.observer = observer;
    facts = ml_em(run, theta, o);
    // The sums of the estimates for N cases, and the regressions on them.
    const std::int32_t K = run.K;
    const double n = static_cast<double>(run.N);
    for (std::int32_t j = 1; j <= K; ++j) {
        const double mj = theta.mean[static_cast<std::size_t>(j - 1)];
        run.SS(0, j) = fp::mul(mj, n);
        for (std::int32_t l = 1; l <= j; ++l)
            run.SS(j, l) = fp::mul(fp::add(theta.sigma(j - 1, l - 1), fp::mul(mj, theta.mean[static_cast<std::size_t>(l - 1)])), n);
    }
    regressions(run);
    const double scale = run.EST.divisor_n_minus_1 ? run.CN : 1.0;
    for (std::int32_t j = 1; j <= K; ++j) {
        run.COV(0, j) = theta.mean[static_cast<std::size_t>(j - 1)];
        for (std::int32_t l = 1; l <= K; ++l) run.COV(j, l) = fp::mul(theta.sigma(j - 1, l - 1), scale);
    }
    EmFacts em;
    em.passes = facts.passes;
    em.converged = facts.converged;
    em.complete = run.NPATT == 1;
    em.last_change = facts.last_change;
    return em;
}

}  // namespace talvo
