// Answer fields and number conversions.
#include "textio/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "textio/console.h"
#include "textio/errors.h"

namespace talvo::numbers {
namespace {

// An Iw answer: the field cut from the line, blanks removed, parsed.
int I(std::string_view line, int w, std::int32_t& v) { return parse_int(squeeze(numeric_field(line, w)), v); }
int F(std::string_view line, int w, int d, double& v) {
    return parse_real(squeeze(numeric_field(line, w)), d, true, v);
}

TEST(IntField, ExamplesOfTheDialogWidths) {
    std::int32_t v = -7;
    EXPECT_EQ(I("123456789", 8, v), 0);
    EXPECT_EQ(v, 12345678);
    EXPECT_EQ(I("1 2", 4, v), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(I("12.5", 4, v), err::InvalidInt);
    EXPECT_EQ(I("12", 1, v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(I(" 3", 1, v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(I("10", 1, v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(I("12345", 4, v), 0);
    EXPECT_EQ(v, 1234);
    EXPECT_EQ(I("12,3", 4, v), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(I("", 8, v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(I("\t-4\t", 4, v), 0);
    EXPECT_EQ(v, -4);
    EXPECT_EQ(I("-", 4, v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(I("abc", 8, v), err::InvalidInt);
    EXPECT_EQ(I("1-2", 8, v), err::InvalidInt);
}

TEST(IntField, RadixForms) {
    std::int32_t v = 0;
    EXPECT_EQ(parse_int("#FF", v), 0);
    EXPECT_EQ(v, 255);
    EXPECT_EQ(parse_int("36#zz", v), 0);
    EXPECT_EQ(v, 1295);
    EXPECT_EQ(parse_int("-2#101", v), 0);
    EXPECT_EQ(v, -5);
    EXPECT_EQ(parse_int("1#1", v), err::BadRadix);
    EXPECT_EQ(parse_int("37#1", v), err::BadRadix);
    EXPECT_EQ(parse_int("0#1", v), err::BadRadix);
    EXPECT_EQ(parse_int("16#F#", v), err::SecondHash);
    EXPECT_EQ(parse_int("2#2", v), err::InvalidInt);
    EXPECT_EQ(parse_int("16#-F", v), err::InvalidInt);
    EXPECT_EQ(parse_int("16#", v), 0);
    EXPECT_EQ(v, 0);
}

TEST(IntField, FourByteRange) {
    std::int32_t v = 0;
    EXPECT_EQ(parse_int("2147483647", v), 0);
    EXPECT_EQ(v, 2147483647);
    EXPECT_EQ(parse_int("-2147483648", v), 0);
    EXPECT_EQ(v, -2147483647 - 1);
    EXPECT_EQ(parse_int("2147483648", v), err::IntOverflow);
    EXPECT_EQ(parse_int("-2147483649", v), err::IntOverflow);
    EXPECT_EQ(parse_int("16#FFFFFFFF", v), err::IntOverflow);
    EXPECT_EQ(parse_int("99999999999999999999999999", v), err::IntOverflow);
}

TEST(RealField, ImpliedDecimals) {
    double v = -1;
    EXPECT_EQ(F("1", 16, 15, v), 0);
    EXPECT_EQ(v, 1.0e-15);
    EXPECT_EQ(F("1.", 16, 15, v), 0);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(F(".00001", 16, 15, v), 0);
    EXPECT_EQ(v, 1.0e-5);
    EXPECT_NE(v, static_cast<double>(1.0e-5f));
    EXPECT_EQ(F("2", 16, 8, v), 0);
    EXPECT_EQ(v, 2.0e-8);
    EXPECT_EQ(F("9", 4, 0, v), 0);
    EXPECT_EQ(v, 9.0);
    EXPECT_EQ(F("-9999", 4, 0, v), 0);
    EXPECT_EQ(v, -999.0);
    EXPECT_EQ(F("-999", 4, 0, v), 0);
    EXPECT_EQ(v, -999.0);
    EXPECT_EQ(F("15E2", 16, 1, v), 0);  // 1.5 x 10^2
    EXPECT_EQ(v, 150.0);
}

TEST(RealField, ExponentFormsAndErrors) {
    double v = 0;
    EXPECT_EQ(F("1.5-3", 16, 8, v), 0);
    EXPECT_EQ(v, 0.0015);
    EXPECT_EQ(F("2.5D+1", 16, 8, v), 0);
    EXPECT_EQ(v, 25.0);
    EXPECT_EQ(F("2.5e1", 16, 8, v), 0);
    EXPECT_EQ(v, 25.0);
    EXPECT_EQ(F("", 16, 8, v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(F(" . ", 16, 8, v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(F("1E", 16, 8, v), err::InvalidReal);
    EXPECT_EQ(F("E5", 16, 8, v), err::InvalidReal);
    EXPECT_EQ(F("1.2.3", 16, 8, v), err::InvalidReal);
    EXPECT_EQ(F("abc", 16, 8, v), err::InvalidReal);
    EXPECT_EQ(F("1E999", 16, 8, v), err::RealOverflow);
    EXPECT_EQ(F("1E-999", 16, 8, v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(F("0E99999999999", 16, 8, v), 0);
    EXPECT_EQ(v, 0.0);
}

TEST(Decimal, CorrectlyRoundedAtTheEdges) {
    double v = 0;
    EXPECT_EQ(decimal_to_double(false, "17976931348623157", 292, v), 0);
    EXPECT_EQ(v, std::numeric_limits<double>::max());
    EXPECT_EQ(decimal_to_double(false, "17976931348623159", 292, v), err::RealOverflow);
    EXPECT_EQ(decimal_to_double(true, "49406564584124654", -340, v), 0);
    EXPECT_EQ(v, -std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(decimal_to_double(false, "1", -400, v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(decimal_to_double(false, "000000", 5, v), 0);
    EXPECT_EQ(v, 0.0);
}

}  // namespace
}  // namespace talvo::numbers
