// Checked double-precision arithmetic. Every computation of a run goes
// through these four operations, so the run ends with the floating-point
// fault report at the first invalid operation, division by zero or
// overflow, before the result is stored. Underflow is not a fault.
//
// No infinity or not-a-number ever gets into the run's storage, so every
// operand is finite: a non-finite sum, difference or product can only be
// an overflow, and a division needs its divisor tested first (0/0 is an
// invalid operation, x/0 a division by zero). Plain tests work the same
// whatever the compiler flags, unlike hardware traps.
#pragma once

#include <cmath>

#include "base/errors.h"

namespace talvo::fp {

inline double checked(double r) {
    if (!std::isfinite(r)) [[unlikely]]
        math_fault(Fault::Overflow);
    return r;
}

inline double add(double a, double b) { return checked(a + b); }
inline double sub(double a, double b) { return checked(a - b); }
inline double mul(double a, double b) { return checked(a * b); }

inline double div(double a, double b) {
    if (b == 0.0) [[unlikely]]
        math_fault(a == 0.0 ? Fault::Invalid : Fault::DivideByZero);
    return checked(a / b);
}

}  // namespace talvo::fp
