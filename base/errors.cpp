#include "base/errors.h"

#include <cstdio>
#include <utility>

namespace talvo {

std::string_view describe(int number) {
    switch (number) {
        case err::IntOverflow: return "integer overflow";
        case err::InvalidInt: return "invalid integer";
        case err::RealOverflow: return "real overflow";
        case err::InvalidReal: return "invalid real";
        case err::NoDescriptor: return "edit descriptor does not suit a real value";
        case err::StatementTooLong: return "record too long";
        case err::SecondHash: return "second # in an integer field";
        case err::BadRadix: return "radix outside 2 to 36";
        case err::LineTooLong: return "console input line too long";
        case err::BadFileName: return "invalid file name";
        case err::AccessDenied: return "access to the file denied";
        case err::NoSuchPath: return "no such file or directory";
        case err::TooManyFiles: return "too many open files";
        case err::DiskFull: return "no space left on the disk";
        case err::ReadFailure: return "read failure reported by the operating system";
        case err::EndOfFile: return "end of file";
        case err::ZeroRepeat: return "zero repeat count";
        case err::RepeatTwice: return "repeat count given twice";
        case err::FmtNumberMissing: return "number missing in format";
        case err::FmtNoParen: return "format does not begin with (";
        case err::FmtCountBelowOne: return "repeat count below 1 or sign without P";
        case err::FmtCountNotAllowed: return "repeat count before an item that cannot be repeated";
        case err::FmtNoNumber: return "X, H or P without its number";
        case err::FmtBadB: return "B not followed by N or Z";
        case err::FmtTooDeep: return "groups nested more than 16 deep";
        case err::FmtNoPoint: return "point missing after the width";
        case err::FmtUnterminated: return "format ends before its closing parenthesis";
        case err::FmtBadChar: return "character not part of the format notation";
        case err::FmtMinAboveWidth: return "minimum digits greater than width";
        case err::FmtNumberTooLarge: return "number too large in format";
        default: return "input/output error";
    }
}

void io_error(int number, Stmt stmt, std::string_view file) {
    RunEnd end;
    end.kind = RunEnd::Kind::IoError;
    end.number = number;
    end.stmt = stmt;
    end.file = std::string(file);
    throw end;
}

void math_fault(Fault fault) {
    RunEnd end;
    end.kind = RunEnd::Kind::MathFault;
    end.number = static_cast<int>(fault);
    throw end;
}

void stop(std::string message) {
    RunEnd end;
    end.kind = RunEnd::Kind::Stop;
    end.message = std::move(message);
    throw end;
}

namespace {

// The report's two lines: what failed, and how.
std::pair<std::string, std::string> report_lines(const RunEnd& end) {
    char num[16];
    std::snprintf(num, sizeof num, "%04d", end.number);
    if (end.kind == RunEnd::Kind::IoError) {
        const char* kind = end.stmt == Stmt::Read ? ": READ(" : end.stmt == Stmt::Write ? ": WRITE(" : ": OPEN(";
        return {"run-time error F" + std::string(num) + kind + end.file + ")",
                "- " + std::string(describe(end.number))};
    }
    const auto fault = static_cast<Fault>(end.number);
    const char* name = fault == Fault::Invalid        ? "invalid"
                       : fault == Fault::DivideByZero ? "divide by zero"
                                                      : "overflow";
    return {"run-time error M" + std::string(num) + ": MATH", "- floating-point error: " + std::string(name)};
}

}  // namespace

std::string report_text(const RunEnd& end) {
    if (end.kind == RunEnd::Kind::Stop || end.kind == RunEnd::Kind::Degenerate) return "";
    const auto [what, how] = report_lines(end);
    return "\r\n" + what + "\r\n" + how + "\r\n";
}

std::string report_line(const RunEnd& end) {
    if (end.kind == RunEnd::Kind::Stop || end.kind == RunEnd::Kind::Degenerate) return end.message;
    const auto [what, how] = report_lines(end);
    return what + " " + how;
}

}  // namespace talvo
