// The format text: translated, then a row written under it whose values
// reach every rendering path (zero of both signs, negatives, huge, tiny and
// subnormal values, an integer). The input is the format text; after a line
// end, up to four more values as 8 bytes each.
//
// Checked besides: the translation is well formed, every record lies within
// the record limit, a statement ends with no error or one a format can
// cause, and every descriptor fills exactly its width.
#include "textio/format.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/errors.h"
#include "fuzz.h"
#include "textio/render.h"

using namespace talvo;
using format::Instr;
using format::Item;
using format::Op;

namespace {

void check_translation(const format::Format& f) {
    const auto size = static_cast<std::int32_t>(f.code.size());
    FUZZ_CHECK(size > 0, "an empty translation");
    const Op last = f.code.back().op;
    FUZZ_CHECK(last == Op::End || last == Op::Error, "a translation that does not end in End or Error");
    for (std::int32_t i = 0; i < size; ++i) {
        const Instr& in = f.code[static_cast<std::size_t>(i)];
        if (in.op == Op::GroupStart && in.jump >= 0) {
            FUZZ_CHECK(in.jump > i && in.jump < size && f.code[static_cast<std::size_t>(in.jump)].op == Op::GroupEnd,
                       "a group start that does not lead to its end");
            FUZZ_CHECK(f.code[static_cast<std::size_t>(in.jump)].jump == i + 1, "a group end that does not lead back");
        }
        if (in.op == Op::End) FUZZ_CHECK(in.jump < size && i == size - 1, "a reversion point out of range");
        if (in.op == Op::Error) FUZZ_CHECK(in.error >= err::FmtNumberMissing && in.error <= err::FmtNumberTooLarge, "");
        if (format::is_data(in.op)) FUZZ_CHECK(in.r >= 1 && in.w >= 0, "a descriptor with a negative count or width");
    }
}

struct Checker final : format::RecordSink {
    std::int64_t records = 0;
    void record(std::string_view rec, bool) override {
        FUZZ_CHECK(static_cast<std::int64_t>(rec.size()) <= format::kMaxRecord, "a record beyond the limit");
        ++records;
    }
};

// Each descriptor of the format renders each value in exactly its width.
void check_widths(const format::Format& f, const std::vector<Item>& items) {
    std::string out;
    for (const Instr& in : f.code) {
        if (!format::is_data(in.op) || in.w > 1000) continue;
        for (const Item& item : items) {
            const double v = item.kind == Item::Kind::Real ? item.real : static_cast<double>(item.integer);
            std::int64_t width = in.w;
            out.clear();
            for (int scale : {0, -3, 2, 2147483647, -2147483647}) {
                switch (in.op) {
                    case Op::F: render::fixed(out, v, in.w, in.d, scale, scale > 0); break;
                    case Op::E: render::exponential(out, v, in.w, in.d, in.e, scale, scale < 0, 'E'); break;
                    case Op::D: render::exponential(out, v, in.w, in.d, in.e, scale, false, 'D'); break;
                    case Op::G: render::general(out, v, in.w, in.d, in.e, scale, scale == 2); break;
                    case Op::I: render::integer(out, item.integer, in.w, in.d); break;
                    case Op::Z: render::hex(out, v, in.w), width = in.w > 0 ? in.w : 16; break;
                    case Op::A: render::bytes(out, v, in.w), width = in.w > 0 ? in.w : 8; break;
                    default: break;
                }
                if (in.op == Op::L) break;
                FUZZ_CHECK(static_cast<std::int64_t>(out.size()) == width, "a field not as wide as its descriptor");
                out.clear();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t line_end = input.find('\n');
    const std::string_view text = input.substr(0, line_end);
    std::vector<Item> items;
    for (double v : {0.0, -0.0, 1.0, -1.5, 0.125, 2.5, 0.001, -0.001, 123456.789, 9.999999999999999e22,
                     std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 1e-300,
                     std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::min()})
        items.push_back(Item::of(v));
    items.push_back(Item::of_int(-123456));
    if (line_end != std::string_view::npos) {
        for (std::size_t at = line_end + 1; at + 8 <= size && items.size() < 20; at += 8) {
            double v;
            std::memcpy(&v, data + at, 8);
            items.push_back(Item::of(v));
        }
    }
    const format::Format f = format::translate(text);
    check_translation(f);
    Checker sink;
    const int e = format::write(sink, f, items);
    FUZZ_CHECK(e == 0 || e == err::NoDescriptor || e == err::StatementTooLong ||
                   (e >= err::FmtNumberMissing && e <= err::FmtNumberTooLarge),
               "a statement that ends with an error no format causes");
    check_widths(f, items);
    return 0;
}
