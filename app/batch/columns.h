// The columns of a data file: which are variables and which ids (--columns,
// --id), and the check for values that look like missing-value codes.
#pragma once

#include <cstdint>
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
