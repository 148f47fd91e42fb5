#!/usr/bin/env python3
"""Differential test of the talvo binary against the Python model.

Generates random cases (data file, optional start-value file, optional old
result files, dialog answers), runs the binary and the model in two fresh
copies of the same directory with the same standard input and compares
standard output, standard error, the exit status and every file left in the
directory, byte for byte.

    python3 tests/model/compare.py --binary build/talvo --runs 500 --seed 1 \
        --keep /tmp/mismatch

Every mismatching case is printed (answers, data file, first differing byte
of each differing stream with CR and LF escaped) and saved under --keep as a
directory that --replay runs again:

    python3 tests/model/compare.py --binary build/talvo --replay /tmp/mismatch/case-1-37

--case I regenerates and runs the single case I of the seed; --show prints
the generated input of every case run.
"""

import argparse
import concurrent.futures
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import talvo_model as tm  # noqa: E402  (its field readers predict how answers are taken)

MODEL = os.path.join(HERE, "talvo_model.py")


# ---------------------------------------------------------------------------
# Escaping for reports
# ---------------------------------------------------------------------------

def esc(data, limit=None):
    """Bytes as readable text: CR, LF, tab and other controls escaped."""
    if limit is not None and len(data) > limit:
        tail = "...(%d more bytes)" % (len(data) - limit)
        data = data[:limit]
    else:
        tail = ""
    out = []
    i = 0
    while i < len(data):
        b = data[i]
        j = i
        while j < len(data) and data[j] == b:
            j += 1
        if j - i >= 16:                          # long runs shown by their length
            out.append("{%s x %d}" % (esc(bytes([b])), j - i))
            i = j
            continue
        i += 1
        if b == 13:
            out.append("\\r")
        elif b == 10:
            out.append("\\n")
        elif b == 9:
            out.append("\\t")
        elif b == 92:
            out.append("\\\\")
        elif 32 <= b < 127:
            out.append(chr(b))
        else:
            out.append("\\x%02x" % b)
    return "".join(out) + tail


def esc_lines(data, limit=1500):
    """Multi-line rendering: each line shown with its escaped line end."""
    shown = data[:limit]
    lines = shown.split(b"\n")
    out = []
    for i, ln in enumerate(lines):
        end = "\\n" if i < len(lines) - 1 else ""
        out.append("      | " + esc(ln) + end)
    if len(data) > limit:
        out.append("      | ...(%d bytes in all)" % len(data))
    return "\n".join(out)


# ---------------------------------------------------------------------------
# Number texts for data and start-value files
# ---------------------------------------------------------------------------

def num_text(rng, v, style=None):
    """A free-form text of about the value v, in one of the accepted forms."""
    if style is None:
        style = rng.choice(["plain", "plain", "plain", "int", "exp", "dexp", "signexp",
                            "lower", "lead", "trail", "plus", "g"])
    if style == "int":
        t = "%d" % int(v)
    elif style == "exp":
        t = "%.*E" % (rng.randint(0, 6), v)
    elif style == "dexp":
        t = ("%.*E" % (rng.randint(0, 5), v)).replace("E", "D")
    elif style == "signexp":                     # 1.5-3: sign directly after the digits
        t = ("%.*E" % (rng.randint(0, 5), v)).replace("E", "")
    elif style == "lower":
        t = ("%.*e" % (rng.randint(0, 5), v))
        if rng.random() < 0.5:
            t = t.replace("e", "d")
        if rng.random() < 0.5:
            t = t.replace("+0", "").replace("+", "")
    elif style == "lead":                        # .5 and -.25
        t = "%.*f" % (rng.randint(1, 6), v)
        t = t.replace("0.", ".", 1) if t.startswith(("0.", "-0.")) else t
    elif style == "trail":                       # 5.
        t = "%d." % int(v)
    elif style == "plus":
        t = "%.*f" % (rng.randint(0, 4), v)
        if not t.startswith("-"):
            t = "+" + t
    elif style == "g":
        t = repr(float(v))
        if "inf" in t or "nan" in t:
            t = "0"
    else:
        t = "%.*f" % (rng.choice([0, 1, 2, 3, 3, 4, 6, 9]), v)
    return t


def missing_texts(mvi):
    """Texts that the program codes as missing under the code mvi."""
    if mvi != int(mvi):
        return ["%g" % mvi]                 # a code with a fraction matches nothing
    m = int(mvi)
    out = ["%d" % m, "%d." % m, "%d.0" % m, "%d.5" % m, "%d.999" % m, "%dE0" % m, "%d0D-1" % m]
    if m >= 0:
        out.append("+%d" % m)
    return out


# ---------------------------------------------------------------------------
# Data sets
# ---------------------------------------------------------------------------

MAGNITUDES = [(1, 0.5), (10, 3), (0, 1), (100, 20), (0.01, 0.003), (1000, 300),
              (5, 2), (-20, 5), (1e5, 3e4), (1e-6, 3e-7), (50, 0.001)]


def gen_matrix(rng, n, k):
    """Values of n cases by k variables, with per-variable kinds."""
    cols = []
    # most data sets are regular; some have one variable of a special kind
    special = rng.randrange(k) if rng.random() < 0.2 else -1
    for j in range(k):
        if j == special:
            kind = rng.choice(["const", "linear", "huge", "tiny", "int"])
        else:
            kind = rng.choices(["norm", "int", "mixed"], [70, 20, 10])[0]
        mu, sd = rng.choice(MAGNITUDES)
        if kind == "norm":
            col = [rng.gauss(mu, sd) for _ in range(n)]
        elif kind == "int":
            lo = rng.randint(-20, 5)
            col = [float(rng.randint(lo, lo + rng.randint(1, 30))) for _ in range(n)]
        elif kind == "const":
            c = float(rng.randint(-5, 20))
            col = [c] * n
        elif kind == "linear" and cols:
            src = rng.choice(cols)
            a, b = rng.choice([1.0, 2.0, -1.0, 0.5]), float(rng.randint(-3, 3))
            col = [a * x + b for x in src]
        elif kind == "huge":
            col = [rng.gauss(0, 1) * 10.0 ** rng.choice([8, 40, 120, 160, 200]) for _ in range(n)]
        elif kind == "tiny":
            col = [rng.gauss(0, 1) * 10.0 ** -rng.choice([8, 40, 160, 310]) for _ in range(n)]
        else:
            col = [rng.gauss(0, 1) * 10.0 ** rng.randint(-3, 6) for _ in range(n)]
        cols.append(col)
    return [[cols[j][i] for j in range(k)] for i in range(n)]


JUNK = ["abc", "1.2.3", "1e", "x", "1..", "'5'", "T", ".", "+", "-", "e5", "1d", "--2",
        "0x10", "1_0", "inf", "nan", "1e400", "-1D999", "1e-400", "1.5E", "3*4*5", "0*3",
        "*", "*5", "2**3", "1+", "1-", "+-1", "1E+", ".E1", "5#", "&", "1;2", "1.0.", "(1)"]


def gen_data_text(rng, X, k, mvi, miss_p, syntax):
    """The data file: X rendered with missing codes and a random layout.

    syntax: a set of features to use (repeat, null, slash, junk, crlf, spread,
    extra, short, blanklines, tabs, commas).
    """
    toks = []
    miss_txt = missing_texts(mvi)
    for row in X:
        for v in row:
            if rng.random() < miss_p:
                toks.append(rng.choice(miss_txt))
            else:
                toks.append(num_text(rng, v))
    # repeat counts: merge runs of equal texts, or spell one value as 1*v
    if "repeat" in syntax:
        merged = []
        i = 0
        while i < len(toks):
            j = i
            while j + 1 < len(toks) and toks[j + 1] == toks[i]:
                j += 1
            r = j - i + 1
            if r > 1 and rng.random() < 0.8:
                merged.append("%d*%s" % (r, toks[i]))
            elif rng.random() < 0.05:
                merged.append("1*" + toks[i])
            else:
                merged.extend(toks[i:j + 1])
            i = j + 1
        toks = merged
    if "null" in syntax:
        for _ in range(rng.randint(1, 3)):
            if toks:
                i = rng.randrange(len(toks))
                toks[i] = rng.choice(["", "", "2*", "1*"])
    if "slash" in syntax and toks:
        i = rng.randrange(len(toks) + 1)
        toks = toks[:i] + ["/"] + toks[i:]
    if "junk" in syntax:
        i = rng.randrange(len(toks) + 1)
        toks = toks[:i] + [rng.choice(JUNK)] + toks[i:]
    if "short" in syntax and toks:
        del toks[rng.randrange(max(0, len(toks) - rng.randint(1, 4)), len(toks)):]
    if "extra" in syntax:
        toks += [num_text(rng, rng.gauss(0, 5)) for _ in range(rng.randint(1, 5))]
        if rng.random() < 0.5:
            toks.append(rng.choice(JUNK))
    # layout
    eol = "\r\n" if "crlf" in syntax else "\n"
    layout = rng.choice(["case", "case", "case", "single", "one", "random"])
    if "spread" in syntax:
        layout = rng.choice(["one", "random"])
    lines = []
    cur = []
    use_commas = "commas" in syntax or "" in toks

    def sep():
        if use_commas:
            return rng.choice([",", ", ", " ,", " , ", ","])
        if "tabs" in syntax:
            return rng.choice(["\t", " \t", "  ", " "])
        return rng.choice([" ", " ", "  ", "   "])

    for idx, t in enumerate(toks):
        cur.append(t)
        newline = False
        if layout == "case":
            newline = (idx + 1) % k == 0
        elif layout == "one":
            newline = True
        elif layout == "random":
            newline = rng.random() < 0.3
        if newline:
            lines.append(cur)
            cur = []
    if cur:
        lines.append(cur)
    text_lines = []
    for ln in lines:
        s = ""
        for i, t in enumerate(ln):
            if i:
                s += sep()
            s += t
        if use_commas and rng.random() < 0.2:
            s += ","                            # a comma may end a line
        if rng.random() < 0.1:
            s = rng.choice([" ", "  ", "\t"]) + s
        if rng.random() < 0.1:
            s += rng.choice([" ", "  ", "\t"])
        text_lines.append(s)
        if "blanklines" in syntax and rng.random() < 0.2:
            text_lines.append(rng.choice(["", " ", "\t"]))
    body = eol.join(text_lines)
    if rng.random() < 0.85:
        body += eol
    if "cr_only" in syntax:
        body = body.replace("\n", "\r", 1)
    return body.encode("latin-1")


def gen_start_cov(rng, k, X, style):
    """A start-value file: k rows of covariances, then the means."""
    n = len(X)
    means = []
    covs = [[0.0] * k for _ in range(k)]
    for j in range(k):
        col = [r[j] for r in X] if X else [0.0]
        m = sum(col) / max(1, len(col))
        if not (abs(m) < 1e100):
            m = 0.0
        means.append(m)
    for j in range(k):
        col = [r[j] for r in X]
        if rng.random() < 0.5 and X and all(abs(v) < 1e100 for v in col):
            covs[j][j] = max(1e-3, sum((v - means[j]) ** 2 for v in col) / max(1, n - 1))
        else:
            covs[j][j] = abs(rng.gauss(0, 5)) + 0.1
    for i in range(k):
        for j in range(i):
            c = rng.uniform(-0.4, 0.4) * (covs[i][i] * covs[j][j]) ** 0.5
            covs[i][j] = covs[j][i] = c
    if style == "zero":
        covs = [[0.0] * k for _ in range(k)]
    eol = rng.choice(["\n", "\n", "\r\n"])
    rows = [[num_text(rng, v, rng.choice(["plain", "exp", "g"])) for v in row] for row in covs]
    rows.append([num_text(rng, v, rng.choice(["plain", "exp", "g"])) for v in means])
    if style == "upper_junk":                   # values above the diagonal do not matter
        for i in range(k):
            for j in range(i + 1, k):
                rows[i][j] = num_text(rng, rng.uniform(-1e6, 1e6))
    lines = []
    for row in rows:
        if style == "split" and len(row) > 1:
            cut = rng.randint(1, len(row) - 1)
            lines.append(" ".join(row[:cut]))
            lines.append(" ".join(row[cut:]))
        else:
            line = rng.choice([" ", ",", "  ", "\t"]).join(row)
            if style == "extra":
                line += " " + num_text(rng, rng.uniform(-9, 9))
            lines.append(line)
    if style == "short":
        victim = rng.randrange(len(lines))
        parts = lines[victim].split()
        lines[victim] = " ".join(parts[:-1]) if len(parts) > 1 else ""
    elif style == "junk":
        victim = rng.randrange(len(lines))
        lines[victim] = rng.choice(JUNK) + " " + lines[victim]
    elif style == "slash":
        victim = rng.randrange(len(lines))
        parts = lines[victim].split()
        cut = rng.randint(0, len(parts))
        lines[victim] = " ".join(parts[:cut] + ["/"] + parts[cut:])
    elif style == "null":
        victim = rng.randrange(len(lines))
        parts = lines[victim].split()
        if parts:
            parts[rng.randrange(len(parts))] = ""
        lines[victim] = ",".join(parts)
    elif style == "truncated":
        lines = lines[:rng.randrange(len(lines))]
    body = eol.join(lines) + (eol if rng.random() < 0.9 else "")
    if style == "empty":
        body = ""
    return body.encode("latin-1")


# ---------------------------------------------------------------------------
# Output formats
# ---------------------------------------------------------------------------

FIXED_FORMATS = [
    "", "", "", "(6F12.7)", "(6f12.7)", "( 6F12.7 )", "(6F 12.7)", "(1X,6F12.7)",
    "(1X,6(F12.7))", "(F12.7)", "(E15.6)", "(G12.4)", "(SP,F8.2)", "(Z16)", "(Z)", "(A)",
    "(3F9.3,:' end')", "(6F12.7,' end')", "(6F12.7,:'end')", "(2PF12.7)", "(-1P,E12.4)",
    "(1X,T5,F8.3,TL3,F6.1)", "(6F12.7", "(6F12.7,Q)", "6F12.7", "(6I12)", "('x')", "(Q)",
    "(F10.3,2(1X))", "(F0.1)", "(3(F8.2,1X),/)", "(F8.3,$)", "(4(1X,E12.5E3))", "(D14.5)",
    "(2(F6.1,2X),F9.4)", "(BN,F10.4)", "(BZ,SS,F10.2)", "(2H**,F10.3)", "(F10.3,2H##)",
    "(T20,F10.4,T1,F8.2)", "(TR3,F9.2)", "(F9.2,TL20,'<')", "(G14.6E3)", "(E10.3E1)",
    "('''',F9.3,'''')", "(F20.15)", "(F40.30)", "(F4.0)", "(F3.0)", "(Z20)", "(Z8)",
    "(A4)", "(A10)", "(L5)", "(I5.6)", "(F10)", "(F10.)", "(E12.4E)", "(X)", "(0X,F8.2)",
    "(B,F8.2)", "(,F8.2)", "(F8.2,,F8.2)", "(2(,F8.2))", "(3/)", "(F8.2)x junk", "x",
    "((((((((((((((((((F8.2))))))))))))))))))", "(4(F8.2:','))", "(1P,G12.4)", "(SP,G12.4)",
    "(12X,F8.2)", "(T10,F8.2)", "(F8.2,T3)", "(F8.2,3X)", "(F8.2,3X,'|')", "(F8.2\\)",
    "(99999999999F8.2)", "(+2P,F10.3)", "(-2P,E12.4)", "(2P,E12.4)", "(3P,E12.4)",
    "(-P,F8.2)", "(+3,F8.2)", "(10HABCDEFGHIJ,F5.1)", "(40HABC", "('abc", "(F8.2/F8.2)",
    "(1H)", "(E0.3,F8.2)", "(G0.1,F8.2)", "(2(F8.2,1X),F4.1)", "(F8.2,'a''b')",
    "(I12.3)", "(Iw)", "(5(1X,F7.2))", "(F12.7,/,'x')", "(/,F12.7)", "(S,F6.1)",
    "(E15.6,SP,E15.6)", "(D15.6E2)", "(Z16,1X,Z4)", "(A,1X,A2)", "(G12.4E1)",
    "(F6.2,TL10,F4.1)", "(2(3(F6.1),'|'))", "(1X,2(F8.3,:,','))", "(T5,'x',T1,F3.0)",
    "(100F12.7)", "(F12.7,100X,'x')", "(1X,6F12.7)  trailing", "\t(6F12.7)", " (F9.3)",
    "(6F12.7)" + " " * 32 + "xx", "(F12.7,'" + "x" * 30 + "')",
    # renderings near the 260 characters that are built at most
    "(F300.270)", "(F262.255)", "(F261.258)", "(F260.258)", "(E300.270)", "(G280.258)",
    "(D259.255)", "(F259.257)", "(E261.255E3)", "(F258.256)", "(2PE270.257)", "(SP,F261.258)",
    "(E262.257)", "(E263.256)", "(G266.258)", "(F261.257,'|')", "(Z300)", "(A300)",
    "(E12.2147483647)", "(F8.2,'\xe9\xff')", "(F8.2,'a\rb')", "(F8.2,2H\t\t)",
    "(F8.2,'a\tb')", "(\xe9F8.2)",
]


def rand_format(rng):
    """A short format text built from the notation's pieces."""
    pieces = []

    def num(lo, hi):
        return str(rng.randint(lo, hi))

    def data_desc():
        c = rng.choices("FEGDZAIL", [40, 15, 12, 5, 6, 4, 2, 1])[0]
        w = rng.randint(0, 22)
        d = rng.randint(0, 9)
        if c == "F":
            t = "F%d.%d" % (w, d)
        elif c in "EG":
            t = "%s%d.%d" % (c, w, d)
            if rng.random() < 0.3:
                t += "E%d" % rng.randint(0, 4)
        elif c == "D":
            t = "D%d.%d" % (w, d)
        elif c in "ZA":
            t = c + (str(rng.randint(0, 20)) if rng.random() < 0.7 else "")
        elif c == "I":
            t = "I%d" % rng.randint(1, 12)
        else:
            t = "L%d" % rng.randint(1, 5)
        if rng.random() < 0.4:
            t = num(1, 7) + t
        return t

    def other():
        kind = rng.choices(["lit", "holl", "x", "t", "tl", "tr", "slash", "colon", "dollar",
                            "p", "s", "b", "junk"], [8, 2, 8, 3, 3, 2, 4, 3, 1, 4, 3, 2, 2])[0]
        if kind == "lit":
            return "'" + rng.choice(["", " ", "|", "a", "x=", "''", " end", ",", "()"]) + "'"
        if kind == "holl":
            s = rng.choice(["a", "ab", "x y", "12"])
            return "%dH%s" % (len(s), s)
        if kind == "x":
            return num(1, 12) + "X"
        if kind == "t":
            return "T" + num(1, 60)
        if kind == "tl":
            return "TL" + num(1, 30)
        if kind == "tr":
            return "TR" + num(1, 20)
        if kind == "slash":
            return "/"
        if kind == "colon":
            return ":"
        if kind == "dollar":
            return rng.choice(["$", "\\"])
        if kind == "p":
            return rng.choice(["", "+", "-"]) + num(0, 3) + "P"
        if kind == "s":
            return rng.choice(["S", "SS", "SP"])
        if kind == "b":
            return rng.choice(["BN", "BZ"])
        return rng.choice(["Q", "X", "P", "H", "B", "C", "\"", ".", "F", "F8", "E9.", "3'a'",
                           "T", "0F8.2", "2/", "K", "-", "(", ")"])

    def items(depth):
        out = []
        for _ in range(rng.randint(1, 4)):
            r = rng.random()
            if r < 0.5:
                out.append(data_desc())
            elif r < 0.85 or depth >= 3:
                out.append(other())
            else:
                g = "(" + ",".join(items(depth + 1)) + ")"
                if rng.random() < 0.6:
                    g = num(1, 4) + g
                out.append(g)
        return out

    for _ in range(20):
        body = items(0)
        seps = [rng.choice([",", ",", ",", "", ", ", " "]) for _ in body]
        text = "(" + "".join(b + (s if i < len(body) - 1 else "") for i, (b, s) in
                             enumerate(zip(body, seps))) + ")"
        if rng.random() < 0.2:
            text = text.lower()
        if rng.random() < 0.05:
            text = text[:-1]
        if len(text) <= 40:
            return text
    return "(F10.3)"


def outfmt_answer(rng):
    r = rng.random()
    if r < 0.45:
        return rng.choice(FIXED_FORMATS)
    if r < 0.55:
        return ""
    return rand_format(rng)


# ---------------------------------------------------------------------------
# Dialog answers
# ---------------------------------------------------------------------------

def reads_ok(reader, line):
    try:
        reader(line.encode("latin-1"))
        return True
    except tm.FieldError:
        return False


def bad_lines(rng, reader, chance=0.12):
    """Answers that the field rejects (the prompt is written again)."""
    out = []
    while rng.random() < chance:
        t = rng.choice(["abc", "x", "1.5", "12a", "--1", "1-2", "#", "2#2", "99#1", "1#",
                        "1e5", "+-", ".", "1.2.3", "9999999999", "-3000000000", "E", "1d",
                        "\x01", "1\r2", "zz"])
        if not reads_ok(reader, t):
            out.append(t)
    return out


def int_forms(rng, v, width):
    """Texts that an Iw field reads as v."""
    cands = ["%d" % v, " %d" % v, "%d " % v, "+%d" % v if v >= 0 else "%d" % v,
             "%d,7" % v, "%dxyz" % v, "\t%d" % v, "0%d" % v]
    if v >= 0:
        cands += ["#%X" % v, "16#%x" % v, "2#{0:b}".format(v), "8#%o" % v]
        s = "%d" % v
        if len(s) > 1:
            cands.append(s[0] + " " + s[1:])
    rng.shuffle(cands)
    reader = (lambda s: tm.read_I(s, width))
    for c in cands:
        try:
            if reader(c.encode()) == v:
                return c
        except tm.FieldError:
            pass
    return "%d" % v


class Dialog:
    """Builds the answer lines and predicts the values the program takes."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.notes = []

    def add(self, *lines):
        self.lines.extend(lines)

    def numeric(self, reader, answer, junk=0.12):
        """Rejected answers, then the answer; an empty line follows a rejected answer."""
        self.add(*bad_lines(self.rng, reader, junk))
        self.add(answer)
        try:
            return reader(answer.encode("latin-1"))
        except tm.FieldError:
            self.add("")
            return reader(b"")


NASTY = [0.0, -0.0, 0.5, -0.5, 0.125, 2.5, -2.5, 0.05, 0.15, 0.25, 0.35, 0.45, 1.005, 1.0005,
         9.995, 99.5, 999.99999999, 9999.99999999, 1 / 3, 2 / 3, -1 / 3, 0.1, 0.01, 1e-5, 5e-5,
         0.0005, 123456.789, 12345.678, -1234.567, 1e10, 1e15, 1e16, 123456789012345678.0,
         1e22, 1e-10, 1e-100, 1e-300, 5e-324, 2.2250738585072014e-308, 0.9999999999999999,
         0.99999995, 0.999995, 0.95, 0.995, 0.9995, 3.14159, -2.71828, 7.0, 0.4999999999999999,
         1.5, 4.5, 1e-99, 9.99e-100, 1e60, 9.5e-5, 0.00095, 8.5, 10.5, 100.0, 1000.0,
         0.0625, 0.03125, 1.25e-5, 4.35, 2.675, 1.115, 19999.9995, 1e5 - 0.0005, 0.000049999]


def nasty_value(rng):
    r = rng.random()
    if r < 0.6:
        v = rng.choice(NASTY)
    elif r < 0.8:
        # a decimal that ends in 5: a tie in the shown digits
        v = float("%d5e%d" % (rng.randint(0, 10 ** rng.randint(0, 15)), rng.randint(-25, 10)))
    else:
        v = rng.uniform(-1, 1) * 10.0 ** rng.randint(-40, 22)
    return -v if rng.random() < 0.3 else v


def exact_text(v):
    """The exact decimal value of the double v."""
    import decimal
    return format(decimal.Decimal(v), "f") if abs(v) >= 1e-30 or v == 0 else \
        format(decimal.Decimal(v), "E")


def tie_text(v):
    """The decimal half way between v and the next double away from zero."""
    import decimal
    import math
    nxt = math.nextafter(v, math.inf if v >= 0 else -math.inf)
    with decimal.localcontext() as ctx:
        ctx.prec = 2000
        mid = (decimal.Decimal(v) + decimal.Decimal(nxt)) / 2
    return format(mid, "E")


def parse_forms(rng, v):
    """Texts of the free-form notation that read as about v, many of them exactly."""
    t = rng.choice(["repr", "repr", "exact", "tie", "longe", "dexp", "signexp", "zeros",
                    "implicit", "plus"])
    if t == "repr":
        s = repr(v)
    elif t == "exact":
        s = exact_text(v)
    elif t == "tie":
        s = tie_text(v)
    elif t == "longe":
        s = "%.*e" % (rng.randint(17, 40), v)
    elif t == "dexp":
        s = ("%.*E" % (rng.randint(0, 25), v)).replace("E", rng.choice("Dd"))
    elif t == "signexp":
        s = ("%.*E" % (rng.randint(0, 20), v)).replace("E", "")
    elif t == "zeros":
        s = "000" + repr(abs(v)) if v >= 0 else "-000" + repr(-v)
        if "e" in s:
            s = s.replace("e", "000e", 1) if "." in s else s
    elif t == "implicit":                       # digits with an exponent, no point
        m, e = ("%.*e" % (rng.randint(0, 17), v)).split("e")
        digs = m.replace(".", "")
        frac = len(m.split(".")[1]) if "." in m else 0
        s = "%se%d" % (digs, int(e) - frac)
    else:
        s = "+" + repr(v) if v >= 0 else repr(v)
    return s


CHUNK = 1 << 20          # files are read in pieces: items across the seams matter


def big_file(rng, body):
    """body (bytes) placed so that something interesting meets a 1 MiB seam."""
    kind = rng.choice(["pad", "zeros", "crlf", "blanklines", "tail", "comma"])
    seam = CHUNK * rng.choice([1, 1, 2])
    j = rng.randint(0, 12)
    if kind == "pad":                 # the first item starts just before or at the seam
        fill = b"".join(rng.choice([b" ", b"\t", b"\n", b"\r\n"]) for _ in range(64))
        pad = (fill * (seam // len(fill) + 2))[:seam - j]
        if pad.endswith(b"\r"):
            pad = pad[:-1] + b" "
        return pad + body, kind
    if kind == "zeros":               # one item with leading zeros across the seam
        body = body.lstrip(b" \t")
        sign = body[:1] if body[:1] in (b"+", b"-") else b""
        return sign + b"0" * (seam - j) + body[len(sign):], kind
    if kind == "crlf":                # a line end split by the seam
        head = (b" " * (seam - 1 - j)) + b"\r\n" + (b" " * j)
        return head + body, kind
    if kind == "blanklines":
        head = b"\r\n" * ((seam - j) // 2)
        return head + body, kind
    if kind == "comma":               # a null value at the seam
        head = b" " * (seam - 1 - j) + b","
        return head + body, kind
    return body + b" " * (seam - len(body) % seam + j) + b"junk\r\n" * 10, kind


def gen_case(seed, index):
    rng = random.Random("%d/%d" % (seed, index))
    notes = []
    files = {}
    dirs = []
    # what the case concentrates on
    focus = rng.choices(["general", "render", "freeform", "fields", "console", "wide", "long",
                         "bigfile"], [55, 17, 10, 12, 6, 2, 2, 3])[0]
    # -- sizes -------------------------------------------------------------
    prof = rng.choices(["small", "tiny", "wide", "big"], [70, 15, 8, 7])[0]
    if focus != "general":
        prof = "small"
    if prof == "small":
        k = rng.randint(1, 9)
        n = rng.randint(2, 30) if rng.random() < 0.2 else rng.randint(k + 2, k + 30)
    elif prof == "tiny":
        n, k = rng.randint(1, 5), rng.randint(1, 4)
    elif prof == "wide":
        k = rng.randint(10, 45)
        n = rng.randint(2, 60) if rng.random() < 0.2 else rng.randint(k + 2, k + 40)
    else:
        k = rng.randint(1, 8)
        n = rng.randint(30, 300)
    if focus in ("render", "freeform"):
        n = rng.randint(k + 3, k + 12)
    elif focus == "wide":
        k = rng.randint(14, 45)
        n = rng.randint(k + 5, k + 30)
    elif focus == "long":
        k = rng.randint(1, 2)
        n = rng.randint(3, 8)
    elif focus == "bigfile":
        k = rng.randint(1, 4)
        n = rng.randint(k + 2, k + 6)
    elif prof == "small" and rng.random() < 0.1:
        k = rng.randint(10, 16)
        n = rng.randint(k + 5, k + 30)
    miss_p = rng.choices([0.0, 0.03, 0.1, 0.2, 0.35, 0.6, 1.0], [18, 15, 25, 20, 12, 6, 4])[0]
    if k >= 10 or focus in ("render", "freeform", "wide"):
        miss_p = min(miss_p, rng.choice([0.0, 0.0, 0.02, 0.05]))
    if focus == "long":
        miss_p = 0.2
    notes.append("focus=%s profile=%s n=%d k=%d miss=%.2f" % (focus, prof, n, k, miss_p))
    # nothing but the point of the case goes wrong
    plain = focus in ("render", "freeform", "wide", "long")

    # -- dialog values -----------------------------------------------------
    d = Dialog(rng)
    fname = rng.choices(["data.dat", "DATA.TXT", "sub/in.dat", "my data.dat"], [80, 8, 6, 6])[0]
    fin_mode = rng.choices(["ok", "blank_first", "padded", "missing", "nodir", "dir", "long",
                            "odd", "result"], [80, 5, 6, 4, 2, 1, 2, 1, 1])[0]
    if plain:
        fin_mode = "ok"
    notes.append("fin=%s" % fin_mode)
    if fin_mode == "blank_first":
        d.add(*["", "   ", "\t"][:rng.randint(1, 3)])
    if fin_mode == "padded":
        d.add("   " + fname + "  ")
    elif fin_mode == "missing":
        d.add("nofile.dat")
    elif fin_mode == "nodir":
        d.add("nodir/x.dat")
    elif fin_mode == "dir":
        dirs.append("adir")
        d.add("adir")
    elif fin_mode == "long":
        fname = "d" * 38 + "ab"                   # 40 characters; what follows is cut off
        d.add(fname + "ignored.dat")
    elif fin_mode == "result":                    # the data in a file the run replaces
        fname = rng.choice(["temp.dat", "temp.cov"])
        d.add(fname)
    elif fin_mode == "odd":                       # names the file system may refuse
        d.add(rng.choice(["da\0ta.dat", "data.dat\r", "\xe9t\xe9.dat", "./data.dat",
                          "sub//in.dat", "/", "."]))
    else:
        d.add(fname)
    if "/" in fname:
        dirs.append(fname.split("/")[0])

    # N and K as answered (sometimes not those of the file)
    n_ans, k_ans = n, k
    if not plain:
        r = rng.random()
        if r < 0.04:
            n_ans = rng.choice([0, -1, -5])
        elif r < 0.07:
            n_ans = n + rng.randint(1, 3)           # file too short
        elif r < 0.10:
            n_ans = max(1, n - rng.randint(1, 3))   # extra values ignored
        if rng.random() < 0.03:
            k_ans = rng.choice([0, -2])
    readI8 = lambda s: tm.read_I(s, 8)
    readI4 = lambda s: tm.read_I(s, 4)
    readI1 = lambda s: tm.read_I(s, 1)
    readMVI = lambda s: tm.read_F(s, 4, 0)
    readCRIT = lambda s: tm.read_F(s, 16, 15)
    readF8 = lambda s: tm.read_F(s, 16, 8)
    readA = lambda s: tm.read_A(s, 40)
    fields = focus == "fields"
    junk = 0.5 if fields else 0.12
    d.numeric(readI8, "" if n_ans == 0 and rng.random() < 0.5 else int_forms(rng, n_ans, 8),
              junk)
    d.numeric(readI4, "" if k_ans == 0 and rng.random() < 0.5 else int_forms(rng, k_ans, 4),
              junk)

    # pattern limit
    attr = rng.random() < (0.25 if fields else 0.12) and not plain
    if attr:
        ptn_ans = rng.choice(["2", "2", " 2", "02", "2   xyz", "2,5", "#2", "+2", "2#10"])
    elif fields:
        ptn_ans = random_field(rng, "I")
    else:
        ptn_ans = rng.choices(["", "20", "1", "3", "5", "-3", "0", "100", "9999"],
                              [60, 5, 5, 5, 5, 2, 3, 3, 2])[0]
    PTN = d.numeric(readI4, ptn_ans, junk)
    if PTN == 0:
        PTN = 20

    # missing-value code
    if focus == "freeform":
        mvi_ans = rng.choice(["99.5", "-.5", "9.5"])    # no value is ever missing
    elif fields:
        mvi_ans = random_field(rng, "F")
    else:
        mvi_ans = rng.choices(["", "9", "-99", "-9", "99.5", "-999", "0", "99", "9999", "-9999",
                               "1", "9.", "1.5-", "-1", "+9", " 9", "99D0"],
                              [40, 10, 10, 8, 4, 4, 3, 4, 2, 2, 2, 2, 1, 2, 2, 2, 1])[0]
    MVI = d.numeric(readMVI, mvi_ans, junk)
    if MVI == 0.0:
        MVI = 9.0

    # start values
    if fields:
        siv_ans = random_field(rng, "I")
    else:
        siv_ans = rng.choices(["", "1", "2", "3", "0", "4", "9", "12", "3x", " 3", "-1", "+3"],
                              [25, 15, 20, 15, 3, 2, 2, 2, 2, 2, 1, 2])[0]
    SIV = d.numeric(readI1, siv_ans, junk)
    if SIV < 1 or SIV > 3:
        SIV = 1
    sv_mode = None
    if SIV == 3:
        sv_name = rng.choices(["", "start.cov", "  start.cov", "other.cov", "none.cov",
                               fname, "temp.cov", "adir2"], [50, 15, 5, 20, 10, 2, 2, 1])[0]
        if plain and sv_name == "none.cov":
            sv_name = ""
        d.add(sv_name)
        sv_file = sv_name.strip() or "start.cov"
        if sv_file == "adir2":
            dirs.append("adir2")
        elif sv_file == fname or sv_file == "temp.cov":
            pass                                  # read from the data or an old result file
        elif sv_file != "none.cov":
            sv_mode = rng.choices(["good", "split", "extra", "upper_junk", "short", "junk",
                                   "slash", "null", "truncated", "empty", "zero"],
                                  [45, 10, 8, 8, 5, 5, 4, 4, 4, 3, 4])[0]
            if plain:
                sv_mode = rng.choice(["good", "split", "extra", "upper_junk"])
        notes.append("start=%s:%s" % (sv_file, sv_mode))

    # iteration limit and criterion, kept small for the model's sake
    cost_pass = k * k * (k + 1) ** 2 + (1 + 6 * miss_p * n) * k * (k + 1) ** 2 + n * k * k
    budget = 2.5e6
    max_passes = int(max(1, min(200, budget / cost_pass)))
    mi_choice = rng.random()
    if focus == "long":
        mi_ans = str(rng.randint(995, 1005))    # pass numbers above 999 do not fit I3
    elif focus == "wide":
        mi_ans = "1"
    elif mi_choice < 0.3 and max_passes >= 200:
        mi_ans = ""
    elif (mi_choice < 0.05 + 0.3 and cost_pass < 5e3 and n >= 2 * k + 4
          and focus in ("general", "fields")):
        mi_ans = str(-rng.randint(1, 5))        # ends only by convergence
    else:
        mi_ans = str(rng.randint(1, min(30, max_passes)))
        if rng.random() < 0.1:
            mi_ans = int_forms(rng, int(mi_ans), 4)
    MAXITER = d.numeric(readI4, mi_ans, junk)
    if MAXITER < 0:
        crit_ans = rng.choice([".5", "1.", "5.", ".1"])     # with a point: taken at face value
    elif focus == "long":
        crit_ans = rng.choice(["-1.", "-1", "0.0E0", "-.1E-30"])
    elif fields:
        crit_ans = random_field(rng, "F")
    else:
        crit_ans = rng.choices(["", ".00001", "1", ".001", "1E-3", "1.5-3", "0", "-1", "-.5",
                                ".1", "5", "100", "1.", "2D-4", "1E0", "0.0000001", "1e-12",
                                "+.01", "10000000", " .001", ".001,5", "1 0"],
                               [30, 6, 4, 6, 3, 3, 3, 3, 2, 4, 2, 2, 2, 2, 1, 3, 3, 1, 1, 1, 1,
                                1])[0]
    d.numeric(readCRIT, crit_ans, junk)

    # additional output and attrition
    if attr:
        opt_ans = rng.choice(["2", "2", "2x", "2,"])
    elif plain:
        opt_ans = rng.choice(["1", "1", "2", "9"]) if focus != "long" else rng.choice(["", "1"])
    elif fields:
        opt_ans = random_field(rng, "I")
    else:
        opt_ans = rng.choices(["", "0", "1", "2", "7", "1x", "-1", " 1"],
                              [35, 8, 35, 8, 3, 3, 2, 2])[0]
    OPT = d.numeric(readI1, opt_ans, junk)
    bmod = OPT == 2 and PTN == 2
    if bmod:
        if fields:
            yint, yhat = random_field(rng, "F"), random_field(rng, "F")
        else:
            yint = rng.choice(["", "0.5", "2", "1.5", "-3.25", "200000000", "1E0", ".25", "0"])
            yhat = rng.choice(["", "0.5", "2", "1.", "-1.", "200000000", "1E0", "0", ".9"])
        d.numeric(readF8, yint, junk)
        d.numeric(readF8, yhat, junk)
        notes.append("attrition yint=%r yhat=%r" % (yint, yhat))

    if focus == "render":
        fmt = rand_render_format(rng)
    elif focus == "freeform" or (fields and bmod):
        fmt = rng.choice(["(Z16)", "(4Z17)", "(1X,3Z16)", "(Z)"])
    else:
        fmt = outfmt_answer(rng)
    d.add(*bad_lines(rng, readA, 0))            # a text field never rejects
    d.add(fmt)
    notes.append("fmt=%r" % fmt)

    # pauses
    d.add(rng.choice(["", "", "", "x", "  ", "hello"]))
    d.add(rng.choice(["", "", "", "y", "go on"]))
    if rng.random() < 0.05:
        d.add("surplus line")

    # -- the data file -----------------------------------------------------
    X = gen_matrix(rng, n, max(k, 1))
    if focus == "render":
        for j in rng.sample(range(max(k, 1)), rng.randint(1, max(k, 1))):
            for row in X:
                row[j] = nasty_value(rng)
    elif focus == "console":
        for row in X:
            for j in range(len(row)):
                if rng.random() < 0.5:
                    row[j] = rng.choice([rng.uniform(10000, 19999.9999), rng.uniform(-9999, -1000),
                                         rng.uniform(20000, 99999), 12345.678, -1234.567,
                                         rng.uniform(1e5, 1e7), 99999.9995, 9999.9995])
    elif focus == "freeform":
        for row in X:
            for j in range(len(row)):
                row[j] = rng.uniform(-1, 1) * 10.0 ** rng.randint(-120, 60)
    syntax = set()
    if not plain:
        for feat, p in (("repeat", 0.12), ("null", 0.05), ("slash", 0.03), ("junk", 0.04),
                        ("crlf", 0.2), ("spread", 0.12), ("extra", 0.12), ("short", 0.02),
                        ("blanklines", 0.1), ("tabs", 0.1), ("commas", 0.15), ("cr_only", 0.01)):
            if rng.random() < p:
                syntax.add(feat)
    if syntax:
        notes.append("syntax=" + ",".join(sorted(syntax)))
    if focus == "render":
        rows = [[repr(v) for v in row] for row in X]
        data = ("\n".join(" ".join(r) for r in rows) + "\n").encode()
    elif focus == "freeform":
        eol = rng.choice(["\n", "\r\n"])
        rows = [[parse_forms(rng, v) for v in row] for row in X]
        data = (eol.join(rng.choice([" ", ",", "\t", " , "]).join(r) for r in rows)
                + eol).encode()
    else:
        data = gen_data_text(rng, X, max(k, 1), MVI, miss_p, syntax)
    if focus == "bigfile" and k >= 1:
        data, how = big_file(rng, data)
        notes.append("big data file: %s, %d bytes" % (how, len(data)))
    if fin_mode in ("ok", "blank_first", "padded", "long"):
        files[fname] = data
    old_results = fin_mode == "result"
    if fin_mode == "missing" and rng.random() < 0.3:
        files["data.dat"] = data
    if fin_mode == "odd":
        files["data.dat"] = data
        files["sub/in.dat"] = data

    if sv_mode is not None:
        files[sv_file] = gen_start_cov(rng, max(k, 1), X, sv_mode)
    if SIV == 3 and sv_file == "temp.cov":
        files["temp.cov"] = rng.choice([b"old temp.cov line\r\n" * 3, b"1 0\n0 1\n0 0\n" * 20])
        if focus == "bigfile" and rng.random() < 0.5:
            files[sv_file], how = big_file(rng, files[sv_file])
            notes.append("big start file: %s" % how)

    # -- old result files ----------------------------------------------------
    links = {}
    if rng.random() < 0.3:
        for name in ("temp.cov", "temp.ptn", "temp.dat", "temp.res"):
            if rng.random() < 0.6:
                files[name] = (b"old %s line\r\n" % name.encode()) * rng.randint(1, 400)
    if old_results:
        files[fname] = data
    if rng.random() < 0.015 and not plain:
        # a result file name that leads to a device: nothing to cut, or no space
        name = rng.choice(["temp.cov", "temp.ptn", "temp.dat", "temp.res"])
        files.pop(name, None)
        links[name] = rng.choice(["/dev/null", "/dev/null", "/dev/full"])
        notes.append("%s -> %s" % (name, links[name]))
    elif rng.random() < 0.01 and not plain:
        name = rng.choice(["temp.cov", "temp.ptn", "temp.dat", "temp.res"])
        files.pop(name, None)
        dirs.append(name)                      # a directory cannot be written
        notes.append("%s is a directory" % name)

    # -- the answers as typed ------------------------------------------------
    lines = d.lines
    stdin = b""
    crlf_in = rng.random() < 0.1
    long_line = rng.random() < 0.03
    long_lines = focus == "bigfile" and rng.random() < 0.5
    for i, ln in enumerate(lines):
        b = ln.encode("latin-1")
        if long_line and i == len(lines) - 3:
            b = b + b" " * 140 + b"tail"
        if long_lines and rng.random() < 0.3:
            # answers that run over the pieces the input is read in
            b = b + b" " * (max(0, 4096 - len(stdin) % 4096 - len(b) - rng.randint(0, 3))
                            + 4096 * rng.randint(0, 1)) + b"x" * rng.randint(0, 2)
        stdin += b + (b"\r\n" if crlf_in else b"\n")
    if rng.random() < 0.08 and not plain:
        # end of input at a random point of the dialog or at a pause
        cut = rng.randrange(len(lines))
        parts = stdin.split(b"\n")
        stdin = b"\n".join(parts[:cut]) + (b"\n" if cut else b"")
        notes.append("eof after %d lines" % cut)
    elif rng.random() < 0.04:
        stdin = stdin.rstrip(b"\r\n")           # the last line has no line end
        notes.append("no final line end")
    return {"seed": seed, "index": index, "notes": notes, "files": files, "dirs": dirs,
            "stdin": stdin, "data_name": fname, "links": links}


def random_field(rng, kind):
    """A random answer for a numeric field: mostly near-numbers, sometimes noise."""
    if kind == "I":
        pieces = ["", "+", "-", " ", "\t", "0", "1", "2", "3", "9", "12", "#", "16#", "2#", "36#",
                  "F", "f", "z", "Z", ",", ".", "10", "007", "99999999999", "x", "3#"]
    else:
        pieces = ["", "+", "-", " ", "\t", "0", "1", "5", "9", "12", ".", ".", "E", "e", "D", "d",
                  "-", "+", "3", "99", ",", "x", "000", "25", "1.5", "E-5", "D+2", "-3"]
    s = "".join(rng.choice(pieces) for _ in range(rng.randint(0, 6)))
    return s[:rng.choice([4, 8, 16, 20])]


def rand_render_format(rng):
    """Formats that render numbers in many ways: F, E, D, G with scale factors and signs."""
    for _ in range(20):
        items = []
        for _ in range(rng.randint(1, 3)):
            c = rng.choices("FEGDZ", [35, 25, 25, 10, 5])[0]
            dd = rng.choice([0, 0, 1, 2, 3, 4, 5, 7, 9, 12, 15, 17, 20])
            if rng.random() < 0.7:                  # mostly wide enough to show digits
                w = dd + rng.randint(2, 12)
            else:
                w = rng.choice([0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 14, 16, 20, 25, 30, 40])
            if c == "Z":
                t = "Z%d" % rng.choice([0, 4, 16, 18])
            else:
                t = "%s%d.%d" % (c, w, dd)
                if c in "EG" and rng.random() < 0.3:
                    t += "E%d" % rng.randint(1, 4)
            pre = ""
            if rng.random() < 0.35:
                pre += "%s%dP," % (rng.choice(["", "+", "-"]), rng.randint(0, 4))
            if rng.random() < 0.2:
                pre += rng.choice(["SP,", "SS,", "S,"])
            if rng.random() < 0.3:
                t = "%d%s" % (rng.randint(1, 4), t)
            items.append(pre + t)
            if rng.random() < 0.2:
                items.append(rng.choice(["1X", "'|'", "TL2", "T3", "/", ":", "2X", "TR1"]))
        text = "(" + ",".join(items) + ")"
        if len(text) <= 40:
            return text
    return "(E12.4)"


# ---------------------------------------------------------------------------
# Running and comparing
# ---------------------------------------------------------------------------

class Link:
    """A symbolic link found in or put into a directory."""

    def __init__(self, target):
        self.target = target

    def __eq__(self, other):
        return isinstance(other, Link) and other.target == self.target

    def __repr__(self):
        return "link to %s" % self.target


def describe_entry(v):
    if isinstance(v, str):
        return v
    if v is None:
        return "directory"
    if isinstance(v, Link):
        return repr(v)
    return "%d bytes" % len(v)


def prepare(dirpath, case):
    os.makedirs(dirpath)
    for sub in case["dirs"]:
        os.makedirs(os.path.join(dirpath, sub), exist_ok=True)
    for name, target in case.get("links", {}).items():
        os.symlink(target, os.path.join(dirpath, name))
    for name, data in case["files"].items():
        p = os.path.join(dirpath, name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)


def snapshot(dirpath):
    out = {}
    for root, dnames, fnames in os.walk(dirpath):
        for dn in dnames:
            rel = os.path.relpath(os.path.join(root, dn), dirpath)
            out[rel + "/"] = None
        for fn in fnames:
            p = os.path.join(root, fn)
            if os.path.islink(p):
                out[os.path.relpath(p, dirpath)] = Link(os.readlink(p))
                continue
            with open(p, "rb") as f:
                out[os.path.relpath(p, dirpath)] = f.read()
    return out


def run_one(cmd, dirpath, stdin, timeout):
    t0 = time.time()
    try:
        p = subprocess.run(cmd, cwd=dirpath, input=stdin, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout)
        res = {"stdout": p.stdout, "stderr": p.stderr, "status": p.returncode}
    except subprocess.TimeoutExpired as exc:
        res = {"stdout": exc.stdout or b"", "stderr": exc.stderr or b"", "status": "timeout"}
    res["files"] = snapshot(dirpath)
    res["seconds"] = time.time() - t0
    return res


def first_diff(a, b):
    n = min(len(a), len(b))
    for i in range(n):
        if a[i] != b[i]:
            return i
    return n if len(a) != len(b) else None


def describe_diff(name, a, b):
    """The first differing byte of a stream, with context from both sides."""
    i = first_diff(a, b)
    line = a[:i].count(b"\n") + 1
    start = max(0, a.rfind(b"\n", 0, max(0, i - 1)) + 1, i - 60)
    return ("  %s differs at byte %d (line %d; binary %d bytes, model %d bytes)\n"
            "    binary: ...%s\u2502%s\n"
            "    model : ...%s\u2502%s" % (
                name, i, line, len(a), len(b),
                esc(a[start:i]), esc(a[i:i + 50]), esc(b[start:i]), esc(b[i:i + 50])))


def compare(cpp, model):
    diffs = []
    kinds = []
    if cpp["status"] != model["status"]:
        diffs.append("  exit status: binary %s, model %s" % (cpp["status"], model["status"]))
        kinds.append("status")
    for s in ("stdout", "stderr"):
        if cpp[s] != model[s]:
            diffs.append(describe_diff(s, cpp[s], model[s]))
            kinds.append(s)
    names = sorted(set(cpp["files"]) | set(model["files"]))
    for nm in names:
        a, b = cpp["files"].get(nm, "absent"), model["files"].get(nm, "absent")
        if a == b:
            continue
        kinds.append("file " + nm)
        if not (isinstance(a, bytes) and isinstance(b, bytes)):
            diffs.append("  file %s: binary %s, model %s" % (nm, describe_entry(a),
                                                             describe_entry(b)))
        else:
            diffs.append(describe_diff("file " + nm, a, b))
    return diffs, kinds


def case_text(case):
    out = ["  notes: " + "; ".join(case["notes"]),
           "  stdin:", esc_lines(case["stdin"])]
    for name, data in sorted(case["files"].items()):
        if name.startswith("temp."):
            out.append("  old %s: %d bytes" % (name, len(data)))
            continue
        out.append("  file %s:" % name)
        out.append(esc_lines(data, 800))
    for dn in case["dirs"]:
        out.append("  directory %s/" % dn)
    for name, target in sorted(case.get("links", {}).items()):
        out.append("  %s: link to %s" % (name, target))
    return "\n".join(out)


def save_case(keep, case, cpp, model, diffs):
    tag = "case-%s-%s" % (case["seed"], case["index"])
    root = os.path.join(keep, tag)
    if os.path.exists(root):
        shutil.rmtree(root)
    prepare(os.path.join(root, "input"), case)
    with open(os.path.join(root, "stdin"), "wb") as f:
        f.write(case["stdin"])
    with open(os.path.join(root, "case.json"), "w") as f:
        json.dump({"seed": case["seed"], "index": case["index"], "notes": case["notes"],
                   "dirs": case["dirs"], "data_name": case["data_name"],
                   "stdin": esc(case["stdin"])}, f, indent=1)
    with open(os.path.join(root, "report.txt"), "w") as f:
        f.write(case_text(case) + "\n" + "\n".join(diffs) + "\n")
    for side, res in (("binary", cpp), ("model", model)):
        d = os.path.join(root, side)
        os.makedirs(d)
        for s in ("stdout", "stderr"):
            with open(os.path.join(d, s), "wb") as f:
                f.write(res[s])
        with open(os.path.join(d, "status"), "w") as f:
            f.write("%s\n" % res["status"])
        for nm, data in res["files"].items():
            p = os.path.join(d, "files", nm)
            if data is None:
                os.makedirs(p, exist_ok=True)
                continue
            if isinstance(data, Link):
                os.makedirs(os.path.dirname(p), exist_ok=True)
                os.symlink(data.target, p)
                continue
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(data)
    return root


def load_case(root):
    with open(os.path.join(root, "case.json")) as f:
        meta = json.load(f)
    with open(os.path.join(root, "stdin"), "rb") as f:
        stdin = f.read()
    files = {}
    links = {}
    inp = os.path.join(root, "input")
    for dp, dn, fn in os.walk(inp):
        for x in fn:
            p = os.path.join(dp, x)
            if os.path.islink(p):
                links[os.path.relpath(p, inp)] = os.readlink(p)
                continue
            with open(p, "rb") as f:
                files[os.path.relpath(p, inp)] = f.read()
    return {"seed": meta["seed"], "index": meta["index"], "notes": meta["notes"] + ["replay"],
            "files": files, "dirs": meta["dirs"], "stdin": stdin, "links": links,
            "data_name": meta["data_name"]}


def execute(make_case, binary, timeout):
    case = make_case()
    tmp = tempfile.mkdtemp(prefix="talvo_cmp_")
    try:
        a = os.path.join(tmp, "binary")
        b = os.path.join(tmp, "model")
        prepare(a, case)
        prepare(b, case)
        cpp = run_one([binary], a, case["stdin"], timeout)
        model = run_one([sys.executable, MODEL], b, case["stdin"], timeout)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if "timeout" in (cpp["status"], model["status"]):
        return case, cpp, model, [], []          # counted apart, not compared
    diffs, kinds = compare(cpp, model)
    return case, cpp, model, diffs, kinds


def outcome(res):
    """A short name for how a run ended, for the summary."""
    if res["status"] == "timeout":
        return "timeout"
    err = res["stderr"]
    if err:
        return err.split(b"\r\n")[1].decode("latin-1", "replace")[:40] if b"\r\n" in err \
            else "stderr"
    if res["status"] != 0:
        tail = res["stdout"].rstrip(b"\r\n").split(b"\r\n")[-1]
        return "stop: " + tail.decode("latin-1", "replace")[:40]
    return "normal end"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--binary", default=os.path.join(HERE, "..", "..", "build", "talvo"))
    ap.add_argument("--runs", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--start", type=int, default=0, help="first case index")
    ap.add_argument("--case", type=int, action="append", help="run only this case index")
    ap.add_argument("--keep", help="directory for mismatching cases")
    ap.add_argument("--replay", nargs="+", help="saved case directories to run again")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--timeout", type=float, default=30.0)
    ap.add_argument("--show", action="store_true", help="print every case")
    ap.add_argument("--quiet", action="store_true", help="only the summary")
    args = ap.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        ap.error("no executable binary at %s" % binary)
    # run a private copy, so that a rebuild during the comparison does not disturb it
    bindir = tempfile.mkdtemp(prefix="talvo_bin_")
    shutil.copy2(binary, os.path.join(bindir, "talvo"))
    binary = os.path.join(bindir, "talvo")
    try:
        return compare_all(args, binary)
    finally:
        shutil.rmtree(bindir, ignore_errors=True)


def compare_all(args, binary):

    # cases are made in the workers, so that big ones do not pile up in memory
    if args.replay:
        cases = [lambda r=r: load_case(r) for r in args.replay]
    else:
        idx = args.case if args.case else range(args.start, args.start + args.runs)
        cases = [lambda i=i: gen_case(args.seed, i) for i in idx]

    t0 = time.time()
    mismatches = 0
    timeouts = 0
    by_kind = {}
    outcomes = {}
    by_focus = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futs = [pool.submit(execute, c, binary, args.timeout) for c in cases]
        for fut in futs:
            case, cpp, model, diffs, kinds = fut.result()
            tag = "case %s/%s" % (case["seed"], case["index"])
            o = outcome(model)
            outcomes[o] = outcomes.get(o, 0) + 1
            fc = case["notes"][0].split()[0]
            tot, ok = by_focus.get(fc, (0, 0))
            by_focus[fc] = (tot + 1, ok + (o == "normal end"))
            if cpp["status"] == "timeout" or model["status"] == "timeout":
                timeouts += 1
                if not args.quiet:
                    print("%s: timeout (binary %s, model %s)" % (
                        tag, cpp["status"], model["status"]))
            if args.show:
                print("=" * 70)
                print(tag + (" MISMATCH" if diffs else " ok") + "  (%s)" % o)
                print(case_text(case))
            if not diffs:
                continue
            mismatches += 1
            for kd in kinds:
                by_kind.setdefault(kd, []).append(case["index"])
            if not args.quiet:
                if not args.show:
                    print("=" * 70)
                    print(tag + " MISMATCH  (model: %s; binary: %s)" % (o, outcome(cpp)))
                    print(case_text(case))
                print("\n".join(diffs))
            if args.keep:
                where = save_case(args.keep, case, cpp, model, diffs)
                if not args.quiet:
                    print("  saved in " + where)
            sys.stdout.flush()
    print("=" * 70)
    print("%d cases, %d mismatches, %d timeouts, %.0f s" % (len(cases), mismatches, timeouts,
                                                            time.time() - t0))
    for kd, ids in sorted(by_kind.items()):
        shown = " ".join(str(i) for i in ids[:12]) + (" ..." if len(ids) > 12 else "")
        print("  differing %-16s %5d  (cases %s)" % (kd, len(ids), shown))
    for fc, (tot, ok) in sorted(by_focus.items()):
        print("  %-16s %5d cases, %5d normal ends" % (fc, tot, ok))
    print("how the model's runs ended:")
    for o, c in sorted(outcomes.items(), key=lambda x: -x[1]):
        print("  %5d  %s" % (c, o))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
