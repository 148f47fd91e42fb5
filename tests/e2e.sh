#!/usr/bin/env bash
# Runs the end-to-end cases. Each case folder holds
#   about            one line: what the case shows
#   stdin            the answers, piped to the program (none: empty input)
#   args             the program's arguments, one a line (optional)
#   in/              files put into the fresh run folder first (optional)
#   expected/stdout, expected/stderr, expected/status
#   expected/files/  every file the run creates or changes, byte for byte;
#                    every other file must be an unchanged file of in/
#   expected/gone    the files of in/ that the run removes, one a line (optional)
# The program runs in a fresh temporary folder, its answers piped in and its
# output streams redirected to files.
# Usage: e2e.sh PROGRAM CASES_FOLDER [CASE...]
set -u
prog=$(realpath "$1")
root=$(realpath "$2")
shift 2
if [ $# -gt 0 ]; then cases=("$@"); else
    cases=()
    for d in "$root"/*/; do [ -f "$d/stdin" ] || [ -f "$d/args" ] && cases+=("$(basename "$d")"); done
fi

# Where two files first differ, with 80 bytes of each from a little before.
difference() {
    local at
    at=$(cmp "$1" "$2" 2>/dev/null | sed -n 's/.*differ: byte \([0-9]*\).*/\1/p')
    [ -z "$at" ] && at=$(($(wc -c <"$1") < $(wc -c <"$2") ? $(wc -c <"$1") + 1 : $(wc -c <"$2") + 1))
    local from=$((at > 30 ? at - 30 : 1))
    echo "  $3: first difference at byte $((at - 1)) (expected $(wc -c <"$1") bytes, got $(wc -c <"$2"))"
    echo "    expected: ...$(tail -c +$from "$1" | head -c 80 | cat -A)"
    echo "    got:      ...$(tail -c +$from "$2" | head -c 80 | cat -A)"
}

failed=0
for c in "${cases[@]}"; do
    case_dir=$root/$c
    tmp=$(mktemp -d /tmp/talvo-e2e-XXXXXX)
    mkdir "$tmp/run" "$tmp/want"
    for d in in expected/files; do [ -d "$case_dir/$d" ] && cp -a "$case_dir/$d/." "$tmp/want/"; done
    if [ -f "$case_dir/expected/gone" ]; then
        while IFS= read -r f; do rm -f "$tmp/want/$f"; done <"$case_dir/expected/gone"
    fi
    [ -d "$case_dir/in" ] && cp -a "$case_dir/in/." "$tmp/run/"
    args=()
    [ -f "$case_dir/args" ] && mapfile -t args <"$case_dir/args"
    input=$case_dir/stdin
    [ -f "$input" ] || input=/dev/null
    (cd "$tmp/run" && cat "$input" | timeout 120 "$prog" "${args[@]}" >"$tmp/stdout" 2>"$tmp/stderr")
    echo $? >"$tmp/status"
    report=""
    for s in stdout stderr status; do
        cmp -s "$case_dir/expected/$s" "$tmp/$s" || report+=$(difference "$case_dir/expected/$s" "$tmp/$s" "$s")$'\n'
    done
    while IFS= read -r f; do
        if [ ! -e "$tmp/run/$f" ]; then report+="  file $f: missing"$'\n'
        elif [ ! -e "$tmp/want/$f" ]; then report+="  file $f: not expected"$'\n'
        elif ! cmp -s "$tmp/want/$f" "$tmp/run/$f"; then report+=$(difference "$tmp/want/$f" "$tmp/run/$f" "file $f")$'\n'
        fi
    done < <(cd "$tmp" && find want run -type f | cut -d/ -f2- | sort -u)
    if [ -z "$report" ]; then echo "ok   $c"; else
        failed=$((failed + 1))
        echo "FAIL $c: $(cat "$case_dir/about")"
        printf '%s' "$report"
    fi
    rm -rf "$tmp"
done
echo "${#cases[@]} cases, $failed failed"
[ $failed -eq 0 ]
