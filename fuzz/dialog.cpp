// The console fields and the whole dialog from any bytes typed: the dialog
// with the answers piped in and as a terminal gives them, and every line
// through the answer fields of every width the dialog uses.
//
// Checked besides: the dialog ends with every parameter in its range or
// with a console read error report; a field gives a value or an error it
// can cause, and a real field a finite value; a decimal integer field reads
// what the C library reads.
#include "app/dialog.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "fuzz.h"
#include "textio/fields.h"

using namespace talvo;

namespace {

bool blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

void check_parameters(const Params& p) {
    FUZZ_CHECK(p.FIN.size() == 40 && !blank(p.FIN), "a data file name not of 40 characters");
    FUZZ_CHECK(p.OUTFMT.size() == 40 && !blank(p.OUTFMT), "an output format not of 40 characters");
    const auto siv = static_cast<int>(p.SIV);
    FUZZ_CHECK(siv >= 1 && siv <= 3, "a start-value method out of range");
    FUZZ_CHECK(p.SIV != StartMethod::File || (p.SVFIN.size() == 40 && !blank(p.SVFIN)), "no start-value file name");
    FUZZ_CHECK(p.PTN != 0 && p.MAXITER != 0 && p.MVI != 0.0 && p.CRIT != 0.0, "a default not taken");
    FUZZ_CHECK(p.OPTOUT == 0 || p.OPTOUT == 1, "additional output neither on nor off");
    FUZZ_CHECK(p.BMOD == 0 || (p.BMOD == 1 && p.OPTOUT == 1 && p.PTN == 2 && p.YHAT != 0.0),
               "a wrong attrition switch");
    for (double v : {p.MVI, p.CRIT, p.YINT, p.YHAT}) FUZZ_CHECK(std::isfinite(v), "a real answer not finite");
}

void run_dialog(std::string_view input, bool terminal) {
    const int in = fuzz::memory_file(input);
    Console con(in, fuzz::null_output(), fuzz::null_output());
    con.set_terminal(terminal, terminal);
    Params p;
    try {
        ask_parameters(con, p);
        check_parameters(p);
    } catch (const RunEnd& end) {
        FUZZ_CHECK(end.kind == RunEnd::Kind::IoError && end.stmt == Stmt::Read && end.file == "CON",
                   "a dialog ended by something other than a console read error");
        FUZZ_CHECK(end.number == err::EndOfFile || (terminal && end.number == err::LineTooLong),
                   "a console read error the answers cannot cause");
    }
    close(in);
}

void check_fields(std::string_view line) {
    for (int w : {1, 4, 8}) {
        std::int32_t v = -7;
        const int e = fields::int_field(line, w, v);
        FUZZ_CHECK(
            e == 0 || e == err::InvalidInt || e == err::IntOverflow || e == err::SecondHash || e == err::BadRadix,
            "an integer field error no answer causes");
        FUZZ_CHECK(e == 0 || v == -7, "a failed integer field that changed its variable");
        // A plain decimal field (blanks and tabs aside) reads as strtoll reads it.
        std::string digits;
        for (char c : line.substr(0, static_cast<std::size_t>(w)).substr(0, line.find(',')))
            if (c != ' ' && c != '\t') digits += c;
        const bool plain =
            digits.find_first_not_of("0123456789", digits[0] == '-' || digits[0] == '+') == std::string::npos;
        if (plain && digits.size() > (digits[0] == '-' || digits[0] == '+') && e == 0)
            FUZZ_CHECK(v == std::strtoll(digits.c_str(), nullptr, 10), "a decimal integer read wrong");
    }
    for (auto [w, d] : {std::pair{4, 0}, std::pair{16, 15}, std::pair{16, 8}}) {
        double v = -7;
        const int e = fields::real_field(line, w, d, v);
        FUZZ_CHECK(e == 0 || e == err::InvalidReal || e == err::RealOverflow, "a real field error no answer causes");
        FUZZ_CHECK(e == 0 ? std::isfinite(v) : v == -7, "a real field value not finite, or changed by a failure");
    }
    FUZZ_CHECK(fields::text_field(line, 40, 40).size() == 40, "a text field not of 40 characters");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    run_dialog(input, false);
    run_dialog(input, true);
    std::size_t at = 0;
    for (int lines = 0; at <= input.size() && lines < 64; ++lines) {
        std::size_t end = input.find('\n', at);
        if (end == std::string_view::npos) end = input.size();
        check_fields(input.substr(at, end - at));
        at = end + 1;
    }
    return 0;
}
