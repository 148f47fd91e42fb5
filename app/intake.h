// The dialog program's reading: the data file and the start-value file in
// free form, and the display of the first cases.
#pragma once

#include <string>

#include "state/run.h"
#include "textio/console.h"

namespace talvo {

// Reads the N x K values of the data file FIN into X, case by case.
void read_data(Run& run);

// The first five cases on the console.
void show_first_cases(Console& con, const Run& run);

// A start-value file: K rows of K covariances, each row starting on a new
// line, then a row of K means; into SVC(1..K, 1..K) and SVC(0, 1..K).
void read_start_file(const std::string& name, std::int32_t K, Mat& SVC);

}  // namespace talvo
