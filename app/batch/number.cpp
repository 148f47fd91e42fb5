#include "app/batch/number.h"

#include <algorithm>
#include <cctype>

#include "base/errors.h"
#include "textio/numbers.h"

namespace talvo::batch {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// The strict form, with `point` as the decimal mark.
bool plain_number(std::string_view s, char point) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && digit(s[i])) ++i, ++digits;
    if (i < n && s[i] == point) {
        ++i;
        while (i < n && digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t from = i;
        while (i < n && digit(s[i])) ++i;
        if (i == from) return false;
    }
    return i == n;
}

// Digits, from min to max of them, at s[i]; i moved past them.
bool run_of_digits(std::string_view s, std::size_t& i, std::size_t min, std::size_t max) {
    std::size_t n = 0;
    while (i < s.size() && digit(s[i])) ++i, ++n;
    return n >= min && n <= max;
}

// Year-month[-day][T...], day/month/year, year/month/day, day.month.year.
bool looks_like_date(std::string_view s) {
    std::size_t i = 0;
    if (run_of_digits(s, i, 4, 4)) {
        if (i == s.size() || (s[i] != '-' && s[i] != '/')) return false;
        const char sep = s[i++];
        if (!run_of_digits(s, i, 1, 2)) return false;
        if (i == s.size()) return sep == '-';
        if (s[i++] != sep || !run_of_digits(s, i, 1, 2)) return false;
        return i == s.size() || s[i] == 'T' || s[i] == ' ';
    }
    i = 0;
    if (!run_of_digits(s, i, 1, 2) || i == s.size() || (s[i] != '/' && s[i] != '.' && s[i] != '-')) return false;
    const char sep = s[i++];
    if (!run_of_digits(s, i, 1, 2) || i == s.size() || s[i++] != sep) return false;
    return run_of_digits(s, i, 2, 4) && i == s.size();
}

bool special(std::string_view s) {
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
    std::string low(s);
    std::transform(low.begin(), low.end(), low.begin(), [](unsigned char c) { return std::tolower(c); });
    return low == "inf" || low == "infinity" || low == "nan" || low == "1.#inf" || low == "1.#qnan" || low == "1.#ind";
}

Form value_of(std::string_view s, double& value) {
    numbers::Scanner scan;
    scan.feed(s);
    double v = 0.0;
    const int e = scan.quick_value(0, v) == 0 ? 0 : scan.value(0, false, v);
    if (e == err::RealOverflow) return Form::Overflow;
    if (e != 0) return Form::Malformed;
    value = v;
    return Form::Number;
}

}  // namespace

Form read_number(std::string_view text, bool decimal_comma, bool comma_possible, double& value) {
    if (!decimal_comma && plain_number(text, '.')) return value_of(text, value);
    if (decimal_comma && text.find('.') == std::string_view::npos && plain_number(text, ',')) {
        std::string s(text);
        std::replace(s.begin(), s.end(), ',', '.');
        return value_of(s, value);
    }
    if (looks_like_date(text)) return Form::Date;
    if (special(text)) return Form::Special;
    if (decimal_comma) {
        std::string s(text);
        s.erase(std::remove(s.begin(), s.end(), '.'), s.end());
        if (plain_number(text, '.') || plain_number(s, ',')) return Form::PointWithComma;
    } else if (comma_possible && std::count(text.begin(), text.end(), ',') == 1 && plain_number(text, ',')) {
        return Form::DecimalComma;
    }
    double legacy = 0.0;
    if (numbers::parse_real(text, 0, false, legacy) == 0 ||
        numbers::parse_real(text, 0, false, legacy) == err::RealOverflow) {
        const bool d = text.find_first_of("dD") != std::string_view::npos;
        return d ? Form::DExponent : Form::NoExponentMark;
    }
    if (text.empty()) return Form::Malformed;
    const char c = text[0];
    return digit(c) || c == '+' || c == '-' || c == '.' ? Form::Malformed : Form::Text;
}

bool missing_word(std::string_view s) {
    std::string low(s);
    std::transform(low.begin(), low.end(), low.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* w : {"na", "n/a", "n.a.", "null", "none", "missing", "#n/a", ".", "?", "-"})
        if (low == w) return true;
    return false;
}

std::string explain(Form f, std::string_view text) {
    switch (f) {
        case Form::Overflow: return "is beyond the range of double precision";
        case Form::Special:
            return "is not a finite number, and cannot be data; if it marks missing values, give --na=NA," +
                   std::string(text) + " (the words that count as missing)";
        case Form::NoExponentMark: {
            // The sign that begins the exponent: the last + or - after the first character.
            const std::size_t at = text.find_last_of("+-");
            return "is not a number; if an exponent is meant, write it with E (" + std::string(text.substr(0, at)) +
                   "E" + std::string(text.substr(at)) + ")";
        }
        case Form::DExponent: {
            std::string e(text);
            std::replace(e.begin(), e.end(), 'd', 'E');
            std::replace(e.begin(), e.end(), 'D', 'E');
            return "is not a number; write its exponent with E (" + e + ")";
        }
        case Form::Date:
            return "looks like a date, and its column like a column of dates: leave it out of the variables "
                   "(--columns)";
        case Form::DecimalComma:
            return "has a decimal comma: give --decimal-comma to read the comma as the decimal point";
        case Form::PointWithComma:
            return "has a point: with --decimal-comma the decimal point is a comma, and thousands separators are not "
                   "read";
        case Form::Malformed: return "is not a number";
        case Form::Number:
        case Form::Text: break;
    }
    return "";
}

}  // namespace talvo::batch
