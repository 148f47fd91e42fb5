// The console: records with carriage control on standard output, prompts,
// pauses, and the fixed-field answer reads from standard input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "textio/format.h"

namespace talvo {

class Console final : public format::RecordSink {
public:
    // Uses file descriptors in_fd and out_fd, and err_fd for the reports
    // that end a run; decides from isatty whether the console state is
    // shared by reads and writes (both terminals) and whether input lines
    // are limited in length (input a terminal).
    Console(int in_fd = 0, int out_fd = 1, int err_fd = 2);

    // The terminal distinction set by hand (tests).
    void set_terminal(bool shared, bool input_is_terminal) {
        shared_ = shared;
        tty_in_ = input_is_terminal;
    }

    // One output statement to the console under a fixed format.
    void write(const format::Format& f, std::span<const format::Item> items = {});
    // A record with only a literal text (its first character is carriage control).
    void line(std::string_view rec) { record(rec, true); }
    // The prompt (A,$): the cursor stays after the text.
    void prompt(std::string_view text) { record(text, false); }
    // The pause record, then one line read and ignored; end of input or a
    // failed read ends the run.
    void pause(std::string_view rec);

    void record(std::string_view rec, bool line_end) override;

    // Reads one input line. Returns 0 and at most its first 132 characters,
    // or the error number (end of file, line too long, read failure).
    int read_line(std::string& line);

    // Iw, Fw.d and Aw answers. Each returns 0 or an error number; a numeric
    // field that cannot be read leaves the variable unchanged.
    int read_int(int w, std::int32_t& out);
    int read_real(int w, int d, double& out);
    int read_text(int w, std::string& out, std::size_t length);

    // Ends an open line (a stop and the normal end of the run).
    void close_line();

    // A run-time error or floating-point fault report, on the error output.
    void report(std::string_view text);

    // The errno of the first write to the output that failed, or 0. What
    // cannot be written is dropped all the same; a caller for whom the
    // output is a record (a log file) asks.
    int output_error() const { return out_error_; }

private:
    int in_, out_, err_;
    bool shared_ = false;
    bool tty_in_ = false;
    bool line_open_ = false;
    bool prompt_pending_ = false;
    std::string inbuf_;
    std::size_t inpos_ = 0;
    bool eof_ = false;
    bool read_failed_ = false;
    int out_error_ = 0;
    format::Buffers buffers_;

    void emit(std::string_view bytes);
    bool fill();
};

}  // namespace talvo
