#include "textio/numbers.h"

#include <charconv>
#include <string>

#include "base/errors.h"

namespace talvo::numbers {

void Scanner::digits(const char* p, const char* end) {
    // Locals: the characters read could otherwise be the members written.
    int kept = kept_;
    std::uint64_t m = m_;
    std::int64_t shift = shift_;
    bool sticky = sticky_;
    const bool point = point_;
    for (; p < end; ++p) {
        const auto d = static_cast<unsigned>(*p - '0');
        if (kept == 0 && d == 0) {
            shift -= point;  // a leading zero carries nothing but its place
        } else if (kept < 19) {
            m = m * 10 + d;
            ++kept;
            shift -= point;
        } else if (kept < kMaxDigits) {
            digit_[kept++] = static_cast<char>('0' + d);
            shift -= point;
        } else {
            // Beyond the kept digits only their place counts, and whether
            // one of them is not zero.
            sticky |= d != 0;
            shift += !point;
        }
    }
    kept_ = kept;
    m_ = m;
    shift_ = shift;
    sticky_ = sticky;
}

int Scanner::value(int implied, bool empty_is_zero, double& out) const {
    if (int e = quick_value(implied, out); e >= 0) return e;
    return general_value(implied, empty_is_zero, out);
}

int Scanner::general_value(int implied, bool empty_is_zero, double& out) const {
    if (!mant_digit_) {
        // Nothing, a sign or a lone point: zero where the field allows it.
        if (!empty_is_zero) return err::InvalidReal;
        out = neg_ ? -0.0 : 0.0;
        return 0;
    }
    // A number ends after a digit (or the point after one), not in its
    // exponent mark or sign.
    if (state_ == State::ExpMark || state_ == State::ExpSign) return err::InvalidReal;
    if (kept_ == 0) {
        out = neg_ ? -0.0 : 0.0;
        return 0;
    }
    std::int64_t e10 = shift_ + (exp_neg_ ? -exp_ : exp_) - (point_ ? 0 : implied);
    // The digits kept; trailing zeros move into the exponent.
    char first[20];
    std::string s(first, static_cast<std::size_t>(std::to_chars(first, first + 20, m_).ptr - first));
    if (kept_ > 19) s.append(digit_ + 19, static_cast<std::size_t>(kept_ - 19));
    if (!sticky_)
        while (s.size() > 1 && s.back() == '0') s.pop_back(), ++e10;
    // The value lies in [10^(mag-1), 10^mag).
    const std::int64_t mag = e10 + static_cast<std::int64_t>(s.size());
    if (mag > 310) return err::RealOverflow;
    if (mag < -330) {
        out = neg_ ? -0.0 : 0.0;
        return 0;
    }
    // A non-zero digit stands for the rest.
    if (sticky_) {
        s.push_back('1');
        e10 -= 1;
    }
    s.push_back('e');
    s += std::to_string(e10);
    double v = 0.0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        if (mag > 0) return err::RealOverflow;
        v = 0.0;
    }
    out = neg_ ? -v : v;
    return 0;
}

int parse_real(std::string_view text, int implied, bool empty_is_zero, double& out) {
    Scanner s;
    if (s.feed(text) != text.size()) return err::InvalidReal;
    return s.value(implied, empty_is_zero, out);
}

}  // namespace talvo::numbers
