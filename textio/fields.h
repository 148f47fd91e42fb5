// The answer fields of the console: Iw, Fw.d and Aw, each taken from the
// start of one input line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo::fields {

// Iw: at most the first w characters, ended early by a comma, blanks and
// tabs ignored; an empty field is 0. Returns 0 or the error number
// (err::InvalidInt, err::IntOverflow, err::SecondHash, err::BadRadix); the
// value is left as it was on an error.
int int_field(std::string_view line, int w, std::int32_t& out);

// Fw.d: the same field; without a point its last d digits are the fraction.
// Returns 0, err::InvalidReal or err::RealOverflow.
int real_field(std::string_view line, int w, int d, double& out);

// Aw: at most the first w characters as they stand, padded with blanks or
// cut to `length` characters.
std::string text_field(std::string_view line, int w, std::size_t length);

// The Iw notation with its blanks removed: an optional sign, then decimal
// digits or r#digits in radix r from 2 to 36 (# alone: radix 16).
int parse_int(std::string_view text, std::int32_t& out);

}  // namespace talvo::fields
