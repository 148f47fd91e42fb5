// The reader of talvo-batch's data files: the separators and the header it
// understands, the faults it tells by line and column, the missing-value
// code it settles on, and the values it puts into X.
#include "app/batch/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "helpers.h"

namespace talvo::batch {
namespace {

using Rows = std::vector<std::vector<double>>;

class Reading : public testing::InTempDir {
protected:
    // Writes text into d.csv and reads it with the options of the command
    // line "ARGS d.csv"; "" or the refusal.
    std::string read(const std::string& text, std::vector<std::string> args = {}) {
        std::ofstream("d.csv", std::ios::binary) << text;
        args.insert(args.begin(), "talvo-batch");
        args.push_back("d.csv");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        Command cmd = parse_command_line(static_cast<int>(args.size()), argv.data());
        EXPECT_EQ(cmd.what, Command::What::Run) << cmd.error;
        options = cmd.options;
        table = Table();
        return read_table(options, table);
    }
    // The values fill_data puts into X, case by case.
    Rows values() {
        talvo::Run run;
        run.N = table.N;
        run.K = table.K;
        allocate(run);
        fill_data(options, table, run);
        Rows rows(table.N, std::vector<double>(table.K));
        for (std::int32_t i = 1; i <= table.N; ++i)
            for (std::int32_t j = 1; j <= table.K; ++j) rows[i - 1][j - 1] = run.X(i, j);
        return rows;
    }
    Options options;
    Table table;
};

TEST_F(Reading, SeparatorsLineEndsAndBlankLines) {
    const Rows two_by_three{{1, 2.5, -3}, {4e2, 0, 6}};
    struct Case {
        const char* about;
        std::string text;
    } cases[] = {
        {"blanks", "1 2.5 -3\n4e2 0 6\n"},
        {"runs of blanks", "  1  2.5    -3  \n  4e2    0 6 \n"},
        {"tabs", "1\t2.5\t-3\n4e2\t0\t6\n"},
        {"tabs with blanks around", " 1 \t 2.5\t-3  \n4e2\t  0 \t6\n"},
        {"semicolons", "1;2.5;-3\n4e2 ; 0;\t6\n"},
        {"CR alone", "1 2.5 -3\r4e2 0 6\r"},
        {"CR at the end", "1 2.5 -3\r\n4e2 0 6\r"},
        {"commas", "1,2.5,-3\n4e2,0,6\n"},
        {"commas with blanks around", "1 , 2.5,  -3\n4e2 ,0 , 6\n"},
        {"commas and blanks mixed", "1,2.5 -3\n4e2 0,6\n"},
        {"CR LF", "1,2.5,-3\r\n4e2,0,6\r\n"},
        {"no line end at the end", "1 2.5 -3\n4e2 0 6"},
        {"blank lines", "\n1 2.5 -3\n\n  \t\n4e2 0 6\n\n\n"},
        {"CR LF blank lines", "\r\n1 2.5 -3\r\n\r\n4e2 0 6\r\n"},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "1,2.5,-3\n4e2,0,6\n"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(read(c.text), "") << c.about;
        EXPECT_EQ(table.N, 2) << c.about;
        EXPECT_EQ(table.K, 3) << c.about;
        EXPECT_FALSE(table.named) << c.about;
        EXPECT_EQ(table.names, (std::vector<std::string>{"V1", "V2", "V3"})) << c.about;
        EXPECT_EQ(table.missing, 0) << c.about;
        EXPECT_EQ(table.code, 9.0) << c.about;
        EXPECT_EQ(values(), two_by_three) << c.about;
    }
}

TEST_F(Reading, HeaderNames) {
    struct Case {
        std::string header;
        std::vector<std::string> names;
    } cases[] = {
        {"x y z", {"x", "y", "z"}},
        {"x,y,z\r", {"x", "y", "z"}},
        {"\xEF\xBB\xBFx,y,z", {"x", "y", "z"}},
        {"\"first name\",\"a,b\",\"say \"\"hi\"\"\"", {"first name", "a,b", "say \"hi\""}},
        {"\"\"\"\" \"q\"\"\" \"\"", {"\"", "q\"", "V3"}},  // an empty name is named by its place
        {"x,,z", {"x", "V2", "z"}},
        {"  x  \"y\"  z ", {"x", "y", "z"}},
        {"1 2 3", {"1", "2", "3"}},  // names that look like numbers are names
    };
    for (const Case& c : cases) {
        ASSERT_EQ(read(c.header + "\n1 2 3\n4 5 6\n", {"--header"}), "") << c.header;
        EXPECT_TRUE(table.named);
        EXPECT_EQ(table.names, c.names) << c.header;
        EXPECT_EQ(table.N, 2);
        EXPECT_EQ(values(), (Rows{{1, 2, 3}, {4, 5, 6}}));
    }
}

TEST_F(Reading, EmptyFieldsAndNaWords) {
    // Without --na an empty field or an NA is refused, and --na is named.
    EXPECT_EQ(read("1,,3\n4,5,6\n"),
              "d.csv:1:3: field 2 is empty; give --na to count NA and empty fields as missing values");
    EXPECT_EQ(read("1,2,3\n4,5,\n"),
              "d.csv:2:5: field 3 is empty; give --na to count NA and empty fields as missing values");
    EXPECT_EQ(read("1 2 3\n4 NA 6\n"),
              "d.csv:2:3: field 2: \"NA\" is not a number; give --na to count NA and empty fields as missing values");

    // With --na: empty fields anywhere on a line of commas, and the NA words.
    ASSERT_EQ(read(",2,3\n4,,6\n7,8,\n1,NA,2\n", {"--na"}), "");
    EXPECT_EQ(table.N, 4);
    EXPECT_EQ(table.missing, 4);
    EXPECT_TRUE(table.code_chosen);
    EXPECT_EQ(table.code, 9.0);
    EXPECT_EQ(values(), (Rows{{9, 2, 3}, {4, 9, 6}, {7, 8, 9}, {1, 9, 2}}));

    // The words given replace NA; they are matched exactly.
    EXPECT_EQ(read("1 . 3\n4 n/a 6\n", {"--na=.,n/a"}), "");
    EXPECT_EQ(table.missing, 2);
    EXPECT_EQ(read("1 NA 3\n4 5 6\n", {"--na=.,n/a"}),
              "d.csv:1:3: field 2: \"NA\" is not a number; if it marks missing values, give it among the --na words "
              "(--na=.,n/a,NA)");
    EXPECT_EQ(read("1 2 3\n4 na 6\n", {"--na"}),
              "d.csv:2:3: field 2: \"na\" is not a number; if it marks missing values, give it among the --na words "
              "(--na=NA,na)");
    EXPECT_EQ(read("1 2 3\n4 n/a 6\n"),
              "d.csv:2:3: field 2: \"n/a\" is not a number; if it marks missing values, give --na=n/a");
    // A quoted NA is text.
    EXPECT_EQ(read("1 2\n\"NA\" 3\n", {"--na"}),
              "d.csv:2:1: field 1: \"NA\" is quoted text, not a number; column 1 holds text: leave it out of the "
              "variables (--columns) or carry it into the outputs (--id 1)");
    // An NA word that reads as a number is a missing value all the same.
    ASSERT_EQ(read("1 -99\n2 3\n3 4\n", {"--na=-99"}), "");
    EXPECT_EQ(table.missing, 1);
    EXPECT_EQ(values(), (Rows{{1, 9}, {2, 3}, {3, 4}}));
    // Empty cells between tabs and semicolons.
    ASSERT_EQ(read("\t2\t3\n4\t\t6\n7\t8\t\n", {"--na"}), "");
    EXPECT_EQ(values(), (Rows{{9, 2, 3}, {4, 9, 6}, {7, 8, 9}}));
    ASSERT_EQ(read("a;b;c\n;2; 3\n4 ;;6\n", {"--na", "--header"}), "");
    EXPECT_EQ(values(), (Rows{{9, 2, 3}, {4, 9, 6}}));
    EXPECT_EQ(read("1\t\t3\n4\t5\t6\n"),
              "d.csv:1:3: field 2 is empty; give --na to count NA and empty fields as missing values");
}

TEST_F(Reading, TheCodeOfMissingValues) {
    // None given: 9, and a value it would match is refused.
    const std::string default_refusal =
        " would count as missing under the default code 9 (every value from 9 up to 10); give --missing 9 if 9 "
        "marks missing values, or --missing with the code your data use";
    EXPECT_EQ(read("1 2\n3 9.5\n"), "d.csv:2:3: field 2: 9.5" + default_refusal);
    EXPECT_EQ(read("1 2\n9 3\n"), "d.csv:2:1: field 1: 9" + default_refusal);
    EXPECT_EQ(read("1 9.999\n3 4\n"), "d.csv:1:3: field 2: 9.999" + default_refusal);
    ASSERT_EQ(read("10 -9.5\n8.999 -9\n"), "");
    EXPECT_EQ(table.missing, 0);

    // A code given: its values are missing; a value with the code as its
    // whole-number part is refused.
    ASSERT_EQ(read("1 9\n9 2\n3 4\n", {"--missing", "9"}), "");
    EXPECT_EQ(table.code, 9.0);
    EXPECT_FALSE(table.code_chosen);
    EXPECT_EQ(table.missing, 2);
    EXPECT_EQ(values(), (Rows{{1, 9}, {9, 2}, {3, 4}}));
    EXPECT_EQ(read("1 -99\n-99.5 2\n", {"-m", "-99"}),
              "d.csv:2:1: field 1: -99.5 would count as missing, its whole-number part being the code -99; choose a "
              "code that no observed value has");
    ASSERT_EQ(read("1 -99\n9.5 NA\n", {"-m", "-99", "--na"}), "");
    EXPECT_EQ(table.code, -99.0);
    EXPECT_FALSE(table.code_chosen);
    EXPECT_EQ(table.missing, 2);
    EXPECT_EQ(values(), (Rows{{1, -99}, {9.5, -99}}));

    // With --na and no code: the first of 9, -99, -999, ... whose whole
    // numbers no value has.
    struct Case {
        std::string text;
        double code;
    } cases[] = {
        {"1 NA\n2 3\n", 9},
        {"9 NA\n2 3\n", -99},
        {"9.9 NA\n-99 3\n", -999},
        {"9 -99.9\n-999 NA\n", -9999},
        {"-9 99\n-999.5 NA\n", 9},
        {"9 -99 -999 -9999 -99999 -999999\n-9999999 -99999999 -999999999 -9999999999 NA 1\n", -99999999999},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(read(c.text, {"--na"}), "") << c.text;
        EXPECT_EQ(table.code, c.code) << c.text;
        EXPECT_TRUE(table.code_chosen);
        EXPECT_EQ(table.missing, 1) << c.text;
        // The NA stands in X as the code, which no other value is.
        int coded = 0;
        for (const auto& row : values()) coded += static_cast<int>(std::count(row.begin(), row.end(), c.code));
        EXPECT_EQ(coded, 1) << c.text;
    }
    EXPECT_EQ(
        read("9 -99 -999 -9999 -99999 -999999\n-9999999 -99999999 -999999999 -9999999999 -99999999999 NA\n", {"--na"}),
        "d.csv: every code the program tries is a value of the data; give --missing");
}

TEST_F(Reading, FaultsByLineAndColumn) {
    struct Case {
        std::string text;
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        // Lines of the wrong length: the column after a short line, or of
        // the first field too many.
        {"1 2 3\n4 5 6\n7 8\n",
         {},
         "d.csv:3:4: 2 values on this line; each line holds one case of 3 values (as line 1 does)"},
        {"\n1 2\n3 4 5\n",
         {},
         "d.csv:3:5: 3 values on this line; each line holds one case of 2 values (as line 2 does)"},
        {"1,2\r\n3\r\n", {}, "d.csv:2:2: 1 values on this line; each line holds one case of 2 values (as line 1 does)"},
        {"1 2\n3 4\n",
         {"-k", "3"},
         "d.csv:1:4: 2 values on this line; each line holds one case of 3 values (--variables 3)"},
        {"a b\n1 2 3\n",
         {"--header"},
         "d.csv:2:5: 3 values on this line; each line holds one case of 2 values (the header names 2)"},
        // Fields that are not numbers; a first line of words asks for --header.
        {"x y\n1 2\n",
         {},
         "d.csv:1:1: field 1: \"x\" is not a number; the first line looks like a header: give --header"},
        {"1 2\n3 4x\n", {}, "d.csv:2:3: field 2: \"4x\" is not a number"},
        {"1 2\n3,\t1..2\n", {}, "d.csv:2:4: field 2: \"1..2\" is not a number"},
        {"1 2\n3 1e400\n", {}, "d.csv:2:3: field 2: \"1e400\" is beyond the range of double precision"},
        {"1 2\n3 \"4\"\n",
         {},
         "d.csv:2:3: field 2: \"4\" is quoted text, not a number; column 2 holds text: leave it out of the variables "
         "(--columns) or carry it into the outputs (--id 2)"},
        // The header.
        {"\n1 2\n", {"--header"}, "d.csv:1: the header line is empty"},
        {"a b\n1 2\n", {"--header", "-k", "3"}, "d.csv:1: the header names 2 variables, but --variables is 3"},
        // Too few: no values, or one case.
        {"", {}, "d.csv: no data"},
        {"\n \n\r\n", {}, "d.csv: no data"},
        {"a,b\n", {"--header"}, "d.csv: no data"},
        {"1 2\n", {}, "d.csv: 1 case; at least 2 are needed (the covariances divide by N - 1)"},
        {"1 2\n", {"-n", "1"}, "d.csv: 1 case; at least 2 are needed (the covariances divide by N - 1)"},
        // --cases: each line a case.
        {"1 2\n3 4\n5 6\n", {"-n", "2"}, "d.csv:3: case 3, but --cases is 2"},
        {"1 2\n3 4\n\n", {"-n", "3"}, "d.csv: the data end after 2 cases (line 3), but --cases is 3"},
        // --cases and --variables: values counted across lines.
        {"1 2 3\n4 5 6 7\n",
         {"-n", "3", "-k", "2"},
         "d.csv:2:7: value 7 is beyond --cases 3 x --variables 2 = 6 values"},
        {"1 2 3\n4\n",
         {"-n", "3", "-k", "2"},
         "d.csv: the data end after 4 values (line 2), but --cases 3 x --variables 2 = 6 values"},
    };
    for (const Case& c : cases) EXPECT_EQ(read(c.text, c.args), c.error) << c.text;

    EXPECT_EQ(read("1 2\n", {"-n", "2"}).substr(0, 30), "d.csv: the data end after 1 ca");
    std::filesystem::remove("d.csv");
    EXPECT_EQ(read_table(options, table), "d.csv: cannot be opened: No such file or directory");
    std::filesystem::create_directory("d.csv");
    EXPECT_EQ(read_table(options, table), "d.csv: is a folder, not a data file");
}

TEST_F(Reading, CasesSpanningLines) {
    // With --cases and --variables the values are read in order, however
    // the lines break them.
    ASSERT_EQ(read("1 2 3\n4\n\n5,6\n", {"--cases", "3", "--variables", "2"}), "");
    EXPECT_EQ(table.N, 3);
    EXPECT_EQ(table.K, 2);
    EXPECT_EQ(values(), (Rows{{1, 2}, {3, 4}, {5, 6}}));

    ASSERT_EQ(read("a b c\n1 2 3 4 5\n6\n", {"--header", "-n", "2", "-k", "3"}), "");
    EXPECT_EQ(table.names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(values(), (Rows{{1, 2, 3}, {4, 5, 6}}));

    // --cases alone still takes each line as a case.
    ASSERT_EQ(read("1 2\n3 4\n", {"-n", "2"}), "");
    EXPECT_EQ(values(), (Rows{{1, 2}, {3, 4}}));
}

TEST_F(Reading, ExtremeNumbers) {
    ASSERT_EQ(read("1.7976931348623157e308 -4.9e-324\n0.1 -0\n"), "");
    EXPECT_EQ(values(), (Rows{{1.7976931348623157e308, -4.9e-324}, {0.1, -0.0}}));
}

}  // namespace
}  // namespace talvo::batch
