// Opening, replacing and failing files.
#include "textio/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "helpers.h"
#include "textio/errors.h"

namespace talvo {
namespace {

namespace fs = std::filesystem;

class Files : public talvo::testing::InTempDir {
protected:
    template <class F>
    static RunEnd failure(F f) {
        try {
            f();
        } catch (const RunEnd& e) {
            return e;
        }
        return RunEnd{};
    }
};

TEST_F(Files, NamesLoseTheirOuterBlanks) {
    EXPECT_EQ(trim_name("  a b.dat        "), "a b.dat");
    EXPECT_EQ(trim_name("     "), "");
}

TEST_F(Files, OpeningAMissingFileCreatesIt) {
    InFile in;
    in.open(" missing.dat                            ");
    EXPECT_TRUE(fs::exists("missing.dat"));
    EXPECT_EQ(fs::file_size("missing.dat"), 0u);
}

TEST_F(Files, OpenFailures) {
    RunEnd e = failure([] { InFile().open("nodir/x.dat"); });
    EXPECT_EQ(report_text(e), "\r\nrun-time error F6416: OPEN(nodir/x.dat)\r\n- no such file or directory\r\n");
    fs::create_directory("sub");
    e = failure([] { InFile().open("sub"); });
    EXPECT_EQ(e.number, err::AccessDenied);
    e = failure([] { OutFile().open("sub"); });
    EXPECT_EQ(e.number, err::AccessDenied);
    e = failure([] { InFile().open(std::string("a\0b", 3)); });
    EXPECT_EQ(e.number, err::BadFileName);
    e = failure([] { InFile().open(std::string(300, 'n')); });
    EXPECT_EQ(e.number, err::BadFileName);
}

TEST_F(Files, AReadOnlyFileIsReadButNotWritten) {
    std::ofstream("ro.dat") << "1 2 3";
    fs::permissions("ro.dat", fs::perms::owner_read);
    if (access("ro.dat", W_OK) == 0) GTEST_SKIP() << "running with rights that ignore permissions";
    InFile in;
    in.open("ro.dat");
    EXPECT_GE(in.fd(), 0);
    OutFile out;
    out.open("ro.dat");
    format::Format f = format::translate("(F5.1)");
    format::Item one = format::Item::of(1.0);
    RunEnd e = failure([&] { out.write(f, {&one, 1}); });
    EXPECT_EQ(report_text(e), "\r\nrun-time error F6414: WRITE(ro.dat)\r\n- access to the file denied\r\n");
    EXPECT_EQ(slurp("ro.dat"), "1 2 3");
}

TEST_F(Files, TheFirstWriteReplacesAnOlderFile) {
    std::ofstream("temp.cov") << "an older and much longer content\r\nwith two lines\r\n";
    OutFile out;
    out.open("temp.cov");
    EXPECT_EQ(slurp("temp.cov").size(), 50u);  // opening alone changes nothing
    format::Format f = format::translate("(2F5.1)");
    format::Item v[] = {format::Item::of(1.0), format::Item::of(2.0)};
    out.write(f, v);
    out.write(f, {v, 1});
    out.close();
    EXPECT_EQ(slurp("temp.cov"), "  1.0  2.0\r\n  1.0\r\n");
}

TEST_F(Files, AFormatFaultLeavesOnlyCompleteRecords) {
    std::ofstream("temp.cov") << "old";
    OutFile out;
    out.open("temp.cov");
    format::Item v[] = {format::Item::of(1.0), format::Item::of(2.0), format::Item::of(3.0)};
    RunEnd e = failure([&] { out.write(format::translate("6F12.7"), v); });
    EXPECT_EQ(report_text(e), "\r\nrun-time error F6981: WRITE(temp.cov)\r\n- format does not begin with (\r\n");
    out.close_quietly();
    EXPECT_EQ(slurp("temp.cov"), "");
    out.open("temp.cov");
    e = failure([&] { out.write(format::translate("(F5.1/F5.1,Q)"), v); });
    EXPECT_EQ(e.number, err::FmtBadChar);
    out.close_quietly();
    EXPECT_EQ(slurp("temp.cov"), "  1.0\r\n");
}

TEST_F(Files, DollarContinuesTheLine) {
    OutFile out;
    out.open("x.txt");
    format::Item one = format::Item::of(1.0);
    out.write(format::translate("(F5.1,$)"), {&one, 1});
    out.write(format::translate("(F5.1)"), {&one, 1});
    out.close();
    EXPECT_EQ(slurp("x.txt"), "  1.0  1.0\r\n");
}

TEST_F(Files, AFullDiskIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP();
    OutFile out;
    out.open("/dev/full");
    format::Item one = format::Item::of(1.0);
    out.write(format::translate("(F5.1)"), {&one, 1});
    RunEnd e = failure([&] { out.close(); });
    EXPECT_EQ(report_text(e), "\r\nrun-time error F6422: WRITE(/dev/full)\r\n- no space left on the disk\r\n");
}

}  // namespace
}  // namespace talvo
