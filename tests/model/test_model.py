#!/usr/bin/env python3
"""Checks of the TALVO reference model against the worked examples of the program's
documentation: number rendering, answer fields, free-form input, the output-format
interpreter, the sweep step, the estimation and the files of whole runs.

Run:  python3 -m unittest discover -s tests/model -v     (from the repository root)
"""

import io
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import talvo_model as tm  # noqa: E402


def fmt(text):
    return text.ljust(40)


def run_in(tmpdir, answers, files=None):
    """Run the model in tmpdir with the given answer lines; returns (talvo, out, err, status)."""
    for name, data in (files or {}).items():
        with open(os.path.join(tmpdir, name), "wb") as f:
            f.write(data)
    old = os.getcwd()
    os.chdir(tmpdir)
    try:
        t = tm.Talvo(io.BytesIO(answers))
        out, err, status = t.run()
    finally:
        os.chdir(old)
    return t, out, err, status


def read(tmpdir, name):
    with open(os.path.join(tmpdir, name), "rb") as f:
        return f.read()


class TempDirCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="talvo_model_")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)


# ---------------------------------------------------------------------------

class FixedPointRendering(unittest.TestCase):
    def test_documented_fields(self):
        cases = [
            (0.125, 5, 2, b"  .13"),            # half up on the decimal digits
            (2.5, 3, 0, b" 3."),
            (-0.5, 3, 0, b"-1."),
            (0.0, 12, 7, b"    .0000000"),
            (-0.00000001, 6, 2, b"   .00"),     # rounds to zero: no minus sign
            (999.99999999, 12, 7, b"1000.0000000"),
            (9999.99999999, 12, 7, b"*" * 12),
            (0.5, 12, 7, b"    .5000000"),
            (-0.25, 9, 3, b"    -.250"),
            (0.0, 6, 2, b"   .00"),
            (9.0, 4, 0, b"  9."),
            (100.0, 4, 1, b"****"),
            (12345.678, 9, 3, b"12345.678"),     # exactly w characters fit
            (-1234.567, 9, 3, b"-1234.567"),
            (66.66666666666667, 4, 1, b"66.7"),
            (25.0, 6, 2, b" 25.00"),
            (100.0, 4, 1, b"****"),
            (0.4, 3, 0, b" 0."),                 # d = 0 and rounds to 0: a single 0
            (-0.4, 3, 0, b" 0."),
        ]
        for v, w, d, want in cases:
            with self.subTest(v=v, w=w, d=d):
                self.assertEqual(tm.render_F(v, w, d), want)

    def test_sixteen_significant_digits_at_most(self):
        # 17 digits 10000000000000001: the 17th digit is never shown
        self.assertEqual(tm.render_F(0.1, 25, 22), b"  .1000000000000000000000")
        # 12345678912345679 (17 digits) rounds half up at the 16th digit, rest zeros
        self.assertEqual(tm.render_F(123456789.123456789, 30, 10),
                         b"          123456789.1234568000")

    def test_width_zero_and_very_long_texts(self):
        self.assertEqual(tm.render_F(1.0, 0, 3), b"")
        self.assertEqual(tm.render_F(1e300, 400, 2), b" " * 140 + b"*" * 260)
        self.assertEqual(tm.render_F(1.0, 100, 300), b"*" * 100)

    def test_integers(self):
        self.assertEqual(tm.render_I(7, 2), b" 7")
        self.assertEqual(tm.render_I(-12, 3), b"-12")
        self.assertEqual(tm.render_I(1000, 3), b"***")
        self.assertEqual(tm.render_I(0, 1), b"0")
        self.assertEqual(tm.render_I(123456, 5), b"*****")


class OtherDescriptors(unittest.TestCase):
    def one(self, text, v):
        recs, errno_ = tm.format_records(fmt(text), [v])
        self.assertIsNone(errno_)
        self.assertEqual(len(recs), 1)
        return recs[0]

    def test_documented_examples(self):
        self.assertEqual(self.one(b"(E12.4)", 1234.5), b"   .1235E+04")
        self.assertEqual(self.one(b"(E15.6)", 1.0), b"    .100000E+01")
        self.assertEqual(self.one(b"(E15.6)", 1.0e-120), b"    .100000-119")
        self.assertEqual(self.one(b"(G12.4)", 123.456), b"   123.5    ")
        self.assertEqual(self.one(b"(G12.4)", 123456.0), b"   .1235E+06")
        self.assertEqual(self.one(b"(Z16)", 1.0), b"3FF0000000000000")
        self.assertEqual(self.one(b"(SP,F8.2)", 1.5), b"   +1.50")

    def test_exponent_digits_and_letter(self):
        self.assertEqual(self.one(b"(E12.4E3)", 1.0), b"  .1000E+001")
        self.assertEqual(self.one(b"(E12.4E1)", 1.0e15), b"*" * 12)     # 16 needs 2 digits
        self.assertEqual(self.one(b"(E12.4E0)", 1.0), b"*" * 12)        # e = 0 never fits
        self.assertEqual(self.one(b"(D12.4)", -9.99996), b"  -.1000D+02")
        self.assertEqual(self.one(b"(E12.0)", 1.0), b"*" * 12)          # no digit to show

    def test_scale_factor(self):
        self.assertEqual(self.one(b"(1PE12.4)", 1234.5), b"  1.2345E+03")
        self.assertEqual(self.one(b"(-1PE12.4)", 1234.5), b"   .0123E+05")
        self.assertEqual(self.one(b"(2PF12.4)", 1234.5), b" 123450.0000")
        self.assertEqual(self.one(b"(-2PF12.4)", 1234.5), b"     12.3450")
        self.assertEqual(self.one(b"(5PE12.4)", 1.0), b"  10000.E-04")  # k = d + 1
        self.assertEqual(self.one(b"(6PE12.4)", 1.0), b"*" * 12)         # k >= d + 2
        self.assertEqual(self.one(b"(-4PE12.4)", 1.0), b"*" * 12)        # k <= -d

    def test_g_of_zero_and_plus_signs(self):
        self.assertEqual(self.one(b"(G10.2)", 0.0), b"    .0    ")
        self.assertEqual(self.one(b"(SP,E12.4)", 0.0), b"  +.0000E+00")
        self.assertEqual(self.one(b"(SP,F6.1)", -0.01), b"   +.0")    # rounds to zero

    def test_character_and_hexadecimal(self):
        raw = b"\x00\x00\x00\x00\x00\x00\xf0?"
        self.assertEqual(self.one(b"(A)", 1.0), raw)
        self.assertEqual(self.one(b"(A10)", 1.0), b"  " + raw)
        self.assertEqual(self.one(b"(A3)", 1.0), raw[:3])
        self.assertEqual(self.one(b"(Z20)", 1.0), b"00003FF0000000000000")
        self.assertEqual(self.one(b"(Z4)", -2.0), b"0000")
        self.assertEqual(self.one(b"(Z)", -2.0), b"C000000000000000")


class FixedFieldReads(unittest.TestCase):
    def test_integer_fields(self):
        self.assertEqual(tm.read_I(b"12", 1), 1)
        self.assertEqual(tm.read_I(b" 3", 1), 0)
        self.assertEqual(tm.read_I(b"12345", 4), 1234)
        self.assertEqual(tm.read_I(b"12,3", 4), 12)
        self.assertEqual(tm.read_I(b"1 2", 4), 12)
        self.assertEqual(tm.read_I(b"123456789", 8), 12345678)
        self.assertEqual(tm.read_I(b"", 8), 0)
        self.assertEqual(tm.read_I(b"-", 4), 0)
        self.assertEqual(tm.read_I(b"-12", 4), -12)
        self.assertEqual(tm.read_I(b"#FF", 4), 255)
        self.assertEqual(tm.read_I(b"2#101", 8), 5)
        self.assertEqual(tm.read_I(b"36#z", 8), 35)

    def test_integer_field_errors(self):
        for text, w, number in [(b"12.5", 4, 6101), (b"abc", 8, 6101), (b"1#1", 4, 6303),
                                (b"37#1", 4, 6303), (b"2#1#", 8, 6302), (b"2#2", 4, 6101),
                                (b"1-2", 4, 6101)]:
            with self.subTest(text=text):
                with self.assertRaises(tm.FieldError) as cm:
                    tm.read_I(text, w)
                self.assertEqual(cm.exception.number, number)

    def test_real_fields(self):
        self.assertEqual(tm.read_F(b"1", 16, 15), 1.0e-15)
        self.assertEqual(tm.read_F(b"1.", 16, 15), 1.0)
        self.assertEqual(tm.read_F(b".00001", 16, 15), 1.0e-5)
        self.assertEqual(tm.read_F(b"2", 16, 8), 2.0e-8)
        self.assertEqual(tm.read_F(b"9", 4, 0), 9.0)
        self.assertEqual(tm.read_F(b"-999", 4, 0), -999.0)
        self.assertEqual(tm.read_F(b"-9999", 4, 0), -999.0)
        self.assertEqual(tm.read_F(b"1.5-3", 16, 8), 0.0015)
        self.assertEqual(tm.read_F(b"4D-2", 16, 0), 0.04)
        self.assertEqual(tm.read_F(b"", 16, 8), 0.0)
        self.assertEqual(tm.read_F(b" - . ", 16, 8), 0.0)
        self.assertEqual(tm.read_F(b"1E2", 16, 15), 1.0e-13)
        self.assertNotEqual(tm.read_F(b".00001", 16, 15), tm.CRIT_DEFAULT)
        self.assertEqual(repr(tm.CRIT_DEFAULT), "9.999999747378752e-06")

    def test_real_field_errors(self):
        for text, number in [(b"abc", 6103), (b"1E", 6103), (b"E5", 6103), (b".E5", 6103),
                             (b"1+", 6103), (b"1..2", 6103), (b"1E999", 6102)]:
            with self.subTest(text=text):
                with self.assertRaises(tm.FieldError) as cm:
                    tm.read_F(text, 16, 8)
                self.assertEqual(cm.exception.number, number)

    def test_character_fields(self):
        self.assertEqual(tm.read_A(b"", 40), b" " * 40)
        self.assertEqual(tm.read_A(b"", 1), b" ")
        self.assertEqual(tm.read_A(b"  x.dat", 40), b"  x.dat".ljust(40))
        self.assertEqual(tm.read_A(b"a" * 50, 40), b"a" * 40)


class FreeFormReads(unittest.TestCase):
    def read(self, data, *counts):
        f = tm.FreeFormFile(data, b"d.txt")
        return [f.read(n) for n in counts]

    def failure(self, data, n):
        with self.assertRaises(tm.IOFailure) as cm:
            tm.FreeFormFile(data, b"d.txt").read(n)
        self.assertEqual(cm.exception.kind, b"READ")
        self.assertEqual(cm.exception.name, b"d.txt")
        return cm.exception.number

    def test_values_nulls_repeats_and_slash(self):
        self.assertEqual(self.read(b"1,,3\n", 3), [[1.0, None, 3.0]])
        self.assertEqual(self.read(b"2*5\n", 2), [[5.0, 5.0]])
        self.assertEqual(self.read(b"1 /\n9 9\n", 3), [[1.0, None, None]])
        self.assertEqual(self.read(b",2\n", 2), [[None, 2.0]])
        self.assertEqual(self.read(b"1,\n,3\n", 3), [[1.0, None, 3.0]])
        self.assertEqual(self.read(b"1 ,\n 3\n", 2), [[1.0, 3.0]])
        self.assertEqual(self.read(b"2*,4\n", 3), [[None, None, 4.0]])
        self.assertEqual(self.read(b"2*\n", 2), [[None, None]])
        self.assertEqual(self.read(b"3,-2.5,1.E3,4D-2,1.5-3\n", 5),
                         [[3.0, -2.5, 1000.0, 0.04, 0.0015]])
        self.assertEqual(self.read(b"99999999999*7\n", 2), [[7.0, 7.0]])

    def test_line_layout_does_not_matter(self):
        a = self.read(b"1\n2\n3\n4\n", 4)
        b = self.read(b"1 2\r\n3 4\r\n", 4)
        c = self.read(b"1\t2 3,4", 4)
        self.assertEqual(a, b)
        self.assertEqual(a, c)

    def test_each_statement_starts_on_a_new_line(self):
        # start-value file with a row spread over two lines and an extra number
        got = self.read(b"4 3 99\n3\n9\n1 2\n", 2, 2, 2)
        self.assertEqual(got, [[4.0, 3.0], [3.0, 9.0], [1.0, 2.0]])

    def test_errors(self):
        self.assertEqual(self.failure(b"1 2\n", 3), 6501)
        self.assertEqual(self.failure(b"", 1), 6501)
        self.assertEqual(self.failure(b"1 x 3\n", 3), 6103)
        self.assertEqual(self.failure(b"0*3\n", 1), 6502)
        self.assertEqual(self.failure(b"2*3*4\n", 1), 6503)
        self.assertEqual(self.failure(b".\n", 1), 6103)
        self.assertEqual(self.failure(b"-\n", 1), 6103)
        self.assertEqual(self.failure(b"1E\n", 1), 6103)
        self.assertEqual(self.failure(b"1e999\n", 1), 6102)
        self.assertEqual(self.failure(b"1\r2\n", 1), 6103)   # a lone CR is not a separator
        self.assertEqual(self.read(b"1e-400\n", 1), [[0.0]])


class FormatInterpreter(unittest.TestCase):
    values8 = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0]

    def records(self, text, values):
        return tm.format_records(fmt(text), values)

    def test_default_format_and_reversion(self):
        six = b"   1.0000000   2.0000000   3.0000000   4.0000000   5.0000000   6.0000000"
        two = b"   7.0000000   8.0000000"
        self.assertEqual(self.records(b"(6F12.7)", self.values8), ([six, two], None))
        self.assertEqual(self.records(b"(6f12.7)", self.values8), ([six, two], None))
        self.assertEqual(self.records(b"(1X,6F12.7)", self.values8), ([b" " + six, b" " + two], None))
        self.assertEqual(self.records(b"(1X,6(F12.7))", self.values8), ([b" " + six, two], None))
        self.assertEqual(self.records(b"(F12.7)", [0.5, 10000.0]),
                         ([b"    .5000000", b"*" * 12], None))

    def test_literals_after_the_last_value(self):
        recs, e = self.records(b"(6F12.7,:'end')", [1.0] * 6)
        self.assertIsNone(e)
        self.assertFalse(recs[0].endswith(b"end"))
        recs, e = self.records(b"(6F12.7,' end')", [1.0] * 8)
        self.assertTrue(recs[0].endswith(b" end"))
        self.assertFalse(recs[1].endswith(b"end"))
        self.assertEqual(self.records(b"(2('a',F4.1))", [1.0]), ([b"a 1.0a"], None))

    def test_errors_and_what_is_written_before(self):
        self.assertEqual(self.records(b"6F12.7", [1.0]), ([], 6981))
        self.assertEqual(self.records(b"(6F12.7", [1.0] * 6), ([], 6988))
        self.assertEqual(self.records(b"(6F12.7", [1.0] * 5)[1], None)
        self.assertEqual(self.records(b"(6I12)", [1.0]), ([], 6206))
        self.assertEqual(self.records(b"('x')", [1.0]), ([], 6206))
        self.assertEqual(self.records(b"(F10.3,2(1X))", [1.0]), ([b"     1.000"], None))
        self.assertEqual(self.records(b"(F10.3,2(1X))", [1.0, 2.0]), ([], 6206))
        self.assertEqual(self.records(b"(6F12.7,Q)", [1.0] * 6), ([], 6989))
        self.assertEqual(self.records(b"(6F12.7,Q)", [1.0] * 5)[1], None)
        self.assertEqual(self.records(b"(F5.1/Q)", [1.0, 2.0]), ([b"  1.0"], 6989))

    def test_translation_faults(self):
        cases = [
            (b"(0X)", 6982), (b"(0H)", 6982), (b"(0F5.1)", 6982), (b"(0(F5.1))", 6982),
            (b"(+3F5.1)", 6982), (b"(3/)", 6983), (b"(2'ab')", 6983), (b"(2T5)", 6983),
            (b"(X)", 6984), (b"(P)", 6984), (b"(H)", 6984), (b"(B)", 6985), (b"(BQ)", 6985),
            (b"(,F5.1)", 6989), (b"(F5.1,,F5.1)", 6989), (b"(Q)", 6989), (b'(")', 6989),
            (b"(3,F5.1)", 6989), (b"(3.F5.1)", 6989), (b"(F5)", 6987), (b"(E5,2)", 6987),
            (b"(F5.)", 6980), (b"(L)", 6980), (b"(I)", 6980), (b"(T)", 6980), (b"(TL)", 6980),
            (b"(G12.4E)", 6980), (b"(-P)", 6980), (b"(I5.6)", 6990), (b"(99999999999X)", 6991),
            (b"(F5.1", 6988), (b"('abc", 6988), (b"(5Habc)", 6988), (b"(2", 6988),
            (b"(" + b"(" * 17 + b"F5.1" + b")" * 18, 6986),
        ]
        for text, number in cases:
            with self.subTest(text=text):
                ins = tm.translate(fmt(text))
                self.assertEqual(ins[-1], ("ERR", number))

    def test_notation_accepted(self):
        self.assertEqual(self.records(b"(" + b"(" * 16 + b"F5.1" + b")" * 17, [1.0, 2.0]),
                         ([b"  1.0", b"  2.0"], None))
        self.assertEqual(self.records(b"(2(,F5.1))", [1.0]), ([b"  1.0"], None))
        self.assertEqual(self.records(b"(1 2X,F3.1)", [1.0]), ([b" " * 12 + b"1.0"], None))
        self.assertEqual(self.records(b"(3H ab,F4.1)", [1.0]), ([b" ab 1.0"], None))
        self.assertEqual(self.records(b"('it''s',F4.1)", [1.0]), ([b"it's 1.0"], None))
        self.assertEqual(self.records(b"(F5.1,T2,'x',TL1,'y',5X)", [1.0]), ([b" y1.0"], None))
        self.assertEqual(self.records(b"(T3,F3.1,T0,'a')", [1.0]), ([b"a 1.0"], None))
        self.assertEqual(self.records(b"(BN,BZ,SS,S,F4.1)", [1.0]), ([b" 1.0"], None))
        self.assertEqual(self.records(b"(F3.1/)", [1.0]), ([b"1.0", b""], None))
        self.assertEqual(self.records(b"(F3.1,$)", [1.0, 2.0]), ([b"1.0", b"2.0$"], None))
        self.assertEqual(self.records(b"(F3.1) junk", [1.0]), ([b"1.0"], None))

    def test_record_length_limit(self):
        self.assertEqual(self.records(b"(Z2147483647)", [1.0]), ([], 6207))
        self.assertEqual(self.records(b"(T16777216,'a')", [1.0])[1], 6206)
        self.assertEqual(self.records(b"(T16777216,'ab',F3.1)", [1.0]), ([], 6207))


class SweepStep(unittest.TestCase):
    def swept(self, g, *pivots):
        G = [list(map(float, r)) for r in g]
        H = tm.matrix(len(G), len(G))
        for k in pivots:
            tm.sweep(G, H, k)
            self.assertEqual(G, H)
            for j in range(len(G)):
                for l in range(len(G)):
                    self.assertEqual(G[j][l], G[l][j])
        return G

    def test_documented_examples(self):
        self.assertEqual(self.swept([[1, 2, 3], [2, 5, 7], [3, 7, 11]], 0),
                         [[-1, 2, 3], [2, 1, 1], [3, 1, 2]])
        self.assertEqual(self.swept([[1, 2, 3], [2, 5, 7], [3, 7, 11]], 0, 1),
                         [[-5, 2, 1], [2, -1, 1], [1, 1, 1]])
        m, s = 1.5, 4.25
        self.assertEqual(self.swept([[1, m], [m, s]], 0), [[-1, m], [m, s - m * m]])

    def test_association_of_the_update(self):
        # g(j,l) - (g(j,k)*g(k,l))/g(k,k), not g(j,l) - g(j,k)*(g(k,l)/g(k,k))
        g = [[3.0, 1.0, 1.0], [1.0, 1.0, 0.0], [1.0, 0.0, 1.0]]
        G = self.swept(g, 0)
        self.assertEqual(G[1][2], 0.0 - (1.0 * 1.0) / 3.0)
        self.assertEqual(G[1][1], 1.0 - (1.0 * 1.0) / 3.0)

    def test_zero_pivot_and_overflow(self):
        with self.assertRaises(tm.FPFault) as cm:
            self.swept([[1, 2], [2, 4]], 0, 1)
        self.assertEqual(cm.exception.kind, "divide by zero")
        with self.assertRaises(tm.FPFault) as cm:
            self.swept([[1e-300, 1e300], [1e300, 1.0]], 0)
        self.assertEqual(cm.exception.kind, "overflow")


def coded(rows, K, MVI=9.0):
    """A run state after the data intake, the coding and the pattern table."""
    t = tm.Talvo(io.BytesIO(b"\n\n"))
    t.N = len(rows)
    t.K = K
    t.MVI = MVI
    t.X = [None] + [[0.0] + list(map(float, r)) + [0.0] * (K + 1) for r in rows]
    t.code_and_sum()
    t.pattern_table()
    return t


class MissingnessAndStartValues(unittest.TestCase):
    def talvo(self, rows, K, MVI=9.0):
        return coded(rows, K, MVI)

    def test_coding_and_sums(self):
        t = self.talvo([(1, 2), (9, 4), (5, 9)], 2)
        CS, PS, PSN = t.CS, t.PS, t.PSN
        self.assertEqual((CS[0][0], CS[0][1], CS[0][2], CS[1][1], CS[2][1], CS[2][2]),
                         (1, 1, 2, 1, 2, 4))
        self.assertEqual((PS[0][1], PS[0][2], PS[1][1], PS[2][2], PS[2][1]), (5, 4, 25, 16, 0))
        self.assertEqual((PSN[1][1], PSN[2][2], PSN[2][1]), (1, 1, 0))
        self.assertEqual((t.X[2][1], t.X[2][3], t.X[2][5]), (0.0, 0.0, 1.0))

    def test_code_compares_the_whole_number_part(self):
        t = self.talvo([(9.5, 10.0, 9.999)], 3)
        self.assertEqual(t.X[1][4:7], [0.0, 1.0, 0.0])
        t = self.talvo([(-9.0, -9.9, -10.0)], 3, MVI=-9.0)
        self.assertEqual(t.X[1][4:7], [0.0, 0.0, 1.0])
        t = self.talvo([(9.5, 9.0)], 2, MVI=9.5)
        self.assertEqual(t.X[1][3:5], [1.0, 1.0])

    def test_pattern_numbering_by_first_occurrence(self):
        t = self.talvo([(1, 9, 1, 1), (9, 1, 1, 1), (1, 9, 1, 1), (1, 1, 1, 1)], 4)
        P = t.P
        self.assertEqual(t.NPATT, 3)
        self.assertEqual(P[1][1:], [1, 2, 3, 4, 0, 1])
        self.assertEqual(P[2][1:], [1, 3, 4, 2, 1, 2])
        self.assertEqual(P[3][1:], [2, 3, 4, 1, 1, 1])
        t = self.talvo([(1, 9, 1, 9), (9, 9, 9, 9)], 4)
        self.assertEqual(t.P[2][1:], [1, 3, 2, 4, 2, 1])
        self.assertEqual(t.P[3][1:], [1, 2, 3, 4, 4, 1])
        self.assertEqual(t.P[1][1:], [1, 2, 3, 4, 0, 0])

    def test_start_values(self):
        # pairwise: whole-number quotient N div (count observed)
        rows = [(1, 1)] * 8 + [(2, 9), (9, 9)]
        t = self.talvo(rows, 2)
        t.SIV = 2
        t.start_values()
        self.assertEqual(t.SS[0][1], (2.0 + 8.0) * 1.0)   # 10 div 9 = 1
        rows = [(1, 9)] * 4 + [(9, 2)] * 6
        t = self.talvo(rows, 2)
        t.SIV = 1                                          # no complete case: pairwise
        with self.assertRaises(tm.StopMessage) as cm:
            t.start_values()
        self.assertEqual(cm.exception.text, b"No pairwise start values: variables 1 and 2"
                                            b" are never observed together; aborting...")
        self.assertEqual(t.SS[0][1], 4.0 * 2.0)           # 10 div 4 = 2
        self.assertEqual(t.SIV, 2)

    def test_start_values_from_a_covariance_file(self):
        d = tempfile.mkdtemp(prefix="talvo_model_")
        old = os.getcwd()
        try:
            os.chdir(d)
            with open("start.cov", "wb") as f:
                f.write(b"4 3\n3 9\n1 2\n")
            t = self.talvo([(1, 1)] * 11, 2)
            t.SIV = 3
            t.SVFIN = b"start.cov".ljust(40)
            t.start_values()
        finally:
            os.chdir(old)
            shutil.rmtree(d)
        SS = t.SS
        self.assertEqual((SS[0][1], SS[0][2]), (11.0, 22.0))
        for got, want in ((SS[1][1], 51.0), (SS[2][1], 52.0), (SS[2][2], 134.0)):
            self.assertAlmostEqual(got, want, delta=want * 1e-15)

    def test_completion_step(self):
        for bmod, x1, adds in ((0, 7.0, (7.0, 49.0, 21.0)), (1, 14.5, (14.5, 210.25, 43.5))):
            t = self.talvo([(9, 3)], 2)
            t.B[1][0], t.B[1][1] = 1.0, 2.0
            t.BMOD, t.YINT, t.YHAT = bmod, 0.5, 2.0
            t.estep()
            self.assertEqual(t.X[1][1], x1)
            self.assertEqual((t.SS[0][1], t.SS[1][1], t.SS[2][1], t.SS[2][2]), adds + (9.0,))


class WholeRuns(TempDirCase):
    BANNER = (b"\r\n\r\nCOVARIANCE ESTIMATION WITH MISSING VALUES \r\n"
              b"   An application of the EM algorithm \r\n"
              b"             TALVO.EXE v2.3 \r\n    \r\n\r\n\r\n")
    PROMPTS = (b"Specify input data file:  Sample size (n):  Number of variables (k): "
               b" Input maximum # of allowable missing patterns (20): "
               b" Input missing value indicator (9): "
               b" Select start values (1=LW,2=PW,3=CM): "
               b" Maximum number of iterations (200): "
               b" Convergence criterion (.00001): "
               b" Additional output? (1=Yes,<CR>=No): "
               b" Specify output format (6F12.7): ")
    EXAMPLE = b"1 2\n2 3\n3 5\n4 9\n"

    def test_worked_example(self):
        answers = b"d.txt\n4\n2\n\n\n\n\n\n1\n(2F10.6)\n\n\n"
        t, out, err, status = run_in(self.dir, answers, {"d.txt": self.EXAMPLE})
        self.assertEqual((err, status), (b"", 0))
        head = (self.BANNER + self.PROMPTS
                + b"0 INITIAL FIVE CASES OF DATA"
                + b"\r\n\r\n CASE # 1\r\n   1.000     2.000"
                + b"\r\n\r\n CASE # 2\r\n   2.000     3.000"
                + b"\r\n\r\n CASE # 3\r\n   3.000     5.000"
                + b"\r\n\r\n CASE # 4\r\n   4.000     9.000"
                + b"\r\n\r\n <Press <ENTER> to continue "
                + b"\r\n\r\n MISSINGNESS: Pattern frequencies and percentages"
                + b"\r\n\r\n Total number of missingness patterns:    2"
                + b"\r\n Largest number within-case missing:      1     50.0%"
                + b"\r\n Percentage total missing variables:    12.50%"
                + b"\r\n\r\n Press <ENTER> to continue ")
        self.assertTrue(out.startswith(head), out[:len(head) + 40])
        log = out[len(head):]
        lines = log.split(b"\r\n")
        self.assertEqual(lines[0], b"")
        self.assertEqual(lines[-1], b"")
        lines = lines[1:-1]
        self.assertEqual(len(lines), 7)
        shown = [0.0] * 7
        for i, line in enumerate(lines):
            self.assertEqual(line[:22], b"ITER = %3d     CONV = " % (i + 1))
            self.assertEqual(len(line), 7 + 3 + 12 + 20)
            shown[i] = float(line[22:])
        self.assertEqual([round(v, 6) for v in shown[:6]],
                         [1.756173, 0.002058, 0.000686, 0.000229, 0.000076, 0.000025])
        self.assertEqual(round(shown[6], 7), 0.0000085)
        self.assertEqual(read(self.dir, "temp.cov"),
                         b"  1.666667  2.500000\r\n  2.500000  3.833329\r\n"
                         b"  2.500000  4.083333\r\n")
        self.assertEqual(read(self.dir, "temp.dat"),
                         b"  1.000000  2.000000\r\n 1 1\r\n  2.000000  3.000000\r\n 1 1\r\n"
                         b"  3.000000  5.000000\r\n 1 1\r\n  4.000000  6.333333\r\n 1 0\r\n")
        res = read(self.dir, "temp.res").split(b"\r\n")
        self.assertEqual([r[10:] for r in res[:4]],
                         [b"  -.166667", b"   .333333", b"  -.166667", b"   .000000"])
        self.assertEqual(read(self.dir, "temp.ptn"),
                         b"MISSINGNESS PATTERNS\r\nReordered with observed variables listed first"
                         b"\r\n\r\nTotal # of missingness patterns:     2\r\n\r\n\r\n"
                         b"  1   2\r\n    0  missing variables within above pattern\r\n"
                         b"    3  cases with above missingness pattern\r\n\r\n"
                         b"  1   2\r\n    1  missing variables within above pattern\r\n"
                         b"    1  cases with above missingness pattern\r\n\r\n")

    def test_worked_example_pass_zero(self):
        # a criterion above every start covariance ends the loop after pass 0
        answers = b"d.txt\n4\n2\n\n\n\n\n3.\n1\n(2F10.6)\n\n\n"
        t, out, err, status = run_in(self.dir, answers, {"d.txt": self.EXAMPLE})
        self.assertEqual((err, status), (b"", 0))
        self.assertNotIn(b"ITER", out)
        self.assertEqual(read(self.dir, "temp.cov"),
                         b"   .888889  1.333333\r\n  1.333333  2.074074\r\n"
                         b"  2.000000  3.333333\r\n")
        self.assertEqual([round(v, 6) for v in t.B[2][:3]], [0.333333, 1.5, 0.055556])
        self.assertEqual(round(t.CORR[2][2], 6), 0.074074)
        self.assertIn(b"  4.000000  6.333333\r\n 1 0\r\n", read(self.dir, "temp.dat"))

    def test_missingness_report_and_pattern_file(self):
        data = b"1 2 3\n9 2 3\n9 9 3\n1 5 4\n"
        answers = b"d.txt\n4\n3\n\n\n\n\n\n\n\n\n\n"
        t, out, err, status = run_in(self.dir, answers, {"d.txt": data})
        self.assertIn(b"\r\n Largest number within-case missing:      2     66.7%"
                      b"\r\n Percentage total missing variables:    25.00%", out)
        t = coded([(1, 2, 3, 4), (1, 9, 3, 9), (2, 1, 4, 3)], 4)
        t.con = tm.Console(io.BytesIO(b"\n"))
        t.missingness_report()
        old = os.getcwd()
        os.chdir(self.dir)
        try:
            t.write_ptn()
            t.ptn.close()
        finally:
            os.chdir(old)
        self.assertEqual(read(self.dir, "temp.ptn"),
                         b"MISSINGNESS PATTERNS\r\n"
                         b"Reordered with observed variables listed first\r\n"
                         b"\r\n"
                         b"Total # of missingness patterns:     2\r\n"
                         b"\r\n"
                         b"\r\n"
                         b"  1   2   3   4\r\n"
                         b"    0  missing variables within above pattern\r\n"
                         b"    2  cases with above missingness pattern\r\n"
                         b"\r\n"
                         b"  1   3   2   4\r\n"
                         b"    2  missing variables within above pattern\r\n"
                         b"    1  cases with above missingness pattern\r\n"
                         b"\r\n")

    def test_all_complete_and_no_complete_case(self):
        t, out, err, status = run_in(self.dir, b"d.txt\n3\n1\n" + b"\n" * 9,
                                     {"d.txt": b"1\n2\n4\n"})
        self.assertEqual(status, 0)
        self.assertIn(b"patterns:    1\r\n Largest number within-case missing:      0       .0%"
                      b"\r\n Percentage total missing variables:      .00%", out)
        self.assertEqual(read(self.dir, "temp.cov"), b"   2.3333333\r\n   2.3333333\r\n")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "temp.dat")))
        t, out, err, status = run_in(self.dir, b"e.txt\n2\n2\n" + b"\n" * 9,
                                     {"e.txt": b"9 1\n9 2\n"})
        self.assertIn(b"patterns:    1\r\n Largest number within-case missing:      1     50.0%"
                      b"\r\n Percentage total missing variables:    50.00%", out)
        self.assertEqual(t.CPATT, 2.0)
        # listwise without a complete case falls back to pairwise, which cannot start
        self.assertEqual((err, status), (b"", 1))
        self.assertTrue(out.endswith(b" Press <ENTER> to continue \r\nNo pairwise start values:"
                                     b" variable 1 is never observed; aborting...\r\n"))

    def test_stops_and_reports(self):
        # Enter everywhere: N = 0
        t, out, err, status = run_in(self.dir, b"d.txt\n\n\n\n\n\n\n\n\n\n", {"d.txt": b""})
        self.assertEqual(status, 1)
        self.assertEqual(err, b"")
        self.assertTrue(out.endswith(b"(6F12.7): \r\nSample size must be at least 1 (n = 0);"
                                     b" aborting...\r\n"))
        # N = 1: the divisor N - 1 of the sample-size constants
        t, out, err, status = run_in(self.dir, b"d.txt\n1\n1\n\n\n\n\n\n\n\n\n\n",
                                     {"d.txt": b"5\n"})
        self.assertEqual((err, status),
                         (b"\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero"
                          b"\r\n", 1))
        self.assertTrue(out.endswith(b"\r\n\r\n Press <ENTER> to continue "))
        # a data file that names no file: created empty, then end of file
        t, out, err, status = run_in(self.dir, b"  new.txt \n2\n1\n\n\n\n\n\n\n\n")
        self.assertEqual((err, status),
                         (b"\r\nrun-time error F6501: READ(new.txt)\r\n- end of file\r\n", 1))
        self.assertEqual(read(self.dir, "new.txt"), b"")
        self.assertTrue(out.endswith(b"(6F12.7): "))
        # end of console input at a prompt that asks again
        t, out, err, status = run_in(self.dir, b"d.txt\nabc\n")
        self.assertEqual((err, status),
                         (b"\r\nrun-time error F6501: READ(CON)\r\n- end of file\r\n", 1))
        self.assertTrue(out.endswith(b"file:  Sample size (n):  Sample size (n): "))
        # blank data file name asks again
        t, out, err, status = run_in(self.dir, b"\n   \n")
        self.assertTrue(out.endswith(b"\r\nSpecify input data file:  Specify input data file: "
                                     b" Specify input data file: "))
        self.assertEqual(status, 1)

    def test_format_errors_leave_complete_records_only(self):
        with open(os.path.join(self.dir, "temp.cov"), "wb") as f:
            f.write(b"old contents\r\n")
        data = b"1 2\n2 3\n3 5\n4 9\n"
        for text, number in ((b"6F12.7", 6981), (b"(F10.3,2(1X))", 6206), (b"(2F5.1,Q)", 6989)):
            t, out, err, status = run_in(self.dir, b"d.txt\n4\n2\n\n\n\n\n\n\n" + text + b"\n\n\n",
                                         {"d.txt": data})
            self.assertEqual(status, 1)
            self.assertEqual(err.split(b"\r\n")[1], b"run-time error F%d: WRITE(temp.cov)" % number)
            self.assertEqual(read(self.dir, "temp.cov"), b"")

    def test_result_files_that_are_devices(self):
        # a result file linked to a device is written, not cut: /dev/null takes
        # everything, /dev/full refuses the first record for want of space
        answers = b"d.txt\n4\n2\n\n\n\n\n\n1\n\n\n\n"
        os.symlink("/dev/null", os.path.join(self.dir, "temp.res"))
        t, out, err, status = run_in(self.dir, answers, {"d.txt": self.EXAMPLE})
        self.assertEqual((err, status), (b"", 0))
        self.assertTrue(os.path.islink(os.path.join(self.dir, "temp.res")))
        os.remove(os.path.join(self.dir, "temp.dat"))
        os.symlink("/dev/full", os.path.join(self.dir, "temp.dat"))
        t, out, err, status = run_in(self.dir, answers, {"d.txt": self.EXAMPLE})
        self.assertEqual((err, status), (b"\r\nrun-time error F6422: WRITE(temp.dat)\r\n"
                                         b"- no space left on the disk\r\n", 1))
        self.assertTrue(out.endswith(b"\r\nITER =   7     CONV =     .000008467543907"))

    def test_attrition_dialog(self):
        answers = b"d.txt\n4\n2\n2\n\n\n\n\n2\n\n\n\n\n\n"
        t, out, err, status = run_in(self.dir, answers, {"d.txt": self.EXAMPLE})
        self.assertEqual((t.BMOD, t.OPTOUT, t.YINT, t.YHAT), (1, 1, 0.0, 1.0))
        self.assertIn(b"(1=Yes,<CR>=No):  Correction for inaccessible posttest attrition\r\n"
                      b"Specify intercept (B0) from resampled Y:  Specify b-weight predicting"
                      b" resampled Y:  Specify output format (6F12.7): 0 INITIAL", out)


if __name__ == "__main__":
    unittest.main()
