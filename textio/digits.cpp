#include "textio/digits.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace talvo::render {

const char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

namespace {

// The 17 digits of a 17-digit whole number, most significant first, two
// at a time.
void put_digits(char* out, std::uint64_t D) {
    const char* pairs = kDigitPairs;
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

}  // namespace

const std::uint64_t kPow10[20] = {1ULL,
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

// Values from 1e-5 up to 2^53 in exact integer arithmetic: with v = m 2^e,
// D = v 10^t rounded to nearest, ties to even, fits 128 bits. The 17 digits
// as a whole number q (10^16 <= q < 10^17) and the exponent, v = 0.q x
// 10^exp: what the general conversion gives, several times faster; false
// outside that range.
bool exact_digits(double a, std::uint64_t& digits, int& exp) {
    if (!(a >= 1e-5 && a < 9007199254740992.0)) return false;
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
        unsigned __int128 p10 = t <= 19 ? kPow10[t] : static_cast<unsigned __int128>(kPow10[19]) * kPow10[t - 19];
        unsigned __int128 num = static_cast<unsigned __int128>(m) * p10;
        unsigned __int128 q = num >> shift;
        if (shift > 0) {
            unsigned __int128 rem = num - (q << shift);
            unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
            if (rem > half || (rem == half && (q & 1))) ++q;
        }
        if (q >= kPow10[17]) {
            ++k;
            continue;
        }
        if (q < kPow10[16]) {
            --k;
            continue;
        }
        digits = static_cast<std::uint64_t>(q);
        exp = k + 1;
        return true;
    }
}

namespace {

bool expand_exact(double a, Decimal& x) {
    std::uint64_t q;
    int exp;
    if (!exact_digits(a, q, exp)) return false;
    put_digits(x.digit, q);
    x.exp = exp;
    return true;
}

}  // namespace

// x / 10^k and its remainder, for k up to 19: a division by a constant
// for each k, which compiles to multiplications.
std::uint64_t divide_by_ten_to(std::uint64_t x, int k, std::uint64_t& rem) {
    switch (k) {
#define TALVO_CASE(K) \
    case K: rem = x % kPow10[K]; return x / kPow10[K];
        TALVO_CASE(0)
        TALVO_CASE(1)
        TALVO_CASE(2) TALVO_CASE(3) TALVO_CASE(4) TALVO_CASE(5) TALVO_CASE(6) TALVO_CASE(7) TALVO_CASE(8) TALVO_CASE(9)
            TALVO_CASE(10) TALVO_CASE(11) TALVO_CASE(12) TALVO_CASE(13) TALVO_CASE(14) TALVO_CASE(15) TALVO_CASE(16)
                TALVO_CASE(17) TALVO_CASE(18) TALVO_CASE(19)
#undef TALVO_CASE
                    default : rem = 0;
        return 0;
    }
}

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

}  // namespace talvo::render
