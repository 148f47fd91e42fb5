// The help text of talvo-batch.
#include "app/batch/options.h"

namespace talvo::batch {

std::string_view help_text() {
    return R"(Usage: talvo-batch [OPTIONS] DATAFILE
Estimates the means and the covariance matrix of the variables in DATAFILE,
some of whose values are missing, by the EM algorithm of talvo(1), without
its dialog. DATAFILE holds numbers separated by commas and blanks, or by
tabs, or by semicolons (as its first line shows).

Data:
  -n, --cases N          number of cases (default: counted; each case one line)
  -k, --variables K      number of variables (default: counted from the first line)
  -m, --missing CODE     values whose whole-number part is CODE are missing
      --header           the first line names the variables
      --na[=WORDS]       NA (or the words listed, separated by commas) and
                         empty fields are missing values
      --columns LIST     the variables: names (with --header) or numbers from 1,
                         separated by commas, ranges as 2-5 or Ozone-Temp
                         (default: every column that is not an id)
      --id LIST          columns carried unchanged into the per-case outputs
      --decimal-comma    a comma is the decimal point (files separated by tabs
                         or semicolons)
      --no-code-check    do not refuse values that look like missing-value
                         codes (-99, 999, ...)
Estimation:
  -s, --start listwise|pairwise|FILE
                         start values (default listwise); FILE holds K rows of
                         covariances and a row of means, as temp.cov does
      --max-passes N     pass limit (default 200)
      --criterion X      stop when no mean or covariance changes by more than X
                         relative to its scale (positive; default 1e-6)
      --absolute-criterion X
                         the dialog's rule instead: stop when no covariance
                         changes by more than X (the dialog's passes and files)
      --ridge X          shrink the correlations toward 0 with X pseudo-
                         observations (for singular or near-singular data)
      --attrition B0,B1  fill the single missing value of a case with
                         B0 + B1 x its prediction
      --estimator ml|legacy
                         maximum likelihood (divisor N, with its log-likelihood
                         and statistics) or talvo's estimator (default legacy)
      --divisor n|n-1    the maximum-likelihood covariances with divisor N
                         (default) or rescaled to N - 1
      --accelerate       SQUAREM: the same estimates in far fewer passes (ml)
Statistics (with --estimator ml):
      --se               standard errors, fractions of missing information and
                         the asymptotic covariance matrix (standard-errors.csv,
                         acov.csv); summary.txt and summary.json are always
                         written, with Little's MCAR test
Multiple imputation (with the maximum-likelihood estimator):
      --impute M         M data sets (2 to 1000) by data augmentation from the
                         maximum-likelihood estimates: imputed-1.csv ...,
                         imputed-flags.csv (1 where drawn) and pooled.csv
                         (Rubin's rules); --ridge X: the ridge prior
      --seed S           seed of the draws (default 1): the same seed, the
                         same data sets, with any number of threads
      --burn-in B        passes before the first data set (default 100)
      --between T        passes from one data set to the next (default 50)
Results:
  -o, --out DIR          folder of the results (default: the current folder);
                         created when missing
  -f, --force            replace or remove the outputs of an earlier run there
      --format TEXT      format of temp.cov, temp.dat and temp.res
                         (default: (KE24.16E3), 16 significant digits)
      --all              also temp.ptn, temp.dat and temp.res
      --csv              also covariance.csv and means.csv; with --all also
                         completed.csv and filled.csv
      --plot             also trace.svg and patterns.svg; with --impute also
                         chains.svg, the series of the data augmentation
  -h, --help             show this help and end
  -V, --version          show the version and end

Exit status: 0 converged, 3 not converged (pass limit reached), 1 failed
(nothing estimated), 2 the command line cannot be used. Results are written
whole or not at all: a run that fails or is interrupted leaves only its log.
)";
}

}  // namespace talvo::batch
