// Floating-point faults end the run with their report; underflow does not.
#include "base/fp.h"

#include <gtest/gtest.h>

#include <limits>

#include "helpers.h"

namespace talvo {
namespace {

using testing::fault_report;
using testing::report_of;

TEST(FloatingPoint, EachFaultHasItsReportUnderflowIsNone) {
    const double max = std::numeric_limits<double>::max();
    EXPECT_EQ(report_of([] { fp::div(0.0, 0.0); }), fault_report(6101, "invalid"));
    EXPECT_EQ(report_of([] { fp::div(1.0, 0.0); }), fault_report(6103, "divide by zero"));
    EXPECT_EQ(report_of([] { fp::div(-1.0, -0.0); }), fault_report(6103, "divide by zero"));
    EXPECT_EQ(report_of([] { fp::mul(1e200, 1e200); }), fault_report(6104, "overflow"));
    EXPECT_EQ(report_of([&] { fp::add(max, max); }), fault_report(6104, "overflow"));
    EXPECT_EQ(report_of([&] { fp::sub(-max, 1e300); }), fault_report(6104, "overflow"));
    EXPECT_EQ(report_of([] { fp::div(1.0, 1e-310); }), fault_report(6104, "overflow"));
    EXPECT_EQ(fp::mul(1e-200, 1e-200), 0.0);
    EXPECT_EQ(fp::div(4.9406564584124654e-324, 2.0), 0.0);
    EXPECT_EQ(fp::add(max, 1.0), max);
}

}  // namespace
}  // namespace talvo
