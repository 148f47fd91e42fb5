// Walking the instructions of a format with a list of values: one output
// statement, handing each finished record to its sink.
#include "base/errors.h"
#include "textio/format.h"
#include "textio/render.h"

namespace talvo::format {

namespace {

// One output statement in progress.
class Walker {
public:
    Walker(RecordSink& sink, const Format& f, Buffers& buffers)
        : sink_(sink), code_(f.code), rec_(buffers.record), field_(buffers.field), starred_(buffers.starred) {
        rec_.clear();
    }

    int run(std::span<const Item> items) {
        work_limit_ = kMaxWork + kWorkPerValue * static_cast<std::int64_t>(items.size());
        for (const Item& item : items) {
            if (int e = to_next_data(item)) return e;
        }
        if (int e = finish()) return e;
        return 0;
    }

private:
    // The state a group body leaves behind, to notice a body that does
    // nothing (repeating it cannot change anything either) or that only
    // moves the position.
    struct Mark {
        std::int64_t out, pos, items;
        int scale;
        bool plus, dollar;
        bool operator==(const Mark&) const = default;
    };
    struct Frame {
        size_t body;
        std::int64_t left;
        Mark mark;          // at the start of the pass under way
        std::int64_t step;  // how far the last pass moved the position, if that is all it did
        std::int64_t from;  // in a pass from position 0 (see repeat_group), the position before it; else -1
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
    std::int64_t rep_left_ = 0;    // uses left of a repeated data descriptor at ip_
    std::int64_t out_ = 0;         // characters and records written by this statement
    std::int64_t steps_ = 0;       // instructions carried out
    std::int64_t work_limit_ = 0;  // for out_ + steps_
    std::int64_t items_ = 0;
    std::string& field_;
    std::int64_t& starred_;

    Mark mark() const { return Mark{out_, pos_, items_, scale_, plus_, dollar_}; }

    bool over() const { return out_ + steps_ > work_limit_; }
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

    // Where `times` moves of `step` places take the position, not left of
    // `floor`. Only a position where something is written must lie within a
    // record. Those beyond kFar all count as kFar: nothing can be written
    // there, and within the work limit only Tn comes back from so far, to a
    // place of its own.
    static constexpr std::int64_t kFar = std::int64_t{1} << 62;
    static std::int64_t moved(std::int64_t pos, std::int64_t step, std::int64_t times, std::int64_t floor) {
        const __int128 end = static_cast<__int128>(pos) + static_cast<__int128>(step) * times;
        return end < floor ? floor : end > kFar ? kFar : static_cast<std::int64_t>(end);
    }

    // The end of a group's body: the next pass, or on after the group.
    //
    // A pass that only moved the position carried out instructions that
    // write nothing, and these take a position p to max(p + a, b), with
    // b >= 0 when a < 0 (only TL moves left, and never before the start).
    // Two such passes in a row that move it the same distance show a; the
    // passes left then end at max(p + left x a, b). For a < 0 one more pass,
    // from position 0, ends at b.
    void repeat_group() {
        Frame& fr = stack_[sp_ - 1];
        if (fr.from >= 0) {
            pos_ = moved(fr.from, fr.step, fr.left, pos_);
            return leave_group();
        }
        const Mark now = mark();
        if (--fr.left < 1 || now == fr.mark) return leave_group();  // a pass that did nothing: so would the rest
        Mark same_place = now;
        same_place.pos = fr.mark.pos;
        const std::int64_t step = same_place == fr.mark ? now.pos - fr.mark.pos : 0;
        if (step != 0 && step == fr.step) {
            if (step > 0) {
                pos_ = moved(pos_, step, fr.left, 0);
                return leave_group();
            }
            fr.from = pos_;
            pos_ = 0;
        }
        fr.step = step;
        fr.mark = mark();
        ip_ = fr.body;
    }

    void leave_group() {
        --sp_;
        ++ip_;
    }

    // Carries out a literal, group, slash, positioning or control
    // instruction (handled set); data edit descriptors, colon, dollar, End
    // and Error are left to the caller. Returns 0 or an error number.
    int control(const Instr& in, bool& handled) {
        handled = true;
        switch (in.op) {
            case Op::Literal: ++ip_; return put(in.text);
            case Op::GroupStart:
                stack_[sp_++] = Frame{ip_ + 1, in.r, mark(), 0, -1};
                ++ip_;
                return 0;
            case Op::GroupEnd: repeat_group(); return 0;
            case Op::Slash: ++ip_; return end_record(true);
            case Op::Tab:
                pos_ = in.w > 1 ? in.w - 1 : 0;
                ++ip_;
                return 0;
            case Op::TabLeft:
                pos_ = pos_ - in.w < 0 ? 0 : pos_ - in.w;
                ++ip_;
                return 0;
            case Op::TabRight:
                pos_ = moved(pos_, in.w, 1, 0);
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
            case Op::Blanks: ++ip_; return 0;
            default: handled = false; return 0;
        }
    }

    // Walks to the next data edit descriptor and renders the item there.
    int to_next_data(const Item& item) {
        for (;;) {
            if (int e = step()) return e;
            const Instr& in = code_[ip_];
            if (rep_left_ == 0) {  // else the next use of a repeated data descriptor
                bool handled;
                if (int e = control(in, handled)) return e;
                if (handled) continue;
                switch (in.op) {
                    case Op::Colon:
                    case Op::Dollar:
                        ++ip_;  // nothing while values remain
                        continue;
                    case Op::Error: return in.error;
                    case Op::End: {
                        if (in.jump < 0) return err::NoDescriptor;
                        if (int e = end_record(true)) return e;
                        sp_ = 0;
                        ip_ = static_cast<size_t>(in.jump);
                        continue;
                    }
                    default: break;
                }
                rep_left_ = in.r;
            }
            // A data edit descriptor.
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
            case Op::A: return in.w > 0 ? in.w : 8;
            case Op::Z: return in.w > 0 ? in.w : 16;
            default: return in.w;
        }
    }

    int render_item(const Instr& in, const Item& item) {
        bool real = item.kind == Item::Kind::Real;
        double v = real ? item.real : static_cast<double>(item.integer);
        std::int64_t w = field_width(in);
        if (pos_ + w > kMaxRecord) return err::StatementTooLong;
        // A field after skipped positions fills them with blanks first.
        if (w > 0 && static_cast<size_t>(pos_) > rec_.size()) rec_.resize(static_cast<size_t>(pos_), ' ');
        bool direct = static_cast<size_t>(pos_) == rec_.size();
        std::string& out = direct ? rec_ : field_;
        size_t before = out.size();
        if (!direct) field_.clear();
        switch (in.op) {
            case Op::F:
            case Op::E:
            case Op::D:
            case Op::G:
                if (in.op == Op::F)
                    render::fixed(out, v, in.w, in.d, scale_, plus_);
                else if (in.op == Op::G)
                    render::general(out, v, in.w, in.d, in.e, scale_, plus_);
                else
                    render::exponential(out, v, in.w, in.d, in.e, scale_, plus_, in.op == Op::D ? 'D' : 'E');
                break;
            case Op::I:
                if (item.kind != Item::Kind::Int) return err::NoDescriptor;
                render::integer(out, item.integer, in.w, in.d);
                break;
            case Op::L: return err::NoDescriptor;
            case Op::Z: render::hex(out, v, in.w); break;
            case Op::A: render::bytes(out, v, in.w); break;
            default: return err::NoDescriptor;
        }
        std::int64_t len = static_cast<std::int64_t>(out.size() - before);
        // A number never ends in an asterisk: a field that does was too narrow for its value.
        if (len > 0 && in.op != Op::A && in.op != Op::Z && out.back() == '*') ++starred_;
        if (direct) {
            out_ += len;
            pos_ += len;
            return over() ? err::StatementTooLong : 0;
        }
        return put(field_);
    }
};

}  // namespace

int write(RecordSink& sink, const Format& f, std::span<const Item> items, Buffers& buffers) {
    if (f.code.empty()) return err::FmtNoParen;
    return Walker(sink, f, buffers).run(items);
}

int write(RecordSink& sink, const Format& f, std::span<const Item> items) {
    Buffers buffers;
    return write(sink, f, items, buffers);
}

}  // namespace talvo::format
