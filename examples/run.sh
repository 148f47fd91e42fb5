#!/usr/bin/env bash
# Builds TALVO and runs it on a bundled example with its answers piped in:
#   bash examples/run.sh [airquality|nhanes]
# The run happens in example-run/<name>/, where the result files stay.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=${1:-airquality}
[ -d "$root/examples/$name" ] || { echo "no example named $name (try airquality or nhanes)" >&2; exit 2; }
cmake -S "$root" -B "$root/build-example" -DTALVO_TESTS=OFF >/dev/null
cmake --build "$root/build-example" -j2 --target talvo >/dev/null
out="$root/example-run/$name"
rm -rf "$out"
mkdir -p "$out"
cp "$root/examples/$name/in/"* "$out/"
cd "$out"
status=0
"$root/build-example/talvo" < "$root/examples/$name/stdin" || status=$?
echo
echo "exit status $status; files in $out:"
ls -l
echo
echo "temp.cov (covariances, then the means):"
cat temp.cov
exit $status
