#include "textio/numbers.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "textio/errors.h"

namespace talvo::numbers {

int decimal_to_double(bool neg, std::string_view digits, std::int64_t exp10, double& out) {
    // Leading zeros carry nothing; an all-zero mantissa is 0 whatever the exponent.
    size_t first = digits.find_first_not_of('0');
    if (first == std::string_view::npos) {
        out = neg ? -0.0 : 0.0;
        return 0;
    }
    digits.remove_prefix(first);
    // Keep the exponent within a range where the conversion still decides
    // overflow and underflow correctly.
    const std::int64_t limit = 100000000;
    if (exp10 > limit) exp10 = limit;
    if (exp10 < -limit) exp10 = -limit;
    std::string s;
    s.reserve(digits.size() + 16);
    if (neg) s.push_back('-');
    s.append(digits);
    s.push_back('e');
    s += std::to_string(exp10);
    double v = 0.0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Overflow or underflow: strtod tells them apart.
        errno = 0;
        v = std::strtod(s.c_str(), nullptr);
        if (std::isinf(v)) return err::RealOverflow;
    }
    out = v;
    return 0;
}

namespace {
bool is_digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

int parse_real(std::string_view t, int implied, bool empty_is_zero, double& out) {
    size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
    std::string digits;
    size_t intstart = i;
    while (i < t.size() && is_digit(t[i])) ++i;
    digits.append(t.substr(intstart, i - intstart));
    bool point = false;
    std::int64_t frac = 0;
    if (i < t.size() && t[i] == '.') {
        point = true;
        ++i;
        size_t fs = i;
        while (i < t.size() && is_digit(t[i])) ++i;
        frac = static_cast<std::int64_t>(i - fs);
        digits.append(t.substr(fs, i - fs));
    }
    bool has_exp = false;
    std::int64_t exp = 0;
    if (i < t.size()) {
        char c = t[i];
        bool letter = c == 'E' || c == 'e' || c == 'D' || c == 'd';
        if (letter || c == '+' || c == '-') {
            has_exp = true;
            ++i;
            bool eneg = false;
            if (letter && i < t.size() && (t[i] == '+' || t[i] == '-')) eneg = t[i++] == '-';
            if (!letter) eneg = c == '-';
            size_t es = i;
            while (i < t.size() && is_digit(t[i])) {
                if (exp < 1000000000) exp = exp * 10 + (t[i] - '0');
                ++i;
            }
            if (i == es) return err::InvalidReal;
            if (eneg) exp = -exp;
        }
    }
    if (i != t.size()) return err::InvalidReal;
    if (digits.empty()) {
        if (has_exp || !empty_is_zero) return err::InvalidReal;
        out = neg ? -0.0 : 0.0;
        return 0;
    }
    std::int64_t exp10 = exp - (point ? frac : implied);
    return decimal_to_double(neg, digits, exp10, out);
}

int parse_int(std::string_view t, std::int32_t& out) {
    size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
    int radix = 10;
    bool hash = false;
    std::int64_t mag = 0;  // saturates just above the 4-byte range
    const std::int64_t cap = std::int64_t{1} << 40;
    for (; i < t.size(); ++i) {
        char c = t[i];
        if (c == '#') {
            if (hash) return err::SecondHash;
            hash = true;
            std::int64_t r = i == 0 || (i == 1 && (t[0] == '+' || t[0] == '-')) ? 16 : mag;
            if (r < 2 || r > 36) return err::BadRadix;
            radix = static_cast<int>(r);
            mag = 0;
            continue;
        }
        int dv;
        if (c >= '0' && c <= '9') dv = c - '0';
        else if (c >= 'A' && c <= 'Z') dv = c - 'A' + 10;
        else if (c >= 'a' && c <= 'z') dv = c - 'a' + 10;
        else return err::InvalidInt;
        if (dv >= radix) return err::InvalidInt;
        mag = mag * radix + dv;
        if (mag > cap) mag = cap;
    }
    if (neg ? mag > 2147483648LL : mag > 2147483647LL) return err::IntOverflow;
    out = static_cast<std::int32_t>(neg ? -mag : mag);
    return 0;
}

}  // namespace talvo::numbers
