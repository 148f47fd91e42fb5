#include "textio/render.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace talvo::render {

Decimal expand(double v) {
    Decimal x;
    x.neg = std::signbit(v);
    if (v == 0.0) {
        x.zero = true;
        std::memset(x.digit, '0', sizeof x.digit);
        x.exp = 1;
        return x;
    }
    // "d.dddddddddddddddde+XXX": 17 significant digits.
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 16);
    const char* p = buf;
    x.digit[0] = *p++;
    ++p;  // the point
    for (int i = 1; i < 17; ++i) x.digit[i] = *p++;
    ++p;  // 'e'
    bool eneg = *p == '-';
    ++p;
    int e = 0;
    for (; p < res.ptr; ++p) e = e * 10 + (*p - '0');
    x.exp = (eneg ? -e : e) + 1;
    return x;
}

Rounded round_half_up(const Decimal& x, std::int64_t n) {
    Rounded r;
    std::memset(r.digit, '0', sizeof r.digit);
    r.exp = x.exp;
    if (x.zero || n < 0) return r;
    if (n == 0) {
        // Nothing shown but a possible carry into the last shown position.
        if (x.digit[0] >= '5') {
            r.digit[0] = '1';
            r.n = 1;
            r.exp = x.exp + 1;
            r.zero = false;
        }
        return r;
    }
    int keep = n > 16 ? 16 : static_cast<int>(n);
    std::memcpy(r.digit, x.digit, keep);
    r.n = keep;
    if (x.digit[keep] >= '5') {
        int i = keep - 1;
        while (i >= 0 && r.digit[i] == '9') r.digit[i--] = '0';
        if (i >= 0) {
            ++r.digit[i];
        } else {
            r.digit[0] = '1';  // 99..9 became 100..0
            r.exp = x.exp + 1;
        }
    }
    r.zero = false;
    return r;
}

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
    f.r = round_half_up(x, static_cast<std::int64_t>(x.exp) + d);
    f.intdigits = f.r.zero || f.r.exp <= 0 ? 0 : f.r.exp;
    f.lone_zero = d == 0 && f.r.zero;
    f.sign = sign_of(x.neg, f.r.zero, plus);
    return f;
}

void build_fixed(Text& s, const FixedPlan& f) {
    if (f.sign) s.push_back(f.sign);
    for (std::int64_t i = 1; i <= f.intdigits; ++i) s.push_back(f.r.at(i));
    if (f.lone_zero) s.push_back('0');
    s.push_back('.');
    for (std::int64_t j = 1; j <= f.d; ++j) s.push_back(f.r.zero ? '0' : f.r.at(f.r.exp + j));
}

Decimal scaled(double v, int scale) {
    Decimal x = expand(v);
    if (!x.zero) x.exp += scale;
    return x;
}

}  // namespace

void fixed(std::string& out, double v, std::int64_t w, std::int64_t d, int scale, bool plus) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return fill_unbuilt(out, w);
    FixedPlan f = plan_fixed(scaled(v, scale), d, plus);
    std::int64_t len = f.length();
    if (len >= kMaxBuilt) return fill_unbuilt(out, w);
    Text s;
    build_fixed(s, f);
    place(out, s.view(), w);
}

void exponential(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus,
                 char letter) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return fill_unbuilt(out, w);
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
    build_fixed(s, f);
    s.append(static_cast<size_t>(blanks), ' ');
    place(out, s.view(), w);
}

void integer(std::string& out, std::int64_t v, std::int64_t w, std::int64_t m) {
    if (w <= 0) return;
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

void text(std::string& out, std::string_view s, std::int64_t w) {
    std::int64_t len = static_cast<std::int64_t>(s.size());
    if (w <= 0 || w == len) {
        out.append(s);
    } else if (w < len) {
        out.append(s.substr(0, static_cast<size_t>(w)));
    } else {
        out.append(static_cast<size_t>(w - len), ' ');
        out.append(s);
    }
}

}  // namespace talvo::render
