#include "stats/linalg.h"

#include <algorithm>
#include <cmath>

namespace talvo::stats {

bool cholesky(const Sym& a, Sym& L) {
    const std::size_t n = a.n;
    L = Sym(n);
    for (std::size_t j = 0; j < n; ++j) {
        double d = a(j, j);
        for (std::size_t p = 0; p < j; ++p) d -= L(j, p) * L(j, p);
        if (!(d > 0.0) || !std::isfinite(d)) return false;
        L(j, j) = std::sqrt(d);
        for (std::size_t i = j + 1; i < n; ++i) {
            double v = a(i, j);
            for (std::size_t p = 0; p < j; ++p) v -= L(i, p) * L(j, p);
            L(i, j) = v / L(j, j);
        }
    }
    return true;
}

bool inverse(const Sym& a, Sym& out) {
    Sym L;
    if (!cholesky(a, L)) return false;
    const std::size_t n = a.n;
    // L^-1, lower triangular, column by column.
    Sym Li(n);
    for (std::size_t j = 0; j < n; ++j) {
        Li(j, j) = 1.0 / L(j, j);
        for (std::size_t i = j + 1; i < n; ++i) {
            double v = 0.0;
            for (std::size_t p = j; p < i; ++p) v -= L(i, p) * Li(p, j);
            Li(i, j) = v / L(i, i);
        }
    }
    // a^-1 = L^-T L^-1.
    out = Sym(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            double v = 0.0;
            for (std::size_t p = i; p < n; ++p) v += Li(p, i) * Li(p, j);
            out(i, j) = v;
            out(j, i) = v;
        }
    }
    return true;
}

std::vector<double> eigenvalues(Sym a) {
    const std::size_t n = a.n;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0, scale = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            scale += a(i, i) * a(i, i);
            for (std::size_t j = 0; j < i; ++j) off += a(i, j) * a(i, j);
        }
        if (off <= 1e-30 * scale || off == 0.0) break;
        for (std::size_t p = 0; p < n; ++p) {
            for (std::size_t q = p + 1; q < n; ++q) {
                const double apq = a(p, q);
                if (apq == 0.0) continue;
                const double theta = (a(q, q) - a(p, p)) / (2.0 * apq);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (std::size_t k = 0; k < n; ++k) {
                    const double akp = a(k, p), akq = a(k, q);
                    a(k, p) = c * akp - s * akq;
                    a(k, q) = s * akp + c * akq;
                }
                for (std::size_t k = 0; k < n; ++k) {
                    const double apk = a(p, k), aqk = a(q, k);
                    a(p, k) = c * apk - s * aqk;
                    a(q, k) = s * apk + c * aqk;
                }
            }
        }
    }
    std::vector<double> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = a(i, i);
    std::sort(values.begin(), values.end());
    return values;
}

namespace {

// The regularized incomplete gamma functions: P(s, x) by its series, good
// for x < s + 1, and Q(s, x) = 1 - P(s, x) by its continued fraction
// (Lentz's method), good beyond.
double gamma_p_series(double s, double x) {
    double term = 1.0 / s, sum = term;
    for (int k = 1; k < 100000; ++k) {
        term *= x / (s + k);
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * 1e-17) break;
    }
    return sum * std::exp(s * std::log(x) - x - std::lgamma(s));
}

double gamma_q_fraction(double s, double x) {
    const double tiny = 1e-300;
    double b = x + 1.0 - s, c = 1.0 / tiny, d = 1.0 / b, h = d;
    for (int i = 1; i < 100000; ++i) {
        const double an = -i * (i - s);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < tiny) d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < 1e-17) break;
    }
    return std::exp(s * std::log(x) - x - std::lgamma(s)) * h;
}

}  // namespace

double chi_square_upper(double x, double df) {
    if (df <= 0.0 || x <= 0.0) return 1.0;
    const double s = df / 2.0, y = x / 2.0;
    return y < s + 1.0 ? 1.0 - gamma_p_series(s, y) : gamma_q_fraction(s, y);
}

}  // namespace talvo::stats
