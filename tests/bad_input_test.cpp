// Hostile and mistaken input: pipes, devices and endless files as data
// files, numbers of enormous length, absurd sizes and rows. Each must end
// soon, in bounded memory, with the sound result.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "helpers.h"
#include "state/allocate.h"
#include "textio/files.h"
#include "textio/freeform.h"
#include "textio/numbers.h"

namespace talvo {
namespace {

using testing::report_of;

class BadInput : public testing::InTempDir {};

// The report that reading `count` values from the named file ends with.
std::string read_report(const std::string& name, std::size_t count) {
    return report_of([&] {
        InFile file;
        file.open(name);
        FreeFormReader(file.fd(), file.name()).read(count, [](std::size_t, double) {});
    });
}

std::string report(int number, const std::string& file, const char* what) {
    return "\r\nrun-time error F" + std::to_string(number) + ": READ(" + file + ")\r\n- " + what + "\r\n";
}

TEST_F(BadInput, PipesDevicesAndEndlessFilesAsData) {
    // A pipe whose writer closes after three values: the end of the file.
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    std::thread writer([] { std::ofstream("fifo") << "1 2 3"; });
    EXPECT_EQ(read_report("fifo", 8), report(6501, "fifo", "end of file"));
    writer.join();
    EXPECT_EQ(read_report("/dev/null", 1), report(6501, "/dev/null", "end of file"));
    // Zero bytes without end, from a device or a sparse file of 2 GiB: the
    // first one cannot belong to a number.
    EXPECT_EQ(read_report("/dev/zero", 1), report(6103, "/dev/zero", "invalid real"));
    std::ofstream("sparse.dat").close();
    std::filesystem::resize_file("sparse.dat", std::uintmax_t{2} << 30);
    EXPECT_EQ(read_report("sparse.dat", 1), report(6103, "sparse.dat", "invalid real"));
    // A device takes results.
    const format::Item one = format::Item::of(1.0);
    EXPECT_EQ(report_of([&] {
                  OutFile out;
                  out.open("/dev/null");
                  out.write(format::translate("(F5.1)"), {&one, 1});
                  out.close();
              }),
              "");
}

TEST(BadInputNumbers, EveryDigitOfAnEnormousNumberCounts) {
    // 1, then 100,000,400 zeros, then D-100000400: the value 1, read in
    // pieces as the free-form reader feeds them.
    const std::string zeros(1 << 20, '0');
    auto value_of = [&](std::string_view head, long count, std::string_view tail) {
        numbers::Scanner s;
        s.feed(head);
        for (long left = count; left > 0; left -= static_cast<long>(zeros.size()))
            s.feed(std::string_view(zeros).substr(0, static_cast<std::size_t>(std::min<long>(left, 1 << 20))));
        EXPECT_EQ(s.feed(tail), tail.size());
        double v = -1;
        EXPECT_EQ(s.value(0, false, v), 0) << head << " " << tail;
        return v;
    };
    EXPECT_EQ(value_of("1", 100000400, "D-100000400"), 1.0);
    EXPECT_EQ(value_of("+1", 3000000, "E-3000000"), 1.0);
    EXPECT_EQ(value_of("-15", 3000000, "-3000001"), -1.5);
    EXPECT_EQ(value_of("1.", 3000000, "1D2"), 100.0);
    EXPECT_EQ(value_of(".", 3000000, "1d3000001"), 1.0);
}

TEST(BadInputSizes, WorkArraysTakeNoMemoryBeforeTheyAreUsed) {
    // A mistyped K: the arrays take 800 MB, none of which is touched.
    auto resident = [] {
        long pages = 0, resident_pages = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident_pages;
        return resident_pages * sysconf(_SC_PAGESIZE);
    };
    talvo::Run run;
    run.N = 5;
    run.K = 3000;
    const long before = resident();
    allocate(run);
    EXPECT_LT(resident() - before, static_cast<long>(*storage_bytes(run.N, run.K) / 20));
    EXPECT_EQ(run.COV(3000, 3000) + run.X(5, 6001) + run.PSN(1, 1), 0.0);
}

TEST(BadInputRows, ARowOfAnyLengthIsWritten) {
    // 70,000 fields of 1,000 characters: more work than a statement may do
    // before its values are counted.
    struct Counter final : format::RecordSink {
        std::int64_t bytes = 0;
        void record(std::string_view rec, bool) override { bytes += static_cast<std::int64_t>(rec.size()); }
    } counter;
    const std::vector<format::Item> row(70000, format::Item::of(1.5));
    EXPECT_EQ(format::write(counter, format::translate("(F1000.1)"), row), 0);
    EXPECT_EQ(counter.bytes, 70000 * 1000);
}

}  // namespace
}  // namespace talvo
