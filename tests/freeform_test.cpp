// Free-form reads of the data and start-value files.
#include "textio/freeform.h"

#include "textio/numbers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace talvo {
namespace {

class FreeForm : public ::testing::Test {
protected:
    void file(const std::string& content) {
        f_ = std::tmpfile();
        std::fwrite(content.data(), 1, content.size(), f_);
        std::fflush(f_);
        std::rewind(f_);
        reader_ = std::make_unique<FreeFormReader>(fileno(f_), "data.txt");
    }
    void TearDown() override {
        if (f_) std::fclose(f_);
    }
    // One statement into a list that starts as -1 everywhere.
    std::vector<double> read(size_t n) {
        std::vector<double> v(n, -1.0);
        reader_->read(n, [&](size_t i, double x) { v[i] = x; });
        return v;
    }
    // The error number a statement ends with (0 for none).
    int error_of(size_t n) {
        try {
            read(n);
        } catch (const RunEnd& e) {
            EXPECT_EQ(e.file, "data.txt");
            EXPECT_EQ(e.stmt, Stmt::Read);
            return e.number;
        }
        return 0;
    }
    FILE* f_ = nullptr;
    std::unique_ptr<FreeFormReader> reader_;
};

using V = std::vector<double>;

TEST_F(FreeForm, LayoutsGiveTheSameValues) {
    V want{1, 2, 3, 4, 5, 6};
    for (const char* text : {"1\n2\n3\n4\n5\n6\n", "1 2 3\n4 5 6\n", "1 2 3 4 5 6", "1,2 , 3\t4\r\n5,\n6"}) {
        file(text);
        EXPECT_EQ(read(6), want) << text;
    }
}

TEST_F(FreeForm, NumberForms) {
    file("3 -2.5 1.E3 4D-2 +7 1.5-3 2e+2 .5 -0 1d1");
    V v = read(10);
    EXPECT_EQ(v, (V{3, -2.5, 1000, 0.04, 7, 0.0015, 200, 0.5, 0, 10}));
    EXPECT_TRUE(std::signbit(v[8]));
}

TEST_F(FreeForm, NullsRepeatsAndSlash) {
    file("1,,3\n2*5 7\n3*\n1 2 / 9 9\n,4\n1,\n,2\n2*,8\n");
    EXPECT_EQ(read(3), (V{1, -1, 3}));
    EXPECT_EQ(read(3), (V{5, 5, 7}));
    EXPECT_EQ(read(3), (V{-1, -1, -1}));
    EXPECT_EQ(read(4), (V{1, 2, -1, -1}));
    EXPECT_EQ(read(2), (V{-1, 4}));
    EXPECT_EQ(read(3), (V{1, -1, 2}));  // the comma before a line end is no null
    EXPECT_EQ(read(3), (V{-1, -1, 8}));
}

TEST_F(FreeForm, EachStatementStartsOnANewLine) {
    file("1 2 99 junk\n3 4\n5\n6 7");
    EXPECT_EQ(read(2), (V{1, 2}));
    EXPECT_EQ(read(1), (V{3}));
    EXPECT_EQ(read(2), (V{5, 6}));
    EXPECT_EQ(error_of(1), 6501);
}

TEST_F(FreeForm, ARepeatCutAtTheEndOfTheStatement) {
    file("4*1\n2\n123456789012345678901234567890*3\n");
    EXPECT_EQ(read(2), (V{1, 1}));
    EXPECT_EQ(read(1), (V{2}));
    EXPECT_EQ(read(3), (V{3, 3, 3}));
}

TEST_F(FreeForm, Errors) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        int error;
    } cases[] = {
        {"1 2", 6501}, {"", 6501}, {"1 abc 3", 6103}, {"1 0*3 3", 6502}, {"2*3*4 1 1", 6503}, {"1e999 1 1", 6102},
        {"-1e999", 6102}, {"1 . 2", 6103}, {"+ 1 2", 6103}, {"1e 2 3", 6103}, {"1 2\r3", 6103}, {"a*3 1 1", 6103},
        {"*3 1 1", 6103}, {"inf 1 1", 6103}, {"nan 1 1", 6103}, {"0x10 1 1", 6103}, {"1\0 2 3"s, 6103},
        {"\xEF\xBB\xBF" "1 2 3", 6103},
    };
    for (const Case& c : cases) {
        file(c.text);
        EXPECT_EQ(error_of(3), c.error) << c.text;
    }
}

TEST_F(FreeForm, UnderflowIsZero) {
    file("1e-999 2e-324 4.9e-324");
    V v = read(3);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_EQ(v[2], 4.9406564584124654e-324);
}

TEST_F(FreeForm, ItemsAcrossTheReadBlocksAndVeryLongItems) {
    // Values around the 1 MiB block boundary, and one item longer than a block.
    std::string text;
    std::vector<double> want;
    for (int i = 0; text.size() < (1u << 20) + 100; ++i) {
        text += std::to_string(i) + ".25 ";
        want.push_back(i + 0.25);
    }
    std::string long_item = "1." + std::string(3u << 20, '0') + "1";
    text += long_item + "\r\n7\r\n";
    want.push_back(1.0);
    want.push_back(7.0);
    file(text);
    EXPECT_EQ(read(want.size()), want);
}

TEST_F(FreeForm, CarriageReturnAtABlockBoundary) {
    std::string text(1u << 20, ' ');
    text[(1u << 20) - 3] = '5';
    text[(1u << 20) - 1] = '\r';
    text += "\n6";
    file(text);
    EXPECT_EQ(read(2), (V{5, 6}));
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

TEST_F(FreeForm, TheQuickConversionGivesTheGeneralValues) {
    // Random decimal items: the reader takes its quick path for most; each
    // value must be the correctly rounded one the general parser gives.
    std::mt19937_64 gen(23);
    std::string text;
    std::vector<std::string> items;
    for (int i = 0; i < 200000; ++i) {
        std::string s;
        if (gen() % 4 == 0) s += gen() % 2 ? "-" : "+";
        int intd = static_cast<int>(gen() % 12), fracd = static_cast<int>(gen() % 12);
        for (int d = 0; d < intd; ++d) s += static_cast<char>('0' + gen() % 10);
        if (gen() % 3) {
            s += '.';
            for (int d = 0; d < fracd; ++d) s += static_cast<char>('0' + gen() % 10);
        }
        if (s.find_first_of("0123456789") == std::string::npos) s += '7';
        if (gen() % 4 == 0) s += "E" + std::to_string(static_cast<int>(gen() % 60) - 30);
        items.push_back(s);
        text += s + (gen() % 5 ? " " : "\n");
    }
    file(text);
    std::vector<double> got = read(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        double want = 0;
        ASSERT_EQ(numbers::parse_real(items[i], 0, false, want), 0) << items[i];
        ASSERT_EQ(std::memcmp(&want, &got[i], sizeof want), 0) << items[i] << ": " << want << " vs " << got[i];
    }
}

}  // namespace
}  // namespace talvo
