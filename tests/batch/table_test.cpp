// The reader of talvo-batch's data files: the separators and the header it
// understands, the faults it tells by line and column, the missing-value
// code it settles on, and the values it puts into X.
#include "app/batch/table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/batch/lines.h"
#include "helpers.h"

namespace talvo::batch {
namespace {

using Rows = std::vector<std::vector<double>>;

std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

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

TEST_F(Reading, NumberForms) {
    // The forms spreadsheets, R and Python write, each the correctly
    // rounded double of its text.
    ASSERT_EQ(read("+1 -1.5 .5 5. 1e3\n1E+3 2.5e-3 -0.1 0.3 1.7976931348623157e308\n"), "");
    EXPECT_EQ(values(), (Rows{{1, -1.5, .5, 5., 1e3}, {1e3, 2.5e-3, -0.1, 0.3, 1.7976931348623157e308}}));
    ASSERT_EQ(read("0.1000000000000000055511151231257827021181583404541015625 1\n"
                   "2.5e-324 2.4e-324\n"),
              "");
    EXPECT_EQ(values(), (Rows{{0.1, 1}, {5e-324, 0}}));  // either side of half the least subnormal

    // Forms that are not data, each refused with what was meant.
    struct Case {
        std::string field, says;
    } cases[] = {
        {"1.5-3", "is not a number; if an exponent is meant, write it with E (1.5E-3)"},
        {"1.5+3", "is not a number; if an exponent is meant, write it with E (1.5E+3)"},
        {"-2-3", "is not a number; if an exponent is meant, write it with E (-2E-3)"},
        {"4D-2", "is not a number; write its exponent with E (4E-2)"},
        {"4d2", "is not a number; write its exponent with E (4E2)"},
        {"Inf",
         "is not a finite number, and cannot be data; if it marks missing values, give --na=NA,Inf (the words that "
         "count as missing)"},
        {"-inf",
         "is not a finite number, and cannot be data; if it marks missing values, give --na=NA,-inf (the words that "
         "count as missing)"},
        {"NaN",
         "is not a finite number, and cannot be data; if it marks missing values, give --na=NA,NaN (the words that "
         "count as missing)"},
        {"2023-05",
         "looks like a date, and its column like a column of dates: leave it out of the variables (--columns)"},
        {"2023-05-01",
         "looks like a date, and its column like a column of dates: leave it out of the variables (--columns)"},
        {"05/01/2023",
         "looks like a date, and its column like a column of dates: leave it out of the variables (--columns)"},
        {"1.5.2023",
         "looks like a date, and its column like a column of dates: leave it out of the variables (--columns)"},
        {"1e", "is not a number"},
        {"1..2", "is not a number"},
        {"-", "is not a number; if it marks missing values, give --na=-"},
        {"0x10", "is not a number"},
        {"1e400", "is beyond the range of double precision"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read("1 2\n3 " + c.field + "\n"), "d.csv:2:3: field 2: \"" + c.field + "\" " + c.says) << c.field;
}

TEST_F(Reading, DecimalCommas) {
    // In a file separated by tabs or semicolons a comma may be the decimal
    // point, read as such with --decimal-comma only.
    EXPECT_EQ(read("x;y\n38,60;1\n2;3\n", {"--header"}),
              "d.csv:2:1: field 1: \"38,60\" has a decimal comma: give --decimal-comma to read the comma as the "
              "decimal point");
    ASSERT_EQ(read("x;y\n38,60;-1,5e2\n2;,5\n", {"--header", "--decimal-comma"}), "");
    EXPECT_EQ(values(), (Rows{{38.6, -150}, {2, .5}}));
    ASSERT_EQ(read("38,60\t1\n2\t3\n", {"--decimal-comma"}), "");
    EXPECT_EQ(values(), (Rows{{38.6, 1}, {2, 3}}));
    EXPECT_EQ(read("1.234,5;1\n2;3\n", {"--decimal-comma"}),
              "d.csv:1:1: field 1: \"1.234,5\" has a point: with --decimal-comma the decimal point is a comma, and "
              "thousands separators are not read");
    EXPECT_EQ(read("1,5 2\n3 4\n", {"--decimal-comma"}),
              "d.csv:1: --decimal-comma needs fields separated by tabs or semicolons, and this line has neither");
    // Semicolons in a file whose first line has none.
    EXPECT_EQ(read("x y\n1;2\n", {"--header"}),
              "d.csv:2:4: 1 values on this line; each line holds one case of 2 values (the header names 2); this "
              "line has semicolons, but the file's first line has none: the first line decides how fields are "
              "separated");
    EXPECT_EQ(read("x\n1;2\n", {"--header"}),
              "d.csv:2:1: field 1: \"1;2\" is not a number; this line has semicolons, but the file's first line has "
              "none: the first line decides how fields are separated");
    // Blanks do not separate when tabs do.
    EXPECT_EQ(read("1\t2 3\n4\t5\n"),
              "d.csv:1:3: field 2: \"2 3\" is not a number; the file's first line has a tab, so tabs alone separate "
              "its fields");
}

TEST_F(Reading, ColumnsAndIds) {
    const std::string file = "name,a,b,c,d\nx,1,2,3,4\n\"y, z\",5,6,NA,8\n,10,11,12,13\n";
    // Names, numbers and ranges of either; the variables in file order.
    for (std::vector<std::string> args : {std::vector<std::string>{"--columns", "d,b"},
                                          {"--columns", "3,5"},
                                          {"--columns", "b,d", "--id", "name"},
                                          {"--columns=3", "--columns=d"}}) {
        args.insert(args.end(), {"--header", "--na"});
        ASSERT_EQ(read(file, args), "") << args[1];
        EXPECT_EQ(table.names, (std::vector<std::string>{"b", "d"}));
        EXPECT_EQ(table.missing, 0);
        EXPECT_EQ(values(), (Rows{{2, 4}, {6, 8}, {11, 13}}));
    }
    ASSERT_EQ(read(file, {"--header", "--na", "--columns", "a-c", "--id", "1"}), "");
    EXPECT_EQ(table.names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(table.missing, 1);
    EXPECT_EQ(table.ids.header, "name,");
    EXPECT_EQ(table.ids.of_case(1), "x,");
    EXPECT_EQ(table.ids.of_case(2), "\"y, z\",");
    EXPECT_EQ(table.ids.of_case(3), ",");
    // Without --columns every column but the ids is a variable.
    ASSERT_EQ(read(file, {"--header", "--na", "--id", "name,c"}), "");
    EXPECT_EQ(table.names, (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(table.ids.header, "name,c,");
    EXPECT_EQ(table.ids.of_case(2), "\"y, z\",NA,");
    // Without a header, by number; a variable is named by its column.
    ASSERT_EQ(read("1 2 3\n4 5 6\n", {"--columns", "1,3"}), "");
    EXPECT_EQ(table.names, (std::vector<std::string>{"V1", "V3"}));
    EXPECT_EQ(values(), (Rows{{1, 3}, {4, 6}}));

    // Lists that cannot be used: the command line's fault.
    struct Case {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--columns", "e"}, "--columns 'e': no column has this name, and it is no column number"},
        {{"--columns", "6"}, "--columns '6': there is no column 6 (the lines hold 5 columns)"},
        {{"--columns", "0-2"}, "--columns '0-2': there is no column 0 (the lines hold 5 columns)"},
        {{"--columns", "4-2"}, "--columns '4-2': the first column of a range comes after the last"},
        {{"--columns", "d-b"}, "--columns 'd-b': the first column of a range comes after the last"},
        {{"--id", "Name"}, "--id 'Name': no column has this name, and it is no column number"},
        {{"--columns", "a,b", "--id", "2"}, "column 2 (a) is given both as a variable (--columns) and as an id (--id)"},
        {{"--id", "1-5"}, "no column is left as a variable (every column is an --id)"},
        {{"--id", "1", "-k", "3"}, "--variables is 3, but 4 columns are variables"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.end(), {"--header", "--na"});
        EXPECT_EQ(read(file, c.args), c.error) << c.args[1];
        EXPECT_TRUE(table.usage);
    }
    EXPECT_EQ(read("1 2\n3 4\n", {"--columns", "a"}),
              "--columns 'a': no column has this name: without --header, give column numbers");
}

TEST_F(Reading, TextColumns) {
    // Every column of text named at once, wherever its first text is.
    EXPECT_EQ(read("name,a,sex,b\nAl,1,m,2\nBo,3,f,4\n,5,NA,6\n7,7,8,x\n", {"--header", "--na"}),
              "d.csv:2:1: field 1: \"Al\" is text, not a number; columns 1 (name), 3 (sex), 4 (b) hold text: leave "
              "them out of the variables (--columns) or carry them into the outputs (--id 1,3,4)");
    ASSERT_EQ(read("name,a,sex,b\nAl,1,m,2\nBo,3,f,4\n", {"--header", "--id", "name", "--columns", "a,b"}), "");
    EXPECT_EQ(values(), (Rows{{1, 2}, {3, 4}}));
    // R's write.csv: row names under an empty name.
    EXPECT_EQ(read("\"\",\"a\",\"b\"\n\"1\",1,2\n\"2\",3,4\n", {"--header"}),
              "d.csv:2:1: field 1: \"1\" is quoted text, not a number; column 1 (V1) holds text: leave it out of the "
              "variables (--columns) or carry it into the outputs (--id 1); the first column has no name, as R's "
              "write.csv leaves its row names: give --id 1");
    ASSERT_EQ(read("\"\",\"a\",\"b\"\n\"1\",1,2\n\"2\",3,4\n", {"--header", "--id", "1"}), "");
    EXPECT_EQ(table.names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(table.ids.header, "V1,");
    // pandas: the index under an empty name.
    EXPECT_EQ(read(",a,b\n0,1,2\n1,3,4\n2,5,7\n", {"--header"}),
              "d.csv: column 1 has no name in the header and counts the cases, as pandas writes its index: give --id "
              "1 to carry it, or --columns to leave it out");
    ASSERT_EQ(read(",a,b\n0,1,2\n1,3,4\n2,5,7\n", {"--header", "--id", "1"}), "");
    EXPECT_EQ(table.ids.of_case(3), "2,");
    // A first line of words without --header asks for it.
    EXPECT_EQ(read("a b\n1 2\n3 4\n"),
              "d.csv:1:1: field 1: \"a\" is not a number; the first line looks like a header: give --header");
}

TEST_F(Reading, CodesThatLookMissing) {
    // -99 in a column of values from 1 to 40: refused, named with its count.
    std::string coded = "x y\n";
    for (int i = 1; i <= 40; ++i)
        coded += std::to_string(i % 7 == 0 ? -99 : i + 10) + " " + std::to_string(i + 10) + "\n";
    EXPECT_EQ(read(coded, {"--header"}),
              "d.csv: variable 1 (x): the value -99 occurs 5 times (12.5% of its 40 values), far below its other "
              "values (11 to 50): it looks like a missing-value code; give --missing -99 if it is one, or "
              "--no-code-check if the values are real");
    ASSERT_EQ(read(coded, {"--header", "--missing", "-99"}), "");
    EXPECT_EQ(table.missing, 5);
    ASSERT_EQ(read(coded, {"--header", "--no-code-check"}), "");
    EXPECT_EQ(table.missing, 0);

    struct Case {
        std::string about, text;
        bool refused;
    } cases[] = {
        {"once only", "1\n2\n3\n-99\n", false},
        {"999 far above", "1\n2\n3\n999\n999\n", true},
        {"999 within the spread", "100\n600\n999\n999\n", false},
        {"-9 below values of 0 or more", "0\n1\n3\n-9\n-9\n", true},
        {"-9 among negative values", "-5\n-1\n3\n-9\n-9\n", false},
        {"-8 far below", "100\n101\n102\n-8\n-8\n", true},
        {"8 is not a code", "0\n1\n8\n8\n", false},
        {"-99.5 is not a code", "1\n2\n-99.5\n-99.5\n", false},
        {"two codes, both far", "10\n11\n-99\n-99\n-999\n-999\n", true},
        {"a column of the code and one other value", "-99\n-99\n5\n", true},
        {"under 1% of the column", "1\n2\n-99\n-99\n" + repeat("3\n", 300), false},
    };
    for (const Case& c : cases) {
        const std::string e = read(c.text, {"--na"});
        EXPECT_EQ(!e.empty(), c.refused) << c.about << ": " << e;
    }
    // The check is made before the refusal of values in [9, 10) under the
    // default code, which it would otherwise hide.
    EXPECT_EQ(read("9.5\n1\n-99\n-99\n").substr(0, 50), "d.csv: variable 1 (V1): the value -99 occurs 2 tim");
}

TEST_F(Reading, NotText) {
    EXPECT_EQ(read(std::string("1 2\n3 4\0 5\n", 11)), "d.csv:2:4: a NUL byte (0x00): this is not a text file");
    EXPECT_EQ(read("1 2\n3\x1b[2J 4\n"),
              "d.csv:2:2: a control character (0x1B): a data file holds only text, tabs and line ends");
    std::string gz("\x1f\x8b\x08\x00", 4);
    EXPECT_EQ(read(gz), "d.csv:1:1: a control character (0x1F): a data file holds only text, tabs and line ends");
}

TEST_F(Reading, LongLinesAndBlocks) {
    // A line over 64 MiB is refused with its number, the rest unread.
    read("");
    {
        std::ofstream out("d.csv", std::ios::binary);
        out << "1 2\n3 4\n";
        const std::string block(1 << 20, '1');
        for (int i = 0; i <= 64; ++i) out << block;
    }
    EXPECT_EQ(read_table(options, table),
              "d.csv:3: the line is longer than 64 MiB (67108864 bytes), the longest line read; is this a data file?");
    // Lines across the blocks the file is read in, a CR LF split between
    // two, and a wide line of many blocks.
    const std::size_t m = (LineReader::kBlock - 8) / 5;
    std::string text = repeat("1 2\r\n", static_cast<int>(m));
    text += "1" + std::string(LineReader::kBlock - text.size() - 3, ' ') + "2\r";
    ASSERT_EQ(text.size(), LineReader::kBlock);
    text += "\n3 4\n";
    ASSERT_EQ(read(text), "");
    EXPECT_EQ(table.N, static_cast<std::int32_t>(m) + 2);
    EXPECT_EQ(values().back(), (std::vector<double>{3, 4}));
    std::string wide;
    for (int j = 0; j < 1000000; ++j) wide += j ? ",1" : "1";
    ASSERT_EQ(read(wide + "\n" + wide + "\n" + wide + "\r"), "");  // a million variables
    EXPECT_EQ(table.K, 1000000);
    EXPECT_EQ(table.N, 3);
    EXPECT_EQ(table.names.back(), "V1000000");
}

TEST_F(Reading, FromAPipe) {
    ASSERT_EQ(mkfifo("p.csv", 0600), 0);
    std::thread writer([] { std::ofstream("p.csv") << "a b\n1 2\n3 4\n"; });
    options = Options();
    options.data = "p.csv";
    options.header = true;
    EXPECT_EQ(read_table(options, table), "");
    writer.join();
    EXPECT_EQ(values(), (Rows{{1, 2}, {3, 4}}));
}

}  // namespace
}  // namespace talvo::batch
