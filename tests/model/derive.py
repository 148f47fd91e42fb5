#!/usr/bin/env python3
"""Derives the expected/ folder of end-to-end cases from the independent model.

    python3 tests/model/derive.py tests/e2e/<case> [...]

Runs talvo_model.py in a fresh directory holding the case's in/ files, with
the case's stdin, and writes expected/stdout, expected/stderr,
expected/status and expected/files/ (every file the run created or
changed). Read what it wrote before committing: the model is a second
implementation, not an oracle.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MODEL = os.path.join(HERE, "talvo_model.py")


def files_below(root):
    out = {}
    for dirpath, _, names in os.walk(root):
        for n in names:
            p = os.path.join(dirpath, n)
            if os.path.islink(p) or not os.path.isfile(p):
                continue
            with open(p, "rb") as f:
                out[os.path.relpath(p, root)] = f.read()
    return out


def derive(case):
    with tempfile.TemporaryDirectory() as tmp:
        run = os.path.join(tmp, "run")
        if os.path.isdir(os.path.join(case, "in")):
            shutil.copytree(os.path.join(case, "in"), run, symlinks=True)
        else:
            os.mkdir(run)
        with open(os.path.join(case, "stdin"), "rb") as f:
            stdin = f.read()
        p = subprocess.run([sys.executable, MODEL], cwd=run, input=stdin, capture_output=True)
        exp = os.path.join(case, "expected")
        shutil.rmtree(exp, ignore_errors=True)
        os.makedirs(os.path.join(exp, "files"))
        with open(os.path.join(exp, "stdout"), "wb") as f:
            f.write(p.stdout)
        with open(os.path.join(exp, "stderr"), "wb") as f:
            f.write(p.stderr)
        with open(os.path.join(exp, "status"), "w") as f:
            f.write("%d\n" % p.returncode)
        before = files_below(os.path.join(case, "in")) if os.path.isdir(os.path.join(case, "in")) else {}
        for name, data in files_below(run).items():
            if before.get(name) != data:
                dest = os.path.join(exp, "files", name)
                os.makedirs(os.path.dirname(dest), exist_ok=True)
                with open(dest, "wb") as f:
                    f.write(data)
        if not os.listdir(os.path.join(exp, "files")):
            os.rmdir(os.path.join(exp, "files"))
        print("%s: status %d, %d stdout bytes, %d stderr bytes" % (case, p.returncode, len(p.stdout), len(p.stderr)))


if __name__ == "__main__":
    for c in sys.argv[1:]:
        derive(c.rstrip("/"))
