#include "missing/patterns.h"

#include <cstdint>
#include <vector>

#include "base/memory.h"

namespace talvo {

void encode_case(Run& run, std::int32_t I) {
    const std::int32_t K = run.K;
    const std::int32_t m = static_cast<std::int32_t>(run.X(I, 2 * K + 1));
    std::int32_t H1 = 1, H2 = 1;
    for (std::int32_t J = 1; J <= K; ++J) {
        if (static_cast<std::int32_t>(run.X(I, K + J)) == 1) {
            run.PA(I, H1) = J;
            ++H1;
        } else {
            run.PA(I, H2 + m) = J;
            ++H2;
        }
    }
}

namespace {

// Twice the rows, when the memory is there.
void grow(IMat& P, std::int32_t K) {
    ensure_memory(static_cast<std::uint64_t>(P.last_row()) * static_cast<std::uint64_t>(K + 2) * 4 * 2);
    P.grow_rows(P.last_row() * 2);
}

// Finds the row of an incomplete case's pattern by its set of observed
// variables, in time independent of the number of patterns. The rows it
// yields are the rows a scan of the table in ascending order, position by
// position, would find: no two rows hold the same set, so the first match
// is the only one.
class PatternIndex {
public:
    explicit PatternIndex(std::int32_t K) : words_(static_cast<std::size_t>(K) / 64 + 1), key_(words_) {}

    // The observed set of case I as bits.
    void make_key(const Mat& X, std::int32_t I, std::int32_t K) {
        for (auto& w : key_) w = 0;
        const double* flags = X.row(I) + K + 1;
        for (std::int32_t J = 0; J < K; ++J)
            if (flags[J] == 1.0) key_[static_cast<std::size_t>(J) / 64] |= std::uint64_t{1} << (J % 64);
    }

    // The row holding the current key, or 0 when there is none yet.
    std::int32_t find() {
        if (slots_.empty()) return 0;
        std::size_t mask = slots_.size() - 1;
        for (std::size_t s = hash() & mask;; s = (s + 1) & mask) {
            std::int32_t row = slots_[s];
            if (row == 0) return 0;
            if (same(row)) return row;
        }
    }

    // Records the current key as the key of a new row.
    void insert(std::int32_t row) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        keys_.insert(keys_.end(), key_.begin(), key_.end());
        place(row, hash());
        ++count_;
    }

private:
    std::size_t words_;
    std::vector<std::uint64_t> key_;
    std::vector<std::uint64_t> keys_;  // the key of row L at (L - 2) * words_
    std::vector<std::int32_t> slots_;  // rows by hash, 0 for empty
    std::size_t count_ = 0;

    const std::uint64_t* key_of(std::int32_t row) const {
        return keys_.data() + static_cast<std::size_t>(row - 2) * words_;
    }
    bool same(std::int32_t row) const {
        const std::uint64_t* k = key_of(row);
        for (std::size_t w = 0; w < words_; ++w)
            if (k[w] != key_[w]) return false;
        return true;
    }
    static std::uint64_t mix(const std::uint64_t* k, std::size_t n) {
        std::uint64_t h = 0x9E3779B97F4A7C15ULL;
        for (std::size_t w = 0; w < n; ++w) {
            h ^= k[w];
            h *= 0xBF58476D1CE4E5B9ULL;
            h ^= h >> 31;
        }
        return h;
    }
    std::size_t hash() const { return static_cast<std::size_t>(mix(key_.data(), words_)); }
    void place(std::int32_t row, std::size_t h) {
        std::size_t mask = slots_.size() - 1;
        std::size_t s = h & mask;
        while (slots_[s] != 0) s = (s + 1) & mask;
        slots_[s] = row;
    }
    void grow() {
        std::size_t size = slots_.empty() ? 64 : slots_.size() * 2;
        slots_.assign(size, 0);
        for (std::size_t i = 0; i < count_; ++i) {
            std::int32_t row = static_cast<std::int32_t>(i) + 2;
            place(row, static_cast<std::size_t>(mix(key_of(row), words_)));
        }
    }
};

// Row 1, the complete-data pattern, with no case yet.
void start_table(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t J = 1; J <= K; ++J) run.P(1, J) = J;
    run.P(1, K + 1) = 0;
    run.P(1, K + 2) = 0;
    run.NPATT = 1;
}

// Case I opens a new pattern; returns its row.
std::int32_t open_pattern(Run& run, std::int32_t I) {
    const std::int32_t K = run.K;
    IMat& P = run.P;
    if (run.NPATT + 1 > P.last_row()) grow(P, K);
    run.NPATT = run.NPATT + 1;
    const std::int32_t L = run.NPATT;
    for (std::int32_t M = 1; M <= K; ++M) P(L, M) = run.PA(I, M);
    P(L, K + 2) = 1;
    P(L, K + 1) = static_cast<std::int32_t>(static_cast<double>(K) - run.X(I, 2 * K + 1));
    return L;
}

}  // namespace

void build_pattern_table(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    IMat& P = run.P;
    start_table(run);
    PatternIndex index(K);
    for (std::int32_t I = 1; I <= N; ++I) {
        const std::int32_t m = static_cast<std::int32_t>(run.X(I, 2 * K + 1));
        if (m == K) {
            P(1, K + 2) = P(1, K + 2) + 1;
            continue;
        }
        index.make_key(run.X, I, K);
        if (std::int32_t L = index.find()) {
            P(L, K + 2) = P(L, K + 2) + 1;
            continue;
        }
        index.insert(open_pattern(run, I));
    }
}

}  // namespace talvo
