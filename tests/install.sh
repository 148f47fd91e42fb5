#!/usr/bin/env bash
# cmake --install puts both programs and their manual pages in place, and
# the pages render without a warning.
# Usage: install.sh BUILD_FOLDER
set -u
tmp=$(mktemp -d /tmp/talvo-install-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$1" --prefix "$tmp" >/dev/null || exit 1
failed=0
for f in bin/talvo bin/talvo-batch share/man/man1/talvo.1 share/man/man1/talvo-batch.1; do
    [ -f "$tmp/$f" ] || { echo "FAIL: $f not installed"; failed=1; }
done
"$tmp/bin/talvo-batch" --version | grep -q '^talvo-batch [0-9]' || { echo "FAIL: talvo-batch --version"; failed=1; }
for page in "$tmp"/share/man/man1/*.1; do
    if command -v groff >/dev/null 2>&1; then
        warnings=$(groff -man -ww -z "$page" 2>&1)
        [ -z "$warnings" ] || { echo "FAIL: ${page##*/}: $warnings"; failed=1; }
    fi
    if command -v man >/dev/null 2>&1; then
        warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "FAIL: man -l ${page##*/}: $warnings"; failed=1; }
    fi
done
[ $failed -eq 0 ] && echo "installed and rendered"
exit $failed
