// What talvo-batch writes besides the result files: the check of --format,
// the files it plans and the output folder's checks, the CSV files, and the
// writer that tells a failed write.
#include "app/batch/outputs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/batch/staging.h"
#include "helpers.h"
#include "missing/coding.h"

namespace talvo::batch {
namespace {

namespace fs = std::filesystem;

TEST(FormatCheck, FaultsTold) {
    struct Case {
        std::string text;
        std::int32_t K;
        std::string error;
    } cases[] = {
        {"(3F12.4)", 3, ""},
        {"(F12.4)", 5, ""},  // used again for each value
        {"(1X,2E15.6E3/)", 7, ""},
        {"(2I5)", 0, ""},  // the translation only
        {"(2F12.7", 2, "--format '(2F12.7', column 8: format ends before its closing parenthesis (F6988)"},
        {"(2I5)", 2, "--format '(2I5)' for a row of 2 values: edit descriptor does not suit a real value (F6206)"},
        {"(2I5)", 1, "--format '(2I5)' for a row of 1 values: edit descriptor does not suit a real value (F6206)"},
    };
    for (const Case& c : cases) EXPECT_EQ(check_format(c.text, c.K), c.error) << c.text << " K=" << c.K;

    // A translation fault is told with its column whatever K is.
    for (const std::string text : {"F12.4", "(F12.)", "(Q3)", "(3F12.4"}) {
        const std::string e = check_format(text, 2);
        EXPECT_EQ(e.rfind("--format '" + text + "', column ", 0), 0u) << text << ": " << e;
        EXPECT_EQ(check_format(text, 0), e) << text;
    }
    // A format without a place for a value cannot write a row. (What
    // follows the closing parenthesis is not read, as ever.)
    EXPECT_EQ(check_format("(3F12.4) notes", 3), "");
    for (const std::string text : {"('x')", "(5X)", "(L2)"}) {
        EXPECT_EQ(check_format(text, 0), "") << text;
        EXPECT_EQ(check_format(text, 3).rfind("--format '" + text + "' for a row of 3 values: ", 0), 0u)
            << text << ": " << check_format(text, 3);
    }
}

TEST(OutputFolder, PlannedFiles) {
    using Names = std::vector<std::string>;
    Options o;
    EXPECT_EQ(planned_files(o), (Names{"talvo.log", "temp.cov", "summary.txt", "summary.json"}));
    o.all = true;
    EXPECT_EQ(planned_files(o),
              (Names{"talvo.log", "temp.cov", "temp.ptn", "temp.dat", "temp.res", "summary.txt", "summary.json"}));
    o.all = false;
    o.csv = true;
    o.plot = true;
    EXPECT_EQ(planned_files(o), (Names{"talvo.log", "temp.cov", "covariance.csv", "means.csv", "trace.svg",
                                       "patterns.svg", "summary.txt", "summary.json", "correlation.csv"}));
    o.all = true;
    EXPECT_EQ(planned_files(o), (Names{"talvo.log", "temp.cov", "temp.ptn", "temp.dat", "temp.res", "covariance.csv",
                                       "means.csv", "completed.csv", "filled.csv", "trace.svg", "patterns.svg",
                                       "summary.txt", "summary.json", "correlation.csv"}));
    o.ml = o.se = true;
    EXPECT_EQ(planned_files(o).size(), 18u);  // and pairwise.csv, mcar.csv, standard-errors.csv, acov.csv
    o.out = "res";
    EXPECT_EQ(in_folder(o, "temp.cov"), "res/temp.cov");
    o.out = ".";
    EXPECT_EQ(in_folder(o, "temp.cov"), "temp.cov");
}

class Outputs : public testing::InTempDir {};

TEST_F(Outputs, PrepareFolder) {
    Options o;
    // A missing folder is made, however deep.
    o.out = "res/a/b";
    EXPECT_EQ(prepare_folder(o), "");
    EXPECT_TRUE(fs::is_directory("res/a/b"));
    EXPECT_TRUE(fs::is_empty("res/a/b"));  // the probe file is gone
    EXPECT_EQ(prepare_folder(o), "");

    // The outputs of an earlier run are refused by name: those this run
    // writes, and those it does not, which would stand beside its results.
    std::ofstream("res/a/b/temp.cov") << "old";
    EXPECT_EQ(prepare_folder(o), "res/a/b/temp.cov exists; give --force to replace it, or another --out");
    std::ofstream("res/a/b/talvo.log") << "old";
    EXPECT_EQ(prepare_folder(o),
              "res/a/b/talvo.log, res/a/b/temp.cov exist; give --force to replace them, or another --out");
    std::ofstream("res/a/b/temp.dat") << "old";
    EXPECT_EQ(prepare_folder(o),
              "res/a/b/talvo.log, res/a/b/temp.cov exist, and res/a/b/temp.dat is an earlier run's output that this "
              "run would not write; give --force to replace and remove them, or another --out");
    o.all = true;
    EXPECT_EQ(prepare_folder(o),
              "res/a/b/talvo.log, res/a/b/temp.cov, res/a/b/temp.dat exist; give --force to replace them, or another "
              "--out");
    o.all = false;
    fs::remove("res/a/b/talvo.log");
    fs::remove("res/a/b/temp.cov");
    std::ofstream("res/a/b/trace.svg") << "old";
    EXPECT_EQ(prepare_folder(o),
              "res/a/b/temp.dat, res/a/b/trace.svg are an earlier run's outputs that this run would not write; give "
              "--force to remove them, or another --out");

    // With --force every output of an earlier run goes before the run, and
    // so do the temporary files of one that was killed; other files stay.
    std::ofstream("res/a/b/temp.cov") << "old";
    std::ofstream("res/a/b/.completed.csv.partial") << "old";
    std::ofstream("res/a/b/notes.txt") << "mine";
    o.force = true;
    EXPECT_EQ(prepare_folder(o), "");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator("res/a/b")) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"notes.txt"});

    // The data and start-value files are never removed, even when they bear
    // an output's name (a run that starts from the last one's estimates).
    std::ofstream("res/a/b/completed.csv") << "1,2\n3,4\n";
    std::ofstream("res/a/b/temp.cov") << "1 0\n0 1\n0 0\n";
    std::ofstream("res/a/b/temp.res") << "old";
    o.data = "res/a/b/completed.csv";
    o.start = Start::File;
    o.start_file = "res/a/b/temp.cov";
    EXPECT_EQ(prepare_folder(o), "");
    EXPECT_EQ(slurp("res/a/b/completed.csv"), "1,2\n3,4\n");
    EXPECT_EQ(slurp("res/a/b/temp.cov"), "1 0\n0 1\n0 0\n");
    EXPECT_FALSE(fs::exists("res/a/b/temp.res"));
    fs::remove("res/a/b/completed.csv");
    fs::remove("res/a/b/temp.cov");
    o.start = Start::Listwise;
    o.start_file = "";

    // The current folder: the names alone. A dangling link is in the way too.
    Options here;
    fs::create_symlink("nowhere", "means.csv");
    EXPECT_EQ(prepare_folder(here),
              "means.csv is an earlier run's output that this run would not write; give --force "
              "to remove it, or another --out");
    here.csv = true;
    EXPECT_EQ(prepare_folder(here), "means.csv exists; give --force to replace it, or another --out");

    // A file where the folder should be.
    std::ofstream("plain") << "x";
    o.out = "plain";
    EXPECT_EQ(prepare_folder(o).rfind("plain: ", 0), 0u) << prepare_folder(o);
    o.out = "plain/sub";
    EXPECT_EQ(prepare_folder(o).rfind("plain/sub: the output folder cannot be made: ", 0), 0u) << prepare_folder(o);
}

TEST_F(Outputs, PrepareFolderThatCannotBeWritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    fs::create_directory("locked");
    fs::permissions("locked", fs::perms::owner_read | fs::perms::owner_exec);
    Options o;
    o.out = "locked";
    EXPECT_EQ(prepare_folder(o), "locked: the output folder cannot be written: Permission denied");
    fs::permissions("locked", fs::perms::owner_all);
}

TEST_F(Outputs, WriterTellsAFailedWrite) {
    {
        Writer w("/dev/full");
        w.out() = "1,2\n";
        w.step();  // too little to write yet
        EXPECT_EQ(w.finish(), "/dev/full: cannot be written: No space left on device");
    }
    {
        Writer w("/dev/full");
        w.out().assign(3 << 20, 'x');
        w.step();  // the first block fails here; the rest is not tried
        w.out() = "more";
        EXPECT_EQ(w.finish(), "/dev/full: cannot be written: No space left on device");
    }
    {
        Writer w("no/such/folder.csv");
        w.out() = "x";
        EXPECT_EQ(w.finish(), "no/such/folder.csv: cannot be written: No such file or directory");
    }
    // Written in blocks, the file is whole; a file that was longer is cut.
    std::ofstream("big.txt") << std::string(5 << 20, 'o');
    std::string want;
    {
        Writer w("big.txt");
        for (int i = 0; i < 300000; ++i) {
            w.out() += std::to_string(i) + "\n";
            w.step();
        }
        for (int i = 0; i < 300000; ++i) want += std::to_string(i) + "\n";
        EXPECT_EQ(w.finish(), "");
    }
    EXPECT_EQ(slurp("big.txt"), want);
}

// The fields of a CSV file's lines, split at commas (no quotes).
std::vector<std::vector<std::string>> fields(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        auto& row = rows.emplace_back();
        std::size_t at = 0;
        for (std::size_t comma; (comma = line.find(',', at)) != std::string::npos; at = comma + 1)
            row.push_back(line.substr(at, comma - at));
        row.push_back(line.substr(at));
    }
    return rows;
}

// A number of a CSV file read back by strtod, the whole field taken.
std::uint64_t bits_of(const std::string& field) {
    char* end = nullptr;
    const double v = std::strtod(field.c_str(), &end);
    EXPECT_EQ(*end, '\0') << field;
    return std::bit_cast<std::uint64_t>(v);
}

TEST_F(Outputs, CsvFiles) {
    // Four cases of three variables, two values missing; the estimate and
    // the filled-in values set by hand, extreme ones among them.
    testing::TestRun t({{1, 9, 3}, {4, 5, 6}, {7, 8, 9}, {1, 2, 3}});
    talvo::Run& run = t.run;
    code_and_classify(run);
    std::mt19937_64 gen(7);
    auto any = [&] {
        double v;
        do v = std::bit_cast<double>(gen());
        while (!std::isfinite(v));
        return v;
    };
    for (int i = 0; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) run.COV(i, j) = any();
    run.COV(0, 1) = 0.1;
    run.COV(1, 1) = 5e-324;
    run.COV(2, 2) = -0.0;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 3; ++j) run.X(i, j) = any();
    run.X(1, 1) = 1.0;

    const std::vector<std::string> names{"plain", "a,b", "say \"hi\""};
    Options o;
    o.out = "res";
    fs::create_directory("res");
    ASSERT_EQ(write_csv_files(o, run, names), "");
    EXPECT_FALSE(fs::exists("res/completed.csv"));  // only with additional output

    const std::string header = "plain,\"a,b\",\"say \"\"hi\"\"\"\n";
    const std::string cov = slurp("res/covariance.csv"), means = slurp("res/means.csv");
    EXPECT_EQ(cov.substr(0, 9 + header.size()), "variable," + header);
    EXPECT_EQ(cov.substr(9 + header.size(), 6), "plain,");
    EXPECT_NE(cov.find("\n\"a,b\","), std::string::npos);
    EXPECT_NE(cov.find("\n\"say \"\"hi\"\"\","), std::string::npos);
    EXPECT_EQ(means.substr(0, header.size() + 4), header + "0.1,");
    EXPECT_EQ(means.back(), '\n');
    EXPECT_EQ(cov.find('\r'), std::string::npos);

    // Every number reads back as the double it was: the last K fields of
    // each covariance row (a quoted name before them may hold commas).
    auto m = fields(means.substr(header.size()));
    ASSERT_EQ(m.size(), 1u);
    ASSERT_EQ(m[0].size(), 3u);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(bits_of(m[0][j - 1]), std::bit_cast<std::uint64_t>(run.COV(0, j)));
    std::istringstream lines(cov);
    std::string line;
    std::getline(lines, line);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(std::getline(lines, line));
        auto row = fields(line)[0];
        ASSERT_GE(row.size(), 4u) << line;
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(bits_of(row[row.size() - 4 + j]), std::bit_cast<std::uint64_t>(run.COV(i, j))) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));

    // With additional output: the completed data and where it was filled.
    run.OPTOUT = 1;
    ASSERT_EQ(write_csv_files(o, run, {"x", "y", " z"}), "");
    EXPECT_EQ(slurp("res/filled.csv"), "x,y,\" z\"\n0,1,0\n0,0,0\n0,0,1\n0,0,0\n");
    const std::string completed = slurp("res/completed.csv");
    EXPECT_EQ(completed.substr(0, 11), "x,y,\" z\"\n1,");
    auto c = fields(completed.substr(completed.find('\n') + 1));
    ASSERT_EQ(c.size(), 4u);
    for (int i = 1; i <= 4; ++i) {
        ASSERT_EQ(c[i - 1].size(), 3u);
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(bits_of(c[i - 1][j - 1]), std::bit_cast<std::uint64_t>(run.X(i, j)));
    }

    // A folder that is not there: the first file is named.
    o.out = "gone";
    EXPECT_EQ(write_csv_files(o, run, names), "gone/covariance.csv: cannot be written: No such file or directory");
}

TEST_F(Outputs, CsvNamesQuotedWhenTheyMustBe) {
    struct Case {
        std::string name, field;
    } cases[] = {
        {"age", "age"},
        {"first name", "first name"},
        {"a,b", "\"a,b\""},
        {"5\" tall", "\"5\"\" tall\""},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"\ttab", "\"\ttab\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"", "\"\""},
        {"é", "é"},
    };
    testing::TestRun t(std::vector<std::vector<double>>{{1.0}, {2.0}});
    Options o;
    for (const Case& c : cases) {
        ASSERT_EQ(write_csv_files(o, t.run, {c.name}), "");
        EXPECT_EQ(slurp("means.csv"), c.field + "\n0\n") << c.name;
        EXPECT_EQ(slurp("covariance.csv"), "variable," + c.field + "\n" + c.field + ",0\n") << c.name;
    }
}

// Result files under temporary names, put in place together or not at all.
TEST_F(Outputs, StagingPutsEveryResultInPlaceOrNone) {
    Options o;
    o.out = "res";
    o.csv = true;
    fs::create_directory("res");
    auto names = [] {
        std::vector<std::string> all;
        for (const auto& e : fs::directory_iterator("res")) all.push_back(e.path().filename());
        std::sort(all.begin(), all.end());
        return all;
    };
    using Names = std::vector<std::string>;
    const Names temps{".correlation.csv.partial", ".covariance.csv.partial", ".means.csv.partial",
                      ".summary.json.partial",    ".summary.txt.partial",    ".temp.cov.partial"};
    const Names results{"correlation.csv", "covariance.csv", "means.csv", "summary.json", "summary.txt", "temp.cov"};
    auto write_every_result = [](const Staging& s) {
        for (const char* f :
             {"temp.cov", "covariance.csv", "means.csv", "summary.txt", "summary.json", "correlation.csv"})
            std::ofstream(s.path(f)) << f;
    };
    {
        Staging s(o);
        EXPECT_EQ(s.path("temp.cov"), "res/.temp.cov.partial");
        write_every_result(s);
        EXPECT_EQ(names(), temps);
        SignalsHeld held;
        EXPECT_EQ(s.commit(), "");
        EXPECT_EQ(names(), results);
        EXPECT_EQ(slurp("res/temp.cov"), "temp.cov");
    }
    EXPECT_EQ(names(), results);  // kept once in place
    {
        // The log's last line failed: the results go again.
        Staging s(o);
        write_every_result(s);
        SignalsHeld held;
        ASSERT_EQ(s.commit(), "");
        s.withdraw();
        EXPECT_EQ(names(), Names{});
    }
    {
        // A run that fails, or ends without commit: the temporary files go.
        Staging s(o);
        write_every_result(s);
        EXPECT_EQ(names(), temps);
    }
    EXPECT_EQ(names(), Names{});
    {
        // A file that was not written: none is put in place, none is left.
        Staging s(o);
        std::ofstream(s.path("temp.cov")) << "x";
        std::ofstream(s.path("covariance.csv")) << "x";
        SignalsHeld held;
        EXPECT_EQ(s.commit(), "res/means.csv: cannot be put in place: No such file or directory");
        EXPECT_EQ(names(), Names{});
    }
    // The same in the current folder: the names alone.
    Options here;
    Staging s(here);
    EXPECT_EQ(s.path("temp.cov"), ".temp.cov.partial");
}

}  // namespace
}  // namespace talvo::batch
