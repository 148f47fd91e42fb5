// Opening, replacing and failing files.
#include "textio/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/threads.h"
#include "helpers.h"
#include "results/rows.h"

namespace talvo {
namespace {

namespace fs = std::filesystem;
using testing::report_of;

class Files : public testing::InTempDir {};

format::Item one = format::Item::of(1.0);

TEST_F(Files, OpeningCreatesAMissingFileAndFailsForAReason) {
    EXPECT_EQ(trim_name("  a b.dat        "), "a b.dat");
    InFile in;
    in.open(" missing.dat                            ");
    EXPECT_EQ(fs::file_size("missing.dat"), 0u);
    fs::create_directory("sub");
    EXPECT_EQ(report_of([] { InFile().open("nodir/x.dat"); }),
              "\r\nrun-time error F6416: OPEN(nodir/x.dat)\r\n- no such file or directory\r\n");
    EXPECT_NE(report_of([] { InFile().open("sub"); }).find("F6414: OPEN(sub)"), std::string::npos);
    EXPECT_NE(report_of([] { OutFile().open("sub"); }).find("F6414: OPEN(sub)"), std::string::npos);
    EXPECT_NE(report_of([] { InFile().open(std::string("a\0b", 3)); }).find("F6412"), std::string::npos);
    EXPECT_NE(report_of([] { InFile().open(std::string(300, 'n')); }).find("F6412"), std::string::npos);
}

TEST_F(Files, TheFirstWriteReplacesAnOlderFile) {
    std::ofstream("temp.cov") << "an older and much longer content\r\nwith two lines\r\n";
    OutFile out;
    out.open("temp.cov");
    EXPECT_EQ(slurp("temp.cov").size(), 50u);  // opening alone changes nothing
    out.write(format::translate("(F5.1,$)"), {&one, 1});
    out.write(format::translate("(F5.1)"), {&one, 1});
    out.close();
    EXPECT_EQ(slurp("temp.cov"), "  1.0  1.0\r\n");
}

TEST_F(Files, AReadOnlyFileIsReadButNotWritten) {
    std::ofstream("ro.dat") << "1 2 3";
    fs::permissions("ro.dat", fs::perms::owner_read);
    if (access("ro.dat", W_OK) == 0) GTEST_SKIP() << "running with rights that ignore permissions";
    InFile in;
    in.open("ro.dat");
    OutFile out;
    out.open("ro.dat");
    EXPECT_EQ(report_of([&] {
                  out.write(format::translate("(F5.1)"), {&one, 1});
              }),
              "\r\nrun-time error F6414: WRITE(ro.dat)\r\n- access to the file denied\r\n");
    EXPECT_EQ(slurp("ro.dat"), "1 2 3");
}

// Rows made in blocks on the threads give the file, and the fault, of rows
// written one after another: a format fault in row 2500 (a value the
// format cannot take) after 2499 rows that each fill two records.
TEST_F(Files, RowsMadeOnThreadsAreWrittenInOrder) {
    const format::Format f = format::translate("(F6.1/F6.1,:,Q)");
    auto row = [](std::int32_t I) {
        std::vector<format::Item> v{format::Item::of(I), format::Item::of(-I), format::Item::of(I)};
        v.resize(I == 9000 ? 3 : 2);  // in a round written while a later one is made, or in the last
        return v;
    };
    OutFile serial_file;
    serial_file.open("one.txt");
    const std::string serial = report_of([&] {
        for (std::int32_t I = 1; I <= 20000; ++I) serial_file.write(f, row(I));
    });
    serial_file.close_quietly();
    for (int threads : {1, 2, 7}) {
        use_threads(threads);
        OutFile blocks;
        blocks.open("blocks.txt");
        EXPECT_EQ(
            report_of(
                [&] { write_rows(blocks, 20000, [&](std::int32_t I, RowOutput& out) { out.statement(f, row(I)); }); }),
            std::string(
                "\r\nrun-time error F6989: WRITE(blocks.txt)\r\n- character not part of the format notation\r\n"));
        blocks.close_quietly();
        EXPECT_EQ(slurp("blocks.txt"), slurp("one.txt")) << threads;
    }
    use_threads(0);
    EXPECT_EQ(serial, "\r\nrun-time error F6989: WRITE(one.txt)\r\n- character not part of the format notation\r\n");
}

// A case's observed flags, written at once, are the records their format
// gives them: one, or more from the 41st flag on.
TEST_F(Files, FlagsAreTheRecordsOfTheirFormat) {
    const format::Format f = format::translate("(' ',40(I1,1X))");
    const std::int32_t sizes[] = {1, 2, 39, 40, 41, 79, 80, 81, 130};
    std::vector<std::uint8_t> flag(131);
    for (std::size_t J = 1; J < flag.size(); ++J) flag[J] = static_cast<std::uint8_t>(J * 7 % 3 == 0);
    OutFile direct, walked;
    direct.open("direct.txt");
    walked.open("walked.txt");
    write_rows(direct, 9, [&](std::int32_t I, RowOutput& out) { out.flags(flag.data(), sizes[I - 1]); });
    for (std::int32_t K : sizes) {
        std::vector<format::Item> items;
        for (std::int32_t J = 1; J <= K; ++J) items.push_back(format::Item::of_int(flag[static_cast<std::size_t>(J)]));
        walked.write(f, items);
    }
    direct.close();
    walked.close();
    EXPECT_EQ(slurp("direct.txt"), slurp("walked.txt"));
}

}  // namespace
}  // namespace talvo
