// What a scripted run writes besides the result files of talvo: the output
// folder's checks, the CSV files, and a writer for whole files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/options.h"
#include "state/run.h"

namespace talvo::batch {

inline constexpr std::string_view kLogName = "talvo.log";

// The files this run writes into the output folder.
std::vector<std::string> planned_files(const Options& o);

// Every file a run may write into the output folder, whatever it is asked.
std::vector<std::string> output_files();

// The name a result file has while it is written: hidden, beside its own.
std::string staged_name(const std::string& name);

// Creates the output folder when it is missing and proves that files can be
// made in it. Outputs of an earlier run there, those this run writes and
// those it does not (which would stand beside its results as if they were
// its own), are refused by name, or removed with --force (the data and
// start-value files excepted); so are temporary files a killed run left.
// "" or what is wrong.
std::string prepare_folder(const Options& o);

// "" or what is wrong with a format text for rows of K values: a fault of
// its translation, or one that writing a row meets (K = 0: the translation
// only).
std::string check_format(const std::string& text, std::int32_t K);

// A file written from the start, in blocks: what fails is kept and told
// at the end.
class Writer {
public:
    explicit Writer(std::string name);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer();
    std::string& out() { return buf_; }
    // Writes out what is collected once there is enough of it.
    void step();
    // Writes out the rest and closes: "" or what went wrong.
    std::string finish();

private:
    std::string name_, buf_;
    int fd_ = -1;
    int error_ = 0;
    void flush();
};

// A file of the output folder.
std::string in_folder(const Options& o, const std::string& name);

// A text as a CSV field, in double quotes when it must be.
std::string csv_field(std::string_view text);

// The id columns (--id): carried from the data file into the per-case
// outputs unchanged, as CSV fields.
struct IdColumns {
    std::string header;             // their names, each followed by a comma
    std::string text;               // per case its fields, each followed by a comma
    std::vector<std::size_t> ends;  // case I's fields end at ends[I - 1]
    std::string_view of_case(std::int32_t I) const {
        const std::size_t from = I > 1 ? ends[I - 2] : 0;
        return std::string_view(text).substr(from, ends[I - 1] - from);
    }
};

// covariance.csv and means.csv in the output folder; with additional output
// also completed.csv and filled.csv (1 where a value was filled in), each
// case's row led by its ids. Numbers in their shortest exact form. Each is
// written where `path` says (none: under its own name). "" or what went
// wrong.
using PathOf = std::function<std::string(const std::string& name)>;
std::string write_csv_files(const Options& o, const Run& run, const std::vector<std::string>& names,
                            const PathOf& path = nullptr, const IdColumns& ids = {});

}  // namespace talvo::batch
