// The number renderer: fixed point, exponent forms, G, Z, A and integers.
// Fields are shown between semicolons so that leading blanks are visible.
#include "textio/render.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <cstdint>
#include <limits>

namespace talvo::render {
namespace {

std::string F(double v, int w, int d, int scale = 0, bool plus = false) {
    std::string s;
    fixed(s, v, w, d, scale, plus);
    return ";" + s + ";";
}
std::string E(double v, int w, int d, int e = -1, int scale = 0, char letter = 'E') {
    std::string s;
    exponential(s, v, w, d, e, scale, false, letter);
    return ";" + s + ";";
}
std::string G(double v, int w, int d, int e = -1) {
    std::string s;
    general(s, v, w, d, e, 0, false);
    return ";" + s + ";";
}
std::string I(std::int64_t v, int w, int m = -1) {
    std::string s;
    integer(s, v, w, m);
    return ";" + s + ";";
}

TEST(Fixed, ExamplesOfTheTextConventions) {
    EXPECT_EQ(F(0.125, 5, 2), ";  .13;");
    EXPECT_EQ(F(2.5, 3, 0), "; 3.;");
    EXPECT_EQ(F(-0.5, 3, 0), ";-1.;");
    EXPECT_EQ(F(0.0, 12, 7), ";    .0000000;");
    EXPECT_EQ(F(-0.00000001, 6, 2), ";   .00;");
    EXPECT_EQ(F(999.99999999, 12, 7), ";1000.0000000;");
    EXPECT_EQ(F(9999.99999999, 12, 7), ";************;");
    EXPECT_EQ(F(0.5, 12, 7), ";    .5000000;");
    EXPECT_EQ(F(-0.25, 9, 3), ";    -.250;");
    EXPECT_EQ(F(0.0, 6, 2), ";   .00;");
    EXPECT_EQ(F(9.0, 4, 0), ";  9.;");
    EXPECT_EQ(F(100.0, 4, 1), ";****;");
    EXPECT_EQ(F(123456.789, 9, 3), ";*********;");
}

TEST(Fixed, TextOfExactlyTheWidthFits) {
    EXPECT_EQ(F(12345.678, 9, 3), ";12345.678;");
    EXPECT_EQ(F(-1234.567, 9, 3), ";-1234.567;");
    EXPECT_EQ(F(-12345.678, 9, 3), ";*********;");
}

TEST(Fixed, ZeroBeforeThePointOnlyForDZeroAndAZeroResult) {
    EXPECT_EQ(F(0.3, 3, 0), "; 0.;");
    EXPECT_EQ(F(-0.3, 3, 0), "; 0.;");
    EXPECT_EQ(F(0.7, 3, 0), "; 1.;");
    EXPECT_EQ(F(-0.0, 5, 2), ";  .00;");
    EXPECT_EQ(F(0.004, 5, 2), ";  .00;");
    EXPECT_EQ(F(0.005, 5, 2), ";  .01;");  // 17 digits 5.0000000000000001e-3
}

TEST(Fixed, RoundsHalfUpOnTheSeventeenDigitExpansion) {
    // 0.15 is 0.1499999999999999944...: 17 digits 14999999999999999, so .1.
    EXPECT_EQ(F(0.15, 4, 1), ";  .1;");
    // 2.675 is 2.67499999999999982...: 2.67.
    EXPECT_EQ(F(2.675, 5, 2), "; 2.67;");
    // 0.45 is 0.450000000000000011...: .5.
    EXPECT_EQ(F(0.45, 3, 1), "; .5;");
    EXPECT_EQ(F(1.5, 2, 0), ";2.;");
    EXPECT_EQ(F(-2.5, 3, 0), ";-3.;");
}

TEST(Fixed, AtMostSixteenSignificantDigitsTheRestZeros) {
    // 0.1 expands to .10000000000000001: the 17th digit is shown as 0.
    EXPECT_EQ(F(0.1, 20, 17), ";  .10000000000000000;");
    EXPECT_EQ(F(0.1, 25, 20), ";    .10000000000000000000;");
    EXPECT_EQ(F(1e20, 24, 1), "; 100000000000000000000.0;");
    // 2^60 = 1152921504606846976: only 16 digits are significant.
    EXPECT_EQ(F(1152921504606846976.0, 22, 1), "; 1152921504606847000.0;");
    // 1 - 2^-53 expands to .99999999999999989; 15 shown digits carry.
    EXPECT_EQ(F(0.99999999999999989, 17, 15), ";1.000000000000000;");
    EXPECT_EQ(F(0.99999999999999989, 18, 16), "; .9999999999999999;");
}

TEST(Fixed, ScaleFactorShiftsThePoint) {
    EXPECT_EQ(F(1.5, 8, 2, 2), ";  150.00;");
    EXPECT_EQ(F(1.5, 8, 2, -1), ";     .15;");
    EXPECT_EQ(F(1.5, 8, 2, 0, true), ";   +1.50;");
    EXPECT_EQ(F(-0.001, 8, 2, 0, true), ";    +.00;");
}

TEST(Fixed, ExtremesAndTheWidestFields) {
    double big = std::numeric_limits<double>::max();
    double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(F(big, 12, 7), ";************;");
    EXPECT_EQ(F(tiny, 12, 7), ";    .0000000;");
    EXPECT_EQ(F(-tiny, 12, 7), ";    .0000000;");
    // A rendering of 260 characters or more is never built.
    EXPECT_EQ(F(big, 400, 2), ";" + std::string(140, ' ') + std::string(260, '*') + ";");
    EXPECT_EQ(F(1.5, 300, 258), ";" + std::string(40, ' ') + std::string(260, '*') + ";");
    EXPECT_EQ(F(1.5, 259, 258), ";" + std::string(259, '*') + ";");
    std::string fits = F(1.5, 300, 257);  // "1." and 257 decimals: 259 characters
    EXPECT_EQ(fits.size(), 302u);
    EXPECT_EQ(fits.substr(1, 44), std::string(41, ' ') + "1.5");
    EXPECT_EQ(F(1.5, 0, 2), ";;");
}

TEST(Fixed, NonFiniteValuesGiveAsterisks) {
    EXPECT_EQ(F(std::numeric_limits<double>::infinity(), 6, 2), ";******;");
    EXPECT_EQ(F(std::numeric_limits<double>::quiet_NaN(), 6, 2), ";******;");
}

TEST(Exponential, Examples) {
    EXPECT_EQ(E(1.0, 15, 6), ";    .100000E+01;");
    EXPECT_EQ(E(1.0e-120, 15, 6), ";    .100000-119;");
    EXPECT_EQ(E(1234.5, 12, 4), ";   .1235E+04;");
    EXPECT_EQ(E(-1234.5, 12, 4), ";  -.1235E+04;");
    EXPECT_EQ(E(0.0, 12, 4), ";   .0000E+00;");
    EXPECT_EQ(E(9.99996, 12, 4), ";   .1000E+02;");
    EXPECT_EQ(E(1.0e100, 12, 4), ";   .1000+101;");
    EXPECT_EQ(E(1.0e-99, 12, 4), ";   .1000E-98;");
    EXPECT_EQ(E(1.0, 12, 4, -1, 0, 'D'), ";   .1000D+01;");
    EXPECT_EQ(E(1.0, 8, 4), ";********;");
}

TEST(Exponential, ExponentWidth) {
    EXPECT_EQ(E(1.0, 13, 4, 3), ";   .1000E+001;");
    EXPECT_EQ(E(1.0e-120, 13, 4, 3), ";   .1000E-119;");
    EXPECT_EQ(E(1.0e-120, 13, 4, 2), ";*************;");
    EXPECT_EQ(E(1.0, 13, 4, 1), ";     .1000E+1;");
    EXPECT_EQ(E(1.0, 13, 4, 0), ";*************;");
}

TEST(Exponential, ScaleFactor) {
    EXPECT_EQ(E(1234.5, 12, 4, -1, 1), ";  1.2345E+03;");
    EXPECT_EQ(E(1234.5, 12, 4, -1, 2), ";  12.345E+02;");
    EXPECT_EQ(E(1234.5, 12, 4, -1, -1), ";   .0123E+05;");
    EXPECT_EQ(E(1234.5, 12, 4, -1, 5), ";  12345.E-01;");
    EXPECT_EQ(E(1234.5, 12, 4, -1, 6), ";************;");
    EXPECT_EQ(E(1234.5, 12, 4, -1, -4), ";************;");
    EXPECT_EQ(E(1.0, 12, 0), ";************;");
}

TEST(General, Examples) {
    EXPECT_EQ(G(123.456, 12, 4), ";   123.5    ;");
    EXPECT_EQ(G(123456.0, 12, 4), ";   .1235E+06;");
    EXPECT_EQ(G(0.5, 12, 4), ";   .5000    ;");
    EXPECT_EQ(G(0.05, 12, 4), ";   .5000E-01;");
    EXPECT_EQ(G(9999.0, 12, 4), ";   9999.    ;");
    // The exponent is taken before rounding: 9999.9 stays in F form.
    EXPECT_EQ(G(9999.9, 12, 4), ";  10000.    ;");
    EXPECT_EQ(G(10000.0, 12, 4), ";   .1000E+05;");
    EXPECT_EQ(G(0.0, 12, 4), ";    .000    ;");
    EXPECT_EQ(G(123.456, 14, 4, 3), ";    123.5     ;");
    EXPECT_EQ(G(123456.0, 6, 4), ";******;");
}

TEST(Bits, HexAndBytes) {
    std::string s;
    hex(s, 1.0, 16);
    EXPECT_EQ(s, "3FF0000000000000");
    s.clear();
    hex(s, -2.0, 0);
    EXPECT_EQ(s, "C000000000000000");
    s.clear();
    hex(s, 1.0, 4);
    EXPECT_EQ(s, "0000");
    s.clear();
    hex(s, 1.0, 18);
    EXPECT_EQ(s, "003FF0000000000000");
    s.clear();
    bytes(s, 1.0, 0);
    EXPECT_EQ(s, std::string("\0\0\0\0\0\0\xF0\x3F", 8));
    s.clear();
    bytes(s, 1.0, 10);
    EXPECT_EQ(s, std::string("  \0\0\0\0\0\0\xF0\x3F", 10));
    s.clear();
    bytes(s, 1.0, 2);
    EXPECT_EQ(s, std::string("\0\0", 2));
}

TEST(Integer, Iw) {
    EXPECT_EQ(I(5, 2), "; 5;");
    EXPECT_EQ(I(0, 3), ";  0;");
    EXPECT_EQ(I(-12, 3), ";-12;");
    EXPECT_EQ(I(-123, 3), ";***;");
    EXPECT_EQ(I(1000, 3), ";***;");
    EXPECT_EQ(I(123456, 5), ";*****;");
    EXPECT_EQ(I(7, 4, 3), "; 007;");
    EXPECT_EQ(I(0, 3, 0), ";   ;");
    EXPECT_EQ(I(-2147483648LL, 11), ";-2147483648;");
}

TEST(Expansion, SeventeenDigitsAndExponent) {
    Decimal x = expand(0.125);
    EXPECT_EQ(std::string(x.digit, 17), "12500000000000000");
    EXPECT_EQ(x.exp, 0);
    x = expand(-1234.5);
    EXPECT_TRUE(x.neg);
    EXPECT_EQ(x.exp, 4);
    x = expand(std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(std::string(x.digit, 17), "49406564584124654");
    EXPECT_EQ(x.exp, -323);
}

}  // namespace
}  // namespace talvo::render

namespace talvo::render {
namespace {

TEST(Expansion, TheExactPathGivesTheGeneralDigits) {
    std::mt19937_64 gen(17);
    auto check = [](double v) {
        Decimal a = expand(v), b = expand_general(v);
        ASSERT_EQ(std::string(a.digit, 17), std::string(b.digit, 17)) << v;
        ASSERT_EQ(a.exp, b.exp) << v;
        ASSERT_EQ(a.neg, b.neg) << v;
    };
    for (int i = 0; i < 300000; ++i) {
        // Random bit patterns over the exact path's range and beyond it.
        double v = std::ldexp(1.0 + (gen() >> 12) * 0x1p-52, static_cast<int>(gen() % 120) - 60);
        check(gen() & 1 ? v : -v);
        check(std::nextafter(v, 0.0));
    }
    // Ties at the 17th digit round to even; powers of ten and the edges of the range.
    for (double v : {1125899906842624.25, 1125899906842625.25, 1125899906842624.75, 9007199254740991.0,
                     9007199254740992.0, 4503599627370495.5, 1e-5, 0.99999999999999989, 1e15, 1e16, 0.1, 0.3, 2.0 / 3})
        check(v);
    for (int p = -5; p <= 15; ++p) {
        double t = std::pow(10.0, p);
        check(t);
        check(std::nextafter(t, 0.0));
        check(std::nextafter(t, 1e300));
    }
}

}  // namespace
}  // namespace talvo::render
