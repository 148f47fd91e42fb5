#include "app/batch/columns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace talvo::batch {

namespace {

bool all_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A column number from 1, or 0 when the text is not one.
std::int64_t number_of(std::string_view s) {
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size() ? v : 0;
}

class Resolver {
public:
    Resolver(const std::vector<std::string>& names, std::int32_t W, std::string option)
        : names_(names), W_(W), option_(std::move(option)) {}

    // The columns of one item of the list into `out`; "" or what is wrong.
    std::string item(const std::string& it, std::vector<bool>& out) {
        if (std::optional<std::int32_t> j = by_name(it)) {
            if (*j < 0) return bad(it, "names more than one column; give its number");
            out[*j] = true;
            return "";
        }
        if (all_digits(it)) return range(it, it, it, out);
        const std::size_t dash = it.find('-');
        if (dash != std::string::npos && all_digits(it.substr(0, dash)) && all_digits(it.substr(dash + 1)))
            return range(it, it.substr(0, dash), it.substr(dash + 1), out);
        // A range of names: the first dash that splits the item into two.
        for (std::size_t at = it.find('-'); at != std::string::npos; at = it.find('-', at + 1)) {
            auto a = by_name(it.substr(0, at)), b = by_name(it.substr(at + 1));
            if (!a || !b) continue;
            if (*a < 0 || *b < 0) return bad(it, "a name in it names more than one column; give numbers");
            if (*a > *b) return bad(it, "the first column of a range comes after the last");
            for (std::int32_t j = *a; j <= *b; ++j) out[j] = true;
            return "";
        }
        if (names_.empty()) return bad(it, "no column has this name: without --header, give column numbers");
        return bad(it, "no column has this name, and it is no column number");
    }

private:
    const std::vector<std::string>& names_;
    std::int32_t W_;
    std::string option_;

    std::string bad(const std::string& it, const std::string& why) const { return option_ + " '" + it + "': " + why; }
    // The column of a name: none, or -1 when several have it.
    std::optional<std::int32_t> by_name(std::string_view name) const {
        std::optional<std::int32_t> j;
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] != name) continue;
            if (j) return -1;
            j = static_cast<std::int32_t>(i);
        }
        return j;
    }
    std::string range(const std::string& it, std::string_view from, std::string_view to, std::vector<bool>& out) {
        const std::int64_t a = number_of(from), b = number_of(to);
        for (std::int64_t n : {a, b})
            if (n < 1 || n > W_)
                return bad(it, "there is no column " + std::string(n == a ? from : to) + " (the lines hold " +
                                   std::to_string(W_) + (W_ == 1 ? " column)" : " columns)"));
        if (a > b) return bad(it, "the first column of a range comes after the last");
        for (std::int64_t j = a; j <= b; ++j) out[j - 1] = true;
        return "";
    }
};

constexpr double kCodes[] = {9,  99,  999,  9999,  99999,  999999,  9999999,  99999999,  999999999,
                             -9, -99, -999, -9999, -99999, -999999, -9999999, -99999999, -999999999,
                             -8, -88, -888, -8888, -98,    -998,    -9998};
constexpr std::size_t kNumCodes = std::size(kCodes);

int code_index(double v) {
    if (!(std::fabs(v) >= 8.0 && std::fabs(v) <= 1e9) || v != std::trunc(v)) return -1;
    for (std::size_t i = 0; i < kNumCodes; ++i)
        if (v == kCodes[i]) return static_cast<int>(i);
    return -1;
}

std::string shortest_int(double v) { return std::to_string(static_cast<std::int64_t>(v)); }

}  // namespace

std::string select_columns(const Options& o, const std::vector<std::string>& names, std::int32_t W, Selection& s) {
    const auto w = static_cast<std::size_t>(W);
    std::vector<bool> var(w, o.columns.empty()), id(w, false);
    Resolver ids(names, W, "--id");
    for (const std::string& it : o.ids)
        if (std::string e = ids.item(it, id); !e.empty()) return e;
    if (!o.columns.empty()) {
        Resolver columns(names, W, "--columns");
        for (const std::string& it : o.columns)
            if (std::string e = columns.item(it, var); !e.empty()) return e;
        for (std::size_t j = 0; j < w; ++j)
            if (var[j] && id[j])
                return "column " + std::to_string(j + 1) + (names.empty() ? "" : " (" + names[j] + ")") +
                       " is given both as a variable (--columns) and as an id (--id)";
    }
    s = Selection();
    for (std::size_t j = 0; j < w; ++j) {
        if (id[j])
            s.ids.push_back(static_cast<std::int32_t>(j));
        else if (var[j])
            s.vars.push_back(static_cast<std::int32_t>(j));
    }
    if (s.vars.empty()) return "no column is left as a variable (every column is an --id)";
    return "";
}

std::string text_columns(const std::vector<bool>& text, const std::vector<std::string>& names, bool row_names) {
    std::string list, ids;
    int n = 0;
    for (std::size_t j = 0; j < text.size(); ++j) {
        if (!text[j]) continue;
        if (n++) list += ", ";
        list += std::to_string(j + 1);
        if (!names.empty()) list += " (" + names[j] + ")";
        if (!ids.empty()) ids += ',';
        ids += std::to_string(j + 1);
    }
    const char* them = n == 1 ? "it" : "them";
    std::string e = (n == 1 ? "column " : "columns ") + list + (n == 1 ? " holds" : " hold") + " text: leave " + them +
                    " out of the variables (--columns) or carry " + them + " into the outputs (--id " + ids + ")";
    if (row_names && !text.empty() && text[0])
        e += "; the first column has no name, as R's write.csv leaves its row names: give --id 1";
    return e;
}

std::string CodeWatch::check(double v) {
    const double whole = std::trunc(v);
    if (o_.missing) {
        if (whole == *o_.missing && v != *o_.missing)
            return " would count as missing, its whole-number part being the code " + shortest(*o_.missing) +
                   "; choose a code that no observed value has";
    } else if (o_.na) {
        for (std::size_t i = 0; i < std::size(kCandidates); ++i) hit_[i] = hit_[i] || whole == kCandidates[i];
    } else if (whole == 9.0) {
        return " would count as missing under the default code 9 (every value from 9 up to 10); give --missing 9 "
               "if 9 marks missing values, or --missing with the code your data use";
    }
    return "";
}

std::string CodeWatch::choose(double& code, bool& chosen) const {
    if (o_.missing || !o_.na) {
        code = o_.missing.value_or(9.0);
        return "";
    }
    for (std::size_t i = 0; i < std::size(kCandidates); ++i) {
        if (!hit_[i]) {
            code = kCandidates[i];
            chosen = true;
            return "";
        }
    }
    return "every code the program tries is a value of the data; give --missing";
}

bool code_like(double v) { return code_index(v) >= 0; }

std::string check_codes(const std::string& file, const Mat& X, std::int32_t N, std::int32_t K,
                        const std::vector<std::string>& names) {
    std::int64_t count[kNumCodes];
    for (std::int32_t J = 1; J <= K; ++J) {
        std::fill(std::begin(count), std::end(count), 0);
        double lo = INFINITY, hi = -INFINITY;  // of the values of no code's form
        std::int64_t n = 0;
        for (std::int32_t I = 1; I <= N; ++I) {
            const double v = X(I, J);
            if (std::isnan(v)) continue;
            ++n;
            if (const int c = code_index(v); c >= 0) {
                ++count[c];
            } else {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        for (std::size_t c = 0; c < kNumCodes; ++c) {
            if (count[c] < 2 || count[c] * 100 < n) continue;
            const double v = kCodes[c];
            double a = lo, b = hi;  // the column's other values
            for (std::size_t d = 0; d < kNumCodes; ++d)
                if (d != c && count[d] > 0) a = std::min(a, kCodes[d]), b = std::max(b, kCodes[d]);
            if (a > b) continue;
            // Halves: no difference of two doubles overflows.
            const double range = b * 0.5 - a * 0.5;
            const bool below = v < a && ((v < 0.0 && a >= 0.0) || a * 0.5 - v * 0.5 > range);
            const bool above = v > b && ((v > 0.0 && b <= 0.0) || v * 0.5 - b * 0.5 > range);
            if (!below && !above) continue;
            char share[32];
            std::snprintf(share, sizeof share, "%.1f%%",
                          100.0 * static_cast<double>(count[c]) / static_cast<double>(n));
            const std::string code = shortest_int(v);
            return file + ": variable " + std::to_string(J) + " (" + names[J - 1] + "): the value " + code +
                   " occurs " + std::to_string(count[c]) + " times (" + share + " of its " + std::to_string(n) +
                   " values), far " + (below ? "below" : "above") + " its other values (" + shortest(a) + " to " +
                   shortest(b) + "): it looks like a missing-value code; give --missing " + code +
                   " if it is one, or --no-code-check if the values are real";
        }
    }
    return "";
}

}  // namespace talvo::batch
