// Numbers as they are typed in answers and written in data files: the one
// grammar, read by one scanner.
//
//   number   = [sign] mantissa [exponent]
//   mantissa = digits [ "." [digits] ] | "." digits
//   exponent = ("E" | "D") [sign] digits | sign digits      (1.5-3 is 0.0015)
//
// Letters count in either case. The scanner takes a text in as many pieces
// as it comes in and keeps bounded state however long the number is: the
// first kMaxDigits significant digits, whether a non-zero digit follows
// them, and the decimal exponent. That is enough for the correctly rounded
// double: no halfway point between two doubles has more significant digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talvo::numbers {

inline constexpr int kMaxDigits = 800;

class Scanner {
public:
    // Takes characters from the front of text while they can continue the
    // number; returns how many it took. A later call goes on where this one
    // stopped, so a number may come in pieces.
    inline std::size_t feed(std::string_view text);

    // Nothing at all taken.
    bool empty() const { return state_ == State::Start; }
    // Only digits taken, no sign, point or exponent: a repeat count.
    bool digits_only() const { return state_ == State::Int && !signed_; }
    // The value of such a run of digits, saturated far above any count.
    std::uint64_t count() const { return kept_ <= 19 ? m_ : UINT64_MAX; }

    // The correctly rounded value of what was taken: 0, err::InvalidReal
    // when it is not a whole number, or err::RealOverflow beyond the double
    // range (underflow gives 0 or a subnormal number). Without a point the
    // last `implied` digits are the fraction; `empty_is_zero` takes a text
    // without any digit (nothing, a sign, a point) as 0.
    int value(int implied, bool empty_is_zero, double& out) const;
    // The same for the common number: a few digits and a small exponent.
    inline int quick_value(int implied, double& out) const;

private:
    enum class State : std::uint8_t { Start, Sign, Int, Point, Frac, ExpMark, ExpSign, Exp };
    State state_ = State::Start;
    bool neg_ = false, signed_ = false, point_ = false, exp_neg_ = false;
    bool mant_digit_ = false;  // a mantissa digit was taken
    bool sticky_ = false;      // a non-zero digit beyond the kept ones
    int kept_ = 0;             // significant digits kept
    std::uint64_t m_ = 0;      // the first 19 of them as a number
    std::int64_t shift_ = 0;   // value = kept digits x 10^(shift + exponent)
    std::int64_t exp_ = 0;     // the exponent's digits, saturated
    char digit_[kMaxDigits];   // the kept digits from the 20th on

    // Takes the digits at p, and a point among them; returns where they end.
    inline const char* mantissa(const char* p, const char* end);
    // Takes a run of digits one at a time: leading zeros, the first
    // digits of a number, long numbers.
    void digits(const char* run, const char* end);
    int general_value(int implied, bool empty_is_zero, double& out) const;
};

namespace detail {
inline constexpr std::int64_t kSaturated = std::int64_t{1} << 60;
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_sign(char c) { return c == '+' || c == '-'; }
inline bool is_exp_mark(char c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }
}  // namespace detail

inline const char* Scanner::mantissa(const char* p, const char* end) {
    for (;;) {
        const char* run = p;
        while (p < end && static_cast<unsigned char>(*p) - unsigned{'0'} <= 9) ++p;
        const auto n = static_cast<int>(p - run);
        if (n > 0 && (kept_ > 0 || *run != '0') && kept_ + n <= 19) {
            // The common run: more digits of a short number. (A local: the
            // characters read could otherwise be the member written.)
            std::uint64_t m = m_;
            for (const char* q = run; q < p; ++q) m = m * 10 + static_cast<std::uint64_t>(*q - '0');
            m_ = m;
            kept_ += n;
            if (point_) shift_ -= n;
        } else if (n > 0) {
            digits(run, p);
        }
        if (p == end || *p != '.' || point_) break;
        point_ = true;
        ++p;
    }
    state_ = point_ ? State::Frac : State::Int;
    return p;
}

inline std::size_t Scanner::feed(std::string_view text) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    auto taken = [&] { return static_cast<std::size_t>(p - begin); };
    switch (state_) {
        case State::Start: goto start;
        case State::Sign: goto sign;
        case State::Int: goto digits;
        case State::Point: goto point;
        case State::Frac: goto digits;
        case State::ExpMark: goto exp_mark;
        case State::ExpSign: goto exp_sign;
        case State::Exp: goto exponent;
    }
start:
    if (p == end) return taken();
    if (detail::is_sign(*p)) {
        neg_ = *p++ == '-';
        signed_ = true;
        state_ = State::Sign;
    }
sign:
    if (p == end) return taken();
    if (*p == '.') {
        ++p;
        point_ = true;
        state_ = State::Point;
        goto point;
    }
    if (!detail::is_digit(*p)) return taken();
    mant_digit_ = true;
digits:
    p = mantissa(p, end);
    if (p == end) return taken();
    goto exponent_start;
point:
    // A point with no digit before it needs one after it.
    if (p == end || !detail::is_digit(*p)) return taken();
    mant_digit_ = true;
    goto digits;
exponent_start:
    if (detail::is_exp_mark(*p)) {
        ++p;
        state_ = State::ExpMark;
        goto exp_mark;
    }
    if (!detail::is_sign(*p)) return taken();
    exp_neg_ = *p++ == '-';
    state_ = State::ExpSign;
    goto exp_sign;
exp_mark:
    if (p == end) return taken();
    if (detail::is_sign(*p)) {
        exp_neg_ = *p++ == '-';
        state_ = State::ExpSign;
    }
exp_sign:
    if (p == end || !detail::is_digit(*p)) return taken();
    state_ = State::Exp;
exponent:
    for (; p < end && detail::is_digit(*p); ++p)
        exp_ = exp_ < detail::kSaturated / 10 ? exp_ * 10 + (*p - '0') : detail::kSaturated;
    return taken();
}

// A mantissa up to 2^53 and a power of ten up to 10^22 are both exact
// doubles: one correctly rounded operation gives the value. -1 when the
// number is not of that kind.
inline int Scanner::quick_value(int implied, double& out) const {
    static constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (!(state_ == State::Int || state_ == State::Frac || state_ == State::Exp) || kept_ == 0 || sticky_ ||
        kept_ > 19 || m_ > (std::uint64_t{1} << 53))
        return -1;
    const std::int64_t e10 = shift_ + (exp_neg_ ? -exp_ : exp_) - (point_ ? 0 : implied);
    if (e10 < -22 || e10 > 22) return -1;
    double v = static_cast<double>(m_);
    v = e10 < 0 ? v / tens[-e10] : v * tens[e10];
    out = neg_ ? -v : v;
    return 0;
}

// A whole text as one number (nothing before or after it).
int parse_real(std::string_view text, int implied, bool empty_is_zero, double& out);

}  // namespace talvo::numbers
