// The columns of a data file: which are variables and which ids (--columns,
// --id), and the check for values that look like missing-value codes.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "base/matrix.h"

namespace talvo::batch {

struct Selection {
    std::vector<std::int32_t> vars, ids;  // columns of the file from 0, ascending
};

// The columns --columns and --id name, among W columns named `names` (the
// header's; none without one). Without --columns every column that is not
// an id is a variable. "" or what is wrong with the command line.
std::string select_columns(const Options& o, const std::vector<std::string>& names, std::int32_t W, Selection& s);

// What is said of the columns of variables that hold text: their numbers
// (and names), and what to do; `row_names`: the first column has no name in
// the header, as R's write.csv writes row names.
std::string text_columns(const std::vector<bool>& text, const std::vector<std::string>& names, bool row_names);

// The code of missing values as the values come: each checked against it,
// and with --na and no --missing the code chosen at the end.
class CodeWatch {
public:
    explicit CodeWatch(const Options& o) : o_(o) {}
    // "" or why the code would take v as missing without that being meant:
    // its whole-number part is the code given, or the default code 9.
    std::string check(double v);
    // The run's code: the one given, else 9; with --na and none given, the
    // first of 9, -99, -999, ... whose whole numbers no value has. "" or
    // why none can be chosen.
    std::string choose(double& code, bool& chosen) const;

private:
    static constexpr double kCandidates[] = {9.0,          -99.0,         -999.0,        -9999.0,
                                             -99999.0,     -999999.0,     -9999999.0,    -99999999.0,
                                             -999999999.0, -9999999999.0, -99999999999.0};
    const Options& o_;
    bool hit_[std::size(kCandidates)] = {};
};

// The missing-value codes looked for: 9, 99, ..., 999999999 and their
// negatives, and -8, -88, -888, -8888, -98, -998, -9998.
bool code_like(double v);

// A value of a code's form that is both often and far outside the rest of
// its column (X(1..N, 1..K), a missing value as NaN):
//   - often: at least 2 times and in at least 1% of the column's values;
//   - far outside: below the smallest of the column's other values while
//     they are all 0 or more, or by more than their range (largest less
//     smallest); likewise above the largest.
// "" or the refusal, naming the column, the value and its count.
std::string check_codes(const std::string& file, const Mat& X, std::int32_t N, std::int32_t K,
                        const std::vector<std::string>& names);

}  // namespace talvo::batch
