// The work arrays of a run, sized from N, K and the pattern limit.
#pragma once

#include <cstdint>
#include <optional>

#include "state/run.h"

namespace talvo {

// Ends the run with a message when N or K cannot make a run.
void check_sizes(const Params& p);

// Bytes the work arrays take for these sizes; empty when the count does not
// even fit in 64 bits.
std::optional<std::uint64_t> storage_bytes(std::int64_t N, std::int64_t K);

// Allocates every work array in one step, all zero; stops the run with the
// storage message when the memory is not there.
void allocate(Run& run);

}  // namespace talvo
