// Allocation of the work arrays, the data intake and the display of the
// first cases.
#pragma once

#include <cstdint>
#include <optional>

#include "app/storage.h"

namespace talvo {

// Ends the run with a message when N or K cannot make a run.
void check_sizes(const Run& run);

// Bytes the work arrays take for these sizes; empty when the count does not
// even fit in 64 bits.
std::optional<std::uint64_t> storage_bytes(std::int64_t N, std::int64_t K);

// Stops the run with "Not enough storage for data; aborting..." unless
// this many more bytes can be had.
void ensure_memory(std::uint64_t bytes);

// Allocates every work array in one step, all zero; stops the run with
// "Not enough storage for data; aborting..." when the memory is not there.
void allocate(Run& run);

// Reads the N x K values of the data file into X, case by case.
void read_data(Run& run);

// The first five cases on the console, then the pause.
void show_first_cases(Run& run);

// A pause: one line read and ignored; end of input ends the run.
void pause(Console& con);

}  // namespace talvo
