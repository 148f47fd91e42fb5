// Free-form reads of the data and start-value files.
#include "textio/freeform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "helpers.h"

namespace talvo {
namespace {

using V = std::vector<double>;

class FreeForm : public ::testing::Test {
protected:
    void file(const std::string& content) {
        if (f_) std::fclose(f_);
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
    V read(std::size_t n) {
        V v(n, -1.0);
        reader_->read(n, [&](std::size_t i, double x) { v[i] = x; });
        return v;
    }
    // The error number a statement of n values ends with (0 for none).
    int error_of(std::size_t n) {
        try {
            read(n);
        } catch (const RunEnd& e) {
            EXPECT_EQ(e.file, "data.txt");
            return e.number;
        }
        return 0;
    }
    FILE* f_ = nullptr;
    std::unique_ptr<FreeFormReader> reader_;
};

TEST_F(FreeForm, NumberFormsAndLayouts) {
    file("3 -2.5 1.E3 4D-2 +7 1.5-3 2e+2 .5 -0 1d1");
    V v = read(10);
    EXPECT_EQ(v, (V{3, -2.5, 1000, 0.04, 7, 0.0015, 200, 0.5, 0, 10}));
    EXPECT_TRUE(std::signbit(v[8]));
    file("1,2 , 3\t4\r\n5,\n6");
    EXPECT_EQ(read(6), (V{1, 2, 3, 4, 5, 6}));
    file("1e-999 2e-324 4.9e-324");
    EXPECT_EQ(read(3), (V{0.0, 0.0, 4.9406564584124654e-324}));
}

TEST_F(FreeForm, NullsRepeatsSlashAndStatements) {
    file("1,,3\n2*5 7\n3*\n1 2 / 9 9\n,4\n1,\n,2\n2*,8\n4*1\n2 99 junk\n123456789012345678901234567890*3\n5\n6 7");
    EXPECT_EQ(read(3), (V{1, -1, 3}));
    EXPECT_EQ(read(3), (V{5, 5, 7}));
    EXPECT_EQ(read(3), (V{-1, -1, -1}));
    EXPECT_EQ(read(4), (V{1, 2, -1, -1}));
    EXPECT_EQ(read(2), (V{-1, 4}));
    EXPECT_EQ(read(3), (V{1, -1, 2}));  // the comma before a line end is no null
    EXPECT_EQ(read(3), (V{-1, -1, 8}));
    EXPECT_EQ(read(2), (V{1, 1}));  // a repeat cut at the end of the statement ...
    EXPECT_EQ(read(1), (V{2}));     // ... and the rest of the line skipped
    EXPECT_EQ(read(3), (V{3, 3, 3}));
    EXPECT_EQ(read(2), (V{5, 6}));
    EXPECT_EQ(error_of(1), 6501);
}

TEST_F(FreeForm, Errors) {
    for (const auto& row : testing::table("freeform_errors.txt")) {
        file(testing::cell(row[1]));
        EXPECT_EQ(error_of(3), std::stoi(row[0])) << row[1];
    }
}

TEST_F(FreeForm, ItemsAcrossTheReadBlocks) {
    // Values around the 1 MiB block boundary, an item longer than a block,
    // and a carriage return that ends one block before its line feed.
    std::string text;
    V want;
    for (int i = 0; text.size() < (1u << 20) + 100; ++i) {
        text += std::to_string(i) + ".25 ";
        want.push_back(i + 0.25);
    }
    text += "1." + std::string(3u << 20, '0') + "1\r\n7\r\n";
    want.insert(want.end(), {1.0, 7.0});
    file(text);
    EXPECT_EQ(read(want.size()), want);
    std::string edge(1u << 20, ' ');
    edge[(1u << 20) - 3] = '5';
    edge[(1u << 20) - 1] = '\r';
    file(edge + "\n6");
    EXPECT_EQ(read(2), (V{5, 6}));
}

TEST_F(FreeForm, AFailingReadIsReported) {
    int dir = open("/tmp", O_RDONLY | O_DIRECTORY);
    FreeFormReader reader(dir, "folder");
    EXPECT_EQ(testing::report_of([&] { reader.read(1, [](std::size_t, double) {}); }),
              "\r\nrun-time error F6500: READ(folder)\r\n- read failure reported by the operating system\r\n");
    close(dir);
}

}  // namespace
}  // namespace talvo
