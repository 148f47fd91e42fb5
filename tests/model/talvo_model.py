#!/usr/bin/env python3
"""Reference model of TALVO, written independently of the C++ program.

Run it in a working directory exactly like the real program with redirected
streams:

    python3 talvo_model.py < answers > stdout 2> stderr; echo $?

It reads the dialog answers from standard input, writes the console bytes to
standard output and the run-time error reports to standard error, creates or
replaces the same files (the data file when missing, temp.cov, temp.ptn,
temp.dat, temp.res) and exits with the same status.

Numerics: every formula is evaluated in the order and association the
program uses, one IEEE double operation at a time (Python never fuses a
multiply and an add), so the results are bit-identical.  Floating-point
faults are detected by testing divisors and results before they are stored.

The module is also imported by test_model.py, which checks its pieces one by
one (rendering, fixed-field reads, free-form reads, format interpreter,
sweep, EM).
"""

import errno
import math
import os
import stat
import struct
import sys

CRLF = b"\r\n"
DBL_MAX = sys.float_info.max
INT_MAX = 2147483647
INT_MIN = -2147483648
RECORD_LIMIT = 16777216          # longest record a write may build
STORAGE_LIMIT = 1 << 34          # work arrays larger than this: "Not enough storage"
CRIT_DEFAULT = struct.unpack("<f", struct.pack("<f", 1.0e-5))[0]  # single 1.0E-5 widened

DESCRIPTIONS = {
    6100: "integer overflow",
    6101: "invalid integer",
    6102: "real overflow",
    6103: "invalid real",
    6206: "edit descriptor does not suit a real value",
    6207: "record too long",
    6302: "second # in an integer field",
    6303: "radix outside 2 to 36",
    6407: "console input line too long",
    6412: "invalid file name",
    6414: "access to the file denied",
    6416: "no such file or directory",
    6417: "too many open files",
    6422: "no space left on the disk",
    6500: "read failure reported by the operating system",
    6501: "end of file",
    6502: "zero repeat count",
    6503: "repeat count given twice",
    6980: "number missing in format",
    6981: "format does not begin with (",
    6982: "repeat count below 1 or sign without P",
    6983: "repeat count before an item that cannot be repeated",
    6984: "X, H or P without its number",
    6985: "B not followed by N or Z",
    6986: "groups nested more than 16 deep",
    6987: "point missing after the width",
    6988: "format ends before its closing parenthesis",
    6989: "character not part of the format notation",
    6990: "minimum digits greater than width",
    6991: "number too large in format",
}

FAULT_NUMBERS = {"invalid": 6101, "divide by zero": 6103, "overflow": 6104}


# ---------------------------------------------------------------------------
# Ways a run ends early
# ---------------------------------------------------------------------------

class IOFailure(Exception):
    """An input/output error the program does not handle: run-time error report."""

    def __init__(self, number, kind, name):
        Exception.__init__(self, number, kind, name)
        self.number = number
        self.kind = kind          # b"READ", b"WRITE" or b"OPEN"
        self.name = name          # bytes

    def report(self):
        return (CRLF + b"run-time error F%04d: " % self.number + self.kind + b"(" + self.name
                + b")" + CRLF + b"- " + DESCRIPTIONS[self.number].encode() + CRLF)


class FPFault(Exception):
    """A floating-point fault: invalid operation, division by zero or overflow."""

    def __init__(self, kind):
        Exception.__init__(self, kind)
        self.kind = kind

    def report(self):
        return (CRLF + b"run-time error M%04d: MATH" % FAULT_NUMBERS[self.kind] + CRLF
                + b"- floating-point error: " + self.kind.encode() + CRLF)


class StopMessage(Exception):
    """A stop with a message on the console (ends the run with status 1)."""

    def __init__(self, text):
        Exception.__init__(self, text)
        self.text = text.encode() if isinstance(text, str) else text


class FieldError(Exception):
    """A fixed-field answer that cannot be read; the dialog asks again."""

    def __init__(self, number):
        Exception.__init__(self, number)
        self.number = number


class FormatError(Exception):
    """An error met while writing a statement (format fault, 6206, 6207)."""

    def __init__(self, number):
        Exception.__init__(self, number)
        self.number = number


# ---------------------------------------------------------------------------
# Checked arithmetic
# ---------------------------------------------------------------------------

def ck(v):
    """A result about to be stored: a non-finite value means the operation overflowed.

    Only used where every operand is finite and the operations are products,
    sums, differences and divisions by a non-zero divisor, so the first fault
    can only have been an overflow and it always carries through to the result.
    """
    if not -DBL_MAX <= v <= DBL_MAX:
        raise FPFault("overflow")
    return v


def fdiv(a, b):
    if b == 0.0:
        raise FPFault("invalid" if a == 0.0 else "divide by zero")
    return ck(a / b)


# ---------------------------------------------------------------------------
# Number rendering
# ---------------------------------------------------------------------------

def digits17(v):
    """17 significant digits of |v| (v finite, non-zero) and the decimal exponent.

    Returns (D, e) with |v| ~ D[0].D[1:] x 10**e.
    """
    s = format(abs(v), ".16e")
    mant, ex = s.split("e")
    return mant[0] + mant[2:], int(ex)


def round_digits(D, n):
    """Round the digit string D half up to n significant digits (1 <= n <= 16).

    Returns the kept digits as an integer; it is 10**n when the rounding carried.
    """
    kept = int(D[:n])
    if D[n] >= "5":
        kept += 1
    return kept


def stars(w):
    return b"*" * w


def too_long(w):
    """A rendering of 260 characters or more is not built."""
    if w < 260:
        return b"*" * w
    return b" " * (w - 260) + b"*" * 260


def fixed_text(v, d, k=0):
    """Fixed-point text of v with d digits after the point (no sign).

    Returns (text, is_zero) where is_zero tells that the value rounds to zero in
    the shown digits; text is None when it would be 260 characters or longer.
    A scale factor k shifts the decimal exponent of the digit string.
    """
    if d >= 259:
        return None, False
    if v == 0.0:
        U = 0
        ulen = 1
    else:
        D, e = digits17(v)
        e += k
        n = e + 1 + d                      # digits from the first one down to 10**-d
        if n < 0:
            U = 0
            ulen = 1
        elif n == 0:
            U = 1 if D[0] >= "5" else 0
            ulen = 1
        else:
            ncap = min(n, 16)
            kept = round_digits(D, ncap)
            ulen = len(str(kept)) + n - ncap
            if max(ulen - d, 0) + 1 + d >= 260:
                return None, False
            U = kept * 10 ** (n - ncap)
    if U == 0:
        return (b"0." if d == 0 else b"." + b"0" * d), True
    s = str(U).rjust(d, "0")
    ip = s[:len(s) - d]
    fp = s[len(s) - d:]
    return (ip + "." + fp).encode(), False


def render_I(n, w):
    s = str(n).encode()
    return stars(w) if len(s) > w else s.rjust(w)


def render_F(v, w, d, k=0, plus=False):
    if w == 0:
        return b""
    text, zero = fixed_text(v, d, k)
    if text is None:
        return too_long(w)
    if v < 0.0 and not zero:
        text = b"-" + text
    elif plus:
        text = b"+" + text
    if len(text) >= 260:
        return too_long(w)
    if len(text) > w:
        return stars(w)
    return text.rjust(w)


def render_E(v, w, d, e=None, k=0, plus=False, letter=b"E"):
    """Ew.d, Ew.dEe (e given) and Dw.d with scale factor k."""
    if w == 0:
        return b""
    if not (-d < k < d + 2):
        return stars(w)
    sign = b"-" if v < 0.0 else (b"+" if plus else b"")
    explen = 4 if e is None else e + 2
    length = len(sign) + (d + 2 if k > 0 else d + 1) + explen
    if length >= 260:
        return too_long(w)
    S = d + 1 if k > 0 else d + k          # significant digits shown
    if v == 0.0:
        digs = "0" * S
        shown = 0
    else:
        D, e10 = digits17(v)
        x = e10 + 1                        # value = 0.D x 10**x
        Scap = min(S, 16)
        kept = round_digits(D, Scap)
        if kept == 10 ** Scap:
            kept = 10 ** (Scap - 1)
            x += 1
        digs = str(kept) + "0" * (S - Scap)
        shown = x - k
    if k > 0:
        body = digs[:k] + "." + digs[k:]
    else:
        body = "." + "0" * (-k) + digs
    esign = "-" if shown < 0 else "+"
    mag = abs(shown)
    if e is None:
        if mag <= 99:
            expo = letter.decode() + esign + "%02d" % mag
        elif mag <= 999:
            expo = esign + "%03d" % mag
        else:
            return stars(w)
    else:
        if e == 0 or mag >= 10 ** e:
            return stars(w)
        expo = "E" + esign + str(mag).rjust(e, "0")
    text = sign + (body + expo).encode()
    if len(text) > w:
        return stars(w)
    return text.rjust(w)


def render_G(v, w, d, e=None, k=0, plus=False):
    if w == 0:
        return b""
    if v == 0.0:
        x = 1
    else:
        x = digits17(v)[1] + 1
    if 0 <= x <= d:
        eb = (2 if e is None else e) + 2
        text, zero = fixed_text(v, d - x)
        if text is None:
            return too_long(w)
        if v < 0.0 and not zero:
            text = b"-" + text
        elif plus:
            text = b"+" + text
        if len(text) + eb >= 260:
            return too_long(w)
        text = text + b" " * eb
        if len(text) > w:
            return stars(w)
        return text.rjust(w)
    return render_E(v, w, d, e, k, plus)


def render_A(v, w):
    raw = struct.pack("<d", v)
    if w == 0:
        return raw
    if w >= 8:
        return b" " * (w - 8) + raw
    return raw[:w]


def render_Z(v, w):
    hx = b"%016X" % struct.unpack("<Q", struct.pack("<d", v))[0]
    if w == 0:
        return hx
    if w > 16:
        return b"0" * (w - 16) + hx
    return hx[16 - w:]


# ---------------------------------------------------------------------------
# Output format: translation
# ---------------------------------------------------------------------------
# An instruction is a tuple whose first element is its kind:
#   ("LIT", bytes)            literal or Hollerith text
#   ("GS", r)                 group start with repeat count
#   ("GE", body)              group end; body = index of the first body instruction
#   ("DATA", c, r, w, d, e)   data edit descriptor c in "ALIFDEGZ"; e None when not given
#   ("T", n) ("TL", n) ("TR", n)
#   ("SLASH",) ("COLON",) ("DOLLAR",)
#   ("P", k) ("SP",) ("SS",) ("BN",) ("BZ",)
#   ("END", rev)              rev = reversion index, None when there is none
#   ("ERR", number)

class _Translator:
    def __init__(self, text):
        self.s = text
        self.i = 0
        self.out = []

    def peek(self):
        s, i = self.s, self.i
        while i < len(s) and s[i] in b" \t":
            i += 1
        self.i = i
        if i >= len(s):
            return None
        c = s[i:i + 1]
        return c.upper()

    def take(self):
        c = self.peek()
        self.i += 1
        return c

    def number(self):
        """An unsigned number; blanks between its digits are ignored."""
        v = 0
        while True:
            c = self.peek()
            if c is None or not c.isdigit():
                return v
            self.i += 1
            v = v * 10 + (c[0] - 48)
            if v > INT_MAX:
                raise FormatError(6991)

    def required(self, missing=6980):
        c = self.peek()
        if c is None:
            raise FormatError(6988)
        if not c.isdigit():
            raise FormatError(missing)
        return self.number()

    def run(self):
        try:
            self.parse()
        except FormatError as exc:
            self.out.append(("ERR", exc.number))
        return self.out

    def parse(self):
        out = self.out
        if self.take() != b"(":
            raise FormatError(6981)
        groups = []             # indices of the open GS instructions
        last_top = None         # index of the last group opened directly inside the outer ()
        state = "open_outer"    # open_outer, open_inner, item, comma
        while True:
            c = self.peek()
            if c is None:
                raise FormatError(6988)
            if c == b",":
                if state in ("item", "open_inner"):
                    self.i += 1
                    state = "comma"
                    continue
                raise FormatError(6989)
            if c == b")":
                self.i += 1
                if not groups:
                    rev = last_top if last_top is not None else 0
                    if not any(ins[0] == "DATA" for ins in out[rev:]):
                        rev = None
                    out.append(("END", rev))
                    return
                gs = groups.pop()
                out.append(("GE", gs + 1))
                state = "item"
                continue
            state = self.item(c, groups)
            if state == "open_inner" and len(groups) == 1:
                last_top = groups[-1]

    def open_group(self, r, groups):
        if len(groups) >= 16:
            raise FormatError(6986)
        groups.append(len(self.out))
        self.out.append(("GS", r))
        return "open_inner"

    def item(self, c, groups):
        out = self.out
        if c.isdigit():
            n = self.number()
            c2 = self.peek()
            if c2 is None:
                raise FormatError(6988)
            if c2 in b"ALIFDEGZ" and len(c2) == 1:
                if n == 0:
                    raise FormatError(6982)
                self.i += 1
                self.data(c2, n)
                return "item"
            if c2 == b"(":
                if n == 0:
                    raise FormatError(6982)
                self.i += 1
                return self.open_group(n, groups)
            if c2 == b"X":
                self.i += 1
                if n == 0:
                    raise FormatError(6982)
                out.append(("TR", n))
                return "item"
            if c2 == b"P":
                self.i += 1
                out.append(("P", n))
                return "item"
            if c2 == b"H":
                self.i += 1
                if n == 0:
                    raise FormatError(6982)
                if self.i + n > len(self.s):
                    raise FormatError(6988)
                out.append(("LIT", self.s[self.i:self.i + n]))
                self.i += n
                return "item"
            if c2 in (b"'", b"/", b":", b"$", b"\\", b"T", b"S", b"B"):
                raise FormatError(6983)
            raise FormatError(6989)
        if c in (b"+", b"-"):
            self.i += 1
            n = self.required()
            c2 = self.peek()
            if c2 is None:
                raise FormatError(6988)
            if c2 != b"P":
                raise FormatError(6982)
            self.i += 1
            out.append(("P", -n if c == b"-" else n))
            return "item"
        self.i += 1
        if c == b"(":
            return self.open_group(1, groups)
        if c == b"'":
            s = self.s
            text = bytearray()
            i = self.i
            while True:
                if i >= len(s):
                    raise FormatError(6988)
                ch = s[i]
                if ch == 0x27:
                    if i + 1 < len(s) and s[i + 1] == 0x27:
                        text.append(0x27)
                        i += 2
                        continue
                    i += 1
                    break
                text.append(ch)
                i += 1
            self.i = i
            out.append(("LIT", bytes(text)))
            return "item"
        if c in (b"A", b"L", b"I", b"F", b"D", b"E", b"G", b"Z"):
            self.data(c, 1)
            return "item"
        if c in (b"X", b"P", b"H"):
            raise FormatError(6984)
        if c == b"T":
            c2 = self.peek()
            op = "T"
            if c2 == b"L":
                op = "TL"
                self.i += 1
            elif c2 == b"R":
                op = "TR"
                self.i += 1
            out.append((op, self.required()))
            return "item"
        if c == b"/":
            out.append(("SLASH",))
            return "item"
        if c == b":":
            out.append(("COLON",))
            return "item"
        if c in (b"$", b"\\"):
            out.append(("DOLLAR",))
            return "item"
        if c == b"S":
            c2 = self.peek()
            if c2 == b"P":
                self.i += 1
                out.append(("SP",))
            else:
                if c2 == b"S":
                    self.i += 1
                out.append(("SS",))
            return "item"
        if c == b"B":
            c2 = self.peek()
            if c2 is None:
                raise FormatError(6988)
            if c2 == b"N":
                self.i += 1
                out.append(("BN",))
                return "item"
            if c2 == b"Z":
                self.i += 1
                out.append(("BZ",))
                return "item"
            raise FormatError(6985)
        raise FormatError(6989)

    def data(self, c, r):
        c = c.decode()
        w, d, e = 0, 1, None
        if c in "AZ":
            nx = self.peek()
            if nx is not None and nx.isdigit():
                w = self.number()
        elif c == "L":
            w = self.required()
        elif c == "I":
            w = self.required()
            if self.peek() == b".":
                self.i += 1
                d = self.required()
                if d > w:
                    raise FormatError(6990)
        else:
            w = self.required()
            nx = self.peek()
            if nx is None:
                raise FormatError(6988)
            if nx != b".":
                raise FormatError(6987)
            self.i += 1
            d = self.required()
            if c in "EG" and self.peek() == b"E":
                self.i += 1
                e = self.required()
        self.out.append(("DATA", c, r, w, d, e))


def translate(text):
    """Translate a format text (bytes) into its instruction list; never fails."""
    return _Translator(text).run()


# ---------------------------------------------------------------------------
# Output format: writing one statement
# ---------------------------------------------------------------------------

class Record:
    def __init__(self):
        self.buf = bytearray()
        self.pos = 0

    def put(self, text):
        if not text:
            return
        if self.pos + len(text) > RECORD_LIMIT:
            raise FormatError(6207)
        if self.pos > len(self.buf):
            self.buf += b" " * (self.pos - len(self.buf))
        self.buf[self.pos:self.pos + len(text)] = text
        self.pos += len(text)

    def room(self, width):
        if width and self.pos + width > RECORD_LIMIT:
            raise FormatError(6207)


def _render(ins, v, k, plus, rec):
    _, c, r, w, d, e = ins
    if c in "IL":
        raise FormatError(6206)
    if c == "A":
        rec.room(w or 8)
        return render_A(v, w)
    if c == "Z":
        rec.room(w or 16)
        return render_Z(v, w)
    rec.room(w)
    if c == "F":
        return render_F(v, w, d, k, plus)
    if c == "E":
        return render_E(v, w, d, e, k, plus)
    if c == "D":
        return render_E(v, w, d, None, k, plus, b"D")
    return render_G(v, w, d, e, k, plus)


def write_statement(instrs, values, emit):
    """Write the values under the translated format as one output statement.

    emit(record_bytes, line_end) is called for each finished record; the
    final record gets line_end False when the walk after the last value met a
    dollar.  Raises FormatError; the record being built is then dropped.
    """
    ip = 0
    stack = []
    k = 0
    plus = False
    rec = Record()
    left = 0                       # uses left of the repeated descriptor at ip
    for v in values:
        while True:
            ins = instrs[ip]
            op = ins[0]
            if op == "DATA":
                if left == 0:
                    left = ins[2]
                break
            if op == "LIT":
                rec.put(ins[1])
            elif op == "GS":
                stack.append([ip + 1, ins[1]])
            elif op == "GE":
                top = stack[-1]
                top[1] -= 1
                if top[1] >= 1:
                    ip = top[0]
                    continue
                stack.pop()
            elif op == "SLASH":
                emit(bytes(rec.buf), True)
                rec = Record()
            elif op == "T":
                rec.pos = max(ins[1], 1) - 1
            elif op == "TL":
                rec.pos = max(rec.pos - ins[1], 0)
            elif op == "TR":
                rec.pos += ins[1]
            elif op == "P":
                k = ins[1]
            elif op == "SP":
                plus = True
            elif op == "SS":
                plus = False
            elif op == "ERR":
                raise FormatError(ins[1])
            elif op == "END":
                if ins[1] is None:
                    raise FormatError(6206)
                emit(bytes(rec.buf), True)
                rec = Record()
                stack = []
                ip = ins[1]
                continue
            # COLON, DOLLAR, BN, BZ: nothing while values remain
            ip += 1
        rec.put(_render(ins, v, k, plus, rec))
        left -= 1
        if left == 0:
            ip += 1
    dollar = False
    while left == 0:
        ins = instrs[ip]
        op = ins[0]
        if op in ("DATA", "COLON", "END"):
            break
        if op == "LIT":
            rec.put(ins[1])
        elif op == "GS":
            stack.append([ip + 1, ins[1]])
        elif op == "GE":
            top = stack[-1]
            top[1] -= 1
            if top[1] >= 1:
                ip = top[0]
                continue
            stack.pop()
        elif op == "SLASH":
            emit(bytes(rec.buf), True)
            rec = Record()
        elif op == "T":
            rec.pos = max(ins[1], 1) - 1
        elif op == "TL":
            rec.pos = max(rec.pos - ins[1], 0)
        elif op == "TR":
            rec.pos += ins[1]
        elif op == "P":
            k = ins[1]
        elif op == "SP":
            plus = True
        elif op == "SS":
            plus = False
        elif op == "DOLLAR":
            dollar = True
        elif op == "ERR":
            raise FormatError(ins[1])
        ip += 1
    emit(bytes(rec.buf), not dollar)


def format_records(fmt, values):
    """Convenience for tests: the records and the error number (or None)."""
    out = []
    try:
        write_statement(translate(fmt), values, lambda r, le: out.append(r if le else r + b"$"))
    except FormatError as exc:
        return out, exc.number
    return out, None


# ---------------------------------------------------------------------------
# Fixed-field console reads
# ---------------------------------------------------------------------------

def _numeric_field(line, w):
    field = line[:min(w, 132)]
    cut = field.find(b",")
    if cut >= 0:
        field = field[:cut]
    return field.replace(b" ", b"").replace(b"\t", b"")


def read_I(line, w):
    """Iw: decimal digits or the radix form r#digits."""
    f = _numeric_field(line, w)
    neg = False
    if f[:1] in (b"+", b"-"):
        neg = f[:1] == b"-"
        f = f[1:]
    radix = 10
    value = 0
    ndig = 0
    hashes = 0
    for ch in f:
        if ch == 0x23:                     # '#'
            if hashes:
                raise FieldError(6302)
            r = value if ndig else 16
            if r < 2 or r > 36:
                raise FieldError(6303)
            radix = r
            value = 0
            ndig = 0
            hashes = 1
            continue
        if 48 <= ch <= 57:
            dv = ch - 48
        elif 65 <= ch <= 90:
            dv = ch - 55
        elif 97 <= ch <= 122:
            dv = ch - 87
        else:
            raise FieldError(6101)
        if dv >= radix:
            raise FieldError(6101)
        value = value * radix + dv
        ndig += 1
    if neg:
        value = -value
    if value < INT_MIN or value > INT_MAX:
        raise FieldError(6100)
    return value


def parse_real(tok, d, empty_ok):
    """A real number: digits, optional point, optional exponent (E/D letter or a sign).

    Without a point the last d digits are the fraction.  empty_ok lets a text of
    nothing but a sign and/or a point read as 0 (fixed-field answers).
    Raises FieldError(6103 or 6102).
    """
    n = len(tok)
    i = 0
    sign = ""
    if i < n and tok[i] in b"+-":
        sign = "-" if tok[i] == 0x2D else ""
        i += 1
    ip = bytearray()
    while i < n and 48 <= tok[i] <= 57:
        ip.append(tok[i])
        i += 1
    point = False
    fp = bytearray()
    if i < n and tok[i] == 0x2E:
        point = True
        i += 1
        while i < n and 48 <= tok[i] <= 57:
            fp.append(tok[i])
            i += 1
    exp = 0
    has_exp = False
    if i < n:
        c = tok[i]
        esign = 1
        if c in b"EeDd":
            has_exp = True
            i += 1
            if i < n and tok[i] in b"+-":
                esign = -1 if tok[i] == 0x2D else 1
                i += 1
        elif c in b"+-":
            has_exp = True
            esign = -1 if c == 0x2D else 1
            i += 1
        if has_exp:
            j = i
            while i < n and 48 <= tok[i] <= 57:
                i += 1
            if i == j:
                raise FieldError(6103)
            edigits = tok[j:i].lstrip(b"0")
            # an exponent this long gives zero or an overflow whatever the digits
            exp = esign * (10 ** 18 if len(edigits) > 18 else int(edigits or b"0"))
    if i != n:
        raise FieldError(6103)
    if not ip and not fp:
        if has_exp or not empty_ok:
            raise FieldError(6103)
        return 0.0
    digits = (ip + fp).decode()
    scale = -len(fp) if point else -d
    v = float("%s%se%d" % (sign, digits, exp + scale))
    if math.isinf(v):
        raise FieldError(6102)
    return v


def read_F(line, w, d):
    return parse_real(_numeric_field(line, w), d, True)


def read_A(line, w):
    return line[:w].ljust(w, b" ")


# ---------------------------------------------------------------------------
# Free-form (list-directed) reads
# ---------------------------------------------------------------------------

def split_lines(data):
    """Lines end at LF; a CR right before the LF belongs to the line end."""
    parts = data.split(b"\n")
    lines = [p[:-1] if p.endswith(b"\r") else p for p in parts[:-1]]
    if parts[-1]:
        lines.append(parts[-1])
    return lines


class FreeFormFile:
    def __init__(self, data, name):
        self.lines = split_lines(data)
        self.name = name
        self.next_line = 0

    def fail(self, number):
        return IOFailure(number, b"READ", self.name)

    def read(self, n):
        """One read statement of n values; None marks a value left unset."""
        out = []
        lines = self.lines
        li = self.next_line
        ci = 0
        pending_null = True          # a comma now stands for a null value
        while len(out) < n:
            while True:
                if li >= len(lines):
                    raise self.fail(6501)
                line = lines[li]
                if ci >= len(line):
                    li += 1
                    ci = 0
                    continue
                if line[ci] in (0x20, 0x09):
                    ci += 1
                    continue
                break
            c = line[ci]
            if c == 0x2C:                              # ','
                ci += 1
                if pending_null:
                    out.append(None)
                pending_null = True
                continue
            if c == 0x2F:                              # '/'
                break
            j = ci
            while j < len(line) and line[j] not in (0x20, 0x09, 0x2C, 0x2F):
                j += 1
            tok = line[ci:j]
            ci = j
            pending_null = False
            star = tok.find(b"*")
            if star >= 0:
                rtext, rest = tok[:star], tok[star + 1:]
                if not rtext or not rtext.isdigit():
                    raise self.fail(6103)
                rdigits = rtext.lstrip(b"0")
                r = 10 ** 18 if len(rdigits) > 18 else int(rdigits or b"0")
                if r == 0:
                    raise self.fail(6502)
                if b"*" in rest:
                    raise self.fail(6503)
                count = min(r, n - len(out))
                if not rest:
                    out.extend([None] * count)
                else:
                    v = self.number(rest)
                    out.extend([v] * count)
            else:
                out.append(self.number(tok))
        self.next_line = li + 1
        return out + [None] * (n - len(out))

    def number(self, tok):
        try:
            return parse_real(tok, 0, False)
        except FieldError as exc:
            raise self.fail(exc.number)


# ---------------------------------------------------------------------------
# Files
# ---------------------------------------------------------------------------

def _open_error(err):
    if err in (errno.ENOENT, errno.ENOTDIR):
        return 6416
    if err in (errno.EACCES, errno.EPERM, errno.EROFS, errno.EISDIR):
        return 6414
    if err in (errno.EMFILE, errno.ENFILE):
        return 6417
    return 6412


def open_file(name):
    """Open by name (blanks already removed): read-write creating, else read, else write."""
    if b"\0" in name:
        raise IOFailure(6412, b"OPEN", name)
    last = errno.EINVAL
    try:
        return os.open(name, os.O_RDWR | os.O_CREAT, 0o666)
    except OSError as exc:
        last = exc.errno
    try:
        fd = os.open(name, os.O_RDONLY)
        if os.path.isdir(name):
            os.close(fd)
            last = errno.EISDIR
        else:
            return fd
    except OSError as exc:
        last = exc.errno
    try:
        return os.open(name, os.O_WRONLY)
    except OSError as exc:
        last = exc.errno
    raise IOFailure(_open_error(last), b"OPEN", name)


def read_whole(fd, name):
    chunks = []
    try:
        while True:
            b = os.read(fd, 1 << 16)
            if not b:
                break
            chunks.append(b)
    except OSError:
        raise IOFailure(6500, b"READ", name)
    return b"".join(chunks)


class ResultFile:
    """A result file: cut at its first write statement, complete records only."""

    def __init__(self, name, registry):
        self.name = name
        self.fd = open_file(name)
        self.cut = False
        registry.append(self)

    def _raw(self, data):
        try:
            os.write(self.fd, data)
        except OSError as exc:
            raise IOFailure(6422 if exc.errno == errno.ENOSPC else 6500, b"WRITE", self.name)

    def _begin(self):
        if not self.cut:
            self.cut = True
            try:
                # only a file with contents can be cut; a device (/dev/null, a
                # terminal) has nothing to cut and is written as it is
                if stat.S_ISREG(os.fstat(self.fd).st_mode):
                    os.ftruncate(self.fd, 0)
                    os.lseek(self.fd, 0, os.SEEK_SET)
            except OSError:
                raise IOFailure(6414, b"WRITE", self.name)

    def emit(self, record, line_end):
        self._raw(record + CRLF if line_end else record)

    def fixed(self, records):
        """One write statement under a fixed format (records already laid out)."""
        self._begin()
        for r in records:
            self.emit(r, True)

    def formatted(self, instrs, values):
        self._begin()
        try:
            write_statement(instrs, values, self.emit)
        except FormatError as exc:
            raise IOFailure(exc.number, b"WRITE", self.name)

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


# ---------------------------------------------------------------------------
# Console
# ---------------------------------------------------------------------------

class Console:
    """Console records with carriage control; streams redirected (reads change nothing)."""

    def __init__(self, stdin):
        self.stdin = stdin
        self.out = bytearray()
        self.line_open = False
        self.prompt_pending = False

    def record(self, text, dollar=False):
        if self.prompt_pending:
            self.out += text
        else:
            cc = text[:1]
            if cc == b"0":
                self.out += CRLF + CRLF if self.line_open else CRLF
            elif cc == b"1":
                self.out += b"\r\n\x0c\x08 \r"
            elif cc == b"+":
                self.out += b"\r"
            elif self.line_open:
                self.out += CRLF
            self.out += text[1:]
        self.line_open = True
        self.prompt_pending = dollar

    def prompt(self, text):
        self.record(text, dollar=True)

    def end_line(self):
        if self.line_open:
            self.out += CRLF
            self.line_open = False
            self.prompt_pending = False

    def readline(self):
        line = self.stdin.readline()
        if not line:
            raise IOFailure(6501, b"READ", b"CON")
        if line.endswith(b"\n"):
            line = line[:-1]
            if line.endswith(b"\r"):
                line = line[:-1]
        return line


# ---------------------------------------------------------------------------
# Fixed record layouts
# ---------------------------------------------------------------------------

def repeated_records(fields, per_record, lead=b""):
    """Records of a format lead,n(field,1X): fields joined by the skip, none trailing."""
    recs = []
    for i in range(0, len(fields), per_record):
        recs.append(b" ".join(fields[i:i + per_record]))
    if lead:
        if recs:
            recs[0] = lead + recs[0]
        else:
            recs = [lead]
    return recs


# ---------------------------------------------------------------------------
# Sweep operator
# ---------------------------------------------------------------------------

def sweep(G, H, k):
    """One pivot step on position k: H from G, then H copied into G."""
    K1 = len(G)
    gk = G[k]
    piv = gk[k]
    if piv == 0.0:
        raise FPFault("divide by zero")
    hkk = -ck(1.0 / piv)
    for j in range(K1):
        gj = G[j]
        hj = H[j]
        gjk = gj[k]
        for l in range(j + 1):
            if j == k:
                v = hkk if l == k else G[l][k] / piv
            elif l == k:
                v = gjk / piv
            else:
                v = gj[l] - (gjk * gk[l]) / piv
            hj[l] = v
            H[l][j] = v
    for j in range(K1):
        hj = H[j]
        for l in range(K1):
            if not -DBL_MAX <= hj[l] <= DBL_MAX:
                raise FPFault("overflow")
    for j in range(K1):
        G[j][:] = H[j]


def matrix(n, m, v=0.0):
    return [[v] * m for _ in range(n)]


# ---------------------------------------------------------------------------
# The run
# ---------------------------------------------------------------------------

class Talvo:
    def __init__(self, stdin):
        self.con = Console(stdin)
        self.err = bytearray()
        self.files = []                  # result files, closed at the end of the run

    # -- dialog -----------------------------------------------------------

    def ask(self, text, reader):
        while True:
            self.con.prompt(text)
            line = self.con.readline()
            try:
                return reader(line)
            except FieldError:
                continue

    def nput(self):
        con = self.con
        for r in (b"0", b" COVARIANCE ESTIMATION WITH MISSING VALUES ",
                  b"    An application of the EM algorithm ",
                  b"              TALVO.EXE v2.3 ", b"     ", b" ", b" "):
            con.record(r)
        while True:
            con.prompt(b" Specify input data file: ")
            self.FIN = read_A(con.readline(), 40)
            if self.FIN != b" " * 40:
                break
        self.N = self.ask(b" Sample size (n): ", lambda s: read_I(s, 8))
        self.K = self.ask(b" Number of variables (k): ", lambda s: read_I(s, 4))
        self.PTN = self.ask(b" Input maximum # of allowable missing patterns (20): ",
                            lambda s: read_I(s, 4))
        if self.PTN == 0:
            self.PTN = 20
        self.MVI = self.ask(b" Input missing value indicator (9): ", lambda s: read_F(s, 4, 0))
        if self.MVI == 0.0:
            self.MVI = 9.0
        self.SIV = self.ask(b" Select start values (1=LW,2=PW,3=CM): ", lambda s: read_I(s, 1))
        if self.SIV < 1 or self.SIV > 3:
            self.SIV = 1
        self.SVFIN = b" " * 40
        if self.SIV == 3:
            con.prompt(b" Specify start value (CM) file (START.COV): ")
            self.SVFIN = read_A(con.readline(), 40)
            if self.SVFIN == b" " * 40:
                self.SVFIN = b"start.cov".ljust(40)
        self.MAXITER = self.ask(b" Maximum number of iterations (200): ", lambda s: read_I(s, 4))
        if self.MAXITER == 0:
            self.MAXITER = 200
        self.CRIT = self.ask(b" Convergence criterion (.00001): ", lambda s: read_F(s, 16, 15))
        if self.CRIT == 0.0:
            self.CRIT = CRIT_DEFAULT
        self.OPTOUT = self.ask(b" Additional output? (1=Yes,<CR>=No): ", lambda s: read_I(s, 1))
        self.BMOD = 0
        self.YINT = 0.0
        self.YHAT = 0.0
        if self.OPTOUT == 2 and self.PTN == 2:
            self.BMOD = 1
            self.OPTOUT = 1
        elif self.OPTOUT != 0:
            self.OPTOUT = 1
        if self.BMOD == 1:
            con.record(b" Correction for inaccessible posttest attrition")
            self.YINT = self.ask(b" Specify intercept (B0) from resampled Y: ",
                                 lambda s: read_F(s, 16, 8))
            self.YHAT = self.ask(b" Specify b-weight predicting resampled Y: ",
                                 lambda s: read_F(s, 16, 8))
            if self.YHAT == 0.0:
                self.YHAT = 1.0
        self.OUTFMT = self.ask(b" Specify output format (6F12.7): ", lambda s: read_A(s, 40))
        if self.OUTFMT == b" " * 40:
            self.OUTFMT = b"(6F12.7)".ljust(40)

    # -- the run sequence -------------------------------------------------

    def main(self):
        self.nput()
        N, K = self.N, self.K
        if N < 1:
            raise StopMessage("Sample size must be at least 1 (n = %d); aborting..." % N)
        if K < 1:
            raise StopMessage("Number of variables must be at least 1 (k = %d); aborting..." % K)
        need = (8 * N * (2 * K + 2) + 4 * N * (K + 2) + 10 * 8 * (K + 1) ** 2
                + 4 * (K + 1) ** 2 + 8 * (K + 1))
        if need > STORAGE_LIMIT:
            raise StopMessage("Not enough storage for data; aborting...")
        self.intake()
        self.show_first_cases()
        self.code_and_sum()
        self.pattern_table()
        self.missingness_report()
        self.start_values()
        self.em()
        self.write_cov()
        if self.OPTOUT == 1:
            self.write_ptn()
            self.final_completion()
            self.write_dat()
            self.write_res()

    def intake(self):
        N, K = self.N, self.K
        name = self.FIN.strip(b" ")
        fd = open_file(name)
        try:
            data = read_whole(fd, name)
        finally:
            os.close(fd)
        vals = FreeFormFile(data, name).read(N * K)
        X = []
        X.append(None)
        for I in range(N):
            row = [0.0] * (2 * K + 2)
            for J in range(K):
                v = vals[I * K + J]
                row[J + 1] = 0.0 if v is None else v
            X.append(row)
        self.X = X

    def show_first_cases(self):
        con = self.con
        con.record(b"0 INITIAL FIVE CASES OF DATA")
        for I in range(1, min(self.N, 5) + 1):
            con.record(b"0 CASE #" + render_I(I, 2))
            fields = [render_F(self.X[I][J], 9, 3) for J in range(1, self.K + 1)]
            for r in repeated_records(fields, 8):
                con.record(r)
        con.record(b"0 <Press <ENTER> to continue ")
        read_A(con.readline(), 1)

    def code_and_sum(self):
        N, K, X, MVI = self.N, self.K, self.X, self.MVI
        K1 = K + 1
        self.SS = matrix(K1, K1)
        self.CS = CS = matrix(K1, K1)
        self.PS = PS = matrix(K1, K1)
        self.PSN = PSN = matrix(K1, K1, 0)
        self.B = matrix(K1, K1)
        self.CORR = matrix(K1, K1)
        self.G = matrix(K1, K1)
        self.H = matrix(K1, K1)
        self.T = matrix(K1, K1)
        self.COV = matrix(K1, K1)
        self.PA = PA = [None]
        c = 2 * K + 1
        for I in range(1, N + 1):
            row = X[I]
            row[c] = 0.0
            row[0] = 1.0
            for J in range(1, K + 1):
                if float(math.trunc(row[J])) == MVI:
                    row[J] = 0.0
                    row[K + J] = 0.0
                else:
                    row[K + J] = 1.0
                row[c] = row[c] + row[K + J]
            if row[c] == float(K):
                CS[0][0] = CS[0][0] + 1.0
                for J in range(1, K + 1):
                    CS[0][J] = ck(CS[0][J] + row[J])
                    for L in range(1, J + 1):
                        CS[J][L] = ck(CS[J][L] + row[L] * row[J])
            else:
                for J in range(1, K + 1):
                    if int(row[K + J]) == 1:
                        PS[0][J] = ck(PS[0][J] + row[J])
                        for L in range(1, J + 1):
                            if int(row[K + L]) == 1:
                                PSN[J][L] += 1
                                PS[J][L] = ck(PS[J][L] + row[L] * row[J])
            # the case's variable order: observed first, then missing
            order = [0] * (K + 3)
            h1 = 1
            h2 = 1
            m = int(row[c])
            for J in range(1, K + 1):
                if int(row[K + J]) == 1:
                    order[h1] = J
                    h1 += 1
                else:
                    order[h2 + m] = J
                    h2 += 1
            PA.append(order)

    def pattern_table(self):
        N, K, X, PA = self.N, self.K, self.X, self.PA
        P = [None, list(range(0, K + 1)) + [0, 0]]     # row 1: the complete-data pattern
        c = 2 * K + 1
        for I in range(1, N + 1):
            m = int(X[I][c])
            found = False
            if m == K:
                P[1][K + 2] += 1
                found = True
            else:
                for L in range(2, len(P)):
                    if found:
                        break
                    prev = True
                    for J in range(1, K + 1):
                        if PA[I][J] == P[L][J] and K - m == P[L][K + 1] and prev:
                            if J == K:
                                P[L][K + 2] += 1
                                found = True
                        else:
                            prev = False
            if not found:
                row = [0] * (K + 3)
                for M in range(1, K + 1):
                    row[M] = PA[I][M]
                row[K + 2] = 1
                row[K + 1] = int(float(K) - X[I][c])
                P.append(row)
        self.P = P
        self.NPATT = len(P) - 1

    def missingness_report(self):
        K, N, P, NPATT = self.K, self.N, self.P, self.NPATT
        S1 = 0
        S2 = 0.0
        for L in range(1, NPATT + 1):
            S1 = max(P[L][K + 1], S1)
            S2 = S2 + float(P[L][K + 1] * P[L][K + 2])
        S3 = float(S1)
        PS1 = (S3 / K) * 100.0
        PS2 = (S2 / float(K * N)) * 100.0
        CPATT = 1.0
        PNUM = NPATT
        if int(self.CS[0][0]) == 0:
            CPATT = 2.0
            PNUM = NPATT - 1
        self.CPATT, self.PNUM = CPATT, PNUM
        con = self.con
        con.record(b"0 MISSINGNESS: Pattern frequencies and percentages")
        con.record(b"0 Total number of missingness patterns:" + render_I(PNUM, 5))
        con.record(b"  Largest number within-case missing:   " + render_I(S1, 4) + b"     "
                   + render_F(PS1, 4, 1) + b"%")
        con.record(b"  Percentage total missing variables:   " + render_F(PS2, 6, 2) + b"%")
        con.record(b"0 Press <ENTER> to continue ")
        read_A(con.readline(), 1)
        self.PA = None

    def start_values(self):
        N, K = self.N, self.K
        CS, PS, PSN, SS = self.CS, self.PS, self.PSN, self.SS
        RN = float(N)
        self.RN = RN
        self.CN = fdiv(RN, float(N - 1))
        self.CN1 = fdiv(float(N - 1), RN)
        if CS[0][0] == 0.0 and self.SIV == 1:
            self.SIV = 2
        if self.SIV == 1:
            for I in range(1, K + 1):
                SS[0][I] = ck((RN / CS[0][0]) * CS[0][I])
                for J in range(1, I + 1):
                    SS[I][J] = ck((RN / CS[0][0]) * CS[I][J])
        elif self.SIV == 2:
            c = int(CS[0][0])
            for I in range(1, K + 1):
                if PSN[I][I] + c == 0:
                    raise StopMessage("No pairwise start values: variable %d is never observed;"
                                      " aborting..." % I)
                SS[0][I] = ck((PS[0][I] + CS[0][I]) * float(N // (PSN[I][I] + c)))
                for J in range(1, I + 1):
                    if PSN[I][J] + c == 0:
                        if J == I:
                            raise StopMessage("No pairwise start values: variable %d is never"
                                              " observed; aborting..." % I)
                        raise StopMessage("No pairwise start values: variables %d and %d are"
                                          " never observed together; aborting..." % (J, I))
                    SS[I][J] = ck((PS[I][J] + CS[I][J]) * float(N // (PSN[I][J] + c)))
        else:
            name = self.SVFIN.strip(b" ")
            fd = open_file(name)
            try:
                data = read_whole(fd, name)
            finally:
                os.close(fd)
            f = FreeFormFile(data, name)
            SVC = matrix(K + 1, K + 1)
            for I in list(range(1, K + 1)) + [0]:
                vals = f.read(K)
                for J in range(1, K + 1):
                    if vals[J - 1] is not None:
                        SVC[I][J] = vals[J - 1]
            for I in range(1, K + 1):
                for J in range(1, I + 1):
                    SS[I][J] = ck((SVC[0][I] * SVC[0][J] + SVC[I][J] * self.CN1) * RN)
                SS[0][I] = ck(SVC[0][I] * RN)

    # -- EM ---------------------------------------------------------------

    def build_G(self):
        K, SS, G, RN = self.K, self.SS, self.G, self.RN
        G[0][0] = 1.0
        for I in range(1, K + 1):
            G[I][0] = G[0][I] = SS[0][I] / RN
            for J in range(1, I + 1):
                G[I][J] = G[J][I] = SS[I][J] / RN

    def permute_G(self, perm):
        G, T = self.G, self.T
        n = len(G)
        for I in range(n):
            for J in range(n):
                T[I][J] = G[perm[I]][perm[J]]
        for I in range(n):
            G[I][:] = T[I]

    def em(self):
        K, G, H, B, COV, CORR, P = self.K, self.G, self.H, self.B, self.COV, self.CORR, self.P
        CN = self.CN
        maxiter = self.MAXITER
        if maxiter < 0 and self.CRIT <= 0.0:
            maxiter = INT_MAX if maxiter == INT_MIN else -maxiter
        count = 0
        while True:
            if count >= 1:
                self.estep()
            for Q in range(1, K + 1):
                self.build_G()
                perm = list(range(0, Q)) + list(range(Q + 1, K + 1)) + [Q]
                self.permute_G(perm)
                for KI in range(0, K):
                    sweep(G, H, KI)
                    if Q == K and KI == 0:
                        maxdiff = 0.0
                        for J in range(1, K + 1):
                            for L in range(1, J + 1):
                                t = ck(H[J][L] * CN)
                                xdiff = abs(ck(COV[J][L] - t))
                                if xdiff > maxdiff:
                                    maxdiff = xdiff
                                COV[J][L] = t
                                COV[L][J] = COV[J][L]
                            COV[0][J] = H[0][J]
                        if count >= 1:
                            self.con.record(b" ITER = " + render_I(count, 3) + b"     CONV = "
                                            + render_F(maxdiff, 20, 15))
                        if maxdiff < self.CRIT:
                            maxiter = count
                B[Q][:] = H[K]
            if self.NPATT == 1:
                break
            for J in range(K + 1):
                for M in range(K + 1):
                    CORR[J][M] = 0.0
            for L in range(2, self.NPATT + 1):
                m = P[L][K + 1]
                self.build_G()
                self.permute_G([0] + P[L][1:K + 1])
                for KI in range(0, K - m + 1):
                    sweep(G, H, KI)
                cnt = float(P[L][K + 2])
                for J in range(K - m + 1, K + 1):
                    for M in range(K - m + 1, J + 1):
                        a, b = P[L][J], P[L][M]
                        CORR[a][b] = ck(ck(ck(cnt * H[J][M]) * CN) + CORR[a][b])
            if count == maxiter or count == INT_MAX:
                break
            count += 1

    def estep(self):
        N, K, X, B, SS = self.N, self.K, self.X, self.B, self.SS
        CS, PS, CORR = self.CS, self.PS, self.CORR
        for J in range(K + 1):
            for L in range(K + 1):
                SS[J][L] = 0.0
        fK = float(K)
        c = 2 * K + 1
        for I in range(1, N + 1):
            row = X[I]
            if row[c] < fK:
                for J in range(1, K + 1):
                    if row[K + J] == 0.0:
                        row[J] = 0.0
                        BJ = B[J]
                        for L in range(0, K):
                            if L < J:
                                row[J] = BJ[L] * row[L] + row[J]
                            else:
                                row[J] = BJ[L] * row[L + 1] + row[J]
                        if self.BMOD == 1 and row[c] == float(K - 1):
                            row[J] = row[J] * self.YHAT + self.YINT
                        ck(row[J])
                        SS[0][J] = ck(row[J] + SS[0][J])
                    for L in range(1, J + 1):
                        if row[K + J] == 0.0 or row[K + L] == 0.0:
                            SS[J][L] = ck(row[L] * row[J] + SS[J][L])
        for I in range(1, K + 1):
            SS[0][I] = ck((PS[0][I] + CS[0][I]) + SS[0][I])
            for J in range(1, I + 1):
                SS[I][J] = ck(((CORR[I][J] + PS[I][J]) + CS[I][J]) + SS[I][J])

    # -- results ----------------------------------------------------------

    def prediction(self, I, J):
        row = self.X[I]
        BJ = self.B[J]
        s = 0.0
        for p in range(0, self.K):
            if p < J:
                s = s + BJ[p] * row[p]
            else:
                s = s + BJ[p] * row[p + 1]
        return ck(s)

    def write_cov(self):
        K, COV = self.K, self.COV
        self.fmt = translate(self.OUTFMT)
        f = ResultFile(b"temp.cov", self.files)
        for I in range(1, K + 1):
            f.formatted(self.fmt, COV[I][1:K + 1])
        f.formatted(self.fmt, COV[0][1:K + 1])
        f.close()

    def write_ptn(self):
        K, P = self.K, self.P
        f = ResultFile(b"temp.ptn", self.files)
        self.ptn = f                     # stays open to the end of the run
        f.fixed([b"MISSINGNESS PATTERNS"])
        f.fixed([b"Reordered with observed variables listed first"])
        f.fixed([b""])
        f.fixed([b"Total # of missingness patterns: " + render_I(self.PNUM, 5)])
        f.fixed([b""])
        f.fixed([b""])
        for I in range(int(self.CPATT), self.NPATT + 1):
            f.fixed(repeated_records([render_I(P[I][J], 3) for J in range(1, K + 1)], 15))
            f.fixed([render_I(P[I][K + 1], 5) + b"  missing variables within above pattern"])
            f.fixed([render_I(P[I][K + 2], 5) + b"  cases with above missingness pattern"])
            f.fixed([b""])

    def final_completion(self):
        K, X = self.K, self.X
        for I in range(1, self.N + 1):
            for J in range(1, K + 1):
                if X[I][K + J] == 0.0:
                    X[I][J] = self.prediction(I, J)

    def write_dat(self):
        K, X = self.K, self.X
        f = ResultFile(b"temp.dat", self.files)
        for I in range(1, self.N + 1):
            f.formatted(self.fmt, X[I][1:K + 1])
            flags = [render_I(int(X[I][K + J]), 1) for J in range(1, K + 1)]
            f.fixed(repeated_records(flags, 40, lead=b" "))
        f.close()

    def write_res(self):
        K, X = self.K, self.X
        f = ResultFile(b"temp.res", self.files)
        R = [0.0] * (K + 1)
        for I in range(1, self.N + 1):
            for J in range(1, K + 1):
                R[J] = ck(self.prediction(I, J) - X[I][J])
            f.formatted(self.fmt, R[1:K + 1])
        f.close()

    # -- ending -----------------------------------------------------------

    def run(self):
        """Run the program; returns (stdout bytes, stderr bytes, exit status)."""
        status = 0
        try:
            self.main()
            self.con.end_line()
        except StopMessage as stop:
            self.con.end_line()
            self.con.out += stop.text + CRLF
            status = 1
        except (IOFailure, FPFault) as exc:
            self.err += exc.report()
            status = 1
        finally:
            for f in self.files:
                f.close()
        return bytes(self.con.out), bytes(self.err), status


def run(stdin):
    """Run the model in the current directory; stdin is a binary file object."""
    return Talvo(stdin).run()


def main():
    out, err, status = run(sys.stdin.buffer)
    sys.stdout.buffer.write(out)
    sys.stdout.buffer.flush()
    sys.stderr.buffer.write(err)
    sys.stderr.buffer.flush()
    return status


if __name__ == "__main__":
    sys.exit(main())
