#include "app/dialog.h"

#include <string_view>

#include "base/errors.h"

namespace talvo {

namespace {

constexpr size_t kTextLength = 40;

bool blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

std::string padded(std::string_view s) {
    std::string t(s);
    t.resize(kTextLength, ' ');
    return t;
}

// End of input or a failing console cannot be answered by asking again.
bool final_error(int e) { return e == err::EndOfFile || e == err::ReadFailure; }

// A prompt that is written again until its answer can be read.
template <class ReadFn>
void ask(Console& con, std::string_view prompt, ReadFn read) {
    for (;;) {
        con.prompt(prompt);
        int e = read();
        if (e == 0) return;
        if (final_error(e)) io_error(e, Stmt::Read, "CON");
    }
}

void ask_int(Console& con, std::string_view prompt, int w, std::int32_t& v) {
    ask(con, prompt, [&] { return con.read_int(w, v); });
}

void ask_real(Console& con, std::string_view prompt, int w, int d, double& v) {
    ask(con, prompt, [&] { return con.read_real(w, d, v); });
}

// A file name: no asking again, every read error ends the run.
void ask_name(Console& con, std::string_view prompt, std::string& v) {
    con.prompt(prompt);
    if (int e = con.read_text(kTextLength, v, kTextLength)) io_error(e, Stmt::Read, "CON");
}

}  // namespace

void ask_parameters(Console& con, Params& p) {
    static constexpr std::string_view banner[] = {
        "0",
        " COVARIANCE ESTIMATION WITH MISSING VALUES ",
        "    An application of the EM algorithm ",
        "              TALVO.EXE v2.3 ",
        "     ",
        " ",
        " ",
    };
    for (std::string_view rec : banner) con.line(rec);

    do {
        ask_name(con, " Specify input data file: ", p.FIN);
    } while (blank(p.FIN));

    ask_int(con, " Sample size (n): ", 8, p.N);
    ask_int(con, " Number of variables (k): ", 4, p.K);

    ask_int(con, " Input maximum # of allowable missing patterns (20): ", 4, p.PTN);
    if (p.PTN == 0) p.PTN = 20;

    ask_real(con, " Input missing value indicator (9): ", 4, 0, p.MVI);
    if (p.MVI == 0.0) p.MVI = 9.0;

    std::int32_t siv = 0;
    ask_int(con, " Select start values (1=LW,2=PW,3=CM): ", 1, siv);
    p.SIV = siv == 2 ? StartMethod::Pairwise : siv == 3 ? StartMethod::File : StartMethod::Listwise;

    if (p.SIV == StartMethod::File) {
        ask_name(con, " Specify start value (CM) file (START.COV): ", p.SVFIN);
        if (blank(p.SVFIN)) p.SVFIN = padded("start.cov");
    }

    ask_int(con, " Maximum number of iterations (200): ", 4, p.MAXITER);
    if (p.MAXITER == 0) p.MAXITER = 200;

    ask_real(con, " Convergence criterion (.00001): ", 16, 15, p.CRIT);
    if (p.CRIT == 0.0) p.CRIT = kDefaultCrit;

    ask_int(con, " Additional output? (1=Yes,<CR>=No): ", 1, p.OPTOUT);
    if (p.OPTOUT == 2 && p.PTN == 2) {
        // The one way to switch the attrition correction on.
        p.BMOD = 1;
        p.OPTOUT = 1;
    } else if (p.OPTOUT != 0) {
        p.OPTOUT = 1;
    }

    if (p.BMOD == 1) {
        con.line(" Correction for inaccessible posttest attrition");
        ask_real(con, " Specify intercept (B0) from resampled Y: ", 16, 8, p.YINT);
        ask_real(con, " Specify b-weight predicting resampled Y: ", 16, 8, p.YHAT);
        if (p.YHAT == 0.0) p.YHAT = 1.0;
    }

    ask(con, " Specify output format (6F12.7): ", [&] { return con.read_text(kTextLength, p.OUTFMT, kTextLength); });
    if (blank(p.OUTFMT)) p.OUTFMT = padded("(6F12.7)");
}

}  // namespace talvo
