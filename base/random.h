// Random draws by key: every draw is a function of the words that name it
// (the seed, the data set, the pass, the case, the variable, a draw number),
// never the next number of a shared stream. So the same seed gives the same
// bits whichever thread makes a draw, in whatever order, on every run.
//
// The key words are mixed one after the other by the finaliser of SplitMix64
// (a bijection of 64-bit words with full avalanche); a draw is the mixed key
// with its draw number mixed in. The normal, gamma and chi-square draws are
// written here, not taken from the standard library, whose distributions
// differ between library versions.
#pragma once

#include <cmath>
#include <cstdint>

namespace talvo::rng {

// The finaliser of SplitMix64.
constexpr std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A key: the seed, then each word that names a draw, in order.
class Key {
public:
    constexpr explicit Key(std::uint64_t seed) : h_(mix(seed + 0x9e3779b97f4a7c15ULL)) {}
    // The key with one more word: with(a).with(b) differs from with(b).with(a).
    constexpr Key with(std::uint64_t word) const { return Key(mix(h_ ^ mix(word + 0x632be59bd9b4e019ULL)), 0); }
    // 64 random bits: draw number `draw` under this key.
    constexpr std::uint64_t bits(std::uint64_t draw) const { return mix(h_ ^ mix(draw + 0xd1b54a32d192ed03ULL)); }

private:
    constexpr Key(std::uint64_t h, int) : h_(h) {}
    std::uint64_t h_;
};

// A uniform number in (0, 1): the top 53 bits, plus a half, times 2^-53
// (never 0, never 1).
inline double uniform(const Key& key, std::uint64_t draw) {
    return (static_cast<double>(key.bits(draw) >> 11) + 0.5) * 0x1.0p-53;
}

// A standard normal number by Box and Muller (the cosine branch), from the
// uniform draws 2 draw and 2 draw + 1.
inline double normal(const Key& key, std::uint64_t draw = 0) {
    constexpr double kTwoPi = 6.283185307179586476925286766559;
    const double u1 = uniform(key, 2 * draw), u2 = uniform(key, 2 * draw + 1);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

// A gamma number of this shape (positive) and scale 1, by Marsaglia and Tsang
// (2000). Attempt i takes the normal of draw 2 i (uniforms 4 i and 4 i + 1)
// and the uniform 4 i + 2; a shape below 1 is raised by 1 and the result
// multiplied by u^(1/shape), u the uniform 3. An attempt is accepted with
// probability above 0.95 for every shape, so the loop ends at once.
inline double gamma(const Key& key, double shape) {
    const bool boost = shape < 1.0;
    const double a = boost ? shape + 1.0 : shape;
    const double d = a - 1.0 / 3.0;
    const double c = 1.0 / std::sqrt(9.0 * d);
    for (std::uint64_t i = 0;; ++i) {
        const double x = normal(key, 2 * i);
        const double t = 1.0 + c * x;
        if (t <= 0.0) continue;
        const double v = t * t * t;
        const double u = uniform(key, 4 * i + 2);
        const double x2 = x * x;
        if (u < 1.0 - 0.0331 * (x2 * x2) || std::log(u) < 0.5 * x2 + d * (1.0 - v + std::log(v))) {
            const double g = d * v;
            return boost ? g * std::pow(uniform(key, 3), 1.0 / shape) : g;
        }
    }
}

// A chi-square number of df degrees of freedom (positive): twice a gamma of
// shape df / 2.
inline double chi_square(const Key& key, double df) { return 2.0 * gamma(key, 0.5 * df); }

}  // namespace talvo::rng
