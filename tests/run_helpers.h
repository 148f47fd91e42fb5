// A run built in the test itself: parameters set by hand, storage
// allocated, data put into X, the console reading and writing temporary
// files.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/intake.h"
#include "app/storage.h"
#include "textio/errors.h"
#include "helpers.h"

namespace talvo::testing {

class TestRun {
public:
    Run run;

    // N cases of K values each, as they would stand in the data file.
    TestRun(std::vector<std::vector<double>> cases, double MVI = 9.0, std::string console_input = "\n\n\n\n") {
        run.N = static_cast<std::int32_t>(cases.size());
        run.K = cases.empty() ? 1 : static_cast<std::int32_t>(cases[0].size());
        run.MVI = MVI;
        run.PTN = 20;
        run.SIV = 1;
        run.MAXITER = 200;
        run.CRIT = static_cast<double>(1.0e-5f);
        run.OUTFMT = "(6F12.7)";
        run.OUTFMT.resize(40, ' ');
        allocate(run);
        for (size_t i = 0; i < cases.size(); ++i)
            for (size_t j = 0; j < cases[i].size(); ++j)
                run.X(static_cast<std::int64_t>(i) + 1, static_cast<std::int64_t>(j) + 1) = cases[i][j];
        in_ = std::tmpfile();
        out_ = std::tmpfile();
        std::fwrite(console_input.data(), 1, console_input.size(), in_);
        std::fflush(in_);
        std::rewind(in_);
        run.con = Console(fileno(in_), fileno(out_));
        run.con.set_terminal(false, false);
    }
    TestRun(const TestRun&) = delete;
    TestRun& operator=(const TestRun&) = delete;
    ~TestRun() {
        std::fclose(in_);
        std::fclose(out_);
    }

    // Everything written to the console so far, control characters visible.
    std::string console() const { return visible(read_all(fileno(out_))); }

private:
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
};

// The report an ended run gives, or "" when f returns normally.
template <class F>
std::string report_of(F f) {
    try {
        f();
    } catch (const RunEnd& e) {
        return e.kind == RunEnd::Kind::Stop ? e.message : visible(report_text(e));
    }
    return "";
}

}  // namespace talvo::testing
