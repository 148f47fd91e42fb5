#include "app/batch/table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "base/memory.h"
#include "textio/numbers.h"

namespace talvo::batch {

namespace {

struct Field {
    std::string_view text;
    std::size_t col = 0;  // from 1
    bool quoted = false;
    bool empty = false;
};

bool blank(char c) { return c == ' ' || c == '\t'; }

// The fields of one line: separated by blanks and tabs, or by one comma
// with blanks around it. Nothing between two commas, before a comma that
// opens the line or after one that ends it is an empty field. A field in
// double quotes (a doubled quote standing for one) may hold anything.
void split(std::string_view line, std::vector<Field>& out) {
    out.clear();
    const std::size_t n = line.size();
    std::size_t i = 0;
    auto skip = [&] {
        while (i < n && blank(line[i])) ++i;
    };
    skip();
    if (i == n) return;
    for (;;) {
        Field f;
        f.col = i + 1;
        if (line[i] == ',') {
            f.empty = true;
        } else if (line[i] == '"') {
            f.quoted = true;
            std::size_t j = i + 1;
            while (j < n && !(line[j] == '"' && (j + 1 == n || line[j + 1] != '"'))) j += line[j] == '"' ? 2 : 1;
            f.text = line.substr(i + 1, std::min(j, n) - i - 1);
            i = std::min(j + 1, n);
            while (i < n && !blank(line[i]) && line[i] != ',') ++i;
        } else {
            std::size_t j = i;
            while (j < n && !blank(line[j]) && line[j] != ',') ++j;
            f.text = line.substr(i, j - i);
            i = j;
        }
        out.push_back(f);
        skip();
        if (i == n) return;
        if (line[i] == ',') {
            ++i;
            skip();
            if (i == n) {
                out.push_back(Field{{}, i + 1, false, true});
                return;
            }
        }
    }
}

std::string unquote(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
    }
    return out;
}

int parse(std::string_view text, double& v) {
    numbers::Scanner s;
    if (s.feed(text) != text.size()) return err::InvalidReal;
    return s.quick_value(0, v) == 0 ? 0 : s.value(0, false, v);
}

std::string default_name(std::size_t j) {
    std::string name = "V";
    return name += std::to_string(j);
}

// Codes the program may choose when none is given: 9, then -99, -999, ...
constexpr double kCandidates[] = {9.0,        -99.0,       -999.0,       -9999.0,       -99999.0,      -999999.0,
                                  -9999999.0, -99999999.0, -999999999.0, -9999999999.0, -99999999999.0};

// One walk over the data: every check, and with a run the values into X.
class Walker {
public:
    Walker(const Options& o, Table& t, Run* run) : o_(o), t_(t), run_(run) {}

    std::string walk() {
        std::string_view rest = t_.text;
        if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);  // the byte order mark some spreadsheets write
        std::vector<Field> fields;
        std::size_t line_no = 0;
        const bool lines_are_cases = !(o_.cases && o_.variables);
        std::int32_t K = o_.variables.value_or(0);
        std::string k_from = o_.variables ? "--variables " + std::to_string(K) : "";
        std::int64_t cases = 0;
        while (!rest.empty()) {
            std::size_t nl = rest.find('\n');
            std::string_view line = rest.substr(0, nl);
            rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
            if (!line.empty() && line.back() == '\r' && nl != std::string_view::npos) line.remove_suffix(1);
            ++line_no;
            split(line, fields);
            if (line_no == 1 && o_.header) {
                if (std::string e = take_header(fields, K, k_from); !e.empty()) return e;
                continue;
            }
            if (fields.empty()) continue;
            if (K == 0) {
                K = static_cast<std::int32_t>(std::min<std::size_t>(fields.size(), INT32_MAX));
                k_from = "as line " + std::to_string(line_no) + " does";
            }
            if (lines_are_cases) {
                if (fields.size() != static_cast<std::size_t>(K)) {
                    std::size_t col = fields.size() > static_cast<std::size_t>(K) ? fields[K].col : line.size() + 1;
                    return place(line_no, col) + std::to_string(fields.size()) +
                           " values on this line; each line holds one case of " + std::to_string(K) + " values (" +
                           k_from + ")";
                }
                if (o_.cases && cases == *o_.cases)
                    return place(line_no) + "case " + std::to_string(cases + 1) + ", but --cases is " +
                           std::to_string(*o_.cases);
                if (++cases > INT32_MAX) return place(line_no) + "too many cases";
            }
            for (std::size_t j = 0; j < fields.size(); ++j) {
                if (!lines_are_cases && index_ == std::int64_t{*o_.cases} * K)
                    return place(line_no, fields[j].col) + "value " + std::to_string(index_ + 1) + " is beyond " +
                           sizes(K) + " values";
                if (std::string e = take(fields[j], j + 1, line_no, K); !e.empty()) return e;
            }
        }
        const std::string end = " (line " + std::to_string(line_no) + ")";
        if (K == 0 || index_ == 0) return o_.data + ": no data";
        if (lines_are_cases && o_.cases && cases < *o_.cases)
            return o_.data + ": the data end after " + std::to_string(cases) + " cases" + end + ", but --cases is " +
                   std::to_string(*o_.cases);
        if (!lines_are_cases && index_ < std::int64_t{*o_.cases} * K)
            return o_.data + ": the data end after " + std::to_string(index_) + " values" + end + ", but " + sizes(K) +
                   " values";
        t_.K = K;
        t_.N = lines_are_cases ? static_cast<std::int32_t>(cases) : *o_.cases;
        if (t_.N < 2) return o_.data + ": 1 case; at least 2 are needed (the covariances divide by N - 1)";
        if (!t_.named) {
            t_.names.clear();
            for (std::int32_t j = 1; j <= K; ++j) t_.names.push_back(default_name(j));
        }
        return run_ ? "" : choose_code();
    }

private:
    const Options& o_;
    Table& t_;
    Run* run_;
    std::int64_t index_ = 0;  // values so far
    bool hit_[std::size(kCandidates)] = {};

    std::string place(std::size_t line) const { return o_.data + ":" + std::to_string(line) + ": "; }
    std::string place(std::size_t line, std::size_t col) const {
        return o_.data + ":" + std::to_string(line) + ":" + std::to_string(col) + ": ";
    }
    std::string sizes(std::int32_t K) const {
        return "--cases " + std::to_string(*o_.cases) + " x --variables " + std::to_string(K) + " = " +
               std::to_string(std::int64_t{*o_.cases} * K);
    }

    std::string take_header(const std::vector<Field>& fields, std::int32_t& K, std::string& k_from) {
        if (fields.empty()) return place(1) + "the header line is empty";
        if (o_.variables && fields.size() != static_cast<std::size_t>(K))
            return place(1) + "the header names " + std::to_string(fields.size()) + " variables, but --variables is " +
                   std::to_string(K);
        t_.names.clear();
        for (const Field& f : fields) {
            std::string name = f.quoted ? unquote(f.text) : std::string(f.text);
            t_.names.push_back(name.empty() ? default_name(t_.names.size() + 1) : name);
        }
        t_.named = true;
        K = static_cast<std::int32_t>(std::min<std::size_t>(fields.size(), INT32_MAX));
        k_from = "the header names " + std::to_string(K);
        return "";
    }

    // One field: its value, or what is wrong with it. The messages are made
    // only for a fault.
    std::string take(const Field& f, std::size_t j, std::size_t line_no, std::int32_t K) {
        auto where = [&] { return place(line_no, f.col) + "field " + std::to_string(j); };
        auto shown = [&] { return ": \"" + std::string(f.text) + "\""; };
        constexpr const char* ask_na = "give --na to count NA and empty fields as missing values";
        bool missing = false;
        double v = 0.0;
        if (f.empty) {
            if (!o_.na) return where() + " is empty; " + ask_na;
            missing = true;
        } else if (f.quoted) {
            return where() + shown() + " is quoted text, not a number";
        } else if (int e = parse(f.text, v)) {
            if (std::find(o_.na_words.begin(), o_.na_words.end(), f.text) == o_.na_words.end()) {
                if (e == err::RealOverflow) return where() + shown() + " is beyond the range of double precision";
                const bool first = line_no == 1 && !o_.header;
                return where() + shown() + " is not a number" +
                       (first ? "; the first line looks like a header: give --header" : "");
            }
            if (!o_.na) return where() + shown() + " is not a number; " + ask_na;
            missing = true;
        } else if (std::string wrong = check_code(v); !wrong.empty()) {
            return where() + ": " + std::string(f.text) + wrong;
        }
        if (missing) v = t_.code;
        if (run_) {
            run_->X(index_ / K + 1, index_ % K + 1) = v;
        } else {
            t_.missing += missing || (o_.missing && v == *o_.missing);
        }
        ++index_;
        return "";
    }

    // A number the code would take as missing without that being meant.
    std::string check_code(double v) {
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

    std::string choose_code() {
        if (o_.missing || !o_.na) {
            t_.code = o_.missing.value_or(9.0);
            return "";
        }
        for (std::size_t i = 0; i < std::size(kCandidates); ++i) {
            if (!hit_[i]) {
                t_.code = kCandidates[i];
                t_.code_chosen = true;
                return "";
            }
        }
        return o_.data + ": every code the program tries is a value of the data; give --missing";
    }
};

}  // namespace

std::string read_table(const Options& o, Table& t) {
    int fd;
    do {
        fd = ::open(o.data.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return o.data + ": cannot be opened: " + std::strerror(errno);
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return o.data + ": is a folder, not a data file";
    }
    t.text.clear();
    if (S_ISREG(st.st_mode)) {
        ensure_memory(static_cast<std::uint64_t>(st.st_size));
        t.text.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::string e = o.data + ": cannot be read: " + std::strerror(errno);
            ::close(fd);
            return e;
        }
        if (n == 0) break;
        t.text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Walker(o, t, nullptr).walk();
}

void fill_data(const Options& o, Table& t, Run& run) { Walker(o, t, &run).walk(); }

}  // namespace talvo::batch
