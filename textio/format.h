// Format texts: translated once into a short list of instructions
// (translate.cpp), then walked with a list of values to build records
// (walk.cpp). The program's fixed
// formats and the user's output format go through the same translator,
// walker and number renderer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::format {

enum class Op : std::uint8_t {
    Literal,     // text
    GroupStart,  // r; jump = index of its GroupEnd
    GroupEnd,    // jump = index of the first instruction of the body
    A,
    L,
    I,
    F,
    D,
    E,
    G,
    Z,         // data edit descriptors (r, w, d, e)
    Tab,       // Tn: w = n
    TabLeft,   // TLn
    TabRight,  // TRn and nX
    Slash,
    Colon,
    Dollar,
    Scale,     // kP: w = k
    SignPlus,  // SP
    SignNone,  // S, SS
    Blanks,    // BN, BZ: no effect on output
    End,       // jump = reversion point, or -1 when there is none
    Error,     // error = the format error number
};

inline bool is_data(Op op) { return op >= Op::A && op <= Op::Z; }

// Groups may nest this deep inside the outer parentheses.
inline constexpr int kMaxDepth = 16;

struct Instr {
    Op op = Op::Error;
    std::int32_t r = 1;   // repeat count
    std::int32_t w = 0;   // width (or the count of T, TL, TR, X, P)
    std::int32_t d = 0;   // digits after the point (I: minimum digits, -1 if none)
    std::int32_t e = -1;  // exponent digits, -1 if none
    bool has_w = false;
    std::int32_t jump = -1;
    std::int32_t offset = 0;  // where in the text it was found
    int error = 0;
    std::string text;  // literal characters
};

struct Format {
    std::vector<Instr> code;
};

// Never fails as a whole: a fault becomes an Error instruction where it was
// found, and the instructions before it work.
Format translate(std::string_view text);

// One value of an output list.
struct Item {
    enum class Kind : std::uint8_t { Real, Int };
    Kind kind = Kind::Real;
    double real = 0.0;
    std::int64_t integer = 0;
    static Item of(double v) { return Item{Kind::Real, v, 0}; }
    static Item of_int(std::int64_t v) { return Item{Kind::Int, 0.0, v}; }
};

// Receives each finished record; line_end is false only for the last
// record of a statement whose format met a dollar descriptor.
class RecordSink {
public:
    virtual void record(std::string_view rec, bool line_end) = 0;

protected:
    ~RecordSink() = default;
};

// An output statement may build records of at most kMaxRecord characters,
// and do the work of one such record (characters, records, steps) and
// kWorkPerValue more for each value: a row of any length in an ordinary
// format is written, and no format makes a statement take long.
inline constexpr std::int64_t kMaxRecord = std::int64_t{1} << 24;
inline constexpr std::int64_t kMaxWork = kMaxRecord;
inline constexpr std::int64_t kWorkPerValue = 4096;

// The walker's work room: whoever writes many statements keeps one, so that
// each statement reuses it.
struct Buffers {
    std::string record, field;
    std::int64_t starred = 0;  // numeric fields written as asterisks so far: values too wide for them
};

// Writes the values as one output statement. Returns 0, or the error number
// that ended the statement (a format fault, 6206, 6207); the record being
// built when it struck is not handed to the sink.
int write(RecordSink& sink, const Format& f, std::span<const Item> items, Buffers& buffers);
// The same with work room of its own.
int write(RecordSink& sink, const Format& f, std::span<const Item> items);

}  // namespace talvo::format
