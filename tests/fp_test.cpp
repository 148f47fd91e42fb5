// Floating-point faults end the run with their report; underflow does not.
#include "textio/fp.h"

#include <gtest/gtest.h>

#include <limits>

namespace talvo {
namespace {

std::string fault_report(double (*op)(double, double), double a, double b) {
    try {
        op(a, b);
    } catch (const RunEnd& e) {
        EXPECT_EQ(e.kind, RunEnd::Kind::MathFault);
        return report_text(e);
    }
    return "no fault";
}

TEST(FloatingPoint, EachFaultHasItsReport) {
    EXPECT_EQ(fault_report(fp::div, 0.0, 0.0), "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n");
    EXPECT_EQ(fault_report(fp::div, 1.0, 0.0),
              "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n");
    EXPECT_EQ(fault_report(fp::div, -1.0, -0.0),
              "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n");
    EXPECT_EQ(fault_report(fp::mul, 1e200, 1e200),
              "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
    EXPECT_EQ(fault_report(fp::add, std::numeric_limits<double>::max(), std::numeric_limits<double>::max()),
              "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
    EXPECT_EQ(fault_report(fp::sub, -std::numeric_limits<double>::max(), 1e300),
              "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
    EXPECT_EQ(fault_report(fp::div, 1.0, 1e-310), "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
}

TEST(FloatingPoint, UnderflowAndDenormalsAreNoFault) {
    EXPECT_EQ(fp::mul(1e-200, 1e-200), 0.0);
    EXPECT_EQ(fp::div(4.9406564584124654e-324, 2.0), 0.0);
    EXPECT_EQ(fp::mul(1e-300, 1e-10), 1e-300 * 1e-10);
    EXPECT_EQ(fp::add(std::numeric_limits<double>::max(), 1.0), std::numeric_limits<double>::max());
}

TEST(FloatingPoint, RunTimeErrorReportLayout) {
    try {
        io_error(6501, Stmt::Read, "mydata.txt");
    } catch (const RunEnd& e) {
        EXPECT_EQ(report_text(e), "\r\nrun-time error F6501: READ(mydata.txt)\r\n- end of file\r\n");
        EXPECT_EQ(exit_status(e), 1);
    }
}

}  // namespace
}  // namespace talvo
