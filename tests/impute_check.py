#!/usr/bin/env python3
"""An independent reckoning of talvo-batch's data augmentation, in plain
Python, to check its imputed data sets and pooled.csv to 1e-9.

Usage: impute_check.py DATA.csv OUT_FOLDER M SEED BURN_IN BETWEEN [RIDGE]

DATA.csv has a header and NA for a missing value; OUT_FOLDER holds the
run's temp.cov (its maximum-likelihood estimates, the chain's start),
imputed-*.csv and pooled.csv. The keyed draws, the I-step (conditional
normal given the observed values), the P-step (inverse-Wishart by Bartlett,
then the means) and Rubin's rules are written again here from their
formulas, not from the C++ code.
"""
import csv
import math
import sys

MASK = (1 << 64) - 1


def mix(z):
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


class Key:
    def __init__(self, seed=None, h=None):
        self.h = mix((seed + 0x9E3779B97F4A7C15) & MASK) if h is None else h

    def with_(self, w):
        return Key(h=mix(self.h ^ mix((w + 0x632BE59BD9B4E019) & MASK)))

    def uniform(self, d):
        b = mix(self.h ^ mix((d + 0xD1B54A32D192ED03) & MASK))
        return ((b >> 11) + 0.5) * 2.0**-53

    def normal(self, d=0):
        u1, u2 = self.uniform(2 * d), self.uniform(2 * d + 1)
        return math.sqrt(-2.0 * math.log(u1)) * math.cos(2 * math.pi * u2)

    def gamma(self, shape):
        a = shape + 1.0 if shape < 1.0 else shape
        d = a - 1.0 / 3.0
        c = 1.0 / math.sqrt(9.0 * d)
        i = 0
        while True:
            x = self.normal(2 * i)
            t = 1.0 + c * x
            if t > 0:
                v = t**3
                u = self.uniform(4 * i + 2)
                if u < 1 - 0.0331 * x**4 or math.log(u) < 0.5 * x * x + d * (1 - v + math.log(v)):
                    g = d * v
                    return g * self.uniform(3) ** (1.0 / shape) if shape < 1.0 else g
            i += 1


def chol(a):
    n = len(a)
    L = [[0.0] * n for _ in range(n)]
    for j in range(n):
        s = a[j][j] - sum(L[j][p] ** 2 for p in range(j))
        L[j][j] = math.sqrt(s)
        for i in range(j + 1, n):
            L[i][j] = (a[i][j] - sum(L[i][p] * L[j][p] for p in range(j))) / L[j][j]
    return L


def solve(a, b):  # a x = b by Gaussian elimination, a small and positive definite
    n = len(a)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for p in range(n):
        for i in range(p + 1, n):
            f = m[i][p] / m[p][p]
            for j in range(p, n + 1):
                m[i][j] -= f * m[p][j]
    x = [0.0] * n
    for i in reversed(range(n)):
        x[i] = (m[i][n] - sum(m[i][j] * x[j] for j in range(i + 1, n))) / m[i][i]
    return x


def main():
    data, out, M, seed, burn, between = sys.argv[1:7]
    ridge = float(sys.argv[7]) if len(sys.argv) > 7 else 0.0
    M, seed, burn, between = int(M), int(seed), int(burn), int(between)
    rows = list(csv.reader(open(data)))[1:]
    X = [[None if v == "NA" else float(v) for v in r] for r in rows]
    N, K = len(X), len(X[0])
    nums = [float(v.replace("D", "E")) for v in open(out + "/temp.cov").read().split()]
    sigma = [nums[i * K:(i + 1) * K] for i in range(K)]
    mu = nums[K * K:K * K + K]
    start_diag = [sigma[j][j] for j in range(K)]
    Y = [[v if v is not None else 0.0 for v in r] for r in X]

    def istep(mu, sigma, key):
        for I, r in enumerate(X, start=1):
            o = [j for j in range(K) if r[j] is not None]
            m = [j for j in range(K) if r[j] is None]
            if not m:
                continue
            Soo = [[sigma[a][b] for b in o] for a in o]
            d = [r[a] - mu[a] for a in o]
            w = solve(Soo, d) if o else []
            e = [mu[j] + sum(sigma[j][o[t]] * w[t] for t in range(len(o))) for j in m]
            C = [[sigma[a][b] - sum(sigma[a][o[t]] * solve(Soo, [sigma[q][b] for q in o])[t] for t in range(len(o)))
                  for b in m] for a in m]
            Lc = chol(C)
            ck = key.with_(I)
            z = [ck.with_(j + 1).normal() for j in m]
            for i, j in enumerate(m):
                Y[I - 1][j] = e[i] + sum(Lc[i][q] * z[q] for q in range(i + 1))

    def complete():
        ybar = [sum(Y[I][j] for I in range(N)) / N for j in range(K)]
        A = [[sum((Y[I][j] - ybar[j]) * (Y[I][l] - ybar[l]) for I in range(N)) for l in range(K)] for j in range(K)]
        return ybar, A

    def pstep(ybar, A, key):
        df = N - 1 + ridge
        A = [[A[j][l] + (ridge * start_diag[j] if j == l else 0.0) for l in range(K)] for j in range(K)]
        L = chol(A)
        p = key.with_(0)
        B = [[0.0] * K for _ in range(K)]
        for i in range(K):
            B[i][i] = math.sqrt(2.0 * p.with_(i).gamma(0.5 * (df - i)))
            for j in range(i):
                B[i][j] = p.with_(K + i * K + j).normal()
        # Sigma = L (B B')^-1 L'
        BBt = [[sum(B[i][q] * B[j][q] for q in range(K)) for j in range(K)] for i in range(K)]
        inv = [solve(BBt, [1.0 if r == c else 0.0 for r in range(K)]) for c in range(K)]  # columns
        S = [[sum(L[i][a] * inv[b][a] * L[j][b] for a in range(K) for b in range(K)) for j in range(K)] for i in range(K)]
        Ls = chol(S)
        z = [p.with_(K + K * K + q).normal() for q in range(K)]
        # Any square root of Sigma gives the same law; the program uses T = L B'^-1, so the same z give its draw.
        Binv = [solve(B, [1.0 if r == c else 0.0 for r in range(K)]) for c in range(K)]  # columns of B^-1
        T = [[sum(L[i][q] * Binv[q][j] for q in range(K)) for j in range(K)] for i in range(K)]
        newmu = [ybar[i] + sum(T[i][q] * z[q] for q in range(K)) / math.sqrt(N) for i in range(K)]
        del Ls
        return newmu, S

    sets, ests = [], []
    last = burn + 1 + (M - 1) * between
    s = 1
    for p in range(1, last + 1):
        istep(mu, sigma, Key(seed).with_(s).with_(p))
        ybar, A = complete()
        if p == burn + 1 + (s - 1) * between:
            sets.append([r[:] for r in Y])
            ests.append((ybar, [[A[j][l] / N for l in range(K)] for j in range(K)]))
            s += 1
        if p == last:
            break
        mu, sigma = pstep(ybar, A, Key(seed).with_(s).with_(p))

    worst = 0.0
    for m in range(M):
        got = [[float(v) for v in r] for r in list(csv.reader(open(f"{out}/imputed-{m + 1}.csv")))[1:]]
        for I in range(N):
            for j in range(K):
                worst = max(worst, abs(got[I][j] - sets[m][I][j]) / (1 + abs(sets[m][I][j])))
    # Rubin's rules.
    pooled = list(csv.reader(open(out + "/pooled.csv")))[1:]
    params = [(j, None) for j in range(K)] + [(j, l) for j in range(K) for l in range(j + 1)]
    for row, (j, l) in zip(pooled, params):
        if l is None:
            q = [e[0][j] for e in ests]
            u = [e[1][j][j] / N for e in ests]
        else:
            q = [e[1][j][l] for e in ests]
            u = [(e[1][j][l] ** 2 + e[1][j][j] * e[1][l][l]) / N for e in ests]
        qbar, W = sum(q) / M, sum(u) / M
        Bv = sum((x - qbar) ** 2 for x in q) / (M - 1)
        T = W + (1 + 1 / M) * Bv
        lam = (1 + 1 / M) * Bv / T
        nucom = N - 1
        nuobs = (nucom + 1) / (nucom + 3) * nucom * (1 - lam)
        df = nuobs if lam == 0 else 1 / (lam * lam / (M - 1) + 1 / nuobs)
        r = (1 + 1 / M) * Bv / W
        fmi = (r + 2 / ((M - 1) * (1 + 1 / r) ** 2 + 3)) / (r + 1) if Bv > 0 else 0.0
        for got, want in zip(row[1:], [qbar, W, Bv, T, math.sqrt(T), df, r, lam, fmi]):
            worst = max(worst, abs(float(got) - want) / (1 + abs(want)) if abs(want) > 1e-12 else abs(float(got)))
    print(f"largest relative difference {worst:.3g}")
    sys.exit(0 if worst < 1e-9 else 1)


main()
