// The number renderer: every number the program writes, on the console or
// into a file, is rendered here. Each call appends exactly one field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// Renderings wider than this are never built: see fill_unbuilt.
inline constexpr std::int64_t kMaxBuilt = 260;

// Fw.d; the scale factor shifts the decimal point first.
void fixed(std::string& out, double v, std::int64_t w, std::int64_t d, int scale = 0, bool plus = false);
// Ew.d[Ee] and Dw.d (letter 'D'); e < 0 when no exponent width is given.
void exponential(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus,
                 char letter = 'E');
// Gw.d[Ee].
void general(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus);
// Iw[.m] of an integer; m < 0 when no minimum is given.
void integer(std::string& out, std::int64_t v, std::int64_t w, std::int64_t m = -1);
// Zw: the bit pattern in hexadecimal; w = 0 for Z alone.
void hex(std::string& out, double v, std::int64_t w);
// Aw of a double: its 8 bytes in memory order; w = 0 for A alone.
void bytes(std::string& out, double v, std::int64_t w);

}  // namespace talvo::render
