// The start-value file of a run (--start FILE): read and checked whole
// before anything is created, every fault told with its line and column;
// the run then takes the values from memory.
#pragma once

#include <cstdint>
#include <string>

#include "app/batch/options.h"
#include "base/matrix.h"

namespace talvo::batch {

// A start-value file that can be opened and is not a folder: "" or what is
// wrong. Told before the data file is read.
std::string check_start_file(const Options& o);

// Reads the start-value file of the options for K variables, as the dialog
// reads it: K rows of K covariances into SV(1..K, 1..K), then a row of K
// means into SV(0, 1..K), each row starting on a new line and going on over
// as many lines as it needs. Refused, with the line and column where there
// is one: an item that is not a number, a value left unset (an empty field
// or a slash before the end of a row), a file that ends early ("the file
// ends after 3 of the 4 covariance rows"), and values the dialog would
// pass over in silence: more on the last line of a row than the row takes,
// and more after the row of means. "" or what is wrong.
std::string read_start_values(const Options& o, std::int32_t K, Mat& SV);

}  // namespace talvo::batch
