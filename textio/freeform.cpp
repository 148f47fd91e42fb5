#include "textio/freeform.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "textio/numbers.h"

namespace talvo {

namespace {
constexpr std::size_t kChunk = std::size_t{1} << 20;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

FreeFormReader::FreeFormReader(int fd, std::string name) : fd_(fd), name_(std::move(name)), buf_(kChunk) {}

bool FreeFormReader::more() {
    if (eof_) return false;
    // Keep the unread part; make room behind it, growing for a long item.
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
    for (;;) {
        ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
        if (n < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            eof_ = true;
            return false;
        }
        if (n == 0) {
            eof_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(n);
        return true;
    }
}

void FreeFormReader::skip_line() {
    for (;;) {
        const char* b = buf_.data() + pos_;
        const void* nl = std::memchr(b, '\n', end_ - pos_);
        if (nl) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_.data()) + 1;
            return;
        }
        pos_ = end_;
        if (!more()) return;
    }
}

// A value in the notation of the data file: optional sign, digits with an
// optional point, optional exponent. The common form goes straight to the
// exact conversion; the others (a plus sign, a D exponent, an exponent
// given by its sign alone) through the general parser.
int FreeFormReader::value_of(const char* b, const char* e, double& v) const {
    const char* p = b;
    bool simple = true;
    if (p < e && (*p == '+' || *p == '-')) {
        if (*p == '+') simple = false;
        ++p;
    }
    int mant = 0;
    while (p < e && is_digit(*p)) ++p, ++mant;
    if (p < e && *p == '.') {
        ++p;
        while (p < e && is_digit(*p)) ++p, ++mant;
    }
    if (mant == 0) return err::InvalidReal;
    if (p < e) {
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (p < e && (*p == '+' || *p == '-')) ++p;
        } else if (*p == 'd' || *p == 'D' || *p == '+' || *p == '-') {
            simple = false;
            ++p;
            if (p < e && (p[-1] == 'd' || p[-1] == 'D') && (*p == '+' || *p == '-')) ++p;
        } else {
            return err::InvalidReal;
        }
        int ed = 0;
        while (p < e && is_digit(*p)) ++p, ++ed;
        if (ed == 0 || p != e) return err::InvalidReal;
    }
    if (simple) {
        auto res = std::from_chars(b, e, v);
        if (res.ec == std::errc() && res.ptr == e) return 0;
    }
    return numbers::parse_real(std::string_view(b, static_cast<std::size_t>(e - b)), 0, false, v);
}

// The common item, a plain decimal number with at most 19 significant
// digits and a small exponent, lying wholly in the buffer: converted in one
// exactly rounded operation (m times or divided by an exact power of ten),
// which is the correctly rounded value the general conversion gives. False
// for anything else, which the general path reads.
bool FreeFormReader::fast_value(Piece& p) {
    static const double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* c = buf_.data() + pos_;
    const char* const end = buf_.data() + end_;
    bool neg = false;
    if (c < end && (*c == '-' || *c == '+')) neg = *c++ == '-';
    std::uint64_t m = 0;
    int digits = 0, significant = 0, frac = 0;
    bool point = false;
    for (; c < end; ++c) {
        const char ch = *c;
        if (ch >= '0' && ch <= '9') {
            ++digits;
            if (significant > 0 || ch != '0') {
                if (++significant > 19) return false;
                m = m * 10 + static_cast<std::uint64_t>(ch - '0');
            }
            frac += point;
        } else if (ch == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    int exp = 0;
    if (c < end && (*c == 'e' || *c == 'E')) {
        ++c;
        bool eneg = false;
        if (c < end && (*c == '-' || *c == '+')) eneg = *c++ == '-';
        int ed = 0;
        for (; c < end && *c >= '0' && *c <= '9' && ed < 4; ++c, ++ed) exp = exp * 10 + (*c - '0');
        if (ed == 0) return false;
        if (eneg) exp = -exp;
    }
    // The item must end here, at a separator inside the buffer.
    if (c >= end) return false;
    const char t = *c;
    if (t != ' ' && t != '\t' && t != ',' && t != '/' && t != '\n' && t != '\r') return false;
    if (t == '\r' && (c + 1 >= end || c[1] != '\n')) return false;
    const int e10 = exp - frac;
    if (m > (std::uint64_t{1} << 53) || e10 < -22 || e10 > 22) return false;
    double v = static_cast<double>(m);
    v = e10 < 0 ? v / tens[-e10] : v * tens[e10];
    p.kind = Piece::Kind::Value;
    p.repeat = 1;
    p.value = neg ? -v : v;
    pos_ = static_cast<std::size_t>(c - buf_.data());
    expect_value_ = false;
    return true;
}

int FreeFormReader::next_piece(Piece& p) {
    // Separators before the item: blanks, tabs and line ends.
    for (;;) {
        if (pos_ >= end_ && !more()) return failed_ ? err::ReadFailure : err::EndOfFile;
        char c = buf_[pos_];
        if (c == ' ' || c == '\t' || c == '\n') {
            ++pos_;
            continue;
        }
        if (c == '\r') {
            // Part of the line end only when the line feed follows.
            if (pos_ + 1 >= end_) more();
            if (pos_ + 1 < end_ && buf_[pos_ + 1] == '\n') {
                ++pos_;
                continue;
            }
        }
        break;
    }
    char c = buf_[pos_];
    if (c == ',') {
        ++pos_;
        if (expect_value_) {
            p.kind = Piece::Kind::Null;
            p.repeat = 1;
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
    if (fast_value(p)) return 0;
    // The item runs to the next separator.
    std::size_t start = pos_, q = pos_;
    for (;;) {
        if (q >= end_) {
            std::size_t off = q - start;
            pos_ = start;
            bool got = more();
            start = pos_;
            q = start + off;
            if (!got) break;
            continue;
        }
        char ch = buf_[q];
        if (ch == ' ' || ch == '\t' || ch == ',' || ch == '/' || ch == '\n') break;
        if (ch == '\r') {
            if (q + 1 >= end_) {
                std::size_t off = q - start;
                pos_ = start;
                more();
                start = pos_;
                q = start + off;
            }
            if (q + 1 < end_ && buf_[q + 1] == '\n') break;
        }
        ++q;
    }
    if (failed_) return err::ReadFailure;
    pos_ = q;
    expect_value_ = false;
    const char* b = buf_.data() + start;
    const char* e = buf_.data() + q;
    const char* star = static_cast<const char*>(std::memchr(b, '*', static_cast<std::size_t>(e - b)));
    if (!star) {
        p.kind = Piece::Kind::Value;
        p.repeat = 1;
        return value_of(b, e, p.value);
    }
    // r*c or r*: the count is a run of digits.
    if (star == b) return err::InvalidReal;
    std::uint64_t r = 0;
    for (const char* d = b; d < star; ++d) {
        if (!is_digit(*d)) return err::InvalidReal;
        if (r < (std::uint64_t{1} << 62)) r = r * 10 + static_cast<std::uint64_t>(*d - '0');
    }
    if (r == 0) return err::ZeroRepeat;
    const char* rest = star + 1;
    if (std::memchr(rest, '*', static_cast<std::size_t>(e - rest))) return err::RepeatTwice;
    p.repeat = r;
    if (rest == e) {
        p.kind = Piece::Kind::Null;
        return 0;
    }
    p.kind = Piece::Kind::Value;
    return value_of(rest, e, p.value);
}

}  // namespace talvo
