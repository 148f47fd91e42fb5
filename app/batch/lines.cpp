#include "app/batch/lines.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace talvo::batch {

LineReader::LineReader(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
    block_ = static_cast<char*>(std::malloc(kBlock));
    if (!block_) throw std::bad_alloc();
}

LineReader::~LineReader() {
    std::free(block_);
    std::free(carry_);
}

std::string LineReader::place(std::size_t col) const {
    return name_ + ":" + std::to_string(number_ + 1) + ":" + std::to_string(col) + ": ";
}

bool LineReader::fill(std::string& error) {
    for (;;) {
        const ssize_t n = ::read(fd_, block_, kBlock);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = name_ + ": cannot be read: " + std::strerror(errno);
            return false;
        }
        at_ = 0;
        end_ = static_cast<std::size_t>(n);
        eof_ = n == 0;
        return true;
    }
}

// Adds n bytes to the line that spans blocks.
bool LineReader::keep(const char* from, std::size_t n, std::string& error) {
    if (n > kMaxLine - carry_size_) {
        error = name_ + ":" + std::to_string(number_ + 1) + ": the line is longer than 64 MiB (" +
                std::to_string(kMaxLine) + " bytes), the longest line read; is this a data file?";
        return false;
    }
    if (carry_size_ + n > carry_room_) {
        std::size_t room = carry_room_ ? carry_room_ : kBlock;
        while (room < carry_size_ + n) room *= 2;
        if (room > kMaxLine) room = kMaxLine;
        // realloc: a large block grows in place or by moving its pages.
        char* p = static_cast<char*>(std::realloc(carry_, room));
        if (!p) throw std::bad_alloc();
        carry_ = p;
        carry_room_ = room;
    }
    std::memcpy(carry_ + carry_size_, from, n);
    carry_size_ += n;
    return true;
}

bool LineReader::next(std::string_view& line, std::string& error) {
    carry_size_ = 0;
    for (;;) {
        if (at_ == end_) {
            if (!eof_ && !fill(error)) return false;
            if (eof_) {
                if (carry_size_ == 0) return false;
                ++number_;
                line = std::string_view(carry_, carry_size_);
                break;
            }
        }
        if (after_cr_) {  // the LF of a CR LF
            after_cr_ = false;
            if (block_[at_] == '\n' && ++at_ == end_) continue;
        }
        const char* const begin = block_ + at_;
        const char* const end = block_ + end_;
        const char* p = begin;
        while (p < end && (static_cast<unsigned char>(*p) >= 0x20 || *p == '\t')) ++p;
        if (p == end) {
            if (!keep(begin, static_cast<std::size_t>(p - begin), error)) return false;
            at_ = end_;
            continue;
        }
        if (*p != '\n' && *p != '\r') {
            const std::size_t col = carry_size_ + static_cast<std::size_t>(p - begin) + 1;
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(*p)));
            error = place(col) + (*p == '\0' ? "a NUL byte (0x00): this is not a text file"
                                             : "a control character (" + std::string(code) +
                                                   "): a data file holds only text, tabs and line ends");
            return false;
        }
        after_cr_ = *p == '\r';
        at_ = static_cast<std::size_t>(p - block_) + 1;
        ++number_;
        if (carry_size_ == 0) {
            line = std::string_view(begin, static_cast<std::size_t>(p - begin));
        } else {
            if (!keep(begin, static_cast<std::size_t>(p - begin), error)) return false;
            line = std::string_view(carry_, carry_size_);
        }
        break;
    }
    if (number_ == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    return true;
}

}  // namespace talvo::batch
