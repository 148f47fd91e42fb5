// Missingness patterns: the table of distinct sets of observed variables.
// Row 1 is the complete-data pattern; rows 2, 3, ... are the incomplete
// patterns, numbered by the first case that shows each. A row holds the
// pattern's variables, observed ones first, each group ascending, then its
// number of missing variables and its number of cases.
#pragma once

#include <cstdint>
#include <vector>

#include "state/run.h"

namespace talvo {

// Finds the row of an incomplete pattern by its set of observed variables,
// in time independent of the number of patterns. The rows it yields are the
// rows a scan of the table in ascending order, position by position, would
// find: no two rows hold the same set, so the first match is the only one.
class PatternIndex {
public:
    explicit PatternIndex(std::int32_t K);

    // The set being looked up: variable J (1..K) observed is bit J - 1.
    void clear_key();
    void observe(std::int32_t J) { key_[static_cast<std::size_t>(J - 1) / 64] |= std::uint64_t{1} << ((J - 1) % 64); }

    // The row holding the current set, or 0 when there is none yet.
    std::int32_t find() const;
    // Records the current set as that of a new row.
    void insert(std::int32_t row);

private:
    std::size_t words_;
    std::vector<std::uint64_t> key_;
    std::vector<std::uint64_t> keys_;  // the set of row L at (L - 2) * words_
    std::vector<std::int32_t> slots_;  // rows by hash, 0 for empty
    std::size_t count_ = 0;

    const std::uint64_t* key_of(std::int32_t row) const;
    bool same(std::int32_t row) const;
    std::size_t hash(const std::uint64_t* key) const;
    void place(std::int32_t row);
    void grow();
};

// Row 1, the complete-data pattern, with no case yet.
void start_pattern_table(Run& run);

// A new row for the incomplete set of observed variables given by `observed`
// (K entries, 1.0 or 0.0); returns its number.
std::int32_t open_pattern(Run& run, const double* observed);

}  // namespace talvo
