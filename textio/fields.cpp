#include "textio/fields.h"

#include "base/errors.h"
#include "textio/numbers.h"

namespace talvo::fields {

namespace {

// The characters of a numeric field other than blanks and tabs.
std::string numeric_text(std::string_view line, int w) {
    std::string_view f = line.substr(0, static_cast<std::size_t>(w));
    f = f.substr(0, f.find(','));
    std::string s;
    for (char c : f)
        if (c != ' ' && c != '\t') s.push_back(c);
    return s;
}

}  // namespace

int int_field(std::string_view line, int w, std::int32_t& out) { return parse_int(numeric_text(line, w), out); }

int real_field(std::string_view line, int w, int d, double& out) {
    return numbers::parse_real(numeric_text(line, w), d, true, out);
}

std::string text_field(std::string_view line, int w, std::size_t length) {
    std::string out(line.substr(0, static_cast<std::size_t>(w)));
    out.resize(length, ' ');
    return out;
}

int parse_int(std::string_view t, std::int32_t& out) {
    std::size_t i = 0;
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
        if (c >= '0' && c <= '9')
            dv = c - '0';
        else if (c >= 'A' && c <= 'Z')
            dv = c - 'A' + 10;
        else if (c >= 'a' && c <= 'z')
            dv = c - 'a' + 10;
        else
            return err::InvalidInt;
        if (dv >= radix) return err::InvalidInt;
        mag = mag * radix + dv;
        if (mag > cap) mag = cap;
    }
    if (neg ? mag > 2147483648LL : mag > 2147483647LL) return err::IntOverflow;
    out = static_cast<std::int32_t>(neg ? -mag : mag);
    return 0;
}

}  // namespace talvo::fields
