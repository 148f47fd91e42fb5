// The lines of a data file, read as a stream in fixed blocks: the file is
// never whole in memory, only the block at hand and a line that spans
// blocks. Pipes and terminals are read once, from where they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo::batch {

class LineReader {
public:
    // The longest line read: a longer one is refused at once.
    static constexpr std::size_t kMaxLine = std::size_t{64} << 20;
    static constexpr std::size_t kBlock = std::size_t{256} << 10;

    // Reads from fd (left open), naming the file `name` in its messages.
    LineReader(int fd, std::string name);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();

    // The next line without its end (LF, CR LF or a CR alone), valid until
    // the next call: true, or false at the end of the file or with `error`
    // set. A byte order mark before the first line is passed over. A line
    // longer than kMaxLine, a control character other than a tab (a NUL
    // byte: not a text file) and a read error are refused.
    bool next(std::string_view& line, std::string& error);
    // The number of the line last given, from 1.
    std::uint64_t number() const { return number_; }

private:
    int fd_;
    std::string name_;
    char* block_;
    std::size_t at_ = 0, end_ = 0;
    char* carry_ = nullptr;  // a line that spans blocks, so far
    std::size_t carry_size_ = 0, carry_room_ = 0;
    bool eof_ = false, after_cr_ = false;
    std::uint64_t number_ = 0;

    bool fill(std::string& error);
    bool keep(const char* from, std::size_t n, std::string& error);
    std::string place(std::size_t col) const;
};

}  // namespace talvo::batch
