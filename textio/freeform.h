// Free-form (list-directed) reading of numbers from the data file and the
// start-value file: values separated by blanks, tabs, commas or line ends,
// repeat counts r*c, null values and the slash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "textio/errors.h"

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
        start_statement();
        std::size_t i = 0;
        while (i < count) {
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

    // One value, a run of equal values (r*c), null values (r* or a comma
    // with nothing before it) or a slash.
    struct Piece {
        enum class Kind { Value, Null, Slash };
        Kind kind = Kind::Value;
        std::uint64_t repeat = 1;
        double value = 0.0;
    };
    // The next piece of the statement; 0, or the error number.
    int next_piece(Piece& p);
    void start_statement() { expect_value_ = true; }
    // Skips to the beginning of the next line.
    void skip_line();

private:
    int fd_;
    std::string name_;
    std::vector<char> buf_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    bool failed_ = false;
    bool expect_value_ = true;  // a comma now gives a null value

    bool more();  // reads more input after end_; false at the end of the file
    bool fast_value(Piece& p);
    int value_of(const char* b, const char* e, double& v) const;
};

}  // namespace talvo
