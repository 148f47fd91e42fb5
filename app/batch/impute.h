// Multiple imputation in talvo-batch (--impute M): data augmentation from
// the maximum-likelihood estimates, the imputed data sets as CSV files, which
// values were drawn, Rubin's rules over every mean and covariance, and with
// --plot the series of the worst linear function and its autocorrelations.
#pragma once

#include <string>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/outputs.h"
#include "estimate/ml.h"

namespace talvo::batch {

// The files --impute writes: imputed-1.csv ... imputed-M.csv,
// imputed-flags.csv, pooled.csv, and with --plot chains.svg.
std::vector<std::string> impute_files(const Options& o);

// The log's line of the imputation's parameters.
std::string impute_head(const Options& o);

// Draws the data sets from the estimates theta and writes the files where
// path(name) says; the lines for the log go to `log`. "" or what went wrong
// writing; a draw that cannot be made ends the run (a RunEnd).
// Each case's row is led by its id columns.
std::string write_imputations(const Options& o, Run& run, const Normal& theta, const std::vector<std::string>& names,
                              const IdColumns& ids, const PathOf& path, std::vector<std::string>& log);

}  // namespace talvo::batch
