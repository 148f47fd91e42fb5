// A whole run in process: the answers, then a line "====" and the data
// file, then optionally another such line and the start-value file. The run
// works in a scratch folder of its own, emptied after each input.
//
// Each input is kept fast and small: the dialog is first answered on its
// own, and the run is left out when its data file or start-value file name
// holds a "/" (it could name a file outside the scratch folder), when N is
// above 100 or K above 10, when the passes are not bounded by 300 (a
// negative limit with a positive criterion runs until the criterion is
// met), or when the output format writes more than 4 KB for one row.
//
// Checked besides: a run that ends normally has written its covariance file
// and holds finite estimates.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog.h"
#include "app/talvo.h"
#include "base/errors.h"
#include "fuzz.h"
#include "textio/files.h"
#include "textio/format.h"

using namespace talvo;
namespace fs = std::filesystem;

namespace {

// The scratch folder: made at the first input and made the current folder,
// removed at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        char name[] = "/tmp/talvo-fuzz-XXXXXX";
        if (!mkdtemp(name)) std::abort();
        path_ = name;
        fs::current_path(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::current_path("/", ignored);
        fs::remove_all(path_, ignored);
    }
    // Removes what an input left.
    void empty() {
        for (const auto& entry : fs::directory_iterator(path_)) fs::remove_all(entry.path());
    }

private:
    fs::path path_;
};

// The characters one row of n values takes under the format (0 when it
// fails: the run then ends at its first row).
std::int64_t row_size(const std::string& text, std::int32_t n) {
    struct Counter final : format::RecordSink {
        std::int64_t bytes = 0;
        void record(std::string_view rec, bool) override { bytes += static_cast<std::int64_t>(rec.size()) + 2; }
    } counter;
    const std::vector<format::Item> row(static_cast<std::size_t>(n), format::Item::of(1.0));
    return format::write(counter, format::translate(text), row) == 0 ? counter.bytes : 0;
}

// The parameters the answers give, or none when the run ends in its dialog.
std::optional<Params> answered(std::string_view answers) {
    const int in = fuzz::memory_file(answers);
    Console con(in, fuzz::null_output(), fuzz::null_output());
    std::optional<Params> p(std::in_place);
    try {
        ask_parameters(con, *p);
    } catch (const RunEnd&) {
        p.reset();
    }
    close(in);
    return p;
}

// Whether the run is small and stays in the scratch folder.
bool small_and_local(const Params& p) {
    if (trim_name(p.FIN).find('/') != std::string::npos) return false;
    if (p.SIV == StartMethod::File && trim_name(p.SVFIN).find('/') != std::string::npos) return false;
    if (p.N > 100 || p.K > 10) return false;
    const std::int64_t passes = p.MAXITER;
    if ((passes < 0 && p.CRIT > 0.0) || std::llabs(passes) > 300) return false;
    return p.K < 1 || row_size(p.OUTFMT, p.K + 1) <= 4096;
}

// Puts a file the answers name into the scratch folder.
void put_file(const std::string& name, std::string_view bytes) {
    if (name.empty() || name.find('\0') != std::string::npos) return;
    std::ofstream(name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFolder scratch;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view kPart = "\n====\n";
    const std::size_t first = input.find(kPart);
    const std::string_view answers = input.substr(0, first == std::string_view::npos ? size : first + 1);
    std::string_view data_file, start_file;
    if (first != std::string_view::npos) {
        data_file = input.substr(first + kPart.size());
        const std::size_t second = data_file.find(kPart);
        if (second != std::string_view::npos) {
            start_file = data_file.substr(second + kPart.size());
            data_file = data_file.substr(0, second + 1);
        }
    }
    if (const std::optional<Params> p = answered(answers)) {
        if (!small_and_local(*p)) return 0;
        const std::string fin = trim_name(p->FIN), svfin = trim_name(p->SVFIN);
        put_file(fin, data_file);
        if (p->SIV == StartMethod::File && svfin != fin) put_file(svfin, start_file);
    }

    const int in = fuzz::memory_file(answers);
    {
        Run run;
        Console con(in, fuzz::null_output(), fuzz::null_output());
        const int status = run_dialog(con, run);
        if (status == 0) {
            FUZZ_CHECK(fs::exists("temp.cov"), "a normal end without results");
            for (std::int32_t i = 0; i <= run.K; ++i)
                for (std::int32_t j = 0; j <= run.K; ++j)
                    FUZZ_CHECK(std::isfinite(run.COV(i, j)), "an estimate not finite");
        }
    }
    close(in);
    scratch.empty();
    return 0;
}
