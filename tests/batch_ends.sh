#!/usr/bin/env bash
# How talvo-batch ends where a golden case cannot show it: a run interrupted
# by a signal at any moment leaves its results complete or absent, never a
# part of them and never a temporary file; a log that cannot be written ends
# the run; a data file too wide for the default format is told as such.
# Usage: batch_ends.sh TALVO_BATCH
set -u
set -m  # background runs take SIGINT as a run in a terminal does
batch=$(realpath "$1")
tmp=$(mktemp -d /tmp/talvo-ends-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
failed=0
fail() {
    echo "FAIL $*"
    failed=1
}
outputs="talvo.log temp.cov temp.ptn temp.dat temp.res covariance.csv means.csv completed.csv filled.csv trace.svg patterns.svg"

# 200,000 cases of four variables, two of them closely related and often
# missing: the passes take a while.
awk 'BEGIN { srand(5); for (i = 0; i < 200000; i++) { a = rand(); b = a + rand() / 10; c = b + rand() / 10;
     printf "%.4f,%s,%s,%.4f\n", a, rand() < 0.5 ? "NA" : sprintf("%.4f", b), rand() < 0.5 ? "NA" : sprintf("%.4f", c), rand() } }' >big.csv

# interrupt SIGNAL DELAY: a run with every output, sent SIGNAL after DELAY
# seconds; what it leaves is checked whenever the signal came.
interrupt() {
    local sig=$1 delay=$2 out=run-$1-$2 status last
    "$batch" --na --all --csv --plot --criterion 1e-300 --max-passes 300 -o "$out" big.csv >/dev/null 2>"$out.err" &
    local pid=$!
    sleep "$delay"
    kill -"$sig" $pid 2>/dev/null
    wait $pid 2>/dev/null
    status=$?
    last=$(tail -n 1 "$out/talvo.log" 2>/dev/null | tr -d '\r')
    local left=""
    [ -d "$out" ] && left=$(cd "$out" && ls -A | grep -v '^talvo.log$' | tr '\n' ' ')
    case $status in
        0 | 3)  # the run ended before the signal: every result in place
            [ "$left" = "completed.csv correlation.csv covariance.csv filled.csv means.csv patterns.svg summary.json summary.txt temp.cov temp.dat temp.ptn temp.res trace.svg " ] ||
                fail "$sig after ${delay}s, run finished: left $left"
            [[ $last == "not converged: pass limit 300 reached"* ]] || fail "$sig after ${delay}s: log ends '$last'" ;;
        $((128 + $(kill -l "$sig"))))
            [ -z "$left" ] || fail "$sig after ${delay}s: left $left"
            if [ ! -e "$out/talvo.log" ]; then  # still reading the data (a slow machine)
                echo "done $sig after ${delay}s: interrupted before the run"
                return
            fi
            [ "$last" = "interrupted by SIG$sig: no result file written" ] || fail "$sig after ${delay}s: log ends '$last'"
            [ "$(cat "$out.err")" = "talvo-batch: interrupted by SIG$sig: no result file written" ] ||
                fail "$sig after ${delay}s: standard error: $(cat "$out.err")"
            echo "done $sig after ${delay}s: interrupted, nothing left but the log" ;;
        *) fail "$sig after ${delay}s: status $status: $(cat "$out.err")" ;;
    esac
}
for delay in 0.4 1 1.8; do interrupt INT $delay; done
interrupt TERM 0.8
# Once the passes are over, while the results are written: whatever the
# moment, complete or absent.
finished=""
for delay in 0.1 0.15 0.2 0.25 0.3 0.35 0.4; do
    out=late-$delay
    "$batch" --na --all --csv --max-passes 0 -o "$out" big.csv >/dev/null 2>/dev/null &
    pid=$!
    sleep $delay
    kill -INT $pid 2>/dev/null
    wait $pid 2>/dev/null
    status=$?
    n=0  # when the signal came before the folder was made
    [ -d "$out" ] && n=$(cd "$out" && ls -A | grep -vc '^talvo.log$')
    case $status in
        3) [ "$n" -eq 11 ] || fail "late $delay: finished with $n results"
           finished+=" $delay" ;;
        130) [ "$n" -eq 0 ] || fail "late $delay: interrupted with $n files left: $(ls -A "$out")" ;;
        *) fail "late $delay: status $status" ;;
    esac
done
echo "done late interruptions (finished first:${finished:- none})"

# A log that cannot be written (here the file size limit, as a full disk
# would): the run fails and says so, and leaves no result.
head -60 big.csv >small.csv
(
    trap '' XFSZ
    ulimit -f 2
    "$batch" --na --criterion 1e-300 --max-passes 100 -o full small.csv >full.out 2>full.err
    echo $? >full.status
)
[ "$(cat full.status)" = 1 ] || fail "log limit: status $(cat full.status)"
[ "$(cat full.err)" = "talvo-batch: full/talvo.log: cannot be written: File too large" ] ||
    fail "log limit: standard error: $(cat full.err)"
[ ! -s full.out ] || fail "log limit: standard output: $(cat full.out)"
[ "$(ls -A full)" = "talvo.log" ] || fail "log limit: left $(ls -A full | tr '\n' ' ')"
echo "done log that cannot be written"

# More variables than a line of the default format holds (699,050 of 24
# characters): a fault of the data's size, before anything is made.
awk 'BEGIN { for (r = 0; r < 2; r++) { for (j = 1; j < 699051; j++) printf "1,"; print "2" } }' >wide.csv
"$batch" -o wide wide.csv >/dev/null 2>wide.err
status=$?
[ $status = 1 ] || fail "wide: status $status"
[ "$(cat wide.err)" = "talvo-batch: wide.csv: 699051 variables: a row of the result files would be 16777224 characters long, more than a line can hold (16777216)" ] ||
    fail "wide: $(cat wide.err)"
[ ! -e wide ] || fail "wide: the output folder was made"
echo "done too wide for the default format"
exit $failed
