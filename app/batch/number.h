// The numbers of a data file, in the forms spreadsheets, R and Python
// write:
//   [sign] digits [ "." [digits] ] [exponent]   or   [sign] "." digits [exponent]
//   exponent = ("E" | "e") [sign] digits
// (with --decimal-comma a comma in place of the point). The value is the
// correctly rounded double of the text. Other forms that a user may mean
// as numbers are told apart, so that the refusal can say what was meant.
#pragma once

#include <string>
#include <string_view>

namespace talvo::batch {

enum class Form {
    Number,          // a number in range: the value is set
    Overflow,        // beyond the range of double precision
    Special,         // Inf, -Inf, NaN, Infinity in any case
    NoExponentMark,  // 1.5-3: an exponent without E
    DExponent,       // 4D-2: an exponent with D
    Date,            // 2023-05, 2023-05-01, 05/01/2023, 1.5.2023
    DecimalComma,    // 38,60 without --decimal-comma
    PointWithComma,  // 38.6 or 1.234,5 with --decimal-comma
    Malformed,       // begins as a number, but is none: 4x, 1..2, -
    Text,            // a word: begins with no digit, sign or point
};

// What the text of an unquoted field is; with Form::Number its value.
// `comma_possible`: the file's separator lets a field hold a comma.
Form read_number(std::string_view text, bool decimal_comma, bool comma_possible, double& value);

// A word that usually marks a missing value (NA, n/a, NULL, ., -, ...), in
// any case.
bool missing_word(std::string_view s);

// Why the form is refused and what to do instead; "" for Number and Text.
// The field's text is shown by the caller.
std::string explain(Form f, std::string_view text);

}  // namespace talvo::batch
