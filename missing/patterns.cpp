#include "missing/patterns.h"

#include "base/memory.h"

namespace talvo {

PatternIndex::PatternIndex(std::int32_t K) : words_(static_cast<std::size_t>(K) / 64 + 1), key_(words_) {}

void PatternIndex::clear_key() {
    for (auto& w : key_) w = 0;
}

const std::uint64_t* PatternIndex::key_of(std::int32_t row) const {
    return keys_.data() + static_cast<std::size_t>(row - 2) * words_;
}

bool PatternIndex::same(std::int32_t row) const {
    const std::uint64_t* k = key_of(row);
    for (std::size_t w = 0; w < words_; ++w)
        if (k[w] != key_[w]) return false;
    return true;
}

std::size_t PatternIndex::hash(const std::uint64_t* key) const {
    std::uint64_t h = 0x9E3779B97F4A7C15ULL;
    for (std::size_t w = 0; w < words_; ++w) {
        h ^= key[w];
        h *= 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 31;
    }
    return static_cast<std::size_t>(h);
}

std::int32_t PatternIndex::find() const {
    if (slots_.empty()) return 0;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = hash(key_.data()) & mask;; s = (s + 1) & mask) {
        const std::int32_t row = slots_[s];
        if (row == 0 || same(row)) return row;
    }
}

void PatternIndex::place(std::int32_t row) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t s = hash(key_of(row)) & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = row;
}

void PatternIndex::grow() {
    slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, 0);
    for (std::size_t i = 0; i < count_; ++i) place(static_cast<std::int32_t>(i) + 2);
}

void PatternIndex::insert(std::int32_t row) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    keys_.insert(keys_.end(), key_.begin(), key_.end());
    ++count_;
    place(row);
}

void start_pattern_table(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t J = 1; J <= K; ++J) {
        run.P(1, J) = J;
        run.OBS(1, J) = 1;
    }
    run.P(1, K + 1) = 0;
    run.P(1, K + 2) = 0;
    run.NPATT = 1;
}

std::int32_t open_pattern(Run& run, const double* observed) {
    const std::int32_t K = run.K;
    IMat& P = run.P;
    if (run.NPATT + 1 > P.last_row()) {
        // Twice the rows, when the memory is there.
        const auto rows = P.last_row() * 2;
        ensure_memory(static_cast<std::uint64_t>(rows - P.last_row()) * static_cast<std::uint64_t>(K + 2) * 5);
        P.grow_rows(rows);
        run.OBS.grow_rows(rows);
    }
    run.NPATT = run.NPATT + 1;
    const std::int32_t L = run.NPATT;
    // The variables, observed ones first, each group ascending.
    std::int32_t m = 0;
    for (std::int32_t J = 1; J <= K; ++J) m += observed[J - 1] == 1.0;
    std::int32_t H1 = 1, H2 = 1;
    for (std::int32_t J = 1; J <= K; ++J) {
        const bool seen = observed[J - 1] == 1.0;
        P(L, seen ? H1++ : m + H2++) = J;
        run.OBS(L, J) = seen;
    }
    P(L, K + 1) = K - m;
    P(L, K + 2) = 0;
    return L;
}

}  // namespace talvo
