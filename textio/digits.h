// The decimal digits of a double: its 17-digit expansion, and the rounding
// of those digits that every field shows.
#pragma once

#include <cstdint>

namespace talvo::render {

// A finite double as 17 significant decimal digits: value = 0.d1d2...d17 x 10^exp.
// The expansion is exact to 17 digits (correctly rounded, locale-free).
struct Decimal {
    char digit[17];
    std::int64_t exp = 0;  // wide enough for any scale factor added to it
    bool neg = false;
    bool zero = false;
};
Decimal expand(double v);
// The same expansion by the general conversion, for every finite non-zero
// value; expand takes an exact integer path where it can and is proven
// equal to this by tests.
Decimal expand_general(double v);

// The digit string rounded half up to at most 16 significant digits.
// digit[0..n-1] are significant; every later digit reads as 0.
struct Rounded {
    char digit[17];
    int n = 0;
    std::int64_t exp = 0;
    bool zero = true;
    char at(std::int64_t i) const { return i >= 1 && i <= n ? digit[i - 1] : '0'; }
};
Rounded round_half_up(const Decimal& x, std::int64_t n);

// 10^k for k = 0..19, and the two digits of each number 0..99.
extern const std::uint64_t kPow10[20];
extern const char kDigitPairs[201];

// The 17-digit expansion of a value from 1e-5 up to 2^53 as a whole number,
// 10^16 <= digits < 10^17, and its exponent: a = 0.digits x 10^exp. False
// outside that range.
bool exact_digits(double a, std::uint64_t& digits, int& exp);

// x / 10^k and its remainder, for k up to 19.
std::uint64_t divide_by_ten_to(std::uint64_t x, int k, std::uint64_t& rem);

}  // namespace talvo::render
