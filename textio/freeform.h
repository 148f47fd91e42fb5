// Free-form (list-directed) reading of numbers from the data file and the
// start-value file: values separated by blanks, tabs, commas or line ends,
// repeat counts r*c, null values and the slash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.h"

namespace talvo::numbers {
class Scanner;
}

namespace talvo {

class FreeFormReader {
public:
    // Reads from the open descriptor fd; name is used in error reports.
    FreeFormReader(int fd, std::string name);

    // One read statement of `count` values. For each value given,
    // store(index, value) is called with ascending indices; a null value or
    // the values after a slash leave their index out. Ends the run with a
    // READ report on an error or when the file ends too early. The statement
    // starts at the beginning of a line and leaves the rest of its last line
    // unread.
    template <class Store>
    void read(std::size_t count, Store&& store) {
        expect_value_ = true;
        std::size_t i = 0;
        while (i < count) {
            double v;
            if (plain_value(v)) {  // the common item, at once
                store(i++, v);
                continue;
            }
            Piece p;
            if (int e = next_piece(p)) io_error(e, Stmt::Read, name_);
            if (p.kind == Piece::Kind::Slash) break;
            std::uint64_t n = p.repeat < count - i ? p.repeat : count - i;
            if (p.kind == Piece::Kind::Value) {
                for (std::uint64_t k = 0; k < n; ++k) store(i++, p.value);
            } else {
                i += static_cast<std::size_t>(n);
            }
        }
        skip_line();
    }

    // How many bytes of the file lie before the reading position: inside a
    // store() call, those up to the end of the item giving the value; after
    // a statement, up to the start of the next line; after an error, up to
    // where the reading stopped.
    std::uint64_t offset() const { return consumed_ + pos_; }

private:
    // One value, a run of equal values (r*c), null values (r* or a comma
    // with nothing before it) or a slash.
    struct Piece {
        enum class Kind { Value, Null, Slash };
        Kind kind = Kind::Value;
        std::uint64_t repeat = 1;
        double value = 0.0;
    };

    int fd_;
    std::string name_;
    std::vector<char> buf_;  // a fixed block; no item ever needs more
    std::size_t pos_ = 0, end_ = 0;
    std::uint64_t consumed_ = 0;  // bytes of the file before buf_[0]
    bool eof_ = false;
    bool failed_ = false;
    bool expect_value_ = true;  // a comma now gives a null value

    // The next piece of the statement; 0, or the error number.
    int next_piece(Piece& p);
    // The common item read at once, when it lies well inside the block: a
    // number after blanks or line ends, ended by a blank or a line end. False,
    // with nothing taken, for anything else.
    bool plain_value(double& v);
    // Skips to the beginning of the next line.
    void skip_line();
    // Reads more after what is left unread; false at the end of the file.
    bool more();
    // The byte at pos_ + ahead, reading more as needed; false at the end.
    bool look(std::size_t ahead, char& c);
    // Feeds the number at pos_ to the scanner, across blocks; 0 or err::ReadFailure.
    int scan(numbers::Scanner& s);
    // Whether the item ends at pos_.
    bool item_ends();
    // The value just scanned, which must end there.
    int finish(const numbers::Scanner& s, Piece& p);
};

}  // namespace talvo
