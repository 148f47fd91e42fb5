// The run's state: the run parameters, every work array and scalar, the
// console and the result files. The run sequence owns the one instance; the
// phases are functions over it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/matrix.h"
#include "textio/console.h"
#include "textio/files.h"

namespace talvo {

// The fourteen run parameters, filled by the dialog.
struct Params {
    double CRIT = 0.0;
    double MVI = 0.0;
    std::int32_t N = 0;
    std::int32_t K = 0;
    std::int32_t MAXITER = 0;
    std::int32_t OPTOUT = 0;
    std::int32_t SIV = 0;
    std::int32_t PTN = 0;
    std::string FIN;     // 40 characters
    std::string SVFIN;   // 40 characters
    std::string OUTFMT;  // 40 characters
    double YHAT = 0.0;
    double YINT = 0.0;
    std::int32_t BMOD = 0;
};

struct Run : Params {
    // Work arrays (allocated once, after the dialog).
    // The data, 1..N by 0..K: column 0 the constant 1 (once coded), then the
    // values as read; once coded, a missing value is 0, later its filled-in
    // value. The observed flags and counts are those of each case's pattern:
    // PATT(I) is the row of case I in the pattern table.
    Mat X;
    Vector<std::int32_t> PATT;
    Mat B;        // 0..K by 0..K: regression of each variable on the others
    Mat CS;       // complete-case sums
    Mat PS;       // pairwise sums over the incomplete cases
    IMat PSN;     // pairwise counts over the incomplete cases
    Mat SS;       // sums of squares and cross-products
    Mat G;        // matrix being swept
    Mat H;        // sweep result
    Mat T;        // reordering scratch
    Mat COV;      // estimate: covariances (divisor N-1), means in row 0
    Mat CORR;     // conditional covariance correction
    IMat P;       // 1..NPATT (grows) by 1..K+2: pattern table
    FlagMat OBS;  // 1..NPATT by 1..K: 1 where the pattern observes the variable

    // Scalars.
    std::int32_t NPATT = 0;
    std::int32_t COUNT = 0;
    std::int32_t PNUM = 0;
    float CPATT = 0.0f;
    std::int32_t S1 = 0;
    double S2 = 0.0, S3 = 0.0, PS1 = 0.0, PS2 = 0.0;
    double RN = 0.0, CN = 0.0, CN1 = 0.0;
    double MAXDIFF = 0.0, XDIFF = 0.0;

    // For whoever watches the iteration: the largest change of each pass,
    // pass 0 first, and what to do after each pass.
    std::vector<double> changes;
    std::function<void(const Run&)> after_pass;

    // The console and the result files.
    Console con;
    OutFile cov;  // temp.cov
    OutFile ptn;  // temp.ptn, open to the end of the run
    OutFile dat;  // temp.dat
    OutFile res;  // temp.res
};

}  // namespace talvo
