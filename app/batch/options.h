// The command line of talvo-batch: what a scripted run asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog.h"

namespace talvo::batch {

// Exit statuses, one for each way a run can end.
inline constexpr int kConverged = 0;
inline constexpr int kFailed = 1;  // the input refused, or the run ended early
inline constexpr int kUsage = 2;   // the command line cannot be used
inline constexpr int kNotConverged = 3;

enum class Start { Listwise, Pairwise, File };

// The most data sets --impute makes (more add nothing to the pooled estimates).
inline constexpr std::int32_t kMostImputations = 1000;

// The default criterion on the largest relative change of a pass.
inline constexpr double kRelativeCrit = 1e-6;

struct Options {
    std::string data;  // DATAFILE
    std::optional<std::int32_t> cases, variables;
    // The missing-value code. None given: 9, but a number it would match is
    // refused; with --na, a code that no number matches.
    std::optional<double> missing;
    bool header = false;
    bool na = false;                          // NA words and empty fields are missing values
    std::vector<std::string> na_words{"NA"};  // with --na=WORD,WORD...
    // The columns read: the variables (none given: every column not an id)
    // and the ids carried into the per-case outputs; each item a name, a
    // number from 1, or a range of either (A-B).
    std::vector<std::string> columns, ids;
    bool decimal_comma = false;  // a comma is the decimal point (tab- or semicolon-separated files)
    bool code_check = true;      // values that look like missing-value codes are refused
    Start start = Start::Listwise;
    std::string start_file;
    bool start_given = false;  // --start given (a listwise start is then kept, with a warning)
    std::int32_t max_passes = 200;
    // The criterion on the largest change relative to the scale, or with
    // --absolute-criterion the dialog's rule and passes.
    double criterion = kRelativeCrit;
    bool absolute = false;
    bool criterion_set = false;    // one of the two criterion options given
    double ridge = 0.0;            // --ridge: pseudo-observations of the ridge prior
    bool ml = false;               // --estimator ml: maximum likelihood
    bool divisor_n1 = false;       // --divisor n-1: the maximum-likelihood covariances rescaled
    bool accelerate = false;       // --accelerate: SQUAREM
    bool se = false;               // --se: standard errors and the asymptotic covariance matrix
    bool estimator_given = false;  // --estimator given
    // --impute M: M data sets by data augmentation from the maximum-likelihood
    // estimates (0: none), with --seed, --burn-in and --between.
    std::int32_t impute = 0;
    std::uint64_t seed = 1;
    std::int32_t burn_in = 100, between = 50;
    bool chain_given = false;  // --seed, --burn-in or --between given
    bool all = false;          // additional output
    bool attrition = false;
    double b0 = 0.0, b1 = 1.0;  // intercept and b-weight of the attrition line
    std::string format;         // empty: the default for K values
    std::string out = ".";
    bool force = false, csv = false, plot = false;
};

struct Command {
    enum class What { Run, Help, Version, Usage } what = What::Run;
    Options options;
    std::string error;  // for Usage
};

Command parse_command_line(int argc, char** argv);

// The format used when none is given: each value in 24 positions with 16
// significant digits and a three-digit exponent, K values a line.
std::string default_format(std::int32_t K);

std::string_view help_text();
std::string_view version_text();

// The shortest text that reads back as the same double.
std::string shortest(double v);

// A number in ordinary notation (3, -2.5, 1e-3); false if it is not one.
bool read_number(std::string_view text, double& out);

}  // namespace talvo::batch
