// Format texts: translation into instructions and the output statement.
#include "textio/format.h"

#include <gtest/gtest.h>

#include <chrono>

#include "helpers.h"
#include "textio/errors.h"

namespace talvo::format {
namespace {

using talvo::testing::Recorder;
using talvo::testing::run_format;

std::string ints(std::string_view text, std::vector<std::int64_t> values) {
    Format f = translate(text);
    std::vector<Item> items;
    for (auto v : values) items.push_back(Item::of_int(v));
    Recorder r;
    int e = write(r, f, items);
    std::string out;
    for (size_t i = 0; i < r.records.size(); ++i) out += (i ? "|" : "") + r.records[i];
    if (e) out += "|E" + std::to_string(e);
    return out;
}

const std::string f12_1 = "   1.0000000";
const std::string f12_2 = "   2.0000000";

std::string fields(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += f12_1;
    return s;
}

TEST(Translate, Listings) {
    EXPECT_EQ(listing(translate("(1X,6(F12.7))")),
              "0 TR 1\n1 GROUP r=6 end=3\n2 F r=1 w=12 d=7\n3 ENDGROUP body=2\n4 END revert=1\n");
    EXPECT_EQ(listing(translate(" ( 6 F 1 2 . 7 )   trailing")), "0 F r=6 w=12 d=7\n1 END revert=0\n");
    EXPECT_EQ(listing(translate("('it''s',2PE12.4E3,:,$)")),
              "0 LIT 'it's'\n1 P 2\n2 E r=1 w=12 d=4 e=3\n3 COLON\n4 DOLLAR\n5 END revert=0\n");
    EXPECT_EQ(listing(translate("(F10.3,2(1X))")),
              "0 F r=1 w=10 d=3\n1 GROUP r=2 end=3\n2 TR 1\n3 ENDGROUP body=2\n4 END revert=-1\n");
    EXPECT_EQ(listing(translate("(I5.3,T10,TL2,TR3,SP,SS,S,BN,BZ,-1P,3Hx y,Z,A4,L2,G9.2)")),
              "0 I r=1 w=5 m=3\n1 T 10\n2 TL 2\n3 TR 3\n4 SP\n5 SS\n6 SS\n7 BLANKS\n8 BLANKS\n9 P -1\n"
              "10 LIT 'x y'\n11 Z r=1 w=0\n12 A r=1 w=4\n13 L r=1 w=2\n14 G r=1 w=9 d=2\n15 END revert=0\n");
    // Commas: optional between items, one allowed right after an inner "(".
    EXPECT_EQ(listing(translate("((,F5.1)F5.1,)")),
              "0 GROUP r=1 end=2\n1 F r=1 w=5 d=1\n2 ENDGROUP body=1\n3 F r=1 w=5 d=1\n4 END revert=0\n");
}

TEST(Translate, EveryFormatErrorNumber) {
    struct Case {
        const char* text;
        int error;
    } cases[] = {
        {"(F)", 6980}, {"(F12.)", 6980}, {"(E12.4E)", 6980}, {"(T)", 6980}, {"(TL)", 6980}, {"(+)", 6980},
        {"(L)", 6980}, {"(I)", 6980}, {"(I5.)", 6980},
        {"F12.7", 6981}, {"", 6981}, {"  x(F5.1)", 6981},
        {"(0F12.7)", 6982}, {"(0X)", 6982}, {"(0(F5.1))", 6982}, {"(+2X)", 6982}, {"(0H)", 6982},
        {"(3/)", 6983}, {"(2'ab')", 6983}, {"(2T5)", 6983}, {"(2:)", 6983}, {"(2$)", 6983}, {"(2SP)", 6983},
        {"(2BN)", 6983},
        {"(X)", 6984}, {"(H)", 6984}, {"(P)", 6984}, {"(F5.1,X)", 6984},
        {"(BX)", 6985},
        {"(((((((((((((((((((F5.1)))))))))))))))))))", 6986},
        {"(F12)", 6987}, {"(E12)", 6987}, {"(G12E2)", 6987},
        {"(6F12.7", 6988}, {"('abc", 6988}, {"(5Habc", 6988}, {"(6F12.7,3", 6988}, {"(F", 6988}, {"(F5", 6988},
        {"(F5.", 6988}, {"(B", 6988}, {"(-2", 6988}, {"(E9.2E", 6988}, {"(T", 6988},
        {"(,F5.1)", 6989}, {"(F5.1,,F5.1)", 6989}, {"(Q)", 6989}, {"(\"x\")", 6989}, {"(F5.1,3)", 6989},
        {"(.)", 6989}, {"(C)", 6989}, {"(F5.1 Q)", 6989}, {"(A.5)", 6989},
        {"(I3.4)", 6990},
        {"(F2147483648.2)", 6991}, {"(2147483648X)", 6991},
    };
    for (const Case& c : cases) {
        Format f = translate(c.text);
        ASSERT_FALSE(f.code.empty()) << c.text;
        EXPECT_EQ(f.code.back().op, Op::Error) << c.text;
        EXPECT_EQ(f.code.back().error, c.error) << c.text;
    }
    // Sixteen levels inside the outer parentheses are allowed.
    EXPECT_EQ(translate("((((((((((((((((F5.1))))))))))))))))").code.back().op, Op::End);
    EXPECT_EQ(translate("(F2147483647.2)").code.back().op, Op::End);
}

TEST(Write, DefaultFormatAndReversion) {
    std::vector<double> eight(8, 1.0);
    EXPECT_EQ(run_format("(6F12.7)", eight), fields(6) + "|" + fields(2));
    EXPECT_EQ(run_format("(6f12.7)", eight), fields(6) + "|" + fields(2));
    EXPECT_EQ(run_format("(1X,6F12.7)", eight), " " + fields(6) + "| " + fields(2));
    EXPECT_EQ(run_format("(1X,6(F12.7))", eight), " " + fields(6) + "|" + fields(2));
    EXPECT_EQ(run_format("(F12.7)", {1.0, 2.0}), f12_1 + "|" + f12_2);
    EXPECT_EQ(run_format("(6F12.7)", {10000.0, 0.5}), "************    .5000000");
}

TEST(Write, LiteralsColonAndTheWalkAfterTheLastValue) {
    std::vector<double> six(6, 1.0), eight(8, 1.0);
    EXPECT_EQ(run_format("(6F12.7,:'end')", six), fields(6));
    EXPECT_EQ(run_format("(6F12.7,:'end')", eight), fields(6) + "end|" + fields(2));
    EXPECT_EQ(run_format("(6F12.7,' end')", six), fields(6) + " end");
    EXPECT_EQ(run_format("(6F12.7,' end')", eight), fields(6) + " end|" + fields(2));
    EXPECT_EQ(run_format("(F5.1//)", {1.0}), "  1.0||");
    EXPECT_EQ(run_format("(F5.1/F5.1)", {1.0, 2.0}), "  1.0|  2.0");
    EXPECT_EQ(run_format("('a',F5.1,'b')", {1.0, 2.0}), "a  1.0b|a  2.0b");
    EXPECT_EQ(run_format("(3Habc,F5.1)", {1.0}), "abc  1.0");
    EXPECT_EQ(run_format("()", {}), "");
}

TEST(Write, FaultsStrikeWhereTheWalkMeetsThem) {
    std::vector<double> five(5, 1.0), six(6, 1.0), eight(8, 1.0);
    EXPECT_EQ(run_format("6F12.7", eight), "E6981");
    EXPECT_EQ(run_format("(6F12.7", five), fields(5));
    EXPECT_EQ(run_format("(6F12.7", six), "E6988");
    EXPECT_EQ(run_format("(6F12.7", eight), "E6988");
    EXPECT_EQ(run_format("(6I12)", eight), "E6206");
    EXPECT_EQ(run_format("('x')", {1.0}), "E6206");
    EXPECT_EQ(run_format("(F10.3,2(1X))", {1.0}), "     1.000");
    EXPECT_EQ(run_format("(F10.3,2(1X))", {1.0, 2.0}), "E6206");
    EXPECT_EQ(run_format("(6F12.7,Q)", eight), "E6989");
    EXPECT_EQ(run_format("(F5.1,:,Q)", {1.0}), "  1.0");
    EXPECT_EQ(run_format("(L5)", {1.0}), "E6206");
    EXPECT_EQ(run_format("()", {1.0}), "E6206");
    // Records finished before the fault stay.
    EXPECT_EQ(run_format("(F5.1/Q)", {1.0, 2.0}), "  1.0|E6989");
}

TEST(Write, DescriptorsOfTheTable) {
    EXPECT_EQ(run_format("(E15.6)", {1.0, 1.0e-120}), "    .100000E+01|    .100000-119");
    EXPECT_EQ(run_format("(G12.4)", {123.456, 123456.0}), "   123.5    |   .1235E+06");
    EXPECT_EQ(run_format("(Z16)", {1.0}), "3FF0000000000000");
    EXPECT_EQ(run_format("(SP,F8.2)", {1.5}), "   +1.50");
    EXPECT_EQ(run_format("(SP,F8.2,SS,F8.2)", {1.5, 1.5}), "   +1.50    1.50");
    EXPECT_EQ(run_format("(D12.4)", {1234.5}), "   .1235D+04");
    EXPECT_EQ(run_format("(2PF8.2)", {1.5}), "  150.00");
    EXPECT_EQ(run_format("(F0.2,'|')", {1.5}), "|");
    // Scale factor and sign stay in force across reversion.
    EXPECT_EQ(run_format("(1P,(F8.2))", {1.5, 2.5}), "   15.00|   25.00");
}

TEST(Write, Positioning) {
    EXPECT_EQ(run_format("(T5,'a',T2,'b')", {}), " b  a");
    EXPECT_EQ(run_format("(5X,'a')", {}), "     a");
    EXPECT_EQ(run_format("('abc',TL2,'X')", {}), "aXc");
    EXPECT_EQ(run_format("('abc',TL9,'X')", {}), "Xbc");
    EXPECT_EQ(run_format("('a',5X)", {}), "a");
    EXPECT_EQ(run_format("('a',TR2,'b')", {}), "a  b");
    EXPECT_EQ(run_format("('abcdef',T3,F2.0)", {1.0}), "ab1.ef");
    // An empty field writes nothing, so a skip before it stays pending.
    EXPECT_EQ(run_format("(5X,F0.1)", {1.0}), "");
    EXPECT_EQ(run_format("('a',5X,'','b')", {}), "a     b");
}

TEST(Write, Dollar) {
    EXPECT_EQ(run_format("('abc',$)", {}), "abc$");
    EXPECT_EQ(run_format("(F5.1,\\)", {1.0}), "  1.0$");
    EXPECT_EQ(run_format("(F5.1,$,F5.1)", {1.0, 2.0}), "  1.0  2.0");
}

TEST(Write, FixedFormatsOfTheProgram) {
    EXPECT_EQ(ints("('0 CASE #',I2)", {3}), "0 CASE # 3");
    std::vector<std::int64_t> flags(41, 1);
    std::string first = " ";
    for (int i = 0; i < 40; ++i) first += i ? " 1" : "1";
    EXPECT_EQ(ints("(' ',40(I1,1X))", flags), first + "|1");
    EXPECT_EQ(ints("(' ',40(I1,1X))", {1, 0}), " 1 0");
    std::vector<std::int64_t> order(16);
    for (int i = 0; i < 16; ++i) order[i] = i + 1;
    EXPECT_EQ(ints("(15(I3,1X))", order),
              "  1   2   3   4   5   6   7   8   9  10  11  12  13  14  15|" + std::string(" 16"));
    std::vector<double> ten(10, -1.5);
    std::string eight_fields;
    for (int i = 0; i < 8; ++i) eight_fields += i ? "    -1.500" : "   -1.500";
    EXPECT_EQ(run_format("(8(F9.3,1X))", ten), eight_fields + "|   -1.500    -1.500");
}

TEST(Write, AbsurdRepetitionEndsQuickly) {
    auto start = std::chrono::steady_clock::now();
    // Bodies that do nothing are not repeated.
    EXPECT_EQ(run_format("(99(99(99(99(99(1X,TL1))))),F5.1)", {1.0}), "  1.0");
    EXPECT_EQ(run_format("(99(99(99(99(99(:))))),F5.1)", {1.0}), "  1.0");
    // Records that would grow without end are refused.
    EXPECT_EQ(run_format("(99(99(99(99(99('ab'))))),F5.1)", {1.0}), "E6207");
    EXPECT_EQ(run_format("(99(99(99(99(99(1X))))),F5.1)", {1.0}), "E6207");
    EXPECT_EQ(run_format("(2147483647X,'a')", {}), "E6207");
    EXPECT_EQ(run_format("(T2147483647,'a')", {}), "E6207");
    EXPECT_EQ(run_format("(F2147483647.2)", {1.0}), "E6207");
    // Endless empty records too.
    struct Counter final : RecordSink {
        long n = 0;
        void record(std::string_view, bool) override { ++n; }
    } counter;
    std::vector<Item> one{Item::of(1.0)};
    EXPECT_EQ(write(counter, translate("(99(99(99(99(99(/))))),F5.1)"), one), 6207);
    EXPECT_GT(counter.n, 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
}  // namespace talvo::format

namespace talvo::format {
namespace {

TEST(Write, OneTranslationServesEveryRow) {
    // The result files translate the format once; each statement must give
    // the same records and faults as a translation of its own.
    const char* texts[] = {"(6F12.7)",        "(1X,6(F12.7))", "(3F9.3,:' end')", "(6F12.7,Q)", "(6F12.7",
                           "(SP,2PE12.4,/)", "(F10.3,2(1X))", "(1P,(F8.2),$)",   "('x')",      "(G12.4,T3,Z5)"};
    std::vector<double> row{1.5, -2.25, 1e-7, 123456.789, 0.0, 3.0, -0.5, 9.75};
    std::vector<Item> items;
    for (double v : row) items.push_back(Item::of(v));
    for (const char* text : texts) {
        Format once = translate(text);
        Recorder a, b;
        std::vector<int> ea, eb;
        for (size_t n = 0; n <= row.size(); ++n) {
            std::span<const Item> part(items.data(), n);
            ea.push_back(write(a, once, part));
            eb.push_back(write(b, translate(text), part));
        }
        EXPECT_EQ(a.records, b.records) << text;
        EXPECT_EQ(ea, eb) << text;
    }
}

}  // namespace
}  // namespace talvo::format
