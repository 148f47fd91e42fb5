// Translation of a format text into instructions. A fault becomes an Error
// instruction where it is found; the instructions before it stay and work.
#include "base/errors.h"
#include "textio/format.h"

namespace talvo::format {

namespace {

constexpr int kEnd = -1;  // what peek() gives at the end of the text

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

class Translator {
public:
    explicit Translator(std::string_view s) : s_(s) {}

    Format run() {
        if (peek() != '(') {
            fail(err::FmtNoParen);
        } else {
            ++i_;
            items();
        }
        return std::move(f_);
    }

private:
    std::string_view s_;
    std::size_t i_ = 0;
    Format f_;
    int depth_ = 0;                     // groups open inside the outer parentheses
    std::vector<std::size_t> open_;     // their GroupStart instructions
    std::int32_t last_top_group_ = -1;  // the last group opened at depth 0

    // The next significant character (blanks and tabs skipped), upper case;
    // kEnd at the end of the text.
    int peek() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
        return i_ < s_.size() ? static_cast<unsigned char>(upper(s_[i_])) : kEnd;
    }
    bool digit_next() {
        int c = peek();
        return c >= '0' && c <= '9';
    }

    Instr& emit(Op op) {
        Instr in;
        in.op = op;
        in.offset = static_cast<std::int32_t>(i_);
        f_.code.push_back(std::move(in));
        return f_.code.back();
    }
    // Records a fault; false, for the parsers to return.
    bool fail(int number) {
        emit(Op::Error).error = number;
        return false;
    }
    // A fault found at the next character; the end of the text instead
    // means the text ends before its closing parenthesis.
    bool fail_at_next(int number) { return fail(peek() == kEnd ? err::FmtUnterminated : number); }

    // An unsigned number, blanks inside allowed; a fault beyond the 4-byte range.
    bool number(std::int32_t& out) {
        std::int64_t v = 0;
        while (digit_next()) {
            v = v * 10 + (s_[i_] - '0');
            if (v > 2147483647) return fail(err::FmtNumberTooLarge);
            ++i_;
        }
        out = static_cast<std::int32_t>(v);
        return true;
    }
    // A number that must be there.
    bool required(std::int32_t& out) {
        if (!digit_next()) return fail_at_next(err::FmtNumberMissing);
        return number(out);
    }

    // The items up to the closing parenthesis of the format; commas are
    // optional between items, and one may follow the "(" of an inner group.
    void items() {
        bool comma_ok = false;  // not right after the outer "("
        for (;;) {
            int c = peek();
            if (c == kEnd) {
                fail(err::FmtUnterminated);
                return;
            }
            if (c == ',') {
                if (!comma_ok) {
                    fail(err::FmtBadChar);
                    return;
                }
                ++i_;
                comma_ok = false;
                continue;
            }
            if (c == ')' && depth_ == 0) {
                end_of_format();
                return;
            }
            if (c == ')')
                group_end();
            else if (!item(c))
                return;
            comma_ok = true;
        }
    }

    // One item, with the repeat count or signed scale factor before it.
    bool item(int c) {
        if (c == '+' || c == '-') return signed_scale(c);
        if (c >= '0' && c <= '9') return counted_item();
        return uncounted_item(c, 1);
    }

    // +kP and -kP.
    bool signed_scale(int sign) {
        ++i_;
        std::int32_t k;
        if (!required(k)) return false;
        if (peek() != 'P') return fail_at_next(err::FmtCountBelowOne);
        ++i_;
        emit(Op::Scale).w = sign == '-' ? -k : k;
        return true;
    }

    // A number, then what it counts: a repeatable item, nX, kP or nH.
    bool counted_item() {
        std::int32_t count;
        if (!number(count)) return false;
        int c = peek();
        switch (c) {
            case 'A':
            case 'L':
            case 'I':
            case 'F':
            case 'D':
            case 'E':
            case 'G':
            case 'Z':
            case '(':
                if (count < 1) return fail(err::FmtCountBelowOne);
                return uncounted_item(c, count);
            case 'X':
                if (count < 1) return fail(err::FmtCountBelowOne);
                ++i_;
                emit(Op::TabRight).w = count;
                return true;
            case 'P':
                ++i_;
                emit(Op::Scale).w = count;
                return true;
            case 'H': return hollerith(count);
            case '\'':
            case '/':
            case ':':
            case '$':
            case '\\':
            case 'T':
            case 'S':
            case 'B': return fail(err::FmtCountNotAllowed);
            case kEnd: return fail(err::FmtUnterminated);
            default: return fail(err::FmtBadChar);
        }
    }

    // An item that starts with its own character; count is the repeat
    // count of a group or a data edit descriptor.
    bool uncounted_item(int c, std::int32_t count) {
        switch (c) {
            case '(': return group_start(count);
            case '\'': return literal();
            case 'A':
            case 'Z': return bits_descriptor(c, count);
            case 'L':
            case 'I':
            case 'F':
            case 'D':
            case 'E':
            case 'G': return data_descriptor(c, count);
            case 'X':
            case 'H':
            case 'P': return fail(err::FmtNoNumber);
            default: return control_descriptor(c);
        }
    }

    bool group_start(std::int32_t count) {
        if (depth_ + 1 > kMaxDepth) return fail(err::FmtTooDeep);
        Instr& gs = emit(Op::GroupStart);
        ++i_;
        gs.r = count;
        if (depth_ == 0) last_top_group_ = static_cast<std::int32_t>(f_.code.size() - 1);
        open_.push_back(f_.code.size() - 1);
        ++depth_;
        return true;
    }

    void group_end() {
        Instr& ge = emit(Op::GroupEnd);
        ++i_;
        const std::size_t start = open_.back();
        open_.pop_back();
        ge.jump = static_cast<std::int32_t>(start + 1);
        f_.code[start].jump = static_cast<std::int32_t>(f_.code.size() - 1);
        --depth_;
    }

    // The closing parenthesis of the format; what follows it is ignored.
    void end_of_format() {
        Instr& end = emit(Op::End);
        ++i_;
        end.jump = reversion_point();
    }

    // The start of the last top-level group, or of the format; -1 when no
    // data edit descriptor follows it.
    std::int32_t reversion_point() const {
        const std::int32_t from = last_top_group_ >= 0 ? last_top_group_ : 0;
        for (std::size_t k = static_cast<std::size_t>(from); k < f_.code.size(); ++k)
            if (is_data(f_.code[k].op)) return from;
        return -1;
    }

    // 'text' with doubled apostrophes inside; the characters as they stand.
    bool literal() {
        const std::size_t at = i_;
        ++i_;
        std::string text;
        for (;;) {
            if (i_ >= s_.size()) return fail(err::FmtUnterminated);
            char ch = s_[i_++];
            if (ch == '\'') {
                if (i_ < s_.size() && s_[i_] == '\'') {
                    text.push_back('\'');
                    ++i_;
                    continue;
                }
                break;
            }
            text.push_back(ch);
        }
        Instr& in = emit(Op::Literal);
        in.offset = static_cast<std::int32_t>(at);
        in.text = std::move(text);
        return true;
    }

    // nHtext: the n characters after the H, as they stand.
    bool hollerith(std::int32_t count) {
        if (count < 1) return fail(err::FmtCountBelowOne);
        ++i_;
        if (s_.size() - i_ < static_cast<std::size_t>(count)) return fail(err::FmtUnterminated);
        emit(Op::Literal).text = std::string(s_.substr(i_, static_cast<std::size_t>(count)));
        i_ += static_cast<std::size_t>(count);
        return true;
    }

    // A and Z, the width optional.
    bool bits_descriptor(int c, std::int32_t count) {
        Instr& in = emit(c == 'A' ? Op::A : Op::Z);
        ++i_;
        in.r = count;
        if (!digit_next()) return true;
        std::int32_t w;
        if (!number(w)) return false;
        in.w = w;
        in.has_w = true;
        return true;
    }

    // Lw, Iw[.m], Fw.d, Dw.d, Ew.d[Ee], Gw.d[Ee].
    bool data_descriptor(int c, std::int32_t count) {
        Instr in;
        in.op = c == 'L' ? Op::L : c == 'I' ? Op::I : c == 'F' ? Op::F : c == 'D' ? Op::D : c == 'E' ? Op::E : Op::G;
        in.r = count;
        in.offset = static_cast<std::int32_t>(i_);
        in.has_w = true;
        ++i_;
        if (!required(in.w)) return false;
        if (in.op == Op::I) {
            in.d = -1;
            if (peek() == '.') {
                ++i_;
                if (!required(in.d)) return false;
                if (in.d > in.w) return fail(err::FmtMinAboveWidth);
            }
        } else if (in.op != Op::L) {
            if (peek() != '.') return fail_at_next(err::FmtNoPoint);
            ++i_;
            if (!required(in.d)) return false;
            if ((in.op == Op::E || in.op == Op::G) && peek() == 'E') {
                ++i_;
                if (!required(in.e)) return false;
            }
        }
        f_.code.push_back(in);
        return true;
    }

    // Tn, TLn, TRn, /, :, $ (or \), S, SS, SP, BN, BZ.
    bool control_descriptor(int c) {
        switch (c) {
            case 'T': {
                ++i_;
                Op op = Op::Tab;
                if (peek() == 'L') {
                    op = Op::TabLeft;
                    ++i_;
                } else if (peek() == 'R') {
                    op = Op::TabRight;
                    ++i_;
                }
                std::int32_t n;
                if (!required(n)) return false;
                emit(op).w = n;
                return true;
            }
            case '/':
                ++i_;
                emit(Op::Slash);
                return true;
            case ':':
                ++i_;
                emit(Op::Colon);
                return true;
            case '$':
            case '\\':
                ++i_;
                emit(Op::Dollar);
                return true;
            case 'S':
                ++i_;
                if (peek() == 'P') {
                    ++i_;
                    emit(Op::SignPlus);
                } else {
                    if (peek() == 'S') ++i_;
                    emit(Op::SignNone);
                }
                return true;
            case 'B':
                ++i_;
                if (peek() != 'N' && peek() != 'Z') return fail_at_next(err::FmtBadB);
                ++i_;
                emit(Op::Blanks);
                return true;
            default: return fail(err::FmtBadChar);
        }
    }
};

}  // namespace

Format translate(std::string_view text) { return Translator(text).run(); }

}  // namespace talvo::format
