// The draws by key: the same key gives the same bits; uniform, normal,
// gamma and chi-square draws have their moments and their distributions
// (Kolmogorov-Smirnov at a fixed seed); neighbouring keys and draw numbers
// give uncorrelated numbers.
#include "base/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace talvo::rng {
namespace {

constexpr int kDraws = 100000;

// The Kolmogorov-Smirnov distance of the sample from the distribution cdf.
double ks_distance(std::vector<double> x, const std::function<double(double)>& cdf) {
    std::sort(x.begin(), x.end());
    const double n = static_cast<double>(x.size());
    double most = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double f = cdf(x[i]);
        most = std::max({most, f - static_cast<double>(i) / n, static_cast<double>(i + 1) / n - f});
    }
    return most;
}

// The critical distance at the level 0.001.
double ks_critical(std::size_t n) { return 1.95 / std::sqrt(static_cast<double>(n)); }

double mean_of(const std::vector<double>& x) {
    double s = 0.0;
    for (double v : x) s += v;
    return s / static_cast<double>(x.size());
}

double variance_of(const std::vector<double>& x) {
    const double m = mean_of(x);
    double s = 0.0;
    for (double v : x) s += (v - m) * (v - m);
    return s / static_cast<double>(x.size() - 1);
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const double ma = mean_of(a), mb = mean_of(b);
    double sab = 0.0, saa = 0.0, sbb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return sab / std::sqrt(saa * sbb);
}

std::vector<double> sample(const std::function<double(const Key&)>& draw, std::uint64_t seed = 1) {
    const Key base = Key(seed).with(7);
    std::vector<double> x(kDraws);
    for (int i = 0; i < kDraws; ++i) x[static_cast<std::size_t>(i)] = draw(base.with(static_cast<std::uint64_t>(i)));
    return x;
}

TEST(Random, SameKeySameBitsAndKeysDiffer) {
    EXPECT_EQ(Key(1).with(2).with(3).bits(4), Key(1).with(2).with(3).bits(4));
    EXPECT_NE(Key(1).with(2).with(3).bits(4), Key(1).with(3).with(2).bits(4));
    EXPECT_NE(Key(1).with(2).bits(0), Key(2).with(2).bits(0));
    EXPECT_NE(Key(1).with(2).bits(0), Key(1).with(2).bits(1));
    // Fixed bits: a change of the mixing would change every data set drawn.
    EXPECT_EQ(mix(0), 0u);
    EXPECT_EQ(mix(1), 0x5692161d100b05e5ULL);
}

TEST(Random, UniformIsOpenAndUniform) {
    const std::vector<double> u = sample([](const Key& k) { return uniform(k, 0); });
    for (double v : u) ASSERT_TRUE(v > 0.0 && v < 1.0);
    EXPECT_NEAR(mean_of(u), 0.5, 4 * std::sqrt(1.0 / 12 / kDraws));
    EXPECT_LT(ks_distance(u, [](double x) { return x; }), ks_critical(u.size()));
}

TEST(Random, NormalHasItsMomentsAndDistribution) {
    const std::vector<double> z = sample([](const Key& k) { return normal(k); });
    EXPECT_NEAR(mean_of(z), 0.0, 4 / std::sqrt(double(kDraws)));
    EXPECT_NEAR(variance_of(z), 1.0, 4 * std::sqrt(2.0 / kDraws));
    EXPECT_LT(ks_distance(z, [](double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }), ks_critical(z.size()));
    // The tails: about 0.27% beyond 3.
    const auto beyond = std::count_if(z.begin(), z.end(), [](double v) { return std::fabs(v) > 3.0; });
    EXPECT_NEAR(static_cast<double>(beyond) / kDraws, 0.0026998, 0.0008);
}

TEST(Random, GammaAndChiSquareHaveTheirMomentsAndDistributions) {
    for (double shape : {0.3, 0.5, 1.0, 2.5, 40.0}) {
        const std::vector<double> g = sample([&](const Key& k) { return gamma(k, shape); }, 3);
        EXPECT_NEAR(mean_of(g), shape, 4 * std::sqrt(shape / kDraws)) << "shape " << shape;
        EXPECT_NEAR(variance_of(g), shape, 0.05 * shape) << "shape " << shape;
        for (double v : g) ASSERT_GT(v, 0.0);
    }
    // Two degrees of freedom: the exponential of mean 2; one: the square of a normal.
    const std::vector<double> c2 = sample([](const Key& k) { return chi_square(k, 2.0); }, 5);
    EXPECT_LT(ks_distance(c2, [](double x) { return 1.0 - std::exp(-x / 2.0); }), ks_critical(c2.size()));
    const std::vector<double> c1 = sample([](const Key& k) { return chi_square(k, 1.0); }, 6);
    EXPECT_LT(ks_distance(c1, [](double x) { return std::erf(std::sqrt(x / 2.0)); }), ks_critical(c1.size()));
    const std::vector<double> c30 = sample([](const Key& k) { return chi_square(k, 30.0); }, 7);
    EXPECT_NEAR(mean_of(c30), 30.0, 4 * std::sqrt(60.0 / kDraws));
    EXPECT_NEAR(variance_of(c30), 60.0, 3.0);
    // The median of chi-square(30) is 29.3360.
    std::vector<double> s = c30;
    std::nth_element(s.begin(), s.begin() + kDraws / 2, s.end());
    EXPECT_NEAR(s[kDraws / 2], 29.3360, 0.15);
}

TEST(Random, NeighbouringKeysAndDrawsAreUncorrelated) {
    const Key base = Key(11).with(1).with(2);
    std::vector<double> a(kDraws), b(kDraws), c(kDraws), d(kDraws), e(kDraws);
    for (int i = 0; i < kDraws; ++i) {
        const auto n = static_cast<std::uint64_t>(i);
        a[static_cast<std::size_t>(i)] = normal(base.with(n));
        b[static_cast<std::size_t>(i)] = normal(base.with(n + 1));
        c[static_cast<std::size_t>(i)] = normal(base.with(n), 1);
        d[static_cast<std::size_t>(i)] = normal(Key(12).with(1).with(2).with(n));
        e[static_cast<std::size_t>(i)] = normal(base.with(n).with(0));
    }
    const double bound = 4 / std::sqrt(double(kDraws));
    EXPECT_LT(std::fabs(correlation(a, b)), bound);  // the next case
    EXPECT_LT(std::fabs(correlation(a, c)), bound);  // the next draw of the same key
    EXPECT_LT(std::fabs(correlation(a, d)), bound);  // the next seed
    EXPECT_LT(std::fabs(correlation(a, e)), bound);  // one word more
}

}  // namespace
}  // namespace talvo::rng
