// Numbers as typed: the answer fields Iw and Fw.d, and the correctly
// rounded value of any number in the notation.
#include "textio/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "base/errors.h"
#include "helpers.h"
#include "textio/fields.h"

namespace talvo {
namespace {

TEST(Fields, EveryCaseOfTheTable) {
    for (const auto& row : testing::table("fields.txt")) {
        const std::string line = testing::cell(row[1]);
        const int w = std::stoi(row[0].substr(1));
        std::int32_t i = -7;
        double r = -7;
        const int e = row[0][0] == 'I' ? fields::int_field(line, w, i)
                                       : fields::real_field(line, w, std::stoi(row[0].substr(row[0].find('.') + 1)), r);
        if (row[2][0] == 'E')
            EXPECT_EQ(e, std::stoi(row[2].substr(1))) << row[0] << " " << row[1];
        else if (row[0][0] == 'I')
            EXPECT_EQ(i, std::stoi(row[2])) << row[0] << " " << row[1];
        else
            EXPECT_EQ(r, std::strtod(row[2].c_str(), nullptr)) << row[0] << " " << row[1];
    }
    EXPECT_NE(1e-5, static_cast<double>(1.0e-5f));  // the dialog's default is the single-precision one
}

// Random decimal texts of up to 40 digits and exponents across the whole
// range: each value must be the correctly rounded one strtod gives.
TEST(Numbers, CorrectlyRounded) {
    std::mt19937_64 gen(23);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>('0' + gen() % 10);
        return s;
    };
    for (int i = 0; i < 200000; ++i) {
        std::string s = (gen() % 4 == 0 ? "-" : "") + digits(static_cast<int>(gen() % 20));
        if (gen() % 3) s += "." + digits(static_cast<int>(gen() % 20));
        if (s.find_first_of("0123456789") == std::string::npos) s += '7';
        if (gen() % 2) s += "e" + std::to_string(static_cast<int>(gen() % 700) - 350);
        double want = std::strtod(s.c_str(), nullptr), got = 0;
        int e = numbers::parse_real(s, 0, false, got);
        if (std::isinf(want)) {
            ASSERT_EQ(e, err::RealOverflow) << s;
            continue;
        }
        ASSERT_EQ(e, 0) << s;
        ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0) << s << ": " << want << " vs " << got;
    }
}

TEST(Numbers, AtTheEdgesAndBeyondTheKeptDigits) {
    double v = 0;
    EXPECT_EQ(numbers::parse_real("1.7976931348623157e308", 0, false, v), 0);
    EXPECT_EQ(v, std::numeric_limits<double>::max());
    EXPECT_EQ(numbers::parse_real("1.7976931348623159e308", 0, false, v), err::RealOverflow);
    EXPECT_EQ(numbers::parse_real("-4.9406564584124654e-324", 0, false, v), 0);
    EXPECT_EQ(v, -std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(numbers::parse_real("2.4703282292062327e-324", 0, false, v), 0);
    EXPECT_EQ(v, 0.0);  // just below half the smallest subnormal
    // A halfway case decided only by a digit far beyond the kept ones.
    const std::string half = "9007199254740993";  // 2^53 + 1: halfway, ties to even
    EXPECT_EQ(numbers::parse_real(half + "." + std::string(2000, '0'), 0, false, v), 0);
    EXPECT_EQ(v, 9007199254740992.0);
    EXPECT_EQ(numbers::parse_real(half + "." + std::string(2000, '0') + "1", 0, false, v), 0);
    EXPECT_EQ(v, 9007199254740994.0);
    // Every mantissa digit counts against the exponent, however many there
    // are, in every form of the number: 1, 100,000,400 zeros and D-100000400
    // is 1. The digits come in pieces, as the free-form reader feeds them.
    const std::string zeros(1 << 20, '0');
    auto fed = [&](std::string_view head, long count, std::string_view tail) {
        numbers::Scanner s;
        s.feed(head);
        for (long left = count; left > 0; left -= 1 << 20) s.feed(std::string_view(zeros).substr(0, left));
        return s.feed(tail) == tail.size() && s.value(0, false, v) == 0 ? v : -1;
    };
    EXPECT_EQ(fed("1", 100000400, "D-100000400"), 1.0);
    EXPECT_EQ(fed("+1", 3000000, "E-3000000"), 1.0);
    EXPECT_EQ(fed("-15", 3000000, "-3000001"), -1.5);
    EXPECT_EQ(fed("1.", 3000000, "1D2"), 100.0);
    EXPECT_EQ(fed(".", 3000000, "1d3000001"), 1.0);
}

}  // namespace
}  // namespace talvo
