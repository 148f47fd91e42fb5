// Ending a run early: the run-time error report, the floating-point fault
// report and the stop with a message. Each unwinds to the run sequence as a
// RunEnd, which writes it, closes the files and ends the run with status 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvo {

// The statement kind named in a run-time error report.
enum class Stmt { Read, Write, Open };

// The three arithmetic faults that end a run, by their report numbers.
enum class Fault { Invalid = 6101, DivideByZero = 6103, Overflow = 6104 };

struct RunEnd {
    // Degenerate: the covariance the regressions would use is singular (a
    // check the dialog does not make); its message names the variables by
    // number, and the fields below let a program name them its own way.
    enum class Kind { IoError, MathFault, Stop, Degenerate };
    Kind kind = Kind::Stop;
    int number = 0;  // error number (IoError) or fault number (MathFault)
    Stmt stmt = Stmt::Read;
    std::string file;     // file named in an IoError report ("CON" for the console)
    std::string message;  // text of a Stop or a Degenerate end
    // Degenerate: the variable (1..K) found constant or dependent first, then
    // the earlier variables with a non-negligible weight in its regression
    // on them (none when it is constant).
    std::vector<int> variables;
    bool constant = false;  // Degenerate: the first variable does not vary
    double ratio = 0.0;     // Degenerate: its pivot over its variance (constant: variance over mean square)
    int pass = 0;           // Degenerate: the pass, 0 for the start values
};

// Error numbers the program reports or asks again on.
namespace err {
inline constexpr int IntOverflow = 6100;
inline constexpr int InvalidInt = 6101;
inline constexpr int RealOverflow = 6102;
inline constexpr int InvalidReal = 6103;
inline constexpr int NoDescriptor = 6206;      // no edit descriptor suits a real value
inline constexpr int StatementTooLong = 6207;  // an output statement beyond the size limit
inline constexpr int SecondHash = 6302;
inline constexpr int BadRadix = 6303;
inline constexpr int LineTooLong = 6407;
inline constexpr int BadFileName = 6412;
inline constexpr int AccessDenied = 6414;
inline constexpr int NoSuchPath = 6416;
inline constexpr int TooManyFiles = 6417;
inline constexpr int DiskFull = 6422;
inline constexpr int ReadFailure = 6500;
inline constexpr int EndOfFile = 6501;
inline constexpr int ZeroRepeat = 6502;
inline constexpr int RepeatTwice = 6503;
// Format text faults.
inline constexpr int FmtNumberMissing = 6980;
inline constexpr int FmtNoParen = 6981;
inline constexpr int FmtCountBelowOne = 6982;
inline constexpr int FmtCountNotAllowed = 6983;
inline constexpr int FmtNoNumber = 6984;
inline constexpr int FmtBadB = 6985;
inline constexpr int FmtTooDeep = 6986;
inline constexpr int FmtNoPoint = 6987;
inline constexpr int FmtUnterminated = 6988;
inline constexpr int FmtBadChar = 6989;
inline constexpr int FmtMinAboveWidth = 6990;
inline constexpr int FmtNumberTooLarge = 6991;
}  // namespace err

// The stop when the work arrays cannot be had.
inline constexpr std::string_view kNoStorage = "Not enough storage for data; aborting...";

// The one-line description written under a run-time error report.
std::string_view describe(int number);

[[noreturn]] void io_error(int number, Stmt stmt, std::string_view file);
[[noreturn]] void math_fault(Fault fault);
[[noreturn]] void stop(std::string message);

// The bytes a report writes to standard error (empty for a stop).
std::string report_text(const RunEnd& end);

// The same report in one line, its two lines joined by " - " ("run-time
// error F6501: READ(data.txt) - end of file"); a stop's message.
std::string report_line(const RunEnd& end);

}  // namespace talvo
