#include "textio/console.h"

#include <unistd.h>

#include <cerrno>

#include "textio/errors.h"
#include "textio/numbers.h"

namespace talvo {

namespace {
constexpr size_t kLineLimit = 132;  // an input line, its line end included
}

Console::Console(int in_fd, int out_fd) : in_(in_fd), out_(out_fd) {
    tty_in_ = isatty(in_fd) == 1;
    shared_ = tty_in_ && isatty(out_fd) == 1;
}

void Console::emit(std::string_view bytes) {
    // Console output is not kept: a reader that went away must not stop the
    // run from writing its result files.
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(out_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
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
            default: if (line_open_) out = "\r\n"; break;
        }
        if (!rec.empty()) out.append(rec.substr(1));
    }
    line_open_ = true;
    prompt_pending_ = !line_end;
    emit(out);
}

void Console::write(const format::Format& f, std::span<const format::Item> items) {
    if (int e = format::write(*this, f, items)) io_error(e, Stmt::Write, "CON");
}

void Console::close_line() {
    if (line_open_) emit("\r\n");
    line_open_ = false;
    prompt_pending_ = false;
}

int Console::fill() {
    if (eof_) return 0;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(in_, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            read_failed_ = true;
            eof_ = true;
            return 0;
        }
        if (n == 0) {
            eof_ = true;
            return 0;
        }
        if (inpos_ > 0) {
            inbuf_.erase(0, inpos_);
            inpos_ = 0;
        }
        inbuf_.append(buf, static_cast<size_t>(n));
        return static_cast<int>(n);
    }
}

int Console::read_line(std::string& line) {
    if (shared_ && line_open_ && !prompt_pending_) emit("\r\n");
    line.clear();
    size_t length = 0;  // the whole line, its end included
    bool any = false;
    bool ended = false;
    char prev = 0;
    for (;;) {
        if (inpos_ >= inbuf_.size()) {
            inbuf_.clear();
            inpos_ = 0;
            if (fill() == 0) break;
        }
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
        size_t content = length - 2;
        if (line.size() > content) line.resize(content);
    }
    if (tty_in_ && length > kLineLimit) return err::LineTooLong;
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    return 0;
}

std::string_view numeric_field(std::string_view line, int w) {
    std::string_view f = line.substr(0, static_cast<size_t>(w) < line.size() ? static_cast<size_t>(w) : line.size());
    size_t comma = f.find(',');
    if (comma != std::string_view::npos) f = f.substr(0, comma);
    return f;
}

std::string squeeze(std::string_view field) {
    std::string s;
    for (char c : field)
        if (c != ' ' && c != '\t') s.push_back(c);
    return s;
}

int Console::read_int(int w, std::int32_t& out) {
    std::string line;
    if (int e = read_line(line)) return e;
    return numbers::parse_int(squeeze(numeric_field(line, w)), out);
}

int Console::read_real(int w, int d, double& out) {
    std::string line;
    if (int e = read_line(line)) return e;
    return numbers::parse_real(squeeze(numeric_field(line, w)), d, true, out);
}

int Console::read_text(int w, std::string& out, size_t length) {
    std::string line;
    if (int e = read_line(line)) return e;
    out = line.substr(0, static_cast<size_t>(w) < line.size() ? static_cast<size_t>(w) : line.size());
    if (out.size() < length) out.append(length - out.size(), ' ');
    if (out.size() > length) out.resize(length);
    return 0;
}

}  // namespace talvo
