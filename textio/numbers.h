// Reading numbers from text: the answer fields of the console (Iw, Fw.d)
// and the values of free-form input share these conversions.
#pragma once

#include <cstdint>
#include <string_view>

namespace talvo::numbers {

// Converts sign, mantissa digits (no point) and a power of ten to the
// nearest double. Returns 0, or err::RealOverflow when the value lies
// beyond the double range. Underflow gives 0 or a subnormal number.
int decimal_to_double(bool neg, std::string_view digits, std::int64_t exp10, double& out);

// Parses a real number in the notation of answers and data values:
// optional sign, digits with an optional point, optional exponent (E or D
// with optional sign and digits, or a sign and digits). Without a point the
// last `implied` digits are the fraction. Blanks are not allowed here.
// Returns 0, err::InvalidReal or err::RealOverflow. `empty_is_zero` accepts
// a text with no digit at all (only a sign and/or a point) as 0.
int parse_real(std::string_view text, int implied, bool empty_is_zero, double& out);

// Parses an Iw answer with its blanks and tabs already removed: optional
// sign, decimal digits or the radix form r#digits (# alone: radix 16).
// Returns 0, err::InvalidInt, err::IntOverflow, err::SecondHash or err::BadRadix.
int parse_int(std::string_view text, std::int32_t& out);

}  // namespace talvo::numbers
