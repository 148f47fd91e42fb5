#include "app/batch/options.h"

#include <getopt.h>

#include <charconv>
#include <cmath>

#include "textio/numbers.h"

#ifndef TALVO_VERSION
#define TALVO_VERSION "unknown"
#endif

namespace talvo::batch {

namespace {

constexpr char kShort[] = ":n:k:m:s:o:fhV";

enum Long {
    Header = 256,
    Na,
    MaxPasses,
    Criterion,
    All,
    Attrition,
    Format,
    Csv,
    Plot,
    AbsoluteCriterion,
    Ridge,
    EstimatorOption,
    Divisor,
    Accelerate,
    StandardErrors,
    Columns,
    Id,
    DecimalComma,
    NoCodeCheck,
    Impute,
    Seed,
    BurnIn,
    Between
};

constexpr option kLong[] = {
    {"cases", required_argument, nullptr, 'n'},
    {"variables", required_argument, nullptr, 'k'},
    {"missing", required_argument, nullptr, 'm'},
    {"header", no_argument, nullptr, Header},
    {"na", optional_argument, nullptr, Na},
    {"columns", required_argument, nullptr, Columns},
    {"id", required_argument, nullptr, Id},
    {"decimal-comma", no_argument, nullptr, DecimalComma},
    {"no-code-check", no_argument, nullptr, NoCodeCheck},
    {"start", required_argument, nullptr, 's'},
    {"max-passes", required_argument, nullptr, MaxPasses},
    {"criterion", required_argument, nullptr, Criterion},
    {"absolute-criterion", required_argument, nullptr, AbsoluteCriterion},
    {"ridge", required_argument, nullptr, Ridge},
    {"estimator", required_argument, nullptr, EstimatorOption},
    {"divisor", required_argument, nullptr, Divisor},
    {"accelerate", no_argument, nullptr, Accelerate},
    {"se", no_argument, nullptr, StandardErrors},
    {"impute", required_argument, nullptr, Impute},
    {"seed", required_argument, nullptr, Seed},
    {"burn-in", required_argument, nullptr, BurnIn},
    {"between", required_argument, nullptr, Between},
    {"all", no_argument, nullptr, All},
    {"attrition", required_argument, nullptr, Attrition},
    {"format", required_argument, nullptr, Format},
    {"out", required_argument, nullptr, 'o'},
    {"force", no_argument, nullptr, 'f'},
    {"csv", no_argument, nullptr, Csv},
    {"plot", no_argument, nullptr, Plot},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// A whole number from min up; false if the text is anything else.
bool read_count(std::string_view text, std::int32_t min, std::int32_t& out) {
    std::int32_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min) return false;
    out = v;
    return true;
}

// The comma-separated parts of a text.
std::vector<std::string> split_commas(std::string_view text) {
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        std::size_t comma = text.find(',', at);
        parts.emplace_back(text.substr(at, comma == std::string_view::npos ? comma : comma - at));
        if (comma == std::string_view::npos) return parts;
        at = comma + 1;
    }
}

// The long options that "--NAME" abbreviates, separated by commas.
std::string matches(const std::string& given) {
    std::string all;
    if (given.size() < 3 || given.compare(0, 2, "--") != 0) return all;
    for (const option& l : kLong)
        if (l.name && std::string_view(l.name).starts_with(std::string_view(given).substr(2)))
            all += (all.empty() ? "--" : ", --") + std::string(l.name);
    return all;
}

// One option and its value into the options; "" or what is wrong.
std::string take(int c, std::string_view value, Options& o) {
    const std::string quoted = " '" + std::string(value) + "'";
    std::int32_t n = 0;
    double x = 0.0;
    switch (c) {
        case 'n':
            if (!read_count(value, 1, n)) return "--cases" + quoted + ": a whole number of at least 1 is needed";
            o.cases = n;
            return "";
        case 'k':
            if (!read_count(value, 1, n)) return "--variables" + quoted + ": a whole number of at least 1 is needed";
            o.variables = n;
            return "";
        case 'm':
            if (!read_number(value, x)) return "--missing" + quoted + ": not a number";
            if (std::trunc(x) != x)
                return "--missing" + quoted +
                       ": a code with a fraction never matches (a value is missing when its whole-number part "
                       "equals the code)";
            o.missing = x;
            return "";
        case Header: o.header = true; return "";
        case Na:
            o.na = true;
            if (value.data() == nullptr) return "";
            o.na_words = split_commas(value);
            for (const std::string& w : o.na_words)
                if (w.empty()) return "--na=" + std::string(value) + ": an empty word";
            return "";
        case Columns:
        case Id: {
            std::vector<std::string>& list = c == Columns ? o.columns : o.ids;
            const std::string name = c == Columns ? "--columns" : "--id";
            for (std::string& item : split_commas(value)) {
                if (item.empty()) return name + quoted + ": an empty item";
                list.push_back(std::move(item));
            }
            return "";
        }
        case DecimalComma: o.decimal_comma = true; return "";
        case NoCodeCheck: o.code_check = false; return "";
        case 's':
            if (value.empty()) return "--start: listwise, pairwise or a file name is needed";
            o.start = value == "listwise" ? Start::Listwise : value == "pairwise" ? Start::Pairwise : Start::File;
            o.start_file = o.start == Start::File ? std::string(value) : "";
            o.start_given = true;
            return "";
        case MaxPasses:
            if (!read_count(value, 0, n)) return "--max-passes" + quoted + ": a whole number of at least 0 is needed";
            o.max_passes = n;
            return "";
        case Criterion:
        case AbsoluteCriterion: {
            const std::string name = c == Criterion ? "--criterion" : "--absolute-criterion";
            // A run stops when the largest change is below the criterion: 0
            // (or a number so small that it reads as 0) is never met.
            if (!read_number(value, x) || !(x >= 0.0) || std::isinf(x))
                return name + quoted + ": a positive number is needed";
            if (x == 0.0)
                return name + quoted + ": a positive number is needed (this one reads as 0, which no change " +
                       "is ever below)";
            if (o.criterion_set && o.absolute != (c == AbsoluteCriterion))
                return name + ": --criterion and --absolute-criterion are two rules; give one";
            o.criterion = x;
            o.absolute = c == AbsoluteCriterion;
            o.criterion_set = true;
            return "";
        }
        case Ridge:
            if (!read_number(value, x) || !(x >= 0.0) || !std::isfinite(x))
                return "--ridge" + quoted + ": a number of pseudo-observations of at least 0 is needed";
            o.ridge = x;
            return "";
        case EstimatorOption:
            if (value != "ml" && value != "legacy")
                return "--estimator" + quoted + ": ml (maximum likelihood) or legacy (talvo's estimator) is needed";
            o.ml = value == "ml";
            o.estimator_given = true;
            return "";
        case Divisor:
            if (value != "n" && value != "n-1") return "--divisor" + quoted + ": n or n-1 is needed";
            o.divisor_n1 = value == "n-1";
            return "";
        case Accelerate: o.accelerate = true; return "";
        case StandardErrors: o.se = true; return "";
        case Impute:
            if (!read_count(value, 2, n) || n > kMostImputations)
                return "--impute" + quoted + ": a number of data sets from 2 to " + std::to_string(kMostImputations) +
                       " is needed";
            o.impute = n;
            return "";
        case Seed: {
            std::uint64_t seed = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
            if (ec != std::errc() || end != value.data() + value.size())
                return "--seed" + quoted + ": a whole number from 0 to 18446744073709551615 is needed";
            o.seed = seed;
            o.chain_given = true;
            return "";
        }
        case BurnIn:
            if (!read_count(value, 0, n)) return "--burn-in" + quoted + ": a whole number of at least 0 is needed";
            o.burn_in = n;
            o.chain_given = true;
            return "";
        case Between:
            if (!read_count(value, 1, n)) return "--between" + quoted + ": a whole number of at least 1 is needed";
            o.between = n;
            o.chain_given = true;
            return "";
        case All: o.all = true; return "";
        case Attrition: {
            auto parts = split_commas(value);
            if (parts.size() != 2 || !read_number(parts[0], o.b0) || !read_number(parts[1], o.b1))
                return "--attrition" + quoted + ": two numbers B0,B1 are needed (intercept, b-weight)";
            o.attrition = true;
            return "";
        }
        case Format: o.format = value; return "";
        case 'o':
            if (value.empty()) return "--out: a folder name is needed";
            o.out = value;
            return "";
        case 'f': o.force = true; return "";
        case Csv: o.csv = true; return "";
        case Plot: o.plot = true; return "";
    }
    return "";
}

}  // namespace

bool read_number(std::string_view text, double& out) {
    return !text.empty() && numbers::parse_real(text, 0, false, out) == 0;
}

std::string shortest(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string default_format(std::int32_t K) {
    std::string f = "(";
    f += std::to_string(K);
    return f += "E24.16E3)";
}

Command parse_command_line(int argc, char** argv) {
    Command cmd;
    auto usage = [&](std::string error) {
        cmd.what = Command::What::Usage;
        cmd.error = std::move(error);
        return cmd;
    };
    opterr = 0;
    optind = 0;  // start afresh
    for (;;) {
        int c = getopt_long(argc, argv, kShort, kLong, nullptr);
        if (c == -1) break;
        if (c == 'h' || c == 'V') {
            cmd.what = c == 'h' ? Command::What::Help : Command::What::Version;
            return cmd;
        }
        const std::string given = argv[optind - 1];
        if (c == '?') {
            // getopt tells a value given to an option that takes none by
            // that option's code, and an unknown short option by its letter.
            for (const option& l : kLong)
                if (l.name && l.has_arg == no_argument && l.val == optopt)
                    return usage("option '--" + std::string(l.name) + "' takes no value");
            if (optopt != 0 && optopt < 256) return usage("unknown option '-" + std::string(1, char(optopt)) + "'");
            const std::string name = given.substr(0, given.find('='));
            if (std::string all = matches(name); all.find(',') != std::string::npos)
                return usage("option '" + name + "' is ambiguous: " + all);
            return usage("unknown option '" + name + "'");
        }
        if (c == ':') return usage("option '" + given + "' needs a value");
        std::string error = take(c, optarg ? std::string_view(optarg) : std::string_view(), cmd.options);
        if (!error.empty()) return usage(error);
    }
    Options& o = cmd.options;
    if (o.chain_given && o.impute == 0) return usage("--seed, --burn-in and --between need --impute");
    if (o.impute > 0) {
        // Data augmentation starts from the maximum-likelihood estimates.
        if (o.estimator_given && !o.ml)
            return usage("--impute starts from the maximum-likelihood estimates: give --estimator ml or none");
        if (o.absolute)
            return usage(
                "--absolute-criterion is the legacy estimator's rule; --impute runs the maximum-likelihood "
                "estimator, which stops by --criterion");
        if (o.attrition) return usage("--attrition is for the legacy estimator, not with --impute");
        if (static_cast<std::int64_t>(o.burn_in) + static_cast<std::int64_t>(o.impute - 1) * o.between >=
            std::int64_t{1} << 30)
            return usage("--burn-in and --between: more passes of data augmentation than can be counted");
        o.ml = true;
    }
    if (!o.ml) {
        for (auto [given, name] :
             {std::pair{o.divisor_n1, "--divisor"}, {o.accelerate, "--accelerate"}, {o.se, "--se"}})
            if (given) return usage(std::string(name) + " needs the maximum-likelihood estimator: give --estimator ml");
    } else {
        if (o.absolute)
            return usage(
                "--absolute-criterion is the legacy estimator's rule; the maximum-likelihood estimator stops by "
                "--criterion (a relative change)");
        if (o.ridge > 0.0 && o.impute == 0)
            return usage("--ridge is for the legacy estimator; the maximum-likelihood estimator has no prior");
        if (o.attrition) return usage("--attrition is for the legacy estimator");
    }
    if (o.cases && o.variables && !(o.columns.empty() && o.ids.empty()))
        return usage("--columns and --id need each line to hold one case: give --cases or --variables, not both");
    if (optind >= argc) return usage("no data file given");
    if (optind + 1 < argc) return usage("one data file only ('" + std::string(argv[optind + 1]) + "' is one too many)");
    cmd.options.data = argv[optind];
    if (cmd.options.data.empty()) return usage("the data file name is empty");
    return cmd;
}

std::string_view version_text() { return "talvo-batch " TALVO_VERSION "\n"; }

}  // namespace talvo::batch
