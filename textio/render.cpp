#include "textio/render.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace talvo::render {

namespace {

// The 17 digits of a 17-digit whole number, most significant first, two
// at a time.
void put_digits(char* out, std::uint64_t D) {
    static const char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::uint32_t hi = static_cast<std::uint32_t>(D / 100000000);  // 9 digits
    std::uint32_t lo = static_cast<std::uint32_t>(D % 100000000);  // 8 digits
    for (int i = 15; i >= 9; i -= 2) {
        std::memcpy(out + i, pairs + 2 * (lo % 100), 2);
        lo /= 100;
    }
    for (int i = 7; i >= 1; i -= 2) {
        std::memcpy(out + i, pairs + 2 * (hi % 100), 2);
        hi /= 100;
    }
    out[0] = static_cast<char>('0' + hi);
}

// Values from 1e-5 up to 2^53 in exact integer arithmetic: with v = m 2^e,
// D = v 10^t rounded to nearest, ties to even, fits 128 bits. Gives the
// digits the general conversion gives, several times faster; false outside
// that range.
bool expand_exact(double a, Decimal& x) {
    if (!(a >= 1e-5 && a < 9007199254740992.0)) return false;
    static const std::uint64_t pow10[] = {1ULL,
                                          10ULL,
                                          100ULL,
                                          1000ULL,
                                          10000ULL,
                                          100000ULL,
                                          1000000ULL,
                                          10000000ULL,
                                          100000000ULL,
                                          1000000000ULL,
                                          10000000000ULL,
                                          100000000000ULL,
                                          1000000000000ULL,
                                          10000000000000ULL,
                                          100000000000000ULL,
                                          1000000000000000ULL,
                                          10000000000000000ULL,
                                          100000000000000000ULL,
                                          1000000000000000000ULL,
                                          10000000000000000000ULL};
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int be = static_cast<int>(bits >> 52);
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = 1075 - be;  // v = m / 2^shift, 0 <= shift <= 70 here
    // The decimal exponent: that of the power of two below the value, or
    // one more when a power of ten lies between; the loop makes sure.
    static const double tens[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,  1e2,  1e3,  1e4,  1e5, 1e6,
                                  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
    int k = ((be - 1023) * 78913) >> 18;
    if (k + 1 >= -4 && k + 1 <= 16 && a >= tens[k + 1 + 4]) ++k;
    for (;;) {
        const int t = 16 - k;  // 1..22 here
        unsigned __int128 p10 = t <= 19 ? pow10[t] : static_cast<unsigned __int128>(pow10[19]) * pow10[t - 19];
        unsigned __int128 num = static_cast<unsigned __int128>(m) * p10;
        unsigned __int128 q = num >> shift;
        if (shift > 0) {
            unsigned __int128 rem = num - (q << shift);
            unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
            if (rem > half || (rem == half && (q & 1))) ++q;
        }
        if (q >= pow10[17]) {
            ++k;
            continue;
        }
        if (q < pow10[16]) {
            --k;
            continue;
        }
        put_digits(x.digit, static_cast<std::uint64_t>(q));
        x.exp = k + 1;
        return true;
    }
}

}  // namespace

Decimal expand(double v) {
    // One returned object, built in place (no copy of digits just written).
    Decimal x;
    if (v == 0.0) {
        x.neg = std::signbit(v);
        x.zero = true;
        std::memset(x.digit, '0', sizeof x.digit);
        x.exp = 1;
    } else if (expand_exact(std::fabs(v), x)) {
        x.neg = std::signbit(v);
    } else {
        x = expand_general(v);
    }
    return x;
}

Decimal expand_general(double v) {
    Decimal x;
    x.neg = std::signbit(v);
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

}  // namespace

void fixed(std::string& out, double v, std::int64_t w, std::int64_t d, int scale, bool plus) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return fill_unbuilt(out, w);
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
