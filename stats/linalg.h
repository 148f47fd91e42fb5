// Small dense symmetric matrices for the statistics after the estimation:
// n x n, row after row, both triangles held. Plain loops in a fixed order,
// so the results never depend on the thread count.
#pragma once

#include <cstddef>
#include <vector>

namespace talvo::stats {

struct Sym {
    std::size_t n = 0;
    std::vector<double> a;
    explicit Sym(std::size_t size = 0) : n(size), a(size * size, 0.0) {}
    double& operator()(std::size_t i, std::size_t j) { return a[i * n + j]; }
    double operator()(std::size_t i, std::size_t j) const { return a[i * n + j]; }
};

// The lower Cholesky factor L of a (a = L L'); false when a is not
// positive definite.
bool cholesky(const Sym& a, Sym& L);

// The inverse of a positive definite matrix; false when it is not.
bool inverse(const Sym& a, Sym& out);

// The eigenvalues of a symmetric matrix, ascending (cyclic Jacobi).
std::vector<double> eigenvalues(Sym a);

// The upper tail of the chi-square distribution with df degrees of
// freedom at x: the probability of a value above x.
double chi_square_upper(double x, double df);

}  // namespace talvo::stats
