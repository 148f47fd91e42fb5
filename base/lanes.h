// Groups of four doubles for the vector kernels. Each lane does the IEEE
// operations of one element, exactly as the scalar formula would, so a
// kernel gives the same bits whether it is built for the plain instruction
// set or for AVX2 (see cpu.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talvo {

// Four doubles, and four masks of their bits.
typedef double Lanes __attribute__((vector_size(32)));
typedef std::uint64_t Masks __attribute__((vector_size(32)));

// Loads and stores of four elements anywhere in memory. (Vectors pass by
// reference: passed or returned by value their layout would depend on the
// instruction set a function is built for.)
[[gnu::always_inline]] inline void load(Lanes& l, const double* v) { std::memcpy(&l, v, sizeof l); }
[[gnu::always_inline]] inline void load(Masks& m, const std::uint64_t* v) { std::memcpy(&m, v, sizeof m); }
[[gnu::always_inline]] inline void store(double* v, const Lanes& l) { std::memcpy(v, &l, sizeof l); }

// Or-s into acc the sign bit of every lane of l that is infinite or not a
// number (its exponent field all ones); tested once, after many lanes.
[[gnu::always_inline]] inline void mark_not_finite(Masks& acc, const Lanes& l) {
    const std::uint64_t e = 0x7FF0000000000000ULL, one = 0x0010000000000000ULL, sign = 0x8000000000000000ULL;
    const Masks exponent = {e, e, e, e}, unit = {one, one, one, one}, signs = {sign, sign, sign, sign};
    acc |= ((reinterpret_cast<const Masks&>(l) & exponent) + unit) & signs;
}

// The same for the first `count` lanes of l only (all four from 4 up): the
// lanes past the end of a row hold values that are never stored.
[[gnu::always_inline]] inline void mark_not_finite(Masks& acc, const Lanes& l, std::size_t count) {
    if (count >= 4) return mark_not_finite(acc, l);
    const std::uint64_t c = count;
    const Masks lane = {0, 1, 2, 3}, counted = {c, c, c, c};
    Masks bad = {0, 0, 0, 0};
    mark_not_finite(bad, l);
    acc |= bad & reinterpret_cast<Masks>(lane < counted);
}

[[gnu::always_inline]] inline bool none_marked(const Masks& acc) { return (acc[0] | acc[1] | acc[2] | acc[3]) == 0; }

// True when none of v[0..n) is infinite or not a number. Written on the
// bits so that it vectorises.
[[gnu::always_inline]] inline bool all_finite(const double* v, std::size_t n) {
    std::uint64_t acc = 0;
    for (std::size_t j = 0; j < n; ++j) {
        std::uint64_t b;
        std::memcpy(&b, &v[j], sizeof b);
        acc |= ((b & 0x7FF0000000000000ULL) + 0x0010000000000000ULL) & 0x8000000000000000ULL;
    }
    return acc == 0;
}

}  // namespace talvo
