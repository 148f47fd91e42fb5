// Files: opened by name, written in records ended by CR LF, closed.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "textio/format.h"

namespace talvo {

// A file name as typed: leading and trailing blanks removed.
std::string trim_name(std::string_view name);

// Opens the file: for reading and writing (creating it when it does not
// exist), else for reading only, else for writing only. A pipe (FIFO) or a
// character device is opened only for the use the program has for it.
// Returns 0 and the descriptor, or the error number for the reason the last
// attempt failed.
enum class Use { Read, Write };
struct Opened {
    int fd = -1;
    bool writable = false;
};
int open_file(const std::string& name, Use use, Opened& out);

// A file the program reads; closed when it goes out of scope.
class InFile {
public:
    InFile() = default;
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;
    ~InFile() { close(); }
    // Ends the run with an OPEN report when the file cannot be opened.
    void open(std::string_view name);
    void close();
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

private:
    int fd_ = -1;
    std::string name_;
};

// Records collected as a result file writes them: each followed by CR LF,
// but the last one of a statement whose format met a dollar.
struct RecordText final : format::RecordSink {
    std::string text;
    void record(std::string_view rec, bool line_end) override {
        text.append(rec);
        if (line_end) text.append("\r\n");
    }
};

// A result file. Records are collected and written in large blocks; the
// file is cut at its start by the first write statement, so an existing
// file is replaced. Only complete records ever reach it.
class OutFile final : public format::RecordSink {
public:
    OutFile() = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile() { close_quietly(); }

    // Ends the run with an OPEN report when the file cannot be opened.
    void open(std::string_view name);
    // One output statement; ends the run with a WRITE report on a format
    // fault or a failed write.
    void write(const format::Format& f, std::span<const format::Item> items);
    void record(std::string_view rec, bool line_end) override;
    // The records of one output statement made elsewhere (a RecordText),
    // taken as write() takes those it makes; `whole` is false for the
    // records a statement made before a fault ended it.
    void write_text(std::string_view records, bool whole = true);
    // Writes out what is collected; a failure ends the run. The file stays
    // open.
    void flush_now();
    // Writes out what is collected; returns 0 or the error number of a
    // failed write, which then counts as the first thing that went wrong:
    // the records were written before anything that is being reported.
    int flush_pending();
    // Writes out what is collected and closes; a failure ends the run.
    void close();
    // The same on the way out of a failed run: errors are not reported.
    void close_quietly();
    const std::string& name() const { return name_; }
    // Numeric fields written as asterisks since the file was opened: values
    // too wide for their fields. Records made elsewhere bring their count.
    std::int64_t starred() const { return starred_ + buffers_.starred; }
    void add_starred(std::int64_t fields) { starred_ += fields; }

private:
    int fd_ = -1;
    bool writable_ = false;
    std::int64_t starred_ = 0;
    bool cut_ = false;
    std::string name_;
    std::string buf_;
    format::Buffers buffers_;

    int flush();  // 0 or an error number
    void start_statement();
};

}  // namespace talvo
