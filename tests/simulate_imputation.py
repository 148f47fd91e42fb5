#!/usr/bin/env python3
"""Coverage of the 95% intervals of the means after multiple imputation by
talvo-batch, against those of the single conditional-mean fill analysed as
if observed. Not part of the default test run (it takes minutes).

Usage: simulate_imputation.py TALVO_BATCH [REPLICATIONS [M [N]]]
       (defaults 500, 20, 100)

Each replication draws N cases of three normal variables (means 0,
variances 1, correlations 0.5); x2 and x3 are each missing with a
probability that rises with the observed x1 (logistic, 45% on average, so
30% of all values are missing, at random but not completely at random).
talvo-batch --impute M gives pooled.csv; its interval for the mean of x2
and of x3 is estimate +- t(df, 0.975) se. The naive interval takes
completed.csv (every missing value filled with its conditional mean) as
complete data: mean +- t(N - 1, 0.975) s / sqrt(N).
"""
import csv
import math
import os
import random
import subprocess
import sys
import tempfile


def betacf(a, b, x):
    # The continued fraction of the incomplete beta function (Lentz).
    qab, qap, qam = a + b, a + 1.0, a - 1.0
    c, d = 1.0, 1.0 - qab * x / qap
    d = 1.0 / (d if abs(d) > 1e-300 else 1e-300)
    h = d
    for m in range(1, 300):
        m2 = 2 * m
        aa = m * (b - m) * x / ((qam + m2) * (a + m2))
        d = 1.0 + aa * d
        d = 1.0 / (d if abs(d) > 1e-300 else 1e-300)
        c = 1.0 + aa / c if abs(1.0 + aa / c) > 1e-300 else 1e-300
        h *= d * c
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2))
        d = 1.0 + aa * d
        d = 1.0 / (d if abs(d) > 1e-300 else 1e-300)
        c = 1.0 + aa / c if abs(1.0 + aa / c) > 1e-300 else 1e-300
        de = d * c
        h *= de
        if abs(de - 1.0) < 1e-14:
            break
    return h


def inc_beta(a, b, x):
    if x <= 0.0:
        return 0.0
    if x >= 1.0:
        return 1.0
    lbt = math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b) + a * math.log(x) + b * math.log(1 - x)
    if x < (a + 1) / (a + b + 2):
        return math.exp(lbt) * betacf(a, b, x) / a
    return 1.0 - math.exp(lbt) * betacf(b, a, 1 - x) / b


def t_upper(t, df):  # P(T > t), t >= 0
    return 0.5 * inc_beta(df / 2, 0.5, df / (df + t * t))


def t_quantile(p, df):  # the p quantile, p > 0.5, by bisection
    lo, hi = 0.0, 1000.0
    for _ in range(200):
        mid = (lo + hi) / 2
        if t_upper(mid, df) > 1 - p:
            lo = mid
        else:
            hi = mid
    return (lo + hi) / 2


def sample(rng, N):
    rows = []
    for _ in range(N):
        common = rng.gauss(0, 1)
        x = [math.sqrt(0.5) * common + math.sqrt(0.5) * rng.gauss(0, 1) for _ in range(3)]
        p = 1 / (1 + math.exp(-(-0.2 + 1.2 * x[0])))  # about 45% on average
        row = [x[0]] + [None if rng.random() < p else v for v in x[1:]]
        rows.append(row)
    return rows


def main():
    prog = sys.argv[1]
    R = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    M = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    N = int(sys.argv[4]) if len(sys.argv) > 4 else 100
    rng = random.Random(20240601)
    cover_mi, cover_naive, width_mi, width_naive, share = [0, 0], [0, 0], [0.0, 0.0], [0.0, 0.0], 0.0
    tcrit_naive = t_quantile(0.975, N - 1)
    done = 0
    with tempfile.TemporaryDirectory() as tmp:
        for r in range(R):
            rows = sample(rng, N)
            share += sum(v is None for row in rows for v in row) / (3 * N)
            data = os.path.join(tmp, "d.csv")
            with open(data, "w") as f:
                f.write("x1,x2,x3\n")
                for row in rows:
                    f.write(",".join("NA" if v is None else repr(v) for v in row) + "\n")
            out = os.path.join(tmp, "out")
            res = subprocess.run([prog, "--header", "--na", "--csv", "--all", "--impute", str(M), "--seed",
                                  str(r + 1), "--criterion", "1e-8", "--max-passes", "1000", "-f", "-o", out, data],
                                 capture_output=True, text=True)
            if res.returncode != 0:
                print("replication", r, "failed:", res.stderr.strip(), file=sys.stderr)
                continue
            done += 1
            pooled = {row[0]: row for row in csv.reader(open(os.path.join(out, "pooled.csv")))}
            completed = [[float(v) for v in row] for row in list(csv.reader(open(os.path.join(out, "completed.csv"))))[1:]]
            for i, name in enumerate(["x2", "x3"]):
                p = pooled[f"mean({name})"]
                est, se, df = float(p[1]), float(p[5]), float(p[6])
                half = t_quantile(0.975, df) * se
                cover_mi[i] += abs(est) <= half
                width_mi[i] += 2 * half
                col = [row[i + 1] for row in completed]
                m = sum(col) / N
                s = math.sqrt(sum((v - m) ** 2 for v in col) / (N - 1))
                half = tcrit_naive * s / math.sqrt(N)
                cover_naive[i] += abs(m) <= half
                width_naive[i] += 2 * half
    print(f"{done} replications, N = {N}, M = {M}, {100 * share / R:.1f}% of the values missing")
    print("mean  interval                       coverage  mean width")
    for i, name in enumerate(["x2", "x3"]):
        print(f"{name}    Rubin (multiple imputation)    {100 * cover_mi[i] / done:5.1f}%   {width_mi[i] / done:.4f}")
        print(f"{name}    naive (conditional-mean fill)  {100 * cover_naive[i] / done:5.1f}%   {width_naive[i] / done:.4f}")


main()
