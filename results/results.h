// The result files: temp.cov always; with additional output temp.ptn, the
// final completion of X, temp.dat and temp.res. Where they go and what
// they are called is the caller's to say.
#pragma once

#include <string>

#include "base/errors.h"
#include "state/run.h"
#include "textio/files.h"

namespace talvo {

// The folder of the result files and the name of each.
struct ResultNames {
    std::string folder = ".";
    std::string cov = "temp.cov", ptn = "temp.ptn", dat = "temp.dat", res = "temp.res";
    // A file of the folder: the name alone for the current folder.
    std::string path(const std::string& name) const { return folder == "." ? name : folder + "/" + name; }
};

// The result files of one run, each open while it is written; temp.ptn
// stays open to the end of the run. Each file counts the fields it wrote
// as asterisks.
struct ResultFiles {
    ResultNames names;
    OutFile cov, ptn, dat, res;

    // The end of the run: temp.ptn is closed.
    void close();
    // A run ending early: the records collected for the files still open
    // are written out and the files closed. Those records were written
    // before whatever ended the run, so a failure among them becomes the end
    // to report (a stop keeps its message).
    void close_after_failure(RunEnd& end);
};

void write_results(Run& run, ResultFiles& files);

// The pattern listing temp.ptn, left open.
void write_pattern_file(const Run& run, ResultFiles& files);

}  // namespace talvo
