// The data file of a scripted run: read once, as a stream, and checked as
// it is read, every fault named by its line and column; the values go
// straight into storage laid out as the run's X, which the run then takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/outputs.h"
#include "state/run.h"

namespace talvo::batch {

struct Table {
    // X(1..N, 0..K): the values of the variables in columns 1..K (column 0
    // unused), a missing value as NaN until fill_data codes it.
    Mat X;
    std::vector<std::string> names;  // one per variable: from the header, else V and the column's number
    bool named = false;              // the names come from the header
    std::int32_t N = 0, K = 0;
    IdColumns ids;             // the --id columns, case by case
    double code = 9.0;         // the missing-value code of the run
    bool code_chosen = false;  // chosen by the program: no --missing, with --na
    std::int64_t missing = 0;  // values that count as missing
    bool usage = false;        // the refusal is one of the command line (--columns, --id)
};

// Reads the data file and checks it against the options: returns "" or what
// is wrong, beginning with the file name and, where there is one, the line
// and column.
std::string read_table(const Options& o, Table& t);

// Moves the values into the run's X (allocated for the table's N and K,
// rows 1..N and columns 0..K), a missing value as the code. The table is the
// one read_table read; its values are gone after.
void fill_data(const Options& o, Table& t, Run& run);

}  // namespace talvo::batch
