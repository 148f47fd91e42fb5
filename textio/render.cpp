#include "textio/render.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace talvo::render {

namespace {

// The eight decimal digits of n < 10^8, leading zeros included, as the
// bytes of a word in the order they are written: halves, quarters and
// eighths split side by side in the lanes of one integer.
std::uint64_t eight_digits(std::uint64_t n) {
    const std::uint64_t merged = n / 10000 | (n % 10000) << 32;
    const std::uint64_t hundreds_of = ((merged * 10486) >> 20) & 0x0000007F0000007FULL;
    const std::uint64_t pairs = (merged - 100 * hundreds_of) << 16 | hundreds_of;
    const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000FULL;
    return ((pairs - 10 * tens) << 8 | tens) + 0x3030303030303030ULL;
}

void put_word(char* at, std::uint64_t word) { std::memcpy(at, &word, sizeof word); }

// Fw.d of the common value, whose shown digits are all significant ones of
// the exact path (1 to 16 of them), in whole-number arithmetic: the 17
// digits rounded half up at the last digit shown. False for any other.
bool fixed_common(std::string& out, double v, std::int64_t w, std::int64_t d, bool plus) {
    std::uint64_t q;
    int exp;
    if (v == 0.0 || d > 16 || !exact_digits(std::fabs(v), q, exp)) return false;
    const std::int64_t n = exp + d;  // digits shown
    if (n < 1 || n > 16) return false;
    std::uint64_t rest;
    std::uint64_t shown = divide_by_ten_to(q, static_cast<int>(17 - n), rest);  // the value is shown / 10^d
    if (rest >= kPow10[17 - n] / 2) ++shown;
    std::uint64_t fraction;
    const std::uint64_t whole = divide_by_ten_to(shown, static_cast<int>(d), fraction);
    int digits = 0;  // of the whole part; none for a value below one
    while (digits < 17 && whole >= kPow10[digits]) ++digits;
    const char sign = std::signbit(v) ? '-' : plus ? '+' : 0;
    const std::int64_t len = (sign ? 1 : 0) + digits + 1 + d;
    if (len > w) {
        out.append(static_cast<std::size_t>(w), '*');
        return true;
    }
    constexpr std::int64_t kEnd = 88;  // the text is at most 35 characters
    // The field, ending at kEnd of a row of blanks, in whole words: the
    // eight or sixteen digits of the fraction, then the eight or 24 of the
    // whole part before the point over their leading zeros, then blanks
    // over the whole part's own leading zeros, then the sign.
    char field[kEnd + 8];
    std::memset(field, ' ', sizeof field);
    const std::int64_t point = kEnd - d - 1;
    if (d > 8) put_word(field + kEnd - 16, eight_digits(fraction / 100000000));
    put_word(field + kEnd - 8, eight_digits(fraction % 100000000));
    if (whole >= 100000000) {
        put_word(field + point - 24, eight_digits(whole / 10000000000000000ULL));
        put_word(field + point - 16, eight_digits(whole / 100000000 % 100000000));
    }
    put_word(field + point - 8, eight_digits(whole % 100000000));
    field[point] = '.';
    constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
    for (int k = 1; k <= 3; ++k) put_word(field + point - digits - 8 * k, kBlanks);
    if (sign) field[point - digits - 1] = sign;
    if (w <= 48) {
        out.append(field + kEnd - w, static_cast<std::size_t>(w));
    } else {
        out.append(static_cast<std::size_t>(w - len), ' ');
        out.append(field + kEnd - len, static_cast<std::size_t>(len));
    }
    return true;
}

}  // namespace

namespace {

// The field of a rendering that is not built: w asterisks, or w-260 blanks
// and 260 asterisks for the widest fields.
void fill_unbuilt(std::string& out, std::int64_t w) {
    if (w < kMaxBuilt) {
        out.append(static_cast<size_t>(w), '*');
    } else {
        out.append(static_cast<size_t>(w - kMaxBuilt), ' ');
        out.append(static_cast<size_t>(kMaxBuilt), '*');
    }
}

void stars(std::string& out, std::int64_t w) { out.append(static_cast<size_t>(w), '*'); }

// Places a rendering of len characters (built by the caller into text) in a
// field of w positions: right-aligned, or asterisks when it does not fit.
void place(std::string& out, std::string_view text, std::int64_t w) {
    std::int64_t len = static_cast<std::int64_t>(text.size());
    if (len > w) return stars(out, w);
    out.append(static_cast<size_t>(w - len), ' ');
    out.append(text);
}

// The sign shown before a number: minus for a negative value that does not
// round to zero, plus under SP, else nothing.
char sign_of(bool neg, bool zero, bool plus) {
    if (neg && !zero) return '-';
    return plus ? '+' : 0;
}

// A rendering under construction; it never reaches kMaxBuilt characters.
struct Text {
    char buf[kMaxBuilt];
    int n = 0;
    void push_back(char c) { buf[n++] = c; }
    void append(const char* p, size_t len) {
        std::memcpy(buf + n, p, len);
        n += static_cast<int>(len);
    }
    void append(size_t count, char c) {
        std::memset(buf + n, c, count);
        n += static_cast<int>(count);
    }
    std::string_view view() const { return {buf, static_cast<size_t>(n)}; }
};

// Length of a fixed-point rendering, and the rendering itself.
struct FixedPlan {
    Rounded r;
    char sign = 0;
    std::int64_t intdigits = 0;  // digits before the point
    bool lone_zero = false;      // "0." for d = 0 and a value that rounds to zero
    std::int64_t d = 0;
    std::int64_t length() const { return (sign ? 1 : 0) + intdigits + (lone_zero ? 1 : 0) + 1 + d; }
};

FixedPlan plan_fixed(const Decimal& x, std::int64_t d, bool plus) {
    FixedPlan f;
    f.d = d;
    f.r = round_half_up(x, x.exp + d);
    f.intdigits = f.r.zero || f.r.exp <= 0 ? 0 : f.r.exp;
    f.lone_zero = d == 0 && f.r.zero;
    f.sign = sign_of(x.neg, f.r.zero, plus);
    return f;
}

// Writes the fixed-point text at p, f.length() characters; returns its end.
char* build_fixed(char* p, const FixedPlan& f) {
    const Rounded& r = f.r;
    if (f.sign) *p++ = f.sign;
    // Digits before the point: the significant ones, then zeros.
    const std::int64_t sig = f.intdigits < r.n ? f.intdigits : r.n;
    std::memcpy(p, r.digit, static_cast<size_t>(sig));
    p += sig;
    std::memset(p, '0', static_cast<size_t>(f.intdigits - sig));
    p += f.intdigits - sig;
    if (f.lone_zero) *p++ = '0';
    *p++ = '.';
    // After the point, position j holds digit r.exp + j: zeros before the
    // first significant digit, the significant ones, zeros after them.
    std::int64_t j = 1;
    if (!r.zero) {
        std::int64_t lead = r.exp < 0 ? (-r.exp < f.d ? -r.exp : f.d) : 0;
        std::memset(p, '0', static_cast<size_t>(lead));
        p += lead;
        j += lead;
        const std::int64_t first = r.exp + j;
        const std::int64_t last = r.n < r.exp + f.d ? r.n : r.exp + f.d;
        if (last >= first) {
            std::memcpy(p, r.digit + first - 1, static_cast<size_t>(last - first + 1));
            p += last - first + 1;
            j += last - first + 1;
        }
    }
    std::memset(p, '0', static_cast<size_t>(f.d - j + 1));
    return p + (f.d - j + 1);
}

Decimal scaled(double v, int scale) {
    Decimal x = expand(v);
    if (!x.zero) x.exp += scale;
    return x;
}

// Ew.d[Ee] and Dw.d of the common value, with no scale factor or 1P: the
// 17 digits of the exact path rounded half up to the d (or d + 1)
// significant digits shown, in whole-number arithmetic, and a decimal
// exponent of one or two digits. False for any other.
bool exponential_common(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale,
                        bool plus, char letter) {
    std::uint64_t q;
    int exp;
    if ((scale != 0 && scale != 1) || e == 0 || e > 3 || v == 0.0 || !exact_digits(std::fabs(v), q, exp)) return false;
    const std::int64_t sig = d + scale;  // digits shown
    if (sig < 1 || sig > 16) return false;
    std::uint64_t rest;
    std::uint64_t shown = divide_by_ten_to(q, static_cast<int>(17 - sig), rest);
    if (rest >= kPow10[17 - sig] / 2) ++shown;
    if (shown == kPow10[sig]) {
        shown = kPow10[sig - 1];  // 99..9 became 100..0
        ++exp;
    }
    char digits[16];  // the 16 last digits of shown; it has sig of them
    put_word(digits, eight_digits(shown / 100000000));
    put_word(digits + 8, eight_digits(shown % 100000000));
    char* const end = digits + sizeof digits;
    char* b = end - sig;
    const std::int64_t xexp = exp - scale, mag = xexp < 0 ? -xexp : xexp;  // mag <= 17
    const std::int64_t expdigits = e < 0 ? 2 : e;
    if (e > 0 && e < (mag >= 10 ? 2 : 1)) return false;
    const char sign = std::signbit(v) ? '-' : plus ? '+' : 0;
    const std::int64_t len = (sign ? 1 : 0) + sig + 1 + 2 + expdigits;
    if (len > w) {
        out.append(static_cast<std::size_t>(w), '*');
        return true;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(w));
    char* p = out.data() + at;
    std::memset(p, ' ', static_cast<std::size_t>(w - len));
    p += w - len;
    if (sign) *p++ = sign;
    if (scale == 1) *p++ = *b++;
    *p++ = '.';
    std::memcpy(p, b, static_cast<std::size_t>(end - b));
    p += end - b;
    *p++ = letter;
    *p++ = xexp < 0 ? '-' : '+';
    for (std::int64_t i = expdigits - 1, m = mag; i >= 0; --i, m /= 10) p[i] = static_cast<char>('0' + m % 10);
    return true;
}

}  // namespace

void fixed(std::string& out, double v, std::int64_t w, std::int64_t d, int scale, bool plus) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return fill_unbuilt(out, w);
    if (scale == 0 && fixed_common(out, v, w, d, plus)) return;
    FixedPlan f = plan_fixed(scaled(v, scale), d, plus);
    std::int64_t len = f.length();
    if (len >= kMaxBuilt) return fill_unbuilt(out, w);
    if (len > w) return stars(out, w);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(w));
    char* p = out.data() + at;
    std::memset(p, ' ', static_cast<size_t>(w - len));
    build_fixed(p + (w - len), f);
}

void exponential(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus,
                 char letter) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return fill_unbuilt(out, w);
    if (exponential_common(out, v, w, d, e, scale, plus, letter)) return;
    // Digits before the point (k > 0) or zeros after it (k <= 0), and the
    // number of significant digits shown.
    std::int64_t k = scale;
    std::int64_t sig = k > 0 ? d + 1 : d + k;
    bool valid = k > 0 ? k < d + 2 : k > -d;
    if (!valid || sig < 1) return stars(out, w);
    Decimal x = expand(v);
    Rounded r = round_half_up(x, sig);
    std::int64_t xexp = r.zero ? 0 : r.exp - k;
    // Exponent part: letter, sign, digits.
    std::int64_t mag = xexp < 0 ? -xexp : xexp;
    int magdigits = 1;
    for (std::int64_t m = mag; m >= 10; m /= 10) ++magdigits;
    bool with_letter = true;
    bool fits = true;
    std::int64_t expdigits;
    if (e < 0) {
        expdigits = mag <= 99 ? 2 : 3;
        with_letter = mag <= 99;
        fits = mag <= 999;
    } else {
        expdigits = e;
        fits = magdigits <= e;
    }
    char sign = sign_of(x.neg, r.zero, plus);
    std::int64_t mantlen = k > 0 ? k + 1 + (d - k + 1) : 1 + (-k) + sig;
    std::int64_t len = (sign ? 1 : 0) + mantlen + (with_letter ? 1 : 0) + 1 + expdigits;
    if (len >= kMaxBuilt) return fill_unbuilt(out, w);
    if (!fits) return stars(out, w);
    Text s;
    if (sign) s.push_back(sign);
    if (k > 0) {
        for (std::int64_t i = 1; i <= k; ++i) s.push_back(r.at(i));
        s.push_back('.');
        for (std::int64_t i = k + 1; i <= sig; ++i) s.push_back(r.at(i));
    } else {
        s.push_back('.');
        for (std::int64_t i = 0; i < -k; ++i) s.push_back('0');
        for (std::int64_t i = 1; i <= sig; ++i) s.push_back(r.at(i));
    }
    if (with_letter) s.push_back(letter);
    s.push_back(xexp < 0 ? '-' : '+');
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, mag);
    std::int64_t nd = res.ptr - digits;
    for (std::int64_t i = nd; i < expdigits; ++i) s.push_back('0');
    s.append(digits, static_cast<size_t>(nd));
    place(out, s.view(), w);
}

void general(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return fill_unbuilt(out, w);
    Decimal x = expand(v);  // zero reads as 0.0 x 10^1
    if (x.exp < 0 || x.exp > d) return exponential(out, v, w, d, e, scale, plus, 'E');
    // Fixed point with d - x digits after the point, then e + 2 blanks.
    std::int64_t blanks = (e < 0 ? 2 : e) + 2;
    FixedPlan f = plan_fixed(x, d - x.exp, plus);
    std::int64_t len = f.length() + blanks;
    if (len >= kMaxBuilt) return fill_unbuilt(out, w);
    Text s;
    s.n = static_cast<int>(build_fixed(s.buf, f) - s.buf);
    s.append(static_cast<size_t>(blanks), ' ');
    place(out, s.view(), w);
}

void integer(std::string& out, std::int64_t v, std::int64_t w, std::int64_t m) {
    if (w <= 0) return;
    if (v >= 0 && v <= 9 && m < 0 && w <= 16) {
        // One digit, as the flags and small counts are.
        char field[16];
        std::memset(field, ' ', sizeof field);
        field[w - 1] = static_cast<char>('0' + v);
        out.append(field, static_cast<std::size_t>(w));
        return;
    }
    if (v >= 0 && v <= 9 && m < 0) {
        out.append(static_cast<std::size_t>(w - 1), ' ');
        out.push_back(static_cast<char>('0' + v));
        return;
    }
    char digits[24];
    std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    auto res = std::to_chars(digits, digits + sizeof digits, mag);
    std::int64_t nd = res.ptr - digits;
    if (m == 0 && v == 0) nd = 0;  // Iw.0 writes no digit for zero
    std::int64_t zeros = m > nd ? m - nd : 0;
    std::int64_t len = (v < 0 ? 1 : 0) + zeros + nd;
    if (len > w) {
        out.append(static_cast<size_t>(w), '*');
        return;
    }
    out.append(static_cast<size_t>(w - len), ' ');
    if (v < 0) out.push_back('-');
    out.append(static_cast<size_t>(zeros), '0');
    out.append(digits, static_cast<size_t>(nd));
}

void hex(std::string& out, double v, std::int64_t w) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    char h[16];
    for (int i = 15; i >= 0; --i) {
        h[i] = "0123456789ABCDEF"[bits & 0xF];
        bits >>= 4;
    }
    if (w <= 0) w = 16;
    if (w < 16) {
        out.append(h + 16 - w, static_cast<size_t>(w));
    } else {
        out.append(static_cast<size_t>(w - 16), '0');
        out.append(h, 16);
    }
}

void bytes(std::string& out, double v, std::int64_t w) {
    unsigned char b[8];
    std::memcpy(b, &v, sizeof b);  // memory order: least significant byte first
    if (w <= 0) w = 8;
    if (w < 8) {
        out.append(reinterpret_cast<const char*>(b), static_cast<size_t>(w));
    } else {
        out.append(static_cast<size_t>(w - 8), ' ');
        out.append(reinterpret_cast<const char*>(b), 8);
    }
}

}  // namespace talvo::render
