#include "textio/format.h"

#include <cstdio>

#include "textio/errors.h"
#include "textio/render.h"

namespace talvo::format {

namespace {

constexpr int kEnd = -1;
constexpr int kMaxDepth = 16;  // groups inside the outer parentheses

bool is_data(Op op) {
    switch (op) {
        case Op::A: case Op::L: case Op::I: case Op::F: case Op::D: case Op::E: case Op::G: case Op::Z:
            return true;
        default:
            return false;
    }
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

class Translator {
public:
    explicit Translator(std::string_view s) : s_(s) {}

    Format run() {
        if (peek() != '(') {
            fail(err::FmtNoParen);
            return std::move(f_);
        }
        ++i_;
        item_list();
        return std::move(f_);
    }

private:
    std::string_view s_;
    size_t i_ = 0;
    Format f_;

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
    void fail(int number) { emit(Op::Error).error = number; }

    // An unsigned number, blanks inside allowed. False (with the fault
    // recorded) when it exceeds the 4-byte range.
    bool number(std::int32_t& out) {
        std::int64_t v = 0;
        while (digit_next()) {
            v = v * 10 + (s_[i_] - '0');
            if (v > 2147483647) {
                fail(err::FmtNumberTooLarge);
                return false;
            }
            ++i_;
        }
        out = static_cast<std::int32_t>(v);
        return true;
    }
    // A number that must be there: false (fault recorded) when missing, or
    // when the text ends first.
    bool required(std::int32_t& out) {
        if (!digit_next()) {
            fail(peek() == kEnd ? err::FmtUnterminated : err::FmtNumberMissing);
            return false;
        }
        return number(out);
    }
    // A fault found at the next character; the end of the text instead
    // means the text ends before its closing parenthesis.
    void fail_at_next(int number) { fail(peek() == kEnd ? err::FmtUnterminated : number); }

    void item_list() {
        int depth = 0;
        std::vector<size_t> open;  // GroupStart indices
        std::int32_t last_top_group = -1;
        bool comma_ok = false;     // not right after the outer "("
        for (;;) {
            int c = peek();
            if (c == kEnd) return fail(err::FmtUnterminated);
            if (c == ',') {
                if (!comma_ok) return fail(err::FmtBadChar);
                ++i_;
                comma_ok = false;
                continue;
            }
            if (c == ')') {
                if (depth == 0) {
                    Instr& end = emit(Op::End);
                    ++i_;
                    end.jump = reversion_point(last_top_group);
                    return;
                }
                Instr& ge = emit(Op::GroupEnd);
                ++i_;
                size_t start = open.back();
                open.pop_back();
                ge.jump = static_cast<std::int32_t>(start + 1);
                f_.code[start].jump = static_cast<std::int32_t>(f_.code.size() - 1);
                --depth;
                comma_ok = true;
                continue;
            }
            // An item, perhaps with a count before it.
            std::int32_t count = 1;
            if (c == '+' || c == '-') {
                ++i_;
                std::int32_t k;
                if (!required(k)) return;
                if (peek() != 'P') return fail_at_next(err::FmtCountBelowOne);
                ++i_;
                emit(Op::Scale).w = c == '-' ? -k : k;
                comma_ok = true;
                continue;
            }
            if (c >= '0' && c <= '9') {
                if (!number(count)) return;
                c = peek();
                switch (c) {
                    case 'A': case 'L': case 'I': case 'F': case 'D': case 'E': case 'G': case 'Z': case '(':
                        if (count < 1) return fail(err::FmtCountBelowOne);
                        break;
                    case 'X':
                        if (count < 1) return fail(err::FmtCountBelowOne);
                        ++i_;
                        emit(Op::TabRight).w = count;
                        comma_ok = true;
                        continue;
                    case 'P':
                        ++i_;
                        emit(Op::Scale).w = count;
                        comma_ok = true;
                        continue;
                    case 'H': {
                        if (count < 1) return fail(err::FmtCountBelowOne);
                        ++i_;
                        if (s_.size() - i_ < static_cast<size_t>(count)) return fail(err::FmtUnterminated);
                        emit(Op::Literal).text = std::string(s_.substr(i_, static_cast<size_t>(count)));
                        i_ += static_cast<size_t>(count);
                        comma_ok = true;
                        continue;
                    }
                    case '\'': case '/': case ':': case '$': case '\\': case 'T': case 'S': case 'B':
                        return fail(err::FmtCountNotAllowed);
                    case kEnd:
                        return fail(err::FmtUnterminated);
                    default:
                        return fail(err::FmtBadChar);
                }
            }
            switch (c) {
                case '(': {
                    if (depth + 1 > kMaxDepth) return fail(err::FmtTooDeep);
                    Instr& gs = emit(Op::GroupStart);
                    ++i_;
                    gs.r = count;
                    if (depth == 0) last_top_group = static_cast<std::int32_t>(f_.code.size() - 1);
                    open.push_back(f_.code.size() - 1);
                    ++depth;
                    comma_ok = true;  // one comma may follow the "(" of a group
                    continue;
                }
                case '\'': {
                    if (!literal()) return;
                    break;
                }
                case 'A': case 'Z': {
                    Instr& in = emit(c == 'A' ? Op::A : Op::Z);
                    ++i_;
                    in.r = count;
                    if (digit_next()) {
                        std::int32_t w;
                        if (!number(w)) return;
                        f_.code.back().w = w;
                        f_.code.back().has_w = true;
                    }
                    break;
                }
                case 'L': case 'I': case 'F': case 'D': case 'E': case 'G': {
                    if (!data_descriptor(static_cast<char>(c), count)) return;
                    break;
                }
                case 'X': case 'H': case 'P':
                    return fail(err::FmtNoNumber);
                case 'T': {
                    ++i_;
                    Op op = Op::Tab;
                    int n = peek();
                    if (n == 'L') {
                        op = Op::TabLeft;
                        ++i_;
                    } else if (n == 'R') {
                        op = Op::TabRight;
                        ++i_;
                    }
                    std::int32_t v;
                    if (!required(v)) return;
                    emit(op).w = v;
                    break;
                }
                case '/': ++i_; emit(Op::Slash); break;
                case ':': ++i_; emit(Op::Colon); break;
                case '$': case '\\': ++i_; emit(Op::Dollar); break;
                case 'S': {
                    ++i_;
                    int n = peek();
                    if (n == 'P') {
                        ++i_;
                        emit(Op::SignPlus);
                    } else {
                        if (n == 'S') ++i_;
                        emit(Op::SignNone);
                    }
                    break;
                }
                case 'B': {
                    ++i_;
                    int n = peek();
                    if (n != 'N' && n != 'Z') return fail_at_next(err::FmtBadB);
                    ++i_;
                    emit(Op::Blanks);
                    break;
                }
                default:
                    return fail(err::FmtBadChar);
            }
            comma_ok = true;
        }
    }

    // 'text' with doubled apostrophes inside; the characters as they stand.
    bool literal() {
        size_t at = i_;
        ++i_;
        std::string text;
        for (;;) {
            if (i_ >= s_.size()) {
                fail(err::FmtUnterminated);
                return false;
            }
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

    // Lw, Iw[.m], Fw.d, Dw.d, Ew.d[Ee], Gw.d[Ee].
    bool data_descriptor(char c, std::int32_t count) {
        Op op = c == 'L' ? Op::L : c == 'I' ? Op::I : c == 'F' ? Op::F : c == 'D' ? Op::D : c == 'E' ? Op::E : Op::G;
        size_t at = i_;
        ++i_;
        Instr in;
        in.op = op;
        in.r = count;
        in.offset = static_cast<std::int32_t>(at);
        in.has_w = true;
        if (!required(in.w)) return false;
        if (op == Op::L) {
            f_.code.push_back(in);
            return true;
        }
        if (op == Op::I) {
            in.d = -1;
            if (peek() == '.') {
                ++i_;
                if (!required(in.d)) return false;
                if (in.d > in.w) {
                    fail(err::FmtMinAboveWidth);
                    return false;
                }
            }
            f_.code.push_back(in);
            return true;
        }
        if (peek() != '.') {
            fail_at_next(err::FmtNoPoint);
            return false;
        }
        ++i_;
        if (!required(in.d)) return false;
        if ((op == Op::E || op == Op::G) && peek() == 'E') {
            ++i_;
            if (!required(in.e)) return false;
        }
        f_.code.push_back(in);
        return true;
    }

    // The start of the last top-level group, or of the format; -1 when no
    // data edit descriptor follows it.
    std::int32_t reversion_point(std::int32_t last_top_group) const {
        std::int32_t from = last_top_group >= 0 ? last_top_group : 0;
        for (size_t k = static_cast<size_t>(from); k < f_.code.size(); ++k)
            if (is_data(f_.code[k].op)) return from;
        return -1;
    }
};

}  // namespace

Format translate(std::string_view text) { return Translator(text).run(); }

std::string listing(const Format& f) {
    static const char* names[] = {"LIT", "GROUP", "ENDGROUP", "A", "L", "I", "F", "D", "E", "G", "Z",
                                  "T", "TL", "TR", "SLASH", "COLON", "DOLLAR", "P", "SP", "SS", "BLANKS", "END", "ERROR"};
    std::string out;
    char buf[96];
    for (size_t k = 0; k < f.code.size(); ++k) {
        const Instr& in = f.code[k];
        std::snprintf(buf, sizeof buf, "%zu %s", k, names[static_cast<int>(in.op)]);
        out += buf;
        switch (in.op) {
            case Op::Literal: out += " '" + in.text + "'"; break;
            case Op::GroupStart: std::snprintf(buf, sizeof buf, " r=%d end=%d", in.r, in.jump); out += buf; break;
            case Op::GroupEnd: std::snprintf(buf, sizeof buf, " body=%d", in.jump); out += buf; break;
            case Op::A: case Op::Z: case Op::L: case Op::I: case Op::F: case Op::D: case Op::E: case Op::G:
                std::snprintf(buf, sizeof buf, " r=%d w=%d", in.r, in.w);
                out += buf;
                if (in.op == Op::I && in.d >= 0) { std::snprintf(buf, sizeof buf, " m=%d", in.d); out += buf; }
                if (in.op == Op::F || in.op == Op::D || in.op == Op::E || in.op == Op::G) {
                    std::snprintf(buf, sizeof buf, " d=%d", in.d);
                    out += buf;
                }
                if (in.e >= 0) { std::snprintf(buf, sizeof buf, " e=%d", in.e); out += buf; }
                break;
            case Op::Tab: case Op::TabLeft: case Op::TabRight: case Op::Scale:
                std::snprintf(buf, sizeof buf, " %d", in.w); out += buf; break;
            case Op::End: std::snprintf(buf, sizeof buf, " revert=%d", in.jump); out += buf; break;
            case Op::Error: std::snprintf(buf, sizeof buf, " %d at %d", in.error, in.offset); out += buf; break;
            default: break;
        }
        out += '\n';
    }
    return out;
}

namespace {

// One output statement in progress.
class Walker {
public:
    // rec and field are work buffers kept from one statement to the next.
    Walker(RecordSink& sink, const Format& f, std::string& rec, std::string& field)
        : sink_(sink), code_(f.code), rec_(rec), field_(field) {
        rec_.clear();
    }

    int run(std::span<const Item> items) {
        for (const Item& item : items) {
            if (int e = to_next_data(item)) return e;
        }
        if (int e = finish()) return e;
        return 0;
    }

private:
    // The state a group body leaves behind, to notice a body that does
    // nothing: repeating it cannot change anything either.
    struct Mark {
        std::int64_t out, pos, items;
        int scale;
        bool plus, dollar;
        bool operator==(const Mark&) const = default;
    };
    struct Frame {
        size_t body;
        std::int64_t left;
        Mark mark;
    };

    RecordSink& sink_;
    const std::vector<Instr>& code_;
    size_t ip_ = 0;
    Frame stack_[kMaxDepth + 1];
    int sp_ = 0;
    int scale_ = 0;
    bool plus_ = false;
    bool dollar_ = false;
    std::string& rec_;
    std::int64_t pos_ = 0;
    std::int64_t rep_left_ = 0;  // uses left of a repeated data descriptor at ip_
    std::int64_t out_ = 0;       // characters and records written by this statement
    std::int64_t steps_ = 0;     // instructions carried out
    std::int64_t items_ = 0;
    std::string& field_;

    Mark mark() const { return Mark{out_, pos_, items_, scale_, plus_, dollar_}; }

    bool over() const { return out_ + steps_ > kMaxWork; }
    int step() {
        ++steps_;
        return over() ? err::StatementTooLong : 0;
    }

    int put(std::string_view s) {
        // Nothing written: skipped positions stay pending.
        if (s.empty()) return 0;
        std::int64_t len = static_cast<std::int64_t>(s.size());
        if (pos_ + len > kMaxRecord) return err::StatementTooLong;
        out_ += len;
        if (over()) return err::StatementTooLong;
        size_t p = static_cast<size_t>(pos_);
        if (p > rec_.size()) rec_.resize(p, ' ');
        if (p == rec_.size()) {
            rec_.append(s);
        } else {
            if (p + s.size() > rec_.size()) rec_.resize(p + s.size());
            rec_.replace(p, s.size(), s);
        }
        pos_ += len;
        return 0;
    }

    int end_record(bool line_end) {
        out_ += 2;
        if (over()) return err::StatementTooLong;
        sink_.record(rec_, line_end);
        rec_.clear();
        pos_ = 0;
        return 0;
    }

    // Carries out a literal, group, slash, positioning or control
    // instruction (handled set); data edit descriptors, colon, dollar, End
    // and Error are left to the caller. Returns 0 or an error number.
    int control(const Instr& in, bool& handled) {
        handled = true;
        switch (in.op) {
            case Op::Literal:
                ++ip_;
                return put(in.text);
            case Op::GroupStart:
                stack_[sp_++] = Frame{ip_ + 1, in.r, mark()};
                ++ip_;
                return 0;
            case Op::GroupEnd: {
                Frame& fr = stack_[sp_ - 1];
                --fr.left;
                if (fr.left >= 1) {
                    Mark now = mark();
                    if (now == fr.mark) {
                        // The body did nothing: the remaining passes would not either.
                        --sp_;
                        ++ip_;
                        return 0;
                    }
                    fr.mark = now;
                    ip_ = fr.body;
                } else {
                    --sp_;
                    ++ip_;
                }
                return 0;
            }
            case Op::Slash:
                ++ip_;
                return end_record(true);
            case Op::Tab:
                pos_ = in.w > 1 ? in.w - 1 : 0;
                ++ip_;
                return 0;
            case Op::TabLeft:
                pos_ = pos_ - in.w < 0 ? 0 : pos_ - in.w;
                ++ip_;
                return 0;
            case Op::TabRight:
                pos_ += in.w;
                if (pos_ > kMaxRecord) return err::StatementTooLong;
                ++ip_;
                return 0;
            case Op::Scale:
                scale_ = in.w;
                ++ip_;
                return 0;
            case Op::SignPlus:
                plus_ = true;
                ++ip_;
                return 0;
            case Op::SignNone:
                plus_ = false;
                ++ip_;
                return 0;
            case Op::Blanks:
                ++ip_;
                return 0;
            default:
                handled = false;
                return 0;
        }
    }

    // Walks to the next data edit descriptor and renders the item there.
    int to_next_data(const Item& item) {
        for (;;) {
            if (int e = step()) return e;
            const Instr& in = code_[ip_];
            bool handled;
            if (int e = control(in, handled)) return e;
            if (handled) continue;
            switch (in.op) {
                case Op::Colon: case Op::Dollar:
                    ++ip_;  // nothing while values remain
                    continue;
                case Op::Error:
                    return in.error;
                case Op::End: {
                    if (in.jump < 0) return err::NoDescriptor;
                    if (int e = end_record(true)) return e;
                    sp_ = 0;
                    ip_ = static_cast<size_t>(in.jump);
                    continue;
                }
                default:
                    break;
            }
            // A data edit descriptor.
            if (rep_left_ == 0) rep_left_ = in.r;
            if (int e = render_item(in, item)) return e;
            ++items_;
            if (--rep_left_ == 0) ++ip_;
            return 0;
        }
    }

    // After the last value: on to the next data edit descriptor, a colon or
    // the end, writing literals and slashes met on the way.
    int finish() {
        for (;;) {
            if (int e = step()) return e;
            const Instr& in = code_[ip_];
            bool handled;
            if (int e = control(in, handled)) return e;
            if (handled) continue;
            if (in.op == Op::Dollar) {
                dollar_ = true;
                ++ip_;
                continue;
            }
            if (in.op == Op::Error) return in.error;
            break;  // data edit descriptor, colon or end
        }
        // A pending skip is dropped: the record ends at its last character.
        return end_record(!dollar_);
    }

    static std::int64_t field_width(const Instr& in) {
        switch (in.op) {
            case Op::A:
                return in.w > 0 ? in.w : 8;
            case Op::Z:
                return in.w > 0 ? in.w : 16;
            default:
                return in.w;
        }
    }

    int render_item(const Instr& in, const Item& item) {
        bool real = item.kind == Item::Kind::Real;
        double v = real ? item.real : static_cast<double>(item.integer);
        std::int64_t w = field_width(in);
        if (pos_ + w > kMaxRecord) return err::StatementTooLong;
        bool direct = static_cast<size_t>(pos_) == rec_.size();
        std::string& out = direct ? rec_ : field_;
        size_t before = out.size();
        if (!direct) field_.clear();
        switch (in.op) {
            case Op::F: case Op::E: case Op::D: case Op::G:
                if (in.op == Op::F) render::fixed(out, v, in.w, in.d, scale_, plus_);
                else if (in.op == Op::G) render::general(out, v, in.w, in.d, in.e, scale_, plus_);
                else render::exponential(out, v, in.w, in.d, in.e, scale_, plus_, in.op == Op::D ? 'D' : 'E');
                break;
            case Op::I:
                if (item.kind != Item::Kind::Int) return err::NoDescriptor;
                render::integer(out, item.integer, in.w, in.d);
                break;
            case Op::L:
                return err::NoDescriptor;
            case Op::Z:
                render::hex(out, v, in.w);
                break;
            case Op::A:
                render::bytes(out, v, in.w);
                break;
            default:
                return err::NoDescriptor;
        }
        std::int64_t len = static_cast<std::int64_t>(out.size() - before);
        if (direct) {
            out_ += len;
            pos_ += len;
            return over() ? err::StatementTooLong : 0;
        }
        return put(field_);
    }
};

}  // namespace

int write(RecordSink& sink, const Format& f, std::span<const Item> items) {
    if (f.code.empty()) return err::FmtNoParen;
    // The record buffers keep their room from one statement to the next.
    static thread_local std::string rec, field;
    Walker walker(sink, f, rec, field);
    return walker.run(items);
}

}  // namespace talvo::format
