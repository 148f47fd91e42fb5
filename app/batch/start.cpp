#include "app/batch/start.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/errors.h"
#include "textio/freeform.h"

namespace talvo::batch {

namespace {

// The open file, read again in pieces where a fault must be placed.
class Place {
public:
    Place(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

    // "name:LINE:COL: " for the byte at offset `at` ("name:LINE: " with
    // `line_only`); "name: " when the file cannot be read again (a pipe).
    std::string where(std::uint64_t at, bool line_only = false) const {
        std::uint64_t line = 1, line_start = 0;
        char buf[1 << 16];
        for (std::uint64_t from = 0; from < at;) {
            const ssize_t n = bytes(from, buf, std::min<std::uint64_t>(sizeof buf, at - from));
            if (n <= 0) return name_ + ": ";
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == '\n') ++line, line_start = from + static_cast<std::uint64_t>(i) + 1;
            from += static_cast<std::uint64_t>(n);
        }
        std::string p = name_;
        (p += ':') += std::to_string(line);
        if (!line_only) (p += ':') += std::to_string(at - line_start + 1);
        return p += ": ";
    }

    // The item that holds the byte at `at` (where the reading stopped): its
    // first byte (a long item's: within a few hundred bytes back) and its
    // text, up to 40 characters.
    std::uint64_t item_start(std::uint64_t at) const {
        char buf[256];
        const std::uint64_t from = at > sizeof buf ? at - sizeof buf : 0;
        ssize_t n = bytes(from, buf, static_cast<std::size_t>(at - from));
        while (n > 0 && !separator(buf[n - 1])) --n, --at;
        return at;
    }
    std::string item(std::uint64_t start) const {
        char buf[41];
        const ssize_t n = bytes(start, buf, sizeof buf);
        std::string text;
        for (ssize_t i = 0; i < n && !separator(buf[i]); ++i) text += buf[i];
        return text.size() > 40 ? text.substr(0, 37) + "..." : text;
    }

    // The first byte from `from` up to `to` (the end of the file: -1) that
    // is not a separator, before a slash; -1 if none.
    std::int64_t stray(std::uint64_t from, std::uint64_t to) const {
        char buf[1 << 16];
        while (from < to) {
            const ssize_t n = bytes(from, buf, std::min<std::uint64_t>(sizeof buf, to - from));
            if (n <= 0) return -1;
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == '/') return -1;
                if (!separator(buf[i])) return static_cast<std::int64_t>(from) + i;
            }
            from += static_cast<std::uint64_t>(n);
        }
        return -1;
    }

private:
    int fd_;
    std::string name_;

    static bool separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\r' || c == '\n'; }
    ssize_t bytes(std::uint64_t from, char* buf, std::size_t count) const {
        ssize_t n;
        do n = ::pread(fd_, buf, count, static_cast<off_t>(from));
        while (n < 0 && errno == EINTR);
        return n;
    }
};

// The file descriptor of a file being read, closed at the end.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::string check_start_file(const Options& o) {
    if (o.start != Start::File) return "";
    Fd f{::open(o.start_file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) return o.start_file + ": cannot be opened: " + std::strerror(errno);
    struct stat st;
    if (fstat(f.fd, &st) == 0 && S_ISDIR(st.st_mode)) return o.start_file + ": is a folder, not a start-value file";
    return "";
}

std::string read_start_values(const Options& o, std::int32_t K, Mat& SV) {
    if (std::string e = check_start_file(o); !e.empty()) return e;
    Fd f{::open(o.start_file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) return o.start_file + ": cannot be opened: " + std::strerror(errno);
    const Place place(f.fd, o.start_file);
    const std::string k = std::to_string(K);
    const std::string layout = " (for " + k + " variables: " + k + " rows of " + k + " covariances, then a row of " +
                               k + " means, each row starting on a new line)";
    SV.allocate(0, K, 1, K);
    FreeFormReader reader(f.fd, o.start_file);
    for (std::int32_t r = 1; r <= K + 1; ++r) {
        const std::string row_name = r <= K ? "covariance row " + std::to_string(r) : "the row of means";
        double* row = SV.row(r <= K ? r : 0);
        std::size_t given = 0;
        std::uint64_t item_end = reader.offset();
        try {
            reader.read(static_cast<std::size_t>(K), [&](std::size_t i, double v) {
                row[i] = v;
                ++given;
                item_end = reader.offset();
            });
        } catch (const RunEnd& e) {
            const std::uint64_t at = reader.offset();
            if (e.number == err::EndOfFile) {
                std::string where =
                    given > 0 ? "within " + row_name + ", after " + std::to_string(given) + " of its " + k + " values"
                    : r == 1  ? "before the first covariance row"
                    : r <= K  ? "after " + std::to_string(r - 1) + " of the " + k + " covariance rows"
                              : "after the " + k + " covariance rows, before the row of means";
                return o.start_file + ": the file ends " + where + layout;
            }
            if (e.number == err::ReadFailure) return o.start_file + ": cannot be read";
            const std::uint64_t start = place.item_start(at);
            const std::string item = "\"" + place.item(start) + "\"";
            if (e.number == err::InvalidReal) return place.where(start) + item + " is not a number";
            if (e.number == err::RealOverflow)
                return place.where(start) + item + " is beyond the range of double precision";
            return place.where(start) + item + ": " + std::string(describe(e.number));
        }
        if (given < static_cast<std::size_t>(K))
            return place.where(reader.offset() - 1, true) + row_name + " gives " + std::to_string(given) + " of its " +
                   k + " values: an empty field or a slash leaves the others unset";
        if (const std::int64_t s = place.stray(item_end, reader.offset()); s >= 0)
            return place.where(static_cast<std::uint64_t>(s)) + "more values on this line than the " + k + " of " +
                   row_name + layout;
    }
    if (const std::int64_t s = place.stray(reader.offset(), UINT64_MAX); s >= 0)
        return place.where(static_cast<std::uint64_t>(s)) + "more values after the row of means" + layout;
    return "";
}

}  // namespace talvo::batch
