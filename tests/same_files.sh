#!/usr/bin/env bash
# talvo answered in its dialog and talvo-batch given the same parameters
# (with --absolute-criterion, the dialog's stopping rule and passes) write
# the same result files, byte for byte; the values in the format (4Z16),
# so that every bit counts. The CSV files read back to the same doubles.
# Usage: same_files.sh TALVO TALVO_BATCH EXAMPLES
set -u
talvo=$(realpath "$1") batch=$(realpath "$2") ex=$(realpath "$3")
tmp=$(mktemp -d /tmp/talvo-same-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
printf '1000 900 -60 200\n900 8000 -20 240\n-60 -20 12 -15\n200 240 -15 90\n40 180 10 78\n' >"$tmp/start.cov"
failed=0

# same NAME DATA ANSWERS BATCH_ARGS...: the dialog on DATA with ANSWERS (after
# the file name) against talvo-batch with BATCH_ARGS (in a folder that also
# holds the air-quality CSV file).
same() {
    local name=$1 data=$2 answers=$3 n=0
    shift 3
    mkdir -p "$tmp/$name/dialog"
    cp "$data" "$tmp/start.cov" "$tmp/$name/dialog/"
    cp "$data" "$ex/airquality.csv" "$tmp/start.cov" "$tmp/$name/"
    (cd "$tmp/$name/dialog" && printf '%s\n%b' "$(basename "$data")" "$answers" | "$talvo" >/dev/null 2>&1)
    (cd "$tmp/$name" && "$batch" --out batch "$@" >/dev/null 2>&1)
    for f in "$tmp/$name"/dialog/temp.*; do
        [ -f "$f" ] || continue
        n=$((n + 1))
        cmp -s "$f" "$tmp/$name/batch/${f##*/}" || { echo "FAIL $name: ${f##*/} differs"; failed=1; }
    done
    [ $n -gt 0 ] || { echo "FAIL $name: no result files"; failed=1; }
    echo "done $name: $n files compared"
}

same airquality "$ex/airquality/in/airquality.dat" '153\n4\n\n-99\n1\n\n\n1\n(4Z16)\n\n\n' \
    --header --na --all --csv --plot --format '(4Z16)' --absolute-criterion 9.999999747378752E-06 airquality.csv
same pairwise-limit "$ex/nhanes/in/nhanes.dat" '25\n4\n\n-99\n2\n5\n\n1\n(4Z16)\n\n\n' \
    --missing -99 --start pairwise --max-passes 5 --all --format '(4Z16)' --absolute-criterion 9.999999747378752E-06 \
    nhanes.dat
same attrition "$ex/nhanes/in/nhanes.dat" '25\n4\n2\n-99\n1\n\n.001\n2\n.5\n1.25\n(4Z16)\n\n\n' \
    --missing -99 --absolute-criterion 0.001 --attrition 0.5,1.25 --all --format '(4Z16)' nhanes.dat
same start-file "$ex/nhanes/in/nhanes.dat" '25\n4\n\n-99\n3\nstart.cov\n\n\n\n(4E24.16E3)\n\n\n' \
    --missing -99 --start start.cov --absolute-criterion 9.999999747378752E-06 nhanes.dat
# The CSV numbers read back to the exact bits in temp.cov; the pictures parse as XML.
if command -v python3 >/dev/null 2>&1; then
    python3 - "$tmp/airquality/batch" <<'EOF' || failed=1
import csv, struct, sys, xml.dom.minidom
d = sys.argv[1]
z = [[l[i:i + 16] for i in range(0, 64, 16)] for l in open(d + '/temp.cov').read().split()]
rows = [r[1:] for r in list(csv.reader(open(d + '/covariance.csv')))[1:]] + list(csv.reader(open(d + '/means.csv')))[1:]
assert len(rows) == len(z) == 5 and all(struct.pack('>d', float(v)).hex().upper() == h for r, zr in zip(rows, z) for v, h in zip(r, zr))
for f in ('trace.svg', 'patterns.svg'):
    xml.dom.minidom.parse(d + '/' + f)
print('done CSV read back, pictures parsed')
EOF
fi
exit $failed
