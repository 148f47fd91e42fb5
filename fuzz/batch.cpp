// talvo-batch's reader on any command line and any data file. The input is
// the arguments, one a line, then a NUL byte, then the data file's bytes;
// without a NUL byte the whole input is the data file, read without
// options. The data file's name is put last on the command line, after
// "--" (it is a file in memory); the options are parsed and the file read and put into a
// run's X, as a run does, without the run.
//
// Checked besides crashes and sanitizer reports: a refusal of the file
// starts with the file's name, and then its line number where it gives one
// (a line of the file), and holds no control character but a tab unless
// the options hold one (it may show the file's text and the options); a refusal of the command line names an option or
// a column; a table read has at least 2 cases and 1 variable, every value in its N x K storage is finite or missing (as
// many missing as counted), and the run's X takes them all: rows 1..N and columns 0..K, the missing values as the code,
// every value finite; the ids are one row per case.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/table.h"
#include "base/errors.h"
#include "fuzz.h"
#include "state/allocate.h"

using namespace talvo;
using namespace talvo::batch;

namespace {

void check_refusal(const std::string& e, const std::string& name, std::string_view file, bool usage,
                   bool plain_options) {
    if (usage) {  // may show what the command line holds, as it is
        FUZZ_CHECK(e.starts_with("--") || e.starts_with("column ") || e.starts_with("no column"),
                   "a refusal of the command line that names no option or column");
        return;
    }
    FUZZ_CHECK(e.starts_with(name + ":"), "a refusal that does not begin with the file name");
    for (char c : e)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 || c == '\t' || !plain_options,
                   "a control character in a refusal");
    const std::string rest = e.substr(name.size() + 1);
    if (rest.empty() || rest[0] < '0' || rest[0] > '9') return;
    std::uint64_t line = 0;
    std::size_t i = 0;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && line < (std::uint64_t{1} << 40))
        line = line * 10 + static_cast<std::uint64_t>(rest[i++] - '0');
    FUZZ_CHECK(i < rest.size() && rest[i] == ':', "a line number not followed by a colon");
    std::uint64_t lines = 1;  // a last line without its end counts too
    for (char c : file) lines += c == '\n' || c == '\r';
    FUZZ_CHECK(line >= 1 && line <= lines, "a line number beyond the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view options = nul == std::string_view::npos ? std::string_view() : input.substr(0, nul);
    const std::string_view file = nul == std::string_view::npos ? input : input.substr(nul + 1);

    std::vector<std::string> args{"talvo-batch"};
    for (std::size_t at = 0; at < options.size();) {
        std::size_t nl = options.find('\n', at);
        if (nl == std::string_view::npos) nl = options.size();
        args.emplace_back(options.substr(at, nl - at));
        at = nl + 1;
    }
    const int fd = fuzz::memory_file(file);
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    args.push_back("--");
    args.push_back(name);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const Command cmd = parse_command_line(static_cast<int>(args.size()), argv.data());
    if (cmd.what != Command::What::Run) {
        close(fd);
        return 0;
    }
    const Options& o = cmd.options;
    Table t;
    std::string e;
    try {
        e = read_table(o, t);
    } catch (const RunEnd&) {
        close(fd);
        return 0;  // more storage than the machine has
    }
    close(fd);
    if (!e.empty()) {
        const bool plain = std::none_of(options.begin(), options.end(),
                                        [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; });
        check_refusal(e, name, file, t.usage, plain);
        return 0;
    }
    FUZZ_CHECK(t.N >= 2 && t.K >= 1 && t.names.size() == static_cast<std::size_t>(t.K), "a table of no size");
    FUZZ_CHECK(t.X.first_row() == 1 && t.X.last_row() == t.N && t.X.first_col() == 0 && t.X.last_col() == t.K,
               "storage not of the table's size");
    FUZZ_CHECK(t.ids.header.empty() ? t.ids.ends.empty() : t.ids.ends.size() == static_cast<std::size_t>(t.N),
               "ids not one row a case");
    std::int64_t missing = 0;
    for (std::int32_t I = 1; I <= t.N; ++I) {
        for (std::int32_t J = 1; J <= t.K; ++J) {
            const double v = t.X(I, J);
            FUZZ_CHECK(std::isnan(v) || std::isfinite(v), "a value not finite");
            missing += std::isnan(v) || (o.missing && v == *o.missing);
        }
    }
    FUZZ_CHECK(missing == t.missing, "missing values not as counted");
    if (std::int64_t{t.N} * (t.K + 1) > (std::int64_t{1} << 22)) return 0;
    Run run;
    run.N = t.N;
    run.K = t.K;
    run.PTN = 1;
    allocate(run);
    const Mat before = t.X;
    fill_data(o, t, run);
    FUZZ_CHECK(run.X.first_row() == 1 && run.X.last_row() == t.N && run.X.first_col() == 0 && run.X.last_col() == t.K,
               "X not of the run's size");
    for (std::int32_t I = 1; I <= t.N; ++I) {
        for (std::int32_t J = 1; J <= t.K; ++J) {
            const double v = run.X(I, J), b = before(I, J);
            FUZZ_CHECK(std::isfinite(v), "a value of X not finite");
            FUZZ_CHECK(std::isnan(b) ? v == t.code : std::memcmp(&v, &b, sizeof v) == 0, "a value not put into X");
        }
    }
    return 0;
}
