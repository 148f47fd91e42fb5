#include "textio/console.h"

#include <unistd.h>

#include <cerrno>

#include "base/errors.h"
#include "base/sysio.h"
#include "textio/fields.h"

namespace talvo {

namespace {
constexpr std::size_t kLineLimit = 132;  // an input line, its line end included
}

Console::Console(int in_fd, int out_fd, int err_fd) : in_(in_fd), out_(out_fd), err_(err_fd) {
    tty_in_ = isatty(in_fd) == 1;
    shared_ = tty_in_ && isatty(out_fd) == 1;
}

void Console::emit(std::string_view bytes) {
    // A reader that went away must not stop the run from writing its
    // result files: what cannot be shown is dropped.
    if (int e = write_all(out_, bytes); e != 0 && out_error_ == 0) out_error_ = e;
}

void Console::record(std::string_view rec, bool line_end) {
    std::string out;
    if (prompt_pending_) {
        // The record continues the prompt's line, its first character shown.
        out.assign(rec);
    } else {
        char cc = rec.empty() ? ' ' : rec[0];
        switch (cc) {
            case '0': out = line_open_ ? "\r\n\r\n" : "\r\n"; break;
            case '1': out = "\r\n\f\b \r"; break;
            case '+': out = "\r"; break;
            default:
                if (line_open_) out = "\r\n";
                break;
        }
        if (!rec.empty()) out.append(rec.substr(1));
    }
    line_open_ = true;
    prompt_pending_ = !line_end;
    emit(out);
}

void Console::write(const format::Format& f, std::span<const format::Item> items) {
    if (int e = format::write(*this, f, items, buffers_)) io_error(e, Stmt::Write, "CON");
}

void Console::pause(std::string_view rec) {
    line(rec);
    std::string HITKEY;
    if (int e = read_text(1, HITKEY, 1)) io_error(e, Stmt::Read, "CON");
}

void Console::report(std::string_view text) { write_all(err_, text); }

void Console::close_line() {
    if (line_open_) emit("\r\n");
    line_open_ = false;
    prompt_pending_ = false;
}

bool Console::fill() {
    if (eof_) return false;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(in_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            read_failed_ = n < 0;
            eof_ = true;
            return false;
        }
        inbuf_.erase(0, inpos_);
        inpos_ = 0;
        inbuf_.append(buf, static_cast<std::size_t>(n));
        return true;
    }
}

int Console::read_line(std::string& line) {
    if (shared_ && line_open_ && !prompt_pending_) emit("\r\n");
    line.clear();
    std::size_t length = 0;  // the whole line, its end included
    bool any = false;
    bool ended = false;
    char prev = 0;
    for (;;) {
        if (inpos_ >= inbuf_.size() && !fill()) break;
        any = true;
        char c = inbuf_[inpos_++];
        ++length;
        if (c == '\n') {
            ended = true;
            break;
        }
        prev = c;
        if (line.size() <= kLineLimit) line.push_back(c);
    }
    if (shared_) {
        line_open_ = false;
        prompt_pending_ = false;
    }
    if (read_failed_ && !ended) return err::ReadFailure;
    if (!any) return err::EndOfFile;
    // A carriage return right before the line feed belongs to the line end.
    if (ended && prev == '\r') {
        std::size_t content = length - 2;
        if (line.size() > content) line.resize(content);
    }
    if (tty_in_ && length > kLineLimit) return err::LineTooLong;
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    return 0;
}

int Console::read_int(int w, std::int32_t& out) {
    std::string line;
    if (int e = read_line(line)) return e;
    return fields::int_field(line, w, out);
}

int Console::read_real(int w, int d, double& out) {
    std::string line;
    if (int e = read_line(line)) return e;
    return fields::real_field(line, w, d, out);
}

int Console::read_text(int w, std::string& out, std::size_t length) {
    std::string line;
    if (int e = read_line(line)) return e;
    out = fields::text_field(line, w, length);
    return 0;
}

}  // namespace talvo
