// Shared helpers of the unit tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "state/allocate.h"
#include "state/run.h"
#include "textio/console.h"
#include "textio/format.h"

namespace talvo::testing {

// A console that reads the given input and writes into a temporary file.
class TestConsole {
public:
    explicit TestConsole(const std::string& input = "", bool terminal = false)
        : in_(std::tmpfile()), out_(std::tmpfile()) {
        std::fwrite(input.data(), 1, input.size(), in_);
        std::fflush(in_);
        std::rewind(in_);
        con = Console(fileno(in_), fileno(out_));
        con.set_terminal(terminal, terminal);
    }
    TestConsole(const TestConsole&) = delete;
    TestConsole& operator=(const TestConsole&) = delete;
    ~TestConsole() {
        std::fclose(in_);
        std::fclose(out_);
    }
    // Everything written so far.
    std::string output() const {
        std::string s;
        char buf[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(fileno(out_), buf, sizeof buf, at)) > 0; at += n) s.append(buf, n);
        return s;
    }
    Console con;

private:
    FILE* in_;
    FILE* out_;
};

// A run built in the test: parameters set by hand, storage allocated, the
// cases put into X as they would stand in the data file.
struct TestRun : TestConsole {
    Run run;
    explicit TestRun(const std::vector<std::vector<double>>& cases, double MVI = 9.0, std::string input = "\n\n")
        : TestConsole(input) {
        run.N = static_cast<std::int32_t>(cases.size());
        run.K = static_cast<std::int32_t>(cases[0].size());
        run.MVI = MVI;
        run.PTN = 20;
        run.SIV = StartMethod::Listwise;
        run.MAXITER = 200;
        run.CRIT = static_cast<double>(1.0e-5f);
        allocate(run);
        for (std::size_t i = 0; i < cases.size(); ++i)
            for (std::size_t j = 0; j < cases[i].size(); ++j) run.X(i + 1, j + 1) = cases[i][j];
    }
};

// The report a run ends with (the text of a stop), or "" when f returns.
template <class F>
std::string report_of(F f) {
    try {
        f();
    } catch (const RunEnd& e) {
        return e.kind == RunEnd::Kind::Stop ? e.message : report_text(e);
    }
    return "";
}

inline std::string fault_report(int number, const char* name) {
    return "\r\nrun-time error M" + std::to_string(number) + ": MATH\r\n- floating-point error: " + name + "\r\n";
}

// One output statement: the records joined by '|', then "E<number>" after
// an error.
inline std::string run_format(std::string_view text, std::vector<double> values) {
    struct Recorder final : format::RecordSink {
        std::vector<std::string> records;
        void record(std::string_view rec, bool line_end) override {
            records.emplace_back(std::string(rec) + (line_end ? "" : "$"));
        }
    } r;
    std::vector<format::Item> items;
    for (double v : values) items.push_back(format::Item::of(v));
    int e = format::write(r, format::translate(text), items);
    std::string out;
    for (std::size_t i = 0; i < r.records.size(); ++i) out += (i ? "|" : "") + r.records[i];
    if (e) out += (r.records.empty() ? "E" : "|E") + std::to_string(e);
    return out;
}

// The rows of a table under tests/tables: columns separated by tabs; lines
// that begin with # and empty lines are left out.
inline std::vector<std::vector<std::string>> table(const std::string& name) {
    std::ifstream in(std::string(TALVO_TABLES) + "/" + name);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        auto& row = rows.emplace_back();
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            row.push_back(line.substr(at, tab - at));
        row.push_back(line.substr(at));
    }
    EXPECT_FALSE(rows.empty()) << "no table " << name;
    return rows;
}

// A bracketed cell of a table, its escapes \t, \r, \n and \xNN replaced.
inline std::string cell(const std::string& s) {
    std::string out;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
        } else if (s[++i] == 'x') {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i] == 't' ? '\t' : s[i] == 'r' ? '\r' : '\n';
        }
    }
    return out;
}

#ifdef TALVO_TESTS
// A data set of tests/stats as R's write.csv writes it: a header, commas,
// NA for a missing value (NaN here); N cases of K values, case after case.
struct CsvData {
    std::int32_t N = 0, K = 0;
    std::vector<double> values;
};
inline CsvData read_r_csv(const std::string& name) {
    std::ifstream in(std::string(TALVO_TESTS) + "/stats/" + name + ".csv");
    CsvData d;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream fields(line);
        std::string f;
        std::int32_t k = 0;
        while (std::getline(fields, f, ',')) {
            d.values.push_back(f == "NA" ? NAN : std::stod(f));
            ++k;
        }
        d.K = k;
        ++d.N;
    }
    return d;
}

// Its values into X(1..N, 1..K) of an allocated run.
inline void put_values(Run& r, const CsvData& d) {
    for (std::int32_t I = 1; I <= r.N; ++I)
        for (std::int32_t J = 1; J <= r.K; ++J)
            r.X(I, J) = d.values[static_cast<std::size_t>(I - 1) * static_cast<std::size_t>(r.K) +
                                 static_cast<std::size_t>(J - 1)];
}
#endif

// A test that runs in a fresh temporary folder, removed afterwards.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/talvo-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    static std::string slurp(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::filesystem::path dir_, old_;
};

}  // namespace talvo::testing
