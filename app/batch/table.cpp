#include "app/batch/table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "app/batch/columns.h"
#include "app/batch/fields.h"
#include "app/batch/lines.h"
#include "app/batch/number.h"
#include "base/memory.h"

namespace talvo::batch {

namespace {

std::string default_name(std::size_t col) {
    std::string name = "V";
    return name += std::to_string(col);
}

bool blank_line(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

constexpr const char* kSemicolons =
    "this line has semicolons, but the file's first line has none: the first line decides how fields are separated";

class Reader {
public:
    Reader(const Options& o, Table& t, int fd) : o_(o), t_(t), lines_(fd, o.data) {}

    std::string read() {
        const bool lines_are_cases = !(o_.cases && o_.variables);
        std::string_view line;
        std::string error;
        bool decided = false;
        while (lines_.next(line, error)) {
            const std::uint64_t no = lines_.number();
            if (!decided && (o_.header || !blank_line(line))) {
                decided = true;
                sep_ = separator_of(line);
                if (o_.decimal_comma && sep_ == Separator::Blanks)
                    return place(no) +
                           "--decimal-comma needs fields separated by tabs or semicolons, and this line has neither";
            }
            split(line, sep_, fields_);
            if (no == 1 && o_.header) {
                if (std::string e = take_header(); !e.empty()) return e;
                continue;
            }
            if (fields_.empty()) continue;
            if (W_ == 0) {
                const bool given = o_.variables && o_.columns.empty() && o_.ids.empty();
                k_from_ =
                    given ? "--variables " + std::to_string(*o_.variables) : "as line " + std::to_string(no) + " does";
                const std::size_t w = given ? static_cast<std::size_t>(*o_.variables) : fields_.size();
                if (lines_are_cases && w != fields_.size()) {  // refused before anything is made for w columns
                    W_ = static_cast<std::int32_t>(w);
                    return take_case(line.size(), no);
                }
                if (std::string e = resolve(static_cast<std::int32_t>(std::min<std::size_t>(w, INT32_MAX))); !e.empty())
                    return e;
            }
            if (!text_fault_.empty()) {
                mark_text();
            } else if (lines_are_cases) {
                if (std::string e = take_case(line.size(), no); !e.empty()) return e;
            } else {
                for (std::size_t j = 0; j < fields_.size(); ++j) {
                    const std::int64_t all = std::int64_t{*o_.cases} * K_;
                    if (index_ == all)
                        return place(no, fields_[j].col) + "value " + std::to_string(index_ + 1) + " is beyond " +
                               sizes() + " values";
                    // Kept in order as they come: a row of X is made only once
                    // the file has proved to hold all its values.
                    flat_.push_back(0.0);
                    if (std::string e = take(fields_[j], j + 1, no, flat_.back()); !e.empty()) return e;
                    if (!text_fault_.empty()) return text_fault_;
                    ++index_;
                }
            }
            first_data_ = false;
        }
        if (!error.empty()) return error;
        if (!text_fault_.empty())
            return text_fault_ + "; " + text_columns(text_cols_, header_, row_names_ && o_.ids.empty());
        return finish(lines_are_cases);
    }

private:
    const Options& o_;
    Table& t_;
    LineReader lines_;
    Separator sep_ = Separator::Blanks;
    std::vector<Field> fields_;
    std::vector<std::string> header_;  // the header's names, one per column
    bool row_names_ = false;           // the header's first name is empty, as R's write.csv leaves it
    std::int32_t W_ = 0, K_ = 0;       // fields a line, variables
    std::string k_from_;               // where W comes from
    std::vector<std::int32_t> role_;   // per column: its variable 1..K, -1 an id, 0 left out
    std::int64_t cases_ = 0, index_ = 0, rows_ = 0;
    std::vector<double> flat_;  // with values across lines: the values so far
    bool first_data_ = true;
    CodeWatch codes_{o_};
    std::string nine_fault_;       // the first value the default code 9 would take as missing
    std::string text_fault_;       // the first field of text among the variables
    std::vector<bool> text_cols_;  // the columns of variables where text is found

    std::string place(std::uint64_t line) const { return o_.data + ":" + std::to_string(line) + ": "; }
    std::string place(std::uint64_t line, std::size_t col) const {
        return o_.data + ":" + std::to_string(line) + ":" + std::to_string(col) + ": ";
    }
    std::string sizes() const {
        return "--cases " + std::to_string(*o_.cases) + " x --variables " + std::to_string(K_) + " = " +
               std::to_string(std::int64_t{*o_.cases} * K_);
    }
    bool selecting() const { return !o_.columns.empty() || !o_.ids.empty(); }

    std::string take_header() {
        if (fields_.empty()) return place(1) + "the header line is empty";
        header_.clear();
        for (const Field& f : fields_) {
            std::string name = unquote(f);
            header_.push_back(name.empty() ? default_name(header_.size() + 1) : std::move(name));
        }
        row_names_ = fields_[0].text.empty();
        t_.named = true;
        const std::size_t w = fields_.size();
        if (o_.variables && !selecting() && w != static_cast<std::size_t>(*o_.variables))
            return place(1) + "the header names " + std::to_string(w) + " variables, but --variables is " +
                   std::to_string(*o_.variables);
        k_from_ = "the header names " + std::to_string(w);
        return resolve(static_cast<std::int32_t>(std::min<std::size_t>(w, INT32_MAX)));
    }

    // The variables and ids among W columns.
    std::string resolve(std::int32_t W) {
        W_ = W;
        if (o_.cases && o_.variables) {  // values across lines: each a variable in turn, named at the end
            K_ = W;
            return "";
        }
        Selection s;
        std::string e = select_columns(o_, header_, W, s);
        K_ = static_cast<std::int32_t>(s.vars.size());
        if (e.empty() && o_.variables && selecting() && K_ != *o_.variables)
            e = "--variables is " + std::to_string(*o_.variables) + ", but " + std::to_string(K_) +
                " columns are variables";
        if (!e.empty()) {
            t_.usage = true;
            return e;
        }
        role_.assign(static_cast<std::size_t>(W), 0);
        text_cols_.assign(static_cast<std::size_t>(W), false);
        auto name = [&](std::int32_t j) { return header_.empty() ? default_name(j + 1) : header_[j]; };
        t_.names.clear();
        for (std::int32_t k = 0; k < K_; ++k) {
            role_[s.vars[k]] = k + 1;
            t_.names.push_back(name(s.vars[k]));
        }
        for (std::int32_t j : s.ids) {
            role_[j] = -1;
            t_.ids.header += csv_field(name(j)) + ",";
        }
        return "";
    }

    // The row of case I in X, made when it is new.
    double* row(std::int64_t I) {
        if (I > rows_) {
            const std::int64_t width = std::int64_t{K_} + 1;
            std::int64_t want =
                rows_ == 0 ? std::max<std::int64_t>(1, (std::int64_t{1} << 20) / (8 * width)) : rows_ + rows_ / 2 + 1;
            if (o_.cases) want = std::min<std::int64_t>(want, *o_.cases);
            want = std::max(want, I);
            auto bytes = checked_mul(static_cast<std::uint64_t>(want - rows_), static_cast<std::uint64_t>(width) * 8);
            if (!bytes) throw std::bad_alloc();
            ensure_memory(*bytes);
            if (rows_ == 0)
                t_.X.allocate(1, want, 0, K_);
            else
                t_.X.grow_rows(want);
            rows_ = want;
        }
        return t_.X.row(I);
    }

    std::string take_case(std::size_t length, std::uint64_t no) {
        const std::size_t W = static_cast<std::size_t>(W_);
        if (fields_.size() != W) {
            const std::size_t col = fields_.size() > W ? fields_[W].col : length + 1;
            return place(no, col) + std::to_string(fields_.size()) +
                   " values on this line; each line holds one case of " + std::to_string(W_) + " values (" + k_from_ +
                   ")" + (semicolons() ? "; " + std::string(kSemicolons) : "");
        }
        if (o_.cases && cases_ == *o_.cases)
            return place(no) + "case " + std::to_string(cases_ + 1) + ", but --cases is " + std::to_string(*o_.cases);
        if (cases_ == INT32_MAX) return place(no) + "too many cases";
        double* x = row(cases_ + 1);
        for (std::size_t j = 0; j < W; ++j) {
            const std::int32_t r = role_[j];
            if (r > 0) {
                if (std::string e = take(fields_[j], j + 1, no, x[r]); !e.empty()) return e;
                if (!text_fault_.empty()) {
                    mark_text();
                    return "";
                }
            }
        }
        if (!t_.ids.header.empty()) {
            for (std::size_t j = 0; j < W; ++j) {
                if (role_[j] >= 0) continue;
                const Field& f = fields_[j];
                if (!f.empty && !(f.quoted && f.text.empty())) t_.ids.text += csv_field(unquote(f));
                t_.ids.text += ',';
            }
            t_.ids.ends.push_back(t_.ids.text.size());
        }
        ++cases_;
        return "";
    }

    // One field of a variable into out: "" or what is wrong with it. Text
    // sets text_fault_ instead. The messages are made only for a fault.
    std::string take(const Field& f, std::size_t j, std::uint64_t no, double& out) {
        auto where = [&] { return place(no, f.col) + "field " + std::to_string(j); };
        auto shown = [&] { return ": \"" + std::string(f.text) + "\" "; };
        constexpr const char* ask_na = "give --na to count NA and empty fields as missing values";
        auto is_na = [&] { return std::find(o_.na_words.begin(), o_.na_words.end(), f.text) != o_.na_words.end(); };
        if (f.empty || (o_.na && !f.quoted && is_na())) {
            if (!o_.na) return where() + " is empty; " + ask_na;
            out = NAN;
            ++t_.missing;
            return "";
        }
        if (!f.quoted && is_na()) return where() + shown() + "is not a number; " + ask_na;
        if (!f.quoted && sep_ == Separator::Blanks && f.text.find(';') != std::string_view::npos)
            return where() + shown() + "is not a number; " + kSemicolons;
        double v = 0.0;
        const Form form = f.quoted ? Form::Text : read_number(f.text, o_.decimal_comma, sep_ != Separator::Blanks, v);
        if (!f.quoted && (form == Form::Text || form == Form::Malformed) && missing_word(f.text)) {
            std::string words;  // the words given, and this one
            if (o_.na)
                for (const std::string& w : o_.na_words) (words += w) += ',';
            return where() + shown() + "is not a number; if it marks missing values, give " +
                   (o_.na ? "it among the --na words (--na=" : "--na=") + words + std::string(f.text) +
                   (o_.na ? ")" : "");
        }
        if (form == Form::Text) {
            if (first_data_ && !o_.header && !any_number())
                return where() + shown() + "is not a number; the first line looks like a header: give --header";
            text_fault_ = where() + shown() + (f.quoted ? "is quoted text, not a number" : "is text, not a number");
            return "";
        }
        if (form == Form::Malformed && sep_ == Separator::Tab && f.text.find(' ') != std::string_view::npos)
            return where() + shown() +
                   "is not a number; the file's first line has a tab, so tabs alone separate its fields";
        if (form != Form::Number) return where() + shown() + explain(form, f.text);
        if (std::string wrong = codes_.check(v); !wrong.empty()) {
            // Under the default code the file is read on: a code of another
            // form found at the end is the better word.
            if (o_.missing) return where() + ": " + std::string(f.text) + wrong;
            if (nine_fault_.empty()) nine_fault_ = where() + ": " + std::string(f.text) + wrong;
        }
        out = v;
        t_.missing += o_.missing && v == *o_.missing;
        return "";
    }

    bool semicolons() const {
        return sep_ == Separator::Blanks && std::any_of(fields_.begin(), fields_.end(), [](const Field& f) {
                   return !f.quoted && f.text.find(';') != std::string_view::npos;
               });
    }

    // The first variable numbers the cases 0, 1, 2, ... or 1, 2, 3, ...
    bool counts_cases() const {
        for (double from : {0.0, 1.0}) {
            std::int32_t I = 1;
            while (I <= t_.N && t_.X(I, 1) == from + (I - 1)) ++I;
            if (I > t_.N) return true;
        }
        return false;
    }

    // Some field of the line reads as a number.
    bool any_number() const {
        double v;
        for (const Field& f : fields_)
            if (!f.quoted && !f.empty && read_number(f.text, o_.decimal_comma, true, v) == Form::Number) return true;
        return false;
    }

    // The columns of variables on this line that hold text.
    void mark_text() {
        if (fields_.size() != static_cast<std::size_t>(W_)) return;
        double v;
        for (std::size_t j = 0; j < fields_.size(); ++j) {
            const Field& f = fields_[j];
            if (role_[j] <= 0 || text_cols_[j] || f.empty) continue;
            const bool na = std::find(o_.na_words.begin(), o_.na_words.end(), f.text) != o_.na_words.end();
            text_cols_[j] =
                f.quoted || (!na && read_number(f.text, o_.decimal_comma, sep_ != Separator::Blanks, v) == Form::Text &&
                             !missing_word(f.text));
        }
    }

    std::string finish(bool lines_are_cases) {
        const std::string end = " (line " + std::to_string(lines_.number()) + ")";
        if (K_ == 0 || (cases_ == 0 && index_ == 0)) return o_.data + ": no data";
        if (lines_are_cases && o_.cases && cases_ < *o_.cases)
            return o_.data + ": the data end after " + std::to_string(cases_) + " cases" + end + ", but --cases is " +
                   std::to_string(*o_.cases);
        if (!lines_are_cases && index_ < std::int64_t{*o_.cases} * K_)
            return o_.data + ": the data end after " + std::to_string(index_) + " values" + end + ", but " + sizes() +
                   " values";
        t_.K = K_;
        for (std::int32_t j = static_cast<std::int32_t>(t_.names.size()); j < K_; ++j)
            t_.names.push_back(header_.empty() ? default_name(j + 1) : header_[j]);
        t_.N = lines_are_cases ? static_cast<std::int32_t>(cases_) : *o_.cases;
        if (rows_ > t_.N) t_.X.shrink_rows(t_.N);
        if (!lines_are_cases) {
            for (std::int64_t i = 0; i < index_; ++i) row(i / K_ + 1)[i % K_ + 1] = flat_[i];
            std::vector<double>().swap(flat_);
        }
        if (t_.N < 2) return o_.data + ": 1 case; at least 2 are needed (the covariances divide by N - 1)";
        if (std::string e = codes_.choose(t_.code, t_.code_chosen); !e.empty()) return o_.data + ": " + e;
        if (row_names_ && role_[0] == 1 && counts_cases())
            return o_.data +
                   ": column 1 has no name in the header and counts the cases, as pandas writes its index: "
                   "give --id 1 to carry it, or --columns to leave it out";
        if (!o_.missing && o_.code_check)
            if (std::string e = check_codes(o_.data, t_.X, t_.N, t_.K, t_.names); !e.empty()) return e;
        return nine_fault_;
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
    std::string e;
    try {
        e = Reader(o, t, fd).read();
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return e;
}

void fill_data(const Options&, Table& t, Run& run) {
    assert(run.X.first_row() == 1 && run.X.last_row() == t.N && run.X.first_col() == 0 && run.X.last_col() == t.K);
    assert(t.X.first_row() == 1 && t.X.last_row() == t.N && t.X.first_col() == 0 && t.X.last_col() == t.K);
    for (std::int32_t I = 1; I <= t.N; ++I) {
        double* x = t.X.row(I);
        for (std::int32_t J = 1; J <= t.K; ++J)
            if (std::isnan(x[J])) x[J] = t.code;
    }
    run.X = std::move(t.X);
    t.X.release();
}

}  // namespace talvo::batch
