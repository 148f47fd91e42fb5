// The free-form reader on any bytes, as the data intake and the start-value
// file read it: statements of a few values each until the file ends or an
// error ends the reading. The first byte gives the number of values of a
// statement (1 to 16: '0' gives 1, '2' gives 3); the rest is the file.
//
// Checked besides: every value stored is finite; a reading ends only with an
// error a file can cause; and every item of the file that the number
// scanner takes whole gives the correctly rounded value of its text (what
// the C library's strtod makes of it), also when it comes in pieces.
#include "textio/freeform.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "fuzz.h"
#include "textio/numbers.h"

using namespace talvo;

namespace {

// The text in strtod's notation: D for E, and an E before an exponent that
// follows the mantissa with its sign alone (1.5-3).
std::string c_notation(std::string_view text) {
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == 'D' || c == 'd') {
            s += 'e';
            continue;
        }
        if ((c == '+' || c == '-') && i > 0) {
            const char before = text[i - 1];
            if (before != 'e' && before != 'E' && before != 'd' && before != 'D') s += 'e';
        }
        s += c;
    }
    return s;
}

void check_number(std::string_view text, std::size_t piece) {
    double v = 0;
    const int e = numbers::parse_real(text, 0, false, v);
    if (e == err::InvalidReal) return;
    const std::string c = c_notation(text);
    char* end = nullptr;
    const double want = std::strtod(c.c_str(), &end);
    FUZZ_CHECK(end == c.c_str() + c.size(), "a number the C library reads differently");
    if (e == err::RealOverflow) {
        FUZZ_CHECK(std::isinf(want), "an overflow where the value is finite");
        return;
    }
    FUZZ_CHECK(e == 0, "an error a number cannot cause");
    FUZZ_CHECK(std::memcmp(&v, &want, sizeof v) == 0, "a value that is not the correctly rounded one");
    // The same text in pieces of a few characters.
    numbers::Scanner s;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        const std::string_view part = text.substr(at, piece);
        FUZZ_CHECK(s.feed(part) == part.size(), "a number that stops in its pieces");
    }
    double again = 0;
    FUZZ_CHECK(s.value(0, false, again) == 0 && std::memcmp(&v, &again, sizeof v) == 0,
               "a number read in pieces that gives another value");
}

bool separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n' || c == '\r' || c == '*'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t count = 1 + data[0] % 16;
    const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);

    const int fd = fuzz::memory_file(file);
    FreeFormReader reader(fd, "data.txt");
    try {
        for (int statement = 0; statement < 64; ++statement)
            reader.read(count, [](std::size_t, double v) { FUZZ_CHECK(std::isfinite(v), "a value not finite"); });
    } catch (const RunEnd& end) {
        FUZZ_CHECK(end.kind == RunEnd::Kind::IoError && end.stmt == Stmt::Read && end.file == "data.txt",
                   "a reading ended by something other than a read error");
        const int n = end.number;
        FUZZ_CHECK(n == err::RealOverflow || n == err::InvalidReal || n == err::EndOfFile || n == err::ZeroRepeat ||
                       n == err::RepeatTwice,
                   "a read error no file can cause");
    }
    close(fd);

    // Every item between separators, as one number.
    std::size_t at = 0;
    for (int items = 0; at < file.size() && items < 64; ++items) {
        while (at < file.size() && separator(file[at])) ++at;
        std::size_t end = at;
        while (end < file.size() && !separator(file[end])) ++end;
        if (end > at) check_number(file.substr(at, end - at), 1 + (at + data[0]) % 4);
        at = end;
    }
    return 0;
}
