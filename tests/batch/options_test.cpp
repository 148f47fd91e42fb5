// The command line of talvo-batch: what each option sets, the refusals a
// user reads, and the numbers it writes and reads.
#include "app/batch/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/batch/outputs.h"
#include "app/batch/trust.h"

namespace talvo::batch {
namespace {

// The command line "talvo-batch ARGS...".
Command parse(std::vector<std::string> args) {
    args.insert(args.begin(), "talvo-batch");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return parse_command_line(static_cast<int>(args.size()), argv.data());
}

// The options of a command line that must be accepted.
Options accepted(const std::vector<std::string>& args) {
    Command c = parse(args);
    EXPECT_EQ(c.what, Command::What::Run) << c.error;
    EXPECT_EQ(c.error, "");
    return c.options;
}

TEST(CommandLine, DefaultsWithOnlyADataFile) {
    Options o = accepted({"d.csv"});
    EXPECT_EQ(o.data, "d.csv");
    EXPECT_FALSE(o.cases || o.variables || o.missing);
    EXPECT_FALSE(o.header || o.na || o.all || o.attrition || o.force || o.csv || o.plot);
    EXPECT_EQ(o.na_words, std::vector<std::string>{"NA"});
    EXPECT_EQ(o.start, Start::Listwise);
    EXPECT_EQ(o.start_file, "");
    EXPECT_EQ(o.max_passes, 200);
    EXPECT_EQ(o.criterion, kRelativeCrit);
    EXPECT_FALSE(o.absolute || o.start_given);
    EXPECT_EQ(o.ridge, 0.0);
    EXPECT_EQ(o.format, "");
    EXPECT_EQ(o.out, ".");
}

TEST(CommandLine, EveryOptionLongAndShort) {
    Options o = accepted({"--cases",       "12",      "--variables=3", "--missing",    "-99",      "--header",
                          "--na=NA,.,n/a", "--start", "pairwise",      "--max-passes", "0",        "--criterion",
                          "1e-8",          "--all",   "--attrition",   "-0.5,2",       "--format", "(3F12.4)",
                          "--out",         "res",     "--force",       "--csv",        "--plot",   "d.csv"});
    EXPECT_EQ(o.data, "d.csv");
    EXPECT_EQ(o.cases, 12);
    EXPECT_EQ(o.variables, 3);
    EXPECT_EQ(o.missing, -99.0);
    EXPECT_TRUE(o.header && o.na && o.all && o.attrition && o.force && o.csv && o.plot);
    EXPECT_EQ(o.na_words, (std::vector<std::string>{"NA", ".", "n/a"}));
    EXPECT_EQ(o.start, Start::Pairwise);
    EXPECT_EQ(o.max_passes, 0);
    EXPECT_EQ(o.criterion, 1e-8);
    EXPECT_EQ(o.b0, -0.5);
    EXPECT_EQ(o.b1, 2.0);
    EXPECT_EQ(o.format, "(3F12.4)");
    EXPECT_EQ(o.out, "res");

    // The short forms, joined to their values or not, and options after
    // the data file.
    Options s = accepted({"-n5", "-k", "2", "d.csv", "-m", "0", "-s", "start.cov", "-o", "out", "-f"});
    EXPECT_EQ(s.cases, 5);
    EXPECT_EQ(s.variables, 2);
    EXPECT_EQ(s.missing, 0.0);
    EXPECT_EQ(s.start, Start::File);
    EXPECT_EQ(s.start_file, "start.cov");
    EXPECT_EQ(s.out, "out");
    EXPECT_TRUE(s.force);
    EXPECT_EQ(s.data, "d.csv");

    // An unambiguous beginning of a long option stands for it.
    EXPECT_EQ(accepted({"--cas", "4", "d.csv"}).cases, 4);
}

TEST(CommandLine, NaWordsAndStartValues) {
    Options bare = accepted({"--na", "d.csv"});
    EXPECT_TRUE(bare.na);
    EXPECT_EQ(bare.na_words, std::vector<std::string>{"NA"});
    EXPECT_EQ(accepted({"--na=.", "d.csv"}).na_words, std::vector<std::string>{"."});
    // The words of --na are joined to it by '='; a separate word is taken as
    // the data file.
    EXPECT_EQ(parse({"--na", "missing", "d.csv"}).error, "one data file only ('d.csv' is one too many)");

    EXPECT_EQ(accepted({"--start", "listwise", "d.csv"}).start, Start::Listwise);
    EXPECT_EQ(accepted({"--start=pairwise", "d.csv"}).start, Start::Pairwise);
    // Any other word names a file; the last --start counts.
    Options f = accepted({"--start", "pairwise", "--start", "Listwise", "d.csv"});
    EXPECT_EQ(f.start, Start::File);
    EXPECT_EQ(f.start_file, "Listwise");
    Options back = accepted({"--start", "s.cov", "--start", "listwise", "d.csv"});
    EXPECT_EQ(back.start, Start::Listwise);
    EXPECT_EQ(back.start_file, "");

    EXPECT_EQ(accepted({"--attrition", "1e-3,-4", "d.csv"}).b1, -4.0);
    EXPECT_EQ(accepted({"--criterion", "0.5", "d.csv"}).criterion, 0.5);
    // The dialog's rule, its default given as talvo shows it.
    Options a = accepted({"--absolute-criterion", "9.999999747378752E-06", "d.csv"});
    EXPECT_TRUE(a.absolute);
    EXPECT_EQ(a.criterion, kDefaultCrit);
    EXPECT_FALSE(accepted({"--criterion", "1e-3", "--criterion", "1e-4", "d.csv"}).absolute);
    EXPECT_EQ(accepted({"--ridge", "2.5", "d.csv"}).ridge, 2.5);
    EXPECT_EQ(accepted({"--ridge=0", "d.csv"}).ridge, 0.0);
    EXPECT_TRUE(accepted({"--start", "listwise", "d.csv"}).start_given);
    Options ml = accepted({"--estimator", "ml", "--divisor", "n-1", "--accelerate", "--se", "d.csv"});
    EXPECT_TRUE(ml.ml && ml.divisor_n1 && ml.accelerate && ml.se);
    EXPECT_FALSE(accepted({"--estimator=legacy", "d.csv"}).ml);
    EXPECT_EQ(accepted({"--missing", "1e3", "d.csv"}).missing, 1000.0);
    EXPECT_EQ(accepted({"--cases", "2147483647", "d.csv"}).cases, 2147483647);
    EXPECT_EQ(accepted({"--", "-d.csv"}).data, "-d.csv");
}

TEST(CommandLine, ColumnsIdsAndReading) {
    Options o = accepted(
        {"--columns", "Ozone-Temp,7", "--columns=2-3", "--id", "day", "--decimal-comma", "--no-code-check", "d.csv"});
    EXPECT_EQ(o.columns, (std::vector<std::string>{"Ozone-Temp", "7", "2-3"}));
    EXPECT_EQ(o.ids, std::vector<std::string>{"day"});
    EXPECT_TRUE(o.decimal_comma);
    EXPECT_FALSE(o.code_check);
    o = accepted({"d.csv"});
    EXPECT_TRUE(o.columns.empty() && o.ids.empty() && !o.decimal_comma && o.code_check);
}

TEST(CommandLine, ImputationImpliesMaximumLikelihoodAndTakesTheRidgeAsItsPrior) {
    Options o = accepted({"--impute", "5", "d.csv"});
    EXPECT_EQ(o.impute, 5);
    EXPECT_TRUE(o.ml);
    EXPECT_EQ(o.seed, 1u);
    EXPECT_EQ(o.burn_in, 100);
    EXPECT_EQ(o.between, 50);
    o = accepted({"--impute", "1000", "--seed", "18446744073709551615", "--burn-in", "0", "--between", "1", "--ridge",
                  "2.5", "--estimator", "ml", "d.csv"});
    EXPECT_EQ(o.seed, 18446744073709551615u);
    EXPECT_EQ(o.burn_in, 0);
    EXPECT_EQ(o.between, 1);
    EXPECT_EQ(o.ridge, 2.5);
    // The prior of the draws, not of the estimates.
    EXPECT_EQ(estimator_of(o).ridge, 0.0);
    const std::vector<std::string> planned = planned_files(o);
    for (const char* f : {"imputed-1.csv", "imputed-1000.csv", "imputed-flags.csv", "pooled.csv"})
        EXPECT_NE(std::find(planned.begin(), planned.end(), f), planned.end()) << f;
    // Outputs of an earlier run with more data sets are found too.
    const std::vector<std::string> every = output_files();
    EXPECT_NE(std::find(every.begin(), every.end(), "imputed-1000.csv"), every.end());
    EXPECT_NE(std::find(every.begin(), every.end(), "chains.svg"), every.end());

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--impute", "1", "d.csv"}, "--impute '1': a number of data sets from 2 to 1000 is needed"},
        {{"--impute", "1001", "d.csv"}, "--impute '1001': a number of data sets from 2 to 1000 is needed"},
        {{"--impute", "5", "--seed", "-1", "d.csv"},
         "--seed '-1': a whole number from 0 to 18446744073709551615 is needed"},
        {{"--impute", "5", "--seed", "18446744073709551616", "d.csv"},
         "--seed '18446744073709551616': a whole number from 0 to 18446744073709551615 is needed"},
        {{"--impute", "5", "--between", "0", "d.csv"}, "--between '0': a whole number of at least 1 is needed"},
        {{"--impute", "5", "--burn-in", "-1", "d.csv"}, "--burn-in '-1': a whole number of at least 0 is needed"},
        {{"--seed", "3", "d.csv"}, "--seed, --burn-in and --between need --impute"},
        {{"--impute", "5", "--estimator", "legacy", "d.csv"},
         "--impute starts from the maximum-likelihood estimates: give --estimator ml or none"},
        {{"--impute", "5", "--attrition", "0,1", "d.csv"},
         "--attrition is for the legacy estimator, not with --impute"},
        {{"--impute", "1000", "--burn-in", "2000000000", "--between", "2000000", "d.csv"},
         "--burn-in and --between: more passes of data augmentation than can be counted"},
    };
    for (const auto& [args, error] : refused) {
        const Command c = parse(args);
        EXPECT_EQ(c.what, Command::What::Usage) << error;
        EXPECT_EQ(c.error, error);
    }
}

TEST(CommandLine, HelpAndVersionEndEarly) {
    EXPECT_EQ(parse({"--help"}).what, Command::What::Help);
    EXPECT_EQ(parse({"-h", "--bogus"}).what, Command::What::Help);
    EXPECT_EQ(parse({"d.csv", "--version"}).what, Command::What::Version);
    EXPECT_EQ(parse({"-V"}).what, Command::What::Version);
    EXPECT_EQ(version_text().substr(0, 12), "talvo-batch ");
    EXPECT_EQ(version_text().back(), '\n');
    EXPECT_EQ(help_text().substr(0, 39), "Usage: talvo-batch [OPTIONS] DATAFILE\nE");
}

TEST(CommandLine, Refusals) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{}, "no data file given"},
        {{"--header"}, "no data file given"},
        {{""}, "the data file name is empty"},
        {{"a.csv", "b.csv"}, "one data file only ('b.csv' is one too many)"},
        {{"a.csv", "b.csv", "c.csv"}, "one data file only ('b.csv' is one too many)"},
        {{"--bogus", "d.csv"}, "unknown option '--bogus'"},
        {{"--bogus=3", "d.csv"}, "unknown option '--bogus'"},
        {{"-x", "d.csv"}, "unknown option '-x'"},
        {{"-fx", "d.csv"}, "unknown option '-x'"},
        {{"--c", "d.csv"}, "option '--c' is ambiguous: --cases, --columns, --criterion, --csv"},
        {{"--cr=-1", "d.csv"}, "--criterion '-1': a positive number is needed"},  // abbreviated: not ambiguous
        {{"d.csv", "--cases"}, "option '--cases' needs a value"},
        {{"d.csv", "-n"}, "option '-n' needs a value"},
        {{"--cases", "0", "d.csv"}, "--cases '0': a whole number of at least 1 is needed"},
        {{"--cases", "-3", "d.csv"}, "--cases '-3': a whole number of at least 1 is needed"},
        {{"--cases", "2.0", "d.csv"}, "--cases '2.0': a whole number of at least 1 is needed"},
        {{"--cases", " 2", "d.csv"}, "--cases ' 2': a whole number of at least 1 is needed"},
        {{"--cases", "", "d.csv"}, "--cases '': a whole number of at least 1 is needed"},
        {{"--cases", "2147483648", "d.csv"}, "--cases '2147483648': a whole number of at least 1 is needed"},
        {{"-k", "x", "d.csv"}, "--variables 'x': a whole number of at least 1 is needed"},
        {{"--max-passes", "-1", "d.csv"}, "--max-passes '-1': a whole number of at least 0 is needed"},
        {{"--criterion", "-1e-5", "d.csv"}, "--criterion '-1e-5': a positive number is needed"},
        {{"--criterion", "small", "d.csv"}, "--criterion 'small': a positive number is needed"},
        {{"--criterion", "1e400", "d.csv"}, "--criterion '1e400': a positive number is needed"},
        // No change is below 0: a criterion that is 0, or reads as 0, is never met.
        {{"--criterion", "0", "d.csv"},
         "--criterion '0': a positive number is needed (this one reads as 0, which no change is ever below)"},
        {{"--criterion", "-0.0", "d.csv"},
         "--criterion '-0.0': a positive number is needed (this one reads as 0, which no change is ever below)"},
        {{"--criterion", "1e-400", "d.csv"},
         "--criterion '1e-400': a positive number is needed (this one reads as 0, which no change is ever below)"},
        {{"--absolute-criterion", "-1", "d.csv"}, "--absolute-criterion '-1': a positive number is needed"},
        {{"--criterion", "1e-6", "--absolute-criterion", "1e-5", "d.csv"},
         "--absolute-criterion: --criterion and --absolute-criterion are two rules; give one"},
        {{"--absolute-criterion", "1e-5", "--criterion", "1e-6", "d.csv"},
         "--criterion: --criterion and --absolute-criterion are two rules; give one"},
        {{"--ridge", "-1", "d.csv"}, "--ridge '-1': a number of pseudo-observations of at least 0 is needed"},
        {{"--estimator", "em", "d.csv"},
         "--estimator 'em': ml (maximum likelihood) or legacy (talvo's estimator) is needed"},
        {{"--estimator", "ml", "--divisor", "n+1", "d.csv"}, "--divisor 'n+1': n or n-1 is needed"},
        {{"--se", "d.csv"}, "--se needs the maximum-likelihood estimator: give --estimator ml"},
        {{"--estimator", "ml", "--ridge", "1", "d.csv"},
         "--ridge is for the legacy estimator; the maximum-likelihood estimator has no prior"},
        {{"--estimator", "ml", "--absolute-criterion", "1e-5", "d.csv"},
         "--absolute-criterion is the legacy estimator's rule; the maximum-likelihood estimator stops by --criterion "
         "(a "
         "relative change)"},
        {{"--ridge", "1e999", "d.csv"}, "--ridge '1e999': a number of pseudo-observations of at least 0 is needed"},
        {{"--missing", "nine", "d.csv"}, "--missing 'nine': not a number"},
        {{"--missing", "-99.5", "d.csv"},
         "--missing '-99.5': a code with a fraction never matches (a value is missing when its whole-number part "
         "equals the code)"},
        {{"-m", "0.1", "d.csv"},
         "--missing '0.1': a code with a fraction never matches (a value is missing when its whole-number part "
         "equals the code)"},
        {{"--na=NA,,.", "d.csv"}, "--na=NA,,.: an empty word"},
        {{"--na=", "d.csv"}, "--na=: an empty word"},
        {{"--na=NA,", "d.csv"}, "--na=NA,: an empty word"},
        {{"--start", "", "d.csv"}, "--start: listwise, pairwise or a file name is needed"},
        {{"--attrition", "1", "d.csv"}, "--attrition '1': two numbers B0,B1 are needed (intercept, b-weight)"},
        {{"--attrition", "1,2,3", "d.csv"}, "--attrition '1,2,3': two numbers B0,B1 are needed (intercept, b-weight)"},
        {{"--attrition", "1,", "d.csv"}, "--attrition '1,': two numbers B0,B1 are needed (intercept, b-weight)"},
        {{"--attrition", "a,b", "d.csv"}, "--attrition 'a,b': two numbers B0,B1 are needed (intercept, b-weight)"},
        {{"--attrition", "1;2", "d.csv"}, "--attrition '1;2': two numbers B0,B1 are needed (intercept, b-weight)"},
        {{"--out", "", "d.csv"}, "--out: a folder name is needed"},
        {{"--columns", "a,,b", "d.csv"}, "--columns 'a,,b': an empty item"},
        {{"--id=", "d.csv"}, "--id '': an empty item"},
        {{"-n", "2", "-k", "2", "--id", "1", "d.csv"},
         "--columns and --id need each line to hold one case: give --cases or --variables, not both"},
        // The first fault is told, even when a later one would end the
        // line early.
        {{"--cases", "0", "--help"}, "--cases '0': a whole number of at least 1 is needed"},
    };
    for (const Case& c : cases) {
        Command cmd = parse(c.args);
        std::string line;
        for (const std::string& a : c.args) line += " '" + a + "'";
        EXPECT_EQ(cmd.what, Command::What::Usage) << line;
        EXPECT_EQ(cmd.error, c.error) << line;
    }
}

// An option that takes no value, given one, is refused by its own name,
// whether written whole or abbreviated, and whatever else is on the line.
TEST(CommandLine, AnOptionThatTakesNoValueRefusedByItsName) {
    for (std::string name : {"header", "all", "force", "csv", "plot", "help", "version"}) {
        for (std::string given : {"--" + name + "=yes", "--" + name.substr(0, 4) + "=", "--" + name + "=1"}) {
            Command cmd = parse({"-n", "3", given, "d.csv"});
            EXPECT_EQ(cmd.what, Command::What::Usage) << given;
            EXPECT_EQ(cmd.error, "option '--" + name + "' takes no value") << given;
        }
    }
    // A value an option may take is still its own: --na=WORDS.
    EXPECT_EQ(accepted({"--na=x", "d.csv"}).na_words, std::vector<std::string>{"x"});
    // The smallest positive criterion there is, and a tiny one written out.
    EXPECT_EQ(accepted({"--criterion", "5e-324", "d.csv"}).criterion, 5e-324);
    EXPECT_EQ(accepted({"--criterion", "1e-300", "d.csv"}).criterion, 1e-300);
}

TEST(Numbers, DefaultFormat) {
    EXPECT_EQ(default_format(1), "(1E24.16E3)");
    EXPECT_EQ(default_format(37), "(37E24.16E3)");
    for (std::int32_t K : {1, 2, 10, 250}) EXPECT_EQ(check_format(default_format(K), K), "") << K;
}

TEST(Numbers, ShortestIsShortAndExact) {
    struct Case {
        double v;
        const char* text;
    } cases[] = {{0.0, "0"},
                 {-0.0, "-0"},
                 {9.0, "9"},
                 {-99.0, "-99"},
                 {0.1, "0.1"},
                 {1e-3, "0.001"},
                 {2.5, "2.5"},
                 {1e23, "1e+23"},
                 {1e21, "1e+21"},
                 {5e-324, "5e-324"},
                 {-1.5e300, "-1.5e+300"},
                 {1.7976931348623157e308, "1.7976931348623157e+308"}};
    for (const Case& c : cases) EXPECT_EQ(shortest(c.v), c.text);
}

// A double and its shortest text read back as the same bits, by strtod
// and by the program's own reader.
void expect_round_trip(double v) {
    const std::string s = shortest(v);
    const double back = std::strtod(s.c_str(), nullptr);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << s;
    double ours = 0.0;
    EXPECT_TRUE(read_number(s, ours)) << s;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(ours), std::bit_cast<std::uint64_t>(v)) << s;
    EXPECT_LE(s.size(), 24u) << s;
}

TEST(Numbers, ShortestReadsBackTheSameDouble) {
    using L = std::numeric_limits<double>;
    for (double v : {0.0,
                     -0.0,
                     L::denorm_min(),
                     -L::denorm_min(),
                     L::min(),
                     L::min() - L::denorm_min(),
                     L::max(),
                     L::lowest(),
                     L::epsilon(),
                     1.0 + L::epsilon(),
                     1.0 / 3.0,
                     2.0 / 3.0,
                     0.1,
                     0.2,
                     0.3,
                     1e22,
                     1e23,
                     9007199254740993.0,
                     4.9406564584124654e-324,
                     2.2250738585072009e-308,
                     123456789012345678.0})
        expect_round_trip(v);

    std::mt19937_64 gen(20240611);
    // Random bit patterns: every binade and sign alike, subnormals included.
    for (int i = 0; i < 20000; ++i) {
        double v = std::bit_cast<double>(gen());
        if (!std::isfinite(v)) continue;
        expect_round_trip(v);
        if (::testing::Test::HasFailure()) return;
    }
    // Subnormals and values of ordinary data.
    std::uniform_real_distribution<double> data(-1e4, 1e4);
    for (int i = 0; i < 5000; ++i) {
        expect_round_trip(std::bit_cast<double>(gen() & 0x000FFFFFFFFFFFFFull));
        expect_round_trip(data(gen));
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(Numbers, ReadNumber) {
    struct Case {
        const char* text;
        bool ok;
        double v;
    } cases[] = {
        {"3", true, 3.0},    {"-2.5", true, -2.5}, {"+4", true, 4.0},  {"1e-3", true, 1e-3}, {"1E3", true, 1000.0},
        {".5", true, 0.5},   {"5.", true, 5.0},    {"-0", true, -0.0}, {"007", true, 7.0},   {"1e+308", true, 1e308},
        {"", false, 0},      {" 3", false, 0},     {"3 ", false, 0},   {"abc", false, 0},    {"1,5", false, 0},
        {"--1", false, 0},   {"1e", false, 0},     {"e5", false, 0},   {".", false, 0},      {"-", false, 0},
        {"1e400", false, 0}, {"inf", false, 0},    {"nan", false, 0},  {"0x10", false, 0},   {"1.2.3", false, 0},
    };
    for (const Case& c : cases) {
        double v = -12345.0;
        EXPECT_EQ(read_number(c.text, v), c.ok) << "'" << c.text << "'";
        if (c.ok) {
            EXPECT_EQ(v, c.v) << "'" << c.text << "'";
        }
    }
}

}  // namespace
}  // namespace talvo::batch
