#include "results/rows.h"

#include <algorithm>
#include <optional>

#include "base/errors.h"
#include "base/threads.h"

namespace talvo {

void RowOutput::statement(const format::Format& f, std::span<const format::Item> items) {
    if (int e = format::write(text_, f, items, buffers_)) io_error(e, Stmt::Write, file_);
    ends_.push_back(text_.text.size());
}

void RowOutput::flags(const std::uint8_t* flag, std::int32_t K) {
    std::string& text = text_.text;
    text.push_back(' ');
    for (std::int32_t J = 1; J <= K; ++J) {
        text.push_back(static_cast<char>('0' + flag[J]));
        if (J % 40 == 0 || J == K)
            text.append("\r\n");
        else
            text.push_back(' ');
    }
    ends_.push_back(text.size());
}

void write_rows(OutFile& file, std::int32_t N, const std::function<void(std::int32_t, RowOutput&)>& row) {
    constexpr std::int64_t kRows = 1024;  // rows of a block
    struct Block {
        RowOutput out;
        std::optional<RunEnd> end;
    };
    // Rounds of blocks made side by side; while one round is made, the
    // round before it is written, in order: each statement as the file
    // takes it, and a row that ended the run leaves the records it
    // finished, then its report.
    const std::size_t per_round = static_cast<std::size_t>(thread_count()) * 4;
    std::vector<Block> rounds[2];
    for (auto& blocks : rounds)
        for (std::size_t b = 0; b < per_round; ++b) blocks.push_back(Block{RowOutput(file.name()), std::nullopt});
    auto make = [&](Block& block, std::int64_t from) {
        block.out.text_.text.clear();
        block.out.ends_.clear();
        block.out.buffers_.starred = 0;
        const std::int64_t to = std::min<std::int64_t>(from + kRows - 1, N);
        try {
            for (std::int64_t I = from; I <= to; ++I) row(static_cast<std::int32_t>(I), block.out);
        } catch (const RunEnd& e) {
            block.end = e;
        }
    };
    auto write = [&](const std::vector<Block>& blocks, std::size_t count) {
        for (std::size_t b = 0; b < count; ++b) {
            const Block& block = blocks[b];
            const std::string& text = block.out.text_.text;
            file.add_starred(block.out.buffers_.starred);
            std::size_t at = 0;
            for (std::size_t end : block.out.ends_) {
                file.write_text(std::string_view(text).substr(at, end - at));
                at = end;
            }
            if (block.end) {
                file.write_text(std::string_view(text).substr(at), false);
                throw *block.end;
            }
        }
    };
    std::size_t made = 0;  // blocks of the round before, still to be written
    int now = 0;
    for (std::int64_t first = 1; first <= N; first += kRows * static_cast<std::int64_t>(per_round)) {
        const std::size_t count =
            std::min<std::size_t>(per_round, static_cast<std::size_t>((N - first + kRows) / kRows));
        std::vector<Block>& blocks = rounds[now];
        const std::vector<Block>& before = rounds[1 - now];
        run_parts(count + 1, [&](std::size_t part) {
            if (part == 0) return write(before, made);
            make(blocks[part - 1], first + kRows * static_cast<std::int64_t>(part - 1));
        });
        made = count;
        now = 1 - now;
    }
    write(rounds[1 - now], made);
}

}  // namespace talvo
