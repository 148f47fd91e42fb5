// The number renderer: every number the program writes, on the console or
// into a file, is rendered here. Each call appends exactly one field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "textio/digits.h"

namespace talvo::render {

// Renderings wider than this are never built: see fill_unbuilt.
inline constexpr std::int64_t kMaxBuilt = 260;

// Fw.d; the scale factor shifts the decimal point first.
void fixed(std::string& out, double v, std::int64_t w, std::int64_t d, int scale = 0, bool plus = false);
// Ew.d[Ee] and Dw.d (letter 'D'); e < 0 when no exponent width is given.
void exponential(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus,
                 char letter = 'E');
// Gw.d[Ee].
void general(std::string& out, double v, std::int64_t w, std::int64_t d, std::int64_t e, int scale, bool plus);
// Iw[.m] of an integer; m < 0 when no minimum is given.
void integer(std::string& out, std::int64_t v, std::int64_t w, std::int64_t m = -1);
// Zw: the bit pattern in hexadecimal; w = 0 for Z alone.
void hex(std::string& out, double v, std::int64_t w);
// Aw of a double: its 8 bytes in memory order; w = 0 for A alone.
void bytes(std::string& out, double v, std::int64_t w);

}  // namespace talvo::render
