#include "textio/freeform.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "textio/numbers.h"

namespace talvo {

namespace {
constexpr std::size_t kBlock = std::size_t{1} << 20;
}  // namespace

FreeFormReader::FreeFormReader(int fd, std::string name) : fd_(fd), name_(std::move(name)), buf_(kBlock) {}

bool FreeFormReader::more() {
    if (eof_) return false;
    // Keep the unread part (a byte or two at most) and read behind it.
    consumed_ += pos_;
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    for (;;) {
        ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = n < 0;
            eof_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(n);
        return true;
    }
}

bool FreeFormReader::look(std::size_t ahead, char& c) {
    while (pos_ + ahead >= end_)
        if (!more()) return false;
    c = buf_[pos_ + ahead];
    return true;
}

void FreeFormReader::skip_line() {
    for (;;) {
        const void* nl = std::memchr(buf_.data() + pos_, '\n', end_ - pos_);
        if (nl) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_.data()) + 1;
            return;
        }
        pos_ = end_;
        if (!more()) return;
    }
}

int FreeFormReader::scan(numbers::Scanner& s) {
    for (;;) {
        pos_ += s.feed(std::string_view(buf_.data() + pos_, end_ - pos_));
        if (pos_ < end_) return 0;  // stopped at a byte that cannot go on
        if (!more()) return failed_ ? err::ReadFailure : 0;
    }
}

bool FreeFormReader::item_ends() {
    // A separator, or the end of the file; a carriage return only where it
    // is part of a line end.
    char c, next;
    if (!look(0, c)) return true;
    return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n' || (c == '\r' && look(1, next) && next == '\n');
}

int FreeFormReader::finish(const numbers::Scanner& s, Piece& p) {
    if (!item_ends()) return err::InvalidReal;
    if (failed_) return err::ReadFailure;
    p.kind = Piece::Kind::Value;
    if (s.quick_value(0, p.value) == 0) return 0;
    return s.value(0, false, p.value);
}

bool FreeFormReader::plain_value(double& v) {
    constexpr std::size_t kRoom = 64;  // the item and its end must lie before the block's end
    if (end_ - pos_ < kRoom) return false;
    const char* const base = buf_.data();
    std::size_t at = pos_;
    while (base[at] == ' ' || base[at] == '\t' || base[at] == '\n' || (base[at] == '\r' && base[at + 1] == '\n')) {
        if (++at + kRoom > end_) return false;
    }
    numbers::Scanner number;
    const std::size_t n = number.feed(std::string_view(base + at, end_ - at));
    if (n == 0 || at + n + 2 > end_) return false;
    const char t = base[at + n];
    if (!(t == ' ' || t == '\t' || t == '\n' || (t == '\r' && base[at + n + 1] == '\n'))) return false;
    if (number.quick_value(0, v) != 0) return false;
    pos_ = at + n;
    expect_value_ = false;
    return true;
}

int FreeFormReader::next_piece(Piece& p) {
    // Separators before the item: blanks, tabs and line ends.
    char c, next;
    for (;;) {
        if (!look(0, c)) return failed_ ? err::ReadFailure : err::EndOfFile;
        if (c == ' ' || c == '\t' || c == '\n' || (c == '\r' && look(1, next) && next == '\n')) {
            ++pos_;
            continue;
        }
        break;
    }
    if (c == ',') {
        ++pos_;
        if (expect_value_) {
            p.kind = Piece::Kind::Null;
            return 0;
        }
        expect_value_ = true;
        return next_piece(p);
    }
    if (c == '/') {
        ++pos_;
        p.kind = Piece::Kind::Slash;
        return 0;
    }
    expect_value_ = false;
    numbers::Scanner number;
    if (int e = scan(number)) return e;
    if (!(number.digits_only() && look(0, c) && c == '*')) return finish(number, p);
    // r*c, or r* alone for r null values.
    ++pos_;
    if (number.count() == 0) return err::ZeroRepeat;
    p.repeat = number.count();
    if (item_ends()) {
        if (failed_) return err::ReadFailure;
        p.kind = Piece::Kind::Null;
        return 0;
    }
    numbers::Scanner value;
    if (int e = scan(value)) return e;
    if (look(0, c) && c == '*') return err::RepeatTwice;
    return finish(value, p);
}

}  // namespace talvo
