#include "reference.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/fp.h"
#include "base/lanes.h"
#include "estimate/em.h"
#include "estimate/sweep.h"

namespace talvo::reference {

// The data matrix as the formulas write it: column 0 the constant 1, 1..K
// the values, K+1..2K the observed flags, 2K+1 the observed count.
Mat widen(const Run& run) {
    const std::int32_t N = run.N, K = run.K;
    Mat X;
    X.allocate(1, N, 0, 2 * K + 1);
    for (std::int32_t I = 1; I <= N; ++I) {
        for (std::int32_t J = 0; J <= K; ++J) X(I, J) = run.X(I, J);
        if (run.PATT(I) == 0) continue;  // not yet coded
        for (std::int32_t J = 1; J <= K; ++J) X(I, K + J) = run.OBS(run.PATT(I), J);
        X(I, 2 * K + 1) = K - run.P(run.PATT(I), K + 1);
    }
    return X;
}

void code_and_classify(Run& run) {
    const std::int32_t N = run.N, K = run.K;
    Mat X = widen(run);
    IMat PA;
    PA.allocate(1, N, 1, K + 2);
    for (std::int32_t I = 0; I <= K; ++I) {
        for (std::int32_t J = 0; J <= K; ++J) {
            for (Mat* m : {&run.SS, &run.CS, &run.PS, &run.B, &run.CORR, &run.G, &run.H, &run.T, &run.COV})
                (*m)(I, J) = 0.0;
            run.PSN(I, J) = 0;
        }
    }
    for (std::int32_t I = 1; I <= N; ++I) {
        X(I, 2 * K + 1) = 0.0;
        X(I, 0) = 1.0;
        for (std::int32_t J = 1; J <= K; ++J) {
            if (std::trunc(X(I, J)) == run.MVI) {
                X(I, J) = 0.0;
                X(I, K + J) = 0.0;
            } else {
                X(I, K + J) = 1.0;
            }
            X(I, 2 * K + 1) = fp::add(X(I, 2 * K + 1), X(I, K + J));
        }
        if (X(I, 2 * K + 1) == static_cast<double>(K)) {
            run.CS(0, 0) = fp::add(run.CS(0, 0), 1.0);
            for (std::int32_t J = 1; J <= K; ++J) {
                run.CS(0, J) = fp::add(run.CS(0, J), X(I, J));
                for (std::int32_t L = 1; L <= J; ++L) run.CS(J, L) = fp::add(run.CS(J, L), fp::mul(X(I, L), X(I, J)));
            }
        } else {
            for (std::int32_t J = 1; J <= K; ++J) {
                if (static_cast<std::int32_t>(X(I, K + J)) != 1) continue;
                run.PS(0, J) = fp::add(run.PS(0, J), X(I, J));
                for (std::int32_t L = 1; L <= J; ++L) {
                    if (static_cast<std::int32_t>(X(I, K + L)) == 1) {
                        run.PSN(J, L) = run.PSN(J, L) + 1;
                        run.PS(J, L) = fp::add(run.PS(J, L), fp::mul(X(I, L), X(I, J)));
                    }
                }
            }
        }
        const std::int32_t m = static_cast<std::int32_t>(X(I, 2 * K + 1));
        std::int32_t H1 = 1, H2 = 1;
        for (std::int32_t J = 1; J <= K; ++J) {
            if (static_cast<std::int32_t>(X(I, K + J)) == 1)
                PA(I, H1++) = J;
            else
                PA(I, m + H2++) = J;
        }
    }
    // The table by the plain scan.
    IMat& P = run.P;
    for (std::int32_t J = 1; J <= K; ++J) P(1, J) = J;
    P(1, K + 1) = 0;
    P(1, K + 2) = 0;
    run.NPATT = 1;
    for (std::int32_t I = 1; I <= N; ++I) {
        std::int32_t FOUND = 0;
        const std::int32_t m = static_cast<std::int32_t>(X(I, 2 * K + 1));
        if (m == K) {
            P(1, K + 2) = P(1, K + 2) + 1;
            FOUND = 1;
            run.PATT(I) = 1;
        } else if (run.NPATT >= 2) {
            for (std::int32_t L = 2; L <= run.NPATT && FOUND != 1; ++L) {
                std::int32_t PREV = 1;
                for (std::int32_t J = 1; J <= K; ++J) {
                    if (PA(I, J) == P(L, J) && K - m == P(L, K + 1) && PREV == 1) {
                        if (J == K) {
                            P(L, K + 2) = P(L, K + 2) + 1;
                            FOUND = 1;
                            run.PATT(I) = L;
                        }
                    } else {
                        PREV = 0;
                    }
                }
            }
        }
        if (FOUND == 1) continue;
        if (run.NPATT + 1 > P.last_row()) {
            P.grow_rows(P.last_row() * 2);
            run.OBS.grow_rows(P.last_row());
        }
        run.NPATT = run.NPATT + 1;
        for (std::int32_t M = 1; M <= K; ++M) P(run.NPATT, M) = PA(I, M);
        P(run.NPATT, K + 2) = 1;
        P(run.NPATT, K + 1) = static_cast<std::int32_t>(static_cast<double>(K) - X(I, 2 * K + 1));
        run.PATT(I) = run.NPATT;
    }
    // What the program keeps: the coded values and each pattern's flags.
    for (std::int32_t J = 1; J <= K; ++J) run.OBS(1, J) = 1;
    for (std::int32_t I = 1; I <= N; ++I) {
        for (std::int32_t J = 0; J <= K; ++J) run.X(I, J) = X(I, J);
        for (std::int32_t J = 1; J <= K; ++J) run.OBS(run.PATT(I), J) = static_cast<std::uint8_t>(X(I, K + J));
    }
}

void e_step(Run& run, Mat& X) {
    const std::int32_t N = run.N, K = run.K;
    Mat& SS = run.SS;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t L = 0; L <= K; ++L) SS(J, L) = 0.0;
    for (std::int32_t I = 1; I <= N; ++I) {
        if (!(X(I, 2 * K + 1) < static_cast<double>(K))) continue;
        for (std::int32_t J = 1; J <= K; ++J) {
            if (X(I, K + J) == 0.0) {
                X(I, J) = 0.0;
                for (std::int32_t L = 0; L <= K - 1; ++L) {
                    if (L < J)
                        X(I, J) = fp::add(fp::mul(run.B(J, L), X(I, L)), X(I, J));
                    else
                        X(I, J) = fp::add(fp::mul(run.B(J, L), X(I, L + 1)), X(I, J));
                }
                if (run.BMOD == 1 && X(I, 2 * K + 1) == static_cast<double>(K - 1))
                    X(I, J) = fp::add(fp::mul(X(I, J), run.YHAT), run.YINT);
                SS(0, J) = fp::add(X(I, J), SS(0, J));
            }
            for (std::int32_t L = 1; L <= J; ++L)
                if (X(I, K + J) == 0.0 || X(I, K + L) == 0.0) SS(J, L) = fp::add(fp::mul(X(I, L), X(I, J)), SS(J, L));
        }
        for (std::int32_t J = 1; J <= K; ++J) run.X(I, J) = X(I, J);
    }
    for (std::int32_t I = 1; I <= K; ++I) {
        SS(0, I) = fp::add(fp::add(run.PS(0, I), run.CS(0, I)), SS(0, I));
        for (std::int32_t J = 1; J <= I; ++J)
            SS(I, J) = fp::add(fp::add(fp::add(run.CORR(I, J), run.PS(I, J)), run.CS(I, J)), SS(I, J));
    }
}

void complete_cases(Run& run, Mat& X) {
    const std::int32_t N = run.N, K = run.K;
    for (std::int32_t I = 1; I <= N; ++I) {
        for (std::int32_t J = 1; J <= K; ++J) {
            if (X(I, K + J) != 0.0) continue;
            double s = 0.0;
            for (std::int32_t p = 0; p <= K - 1; ++p) s = fp::add(fp::mul(run.B(J, p), X(I, p < J ? p : p + 1)), s);
            X(I, J) = s;
            run.X(I, J) = s;
        }
    }
}

void regressions(Run& run) {
    const std::int32_t K = run.K;
    Mat& G = run.G;
    Mat& T = run.T;
    for (std::int32_t Q = 1; Q <= K; ++Q) {
        build_moments(run);
        for (std::int32_t I = 0; I <= K; ++I)
            for (std::int32_t J = 0; J <= K; ++J) T(I, J < Q ? J : J == Q ? K : J - 1) = G(I, J);
        for (std::int32_t J = 0; J <= K; ++J)
            for (std::int32_t I = 0; I <= K; ++I) G(J < Q ? J : J == Q ? K : J - 1, I) = T(J, I);
        for (std::int32_t KI = 0; KI <= K - 1; ++KI) {
            sweep(G, run.H, KI, K);
            if (Q != K || KI != 0) continue;
            run.XDIFF = 0.0;
            run.MAXDIFF = 0.0;
            for (std::int32_t J = 1; J <= K; ++J) {
                for (std::int32_t L = 1; L <= J; ++L) {
                    run.XDIFF = std::fabs(fp::sub(run.COV(J, L), fp::mul(run.H(J, L), run.CN)));
                    if (run.XDIFF > run.MAXDIFF) run.MAXDIFF = run.XDIFF;
                    run.COV(J, L) = fp::mul(run.H(J, L), run.CN);
                    run.COV(L, J) = run.COV(J, L);
                }
                run.COV(0, J) = run.H(0, J);
            }
        }
        for (std::int32_t I = 0; I <= K; ++I) run.B(Q, I) = run.H(K, I);
    }
}

void correction(Run& run) {
    const std::int32_t K = run.K;
    IMat& P = run.P;
    Mat& G = run.G;
    Mat& T = run.T;
    for (std::int32_t J = 0; J <= K; ++J)
        for (std::int32_t M = 0; M <= K; ++M) run.CORR(J, M) = 0.0;
    for (std::int32_t L = 2; L <= run.NPATT; ++L) {
        const std::int32_t m = P(L, K + 1);
        build_moments(run);
        for (std::int32_t I = 1; I <= K; ++I) {
            for (std::int32_t J = 1; J <= K; ++J) T(I, J) = G(I, P(L, J));
            G(I, 0) = G(0, P(L, I));
        }
        for (std::int32_t I = 1; I <= K; ++I) {
            for (std::int32_t J = 1; J <= K; ++J) G(J, I) = T(P(L, J), I);
            G(0, I) = G(I, 0);
        }
        for (std::int32_t KI = 0; KI <= K - m; ++KI) sweep(G, run.H, KI, K);
        for (std::int32_t J = K - m + 1; J <= K; ++J) {
            for (std::int32_t M = K - m + 1; M <= J; ++M) {
                double& c = run.CORR(P(L, J), P(L, M));
                c = fp::add(fp::mul(fp::mul(static_cast<double>(P(L, K + 2)), run.H(J, M)), run.CN), c);
            }
        }
    }
}

namespace {

// The first `keep` of the 17 digits D, rounded half up at the last; a
// carry out of the first digit gives 1 and raises the exponent x.
std::string rounded_half_up(const std::string& D, int keep, int& x) {
    std::string R = D.substr(0, static_cast<std::size_t>(keep));
    if (D[static_cast<std::size_t>(keep)] >= '5') {
        int i = keep - 1;
        while (i >= 0 && R[static_cast<std::size_t>(i)] == '9') R[static_cast<std::size_t>(i--)] = '0';
        if (i >= 0)
            ++R[static_cast<std::size_t>(i)];
        else
            R[0] = '1', x += 1;
    }
    return R;
}

}  // namespace

std::string fixed(double v, int w, int d, bool plus) {
    // 0.D1...D17 x 10^x.
    char buf[40];
    const char* end = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 16).ptr;
    std::string D = std::string(1, buf[0]) + std::string(buf + 2, buf + 18);
    int x = std::atoi(std::string(buf + 19, static_cast<std::size_t>(end - buf - 19)).c_str()) + 1;
    if (v == 0.0) D.assign(17, '0'), x = 1;
    // Rounded half up to n = x + d digits, 16 at most.
    const int n = x + d;
    std::string R;
    bool zero = v == 0.0 || n < 0 || (n == 0 && D[0] < '5');
    if (!zero && n == 0) {
        R = "1";
        x += 1;
    } else if (!zero) {
        R = rounded_half_up(D, std::min(n, 16), x);
    }
    auto digit = [&](int pos) {  // the digit of R at 1-based position pos, 0 outside
        return zero || pos < 1 || pos > static_cast<int>(R.size()) ? '0' : R[static_cast<std::size_t>(pos - 1)];
    };
    std::string text = std::signbit(v) && !zero ? "-" : plus ? "+" : "";
    for (int pos = 1; !zero && pos <= x; ++pos) text += digit(pos);
    if (zero && d == 0) text += '0';
    text += '.';
    for (int j = 1; j <= d; ++j) text += digit(x + j);
    if (static_cast<int>(text.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

std::string exponential(double v, int w, int d, int e, int k, bool plus) {
    char buf[40];
    const char* end = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 16).ptr;
    std::string D = std::string(1, buf[0]) + std::string(buf + 2, buf + 18);
    int x = std::atoi(std::string(buf + 19, static_cast<std::size_t>(end - buf - 19)).c_str()) + 1;
    const int sig = d + k;
    std::string R = rounded_half_up(D, sig, x);
    std::string text = std::signbit(v) ? "-" : plus ? "+" : "";
    text += k == 1 ? R.substr(0, 1) + "." + R.substr(1) : "." + R;
    const int xexp = x - k, mag = std::abs(xexp);
    std::string digits = std::to_string(mag);
    const int width = e < 0 ? 2 : e;
    if (static_cast<int>(digits.size()) > width) return std::string(static_cast<std::size_t>(w), '*');
    text += std::string("E") + (xexp < 0 ? "-" : "+") +
            std::string(static_cast<std::size_t>(width) - digits.size(), '0') + digits;
    if (static_cast<int>(text.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

std::string listing(const format::Format& f) {
    std::string out;
    for (std::size_t k = 0; k < f.code.size(); ++k) {
        const format::Instr& in = f.code[k];
        char buf[128];
        std::snprintf(buf, sizeof buf, "%zu: op %d r=%d w=%d d=%d e=%d jump=%d error=%d '%s'\n", k,
                      static_cast<int>(in.op), in.r, in.w, in.d, in.e, in.jump, in.error, in.text.c_str());
        out += buf;
    }
    return out;
}

void sweep_pattern(const Run& run, std::int32_t L, const Normal& theta, Swept& s) {
    const std::int32_t K = run.K;
    const auto k = static_cast<std::size_t>(K);
    s.K = K;
    s.observed = K - run.P(L, K + 1);
    s.var.resize(k);
    s.a.resize(k * k);
    s.line.resize(k);
    for (std::int32_t i = 0; i < K; ++i) s.var[static_cast<std::size_t>(i)] = run.P(L, i + 1) - 1;
    // The lower triangle only, row after row; mirrored once at the end.
    for (std::int32_t i = 0; i < K; ++i)
        for (std::int32_t j = 0; j <= i; ++j)
            s.at(i, j) = theta.sigma(s.var[static_cast<std::size_t>(i)], s.var[static_cast<std::size_t>(j)]);
    s.logdet = 0.0;
    double* line = s.line.data();
    for (std::int32_t p = 0; p < s.observed; ++p) {
        const double d = s.at(p, p);
        // The pivot is the variance of the variable given those swept before
        // it: not positive, the observed block is not positive definite.
        if (!(d > 0.0)) talvo::math_fault(d == 0.0 ? Fault::DivideByZero : Fault::Invalid);
        s.logdet = fp::add(s.logdet, std::log(d));
        // The pivot line, a(p, j) for every j, gathered from the lower triangle.
        for (std::int32_t j = 0; j < K; ++j) line[j] = j <= p ? s.at(p, j) : s.at(j, p);
        // Each element a(i,j) - (a(i,p) * a(p,j)) / d; the operands are
        // finite, so an overflow leaves a value that is not: each row is
        // checked once.
        for (std::int32_t i = 0; i < K; ++i) {
            if (i == p) continue;
            double* row = s.a.data() + static_cast<std::size_t>(i) * k;
            const double li = line[i];
            for (std::int32_t j = 0; j <= i; ++j) row[j] = row[j] - (li * line[j]) / d;
            row[p] = li / d;
            if (!all_finite(row, static_cast<std::size_t>(i) + 1)) talvo::math_fault(Fault::Overflow);
        }
        // The pivot row: a(p, j) / d before the pivot (the column after it
        // was set with each row above), and the pivot -1/d.
        double* row = s.a.data() + static_cast<std::size_t>(p) * k;
        for (std::int32_t j = 0; j < p; ++j) row[j] = line[j] / d;
        row[p] = -fp::div(1.0, d);
        if (!all_finite(row, static_cast<std::size_t>(p) + 1)) talvo::math_fault(Fault::Overflow);
    }
    for (std::int32_t i = 0; i < K; ++i)
        for (std::int32_t j = 0; j < i; ++j) s.at(j, i) = s.at(i, j);
}

}  // namespace talvo::reference
