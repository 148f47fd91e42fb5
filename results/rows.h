// The rows of a result file, made in blocks on the threads and written in
// order: the same bytes, and the same fault in the same place, as writing
// them one after another.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "textio/files.h"

namespace talvo {

// What one row writes: its output statements.
class RowOutput {
public:
    explicit RowOutput(const std::string& file) : file_(file) {}
    // One output statement; a format fault ends the run with a WRITE report.
    void statement(const format::Format& f, std::span<const format::Item> items);
    // The observed flags of a case, flag[1..K] (0 or 1), as the statement
    // of format (' ',40(I1,1X)) writes them: a blank, then each flag
    // followed by a blank, forty to a record, a record's last blank
    // dropped; the records after the first start at the group.
    void flags(const std::uint8_t* flag, std::int32_t K);
    // Room for the values of a statement, kept from row to row.
    std::vector<format::Item>& items(std::size_t n) {
        items_.resize(n);
        return items_;
    }
    // Room for numbers a row works out before its statements.
    std::vector<double>& values(std::size_t n) {
        values_.resize(n);
        return values_;
    }

private:
    friend void write_rows(OutFile&, std::int32_t, const std::function<void(std::int32_t, RowOutput&)>&);
    const std::string& file_;
    RecordText text_;
    std::vector<std::size_t> ends_;  // where each statement's records end
    format::Buffers buffers_;
    std::vector<format::Item> items_;
    std::vector<double> values_;
};

// Writes rows 1..N of the file, row I made by row(I, out). row may end the
// run (a fault, a format error); the rows before it are written first.
void write_rows(OutFile& file, std::int32_t N, const std::function<void(std::int32_t, RowOutput&)>& row);

}  // namespace talvo
