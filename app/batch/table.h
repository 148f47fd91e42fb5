// The data file of a scripted run: read and checked whole before the run,
// every fault named by its line and column, then put into X.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "state/run.h"

namespace talvo::batch {

struct Table {
    std::string text;                // the file's bytes
    std::vector<std::string> names;  // one per variable: from the header, else V1..VK
    bool named = false;              // the names come from the header
    std::int32_t N = 0, K = 0;
    double code = 9.0;         // the missing-value code of the run
    bool code_chosen = false;  // chosen by the program: no --missing, with --na
    std::int64_t missing = 0;  // values that count as missing
};

// Reads the data file and checks it against the options: returns "" or what
// is wrong, beginning with the file name and, where there is one, the line
// and column.
std::string read_table(const Options& o, Table& t);

// Puts the values into X(1..N, 1..K), case by case; a missing value as the
// code. X must be allocated for the table's N and K; the table is the one
// read_table checked.
void fill_data(const Options& o, Table& t, Run& run);

}  // namespace talvo::batch
