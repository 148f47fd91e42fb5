// Format texts and the number renderer: translation faults, output
// statements, and the rendering of every descriptor. Records are joined by
// '|', so leading and trailing blanks show.
#include "textio/format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "helpers.h"
#include "reference/reference.h"
#include "textio/render.h"

namespace talvo::format {
namespace {

using talvo::testing::run_format;

TEST(Translate, EveryFormatErrorNumber) {
    for (const auto& row : testing::table("format_errors.txt")) {
        Format f = translate(row[1]);
        EXPECT_EQ(f.code.back().error, std::stoi(row[0])) << row[1] << "\n" << reference::listing(f);
    }
    // Sixteen levels inside the outer parentheses are allowed.
    EXPECT_EQ(translate("((((((((((((((((F5.1))))))))))))))))").code.back().op, Op::End);
}

TEST(Write, EveryCaseOfTheTable) {
    for (const auto& row : testing::table("formats.txt")) {
        std::vector<double> values;
        std::istringstream in(row[1]);
        for (std::string v; in >> v;) values.push_back(std::strtod(v.c_str(), nullptr));
        EXPECT_EQ("[" + run_format(row[0], values) + "]", row[2]) << row[0] << " with " << row[1];
    }
    // The widest fields, and A: the value's bytes.
    EXPECT_EQ(run_format("(F400.2)", {std::numeric_limits<double>::max()}),
              std::string(140, ' ') + std::string(260, '*'));
    EXPECT_EQ(run_format("(F300.257)", {1.5}).substr(0, 44), std::string(41, ' ') + "1.5");
    EXPECT_EQ(run_format("(A,A10,A2)", {1, 1, 1}), std::string("\0\0\0\0\0\0\xF0\x3F  \0\0\0\0\0\0\xF0\x3F\0\0", 20));
}

// Fixed point, by its whole-number path or the general one, against the
// rules: random values of every magnitude, widths and digits.
TEST(Render, FixedPointIsThatOfTheRules) {
    std::mt19937_64 gen(29);
    for (int i = 0; i < 200000; ++i) {
        const double v =
            (gen() & 1 ? -1 : 1) * std::ldexp(1.0 + (gen() >> 12) * 0x1p-52, static_cast<int>(gen() % 110) - 40);
        const int w = 1 + static_cast<int>(gen() % 60), d = static_cast<int>(gen() % 19);
        const bool plus = gen() % 8 == 0;
        std::string got = "ab";
        render::fixed(got, v, w, d, 0, plus);
        got.erase(0, 2);
        ASSERT_EQ(got, reference::fixed(v, w, d, plus)) << v << " F" << w << "." << d;
    }
}

// E with no scale factor or 1P, by the whole-number path or the general
// one, against the rules.
TEST(Render, ExponentFormIsThatOfTheRules) {
    std::mt19937_64 gen(31);
    for (int i = 0; i < 200000; ++i) {
        const double v =
            (gen() & 1 ? -1 : 1) * std::ldexp(1.0 + (gen() >> 12) * 0x1p-52, static_cast<int>(gen() % 90) - 30);
        const int k = static_cast<int>(gen() % 2), d = 1 + static_cast<int>(gen() % 15),
                  e = static_cast<int>(gen() % 4) - 1;
        const int w = 3 + static_cast<int>(gen() % 28);
        const bool plus = gen() % 8 == 0;
        if (e == 0) continue;
        std::string got;
        render::exponential(got, v, w, d, e, k, plus, 'E');
        ASSERT_EQ(got, reference::exponential(v, w, d, e, k, plus))
            << v << " E" << w << "." << d << "E" << e << " " << k << "P";
    }
}

TEST(Write, EndlessRecordsAreRefusedARowOfAnyLengthIsNot) {
    struct Counter final : RecordSink {
        long n = 0, bytes = 0;
        void record(std::string_view rec, bool) override { ++n, bytes += static_cast<long>(rec.size()); }
    } counter;
    const Item one = Item::of(1.0);
    EXPECT_EQ(write(counter, translate("(99(99(99(99(99(/))))),F5.1)"), {&one, 1}), 6207);
    EXPECT_GT(counter.n, 1000);
    // 20,000 fields of 1,000 characters: more work than a statement may do
    // before its values are counted.
    counter.bytes = 0;
    EXPECT_EQ(write(counter, translate("(F1000.1)"), std::vector<Item>(20000, Item::of(1.5))), 0);
    EXPECT_EQ(counter.bytes, 20000 * 1000);
}

// A group that only moves the position is applied in closed form: it must
// end where its passes one by one end. Random groups of moves, nested two
// deep, against the same moves written out.
TEST(Write, RepeatedMovesEndWhereTheirPassesEnd) {
    std::mt19937 gen(5);
    auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    auto moves = [&] {
        std::string s;
        for (int i = 0, n = 1 + pick(3); i < n; ++i) {
            static const char* const kinds[] = {"TR", "TL", "T", "X", "SP,", "1P,"};
            const int k = pick(6);
            s += (i ? "," : "") + (k == 3 ? std::to_string(1 + pick(5)) + "X" : kinds[k] + std::to_string(1 + pick(6)));
            if (k >= 4) s.resize(s.size() - 2);  // SP and 1P take no number
        }
        return s;
    };
    auto repeat = [](const std::string& body, int r) {
        std::string s;
        for (int i = 0; i < r; ++i) s += (i ? "," : "") + body;
        return s;
    };
    for (int i = 0; i < 3000; ++i) {
        const std::string inner = moves(), before = moves(), head = "'" + std::string(pick(12), 'a') + "'";
        const int r1 = 1 + pick(9), r2 = 1 + pick(9);
        const std::string grouped = "(" + head + "," + std::to_string(r1) + "(" + before + "," + std::to_string(r2) +
                                    "(" + inner + ")),'X',F5.1)";
        const std::string written = "(" + head + "," + repeat(before + "," + repeat(inner, r2), r1) + ",'X',F5.1)";
        ASSERT_EQ(run_format(grouped, {1.5}), run_format(written, {1.5})) << grouped;
    }
}

TEST(Render, TheExactExpansionGivesTheGeneralDigits) {
    std::mt19937_64 gen(17);
    auto check = [](double v) {
        render::Decimal a = render::expand(v), b = render::expand_general(v);
        ASSERT_EQ(std::string(a.digit, 17) + std::to_string(a.exp) + (a.neg ? "-" : "+"),
                  std::string(b.digit, 17) + std::to_string(b.exp) + (b.neg ? "-" : "+"))
            << v;
    };
    for (int i = 0; i < 300000; ++i) {
        double v = std::ldexp(1.0 + (gen() >> 12) * 0x1p-52, static_cast<int>(gen() % 120) - 60);
        check(gen() & 1 ? v : -v);
        check(std::nextafter(v, 0.0));
    }
    // Ties at the 17th digit round to even; powers of ten and the edges of the range.
    for (double v : {1125899906842624.25, 1125899906842625.25, 1125899906842624.75, 9007199254740991.0,
                     9007199254740992.0, 4503599627370495.5, 1e-5, 0.99999999999999989, 0.1, 2.0 / 3})
        check(v);
    for (int p = -5; p <= 15; ++p) {
        const double t = std::pow(10.0, p);
        for (double v : {t, std::nextafter(t, 0.0), std::nextafter(t, 1e300)}) check(v);
    }
}

}  // namespace
}  // namespace talvo::format
