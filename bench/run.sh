#!/usr/bin/env bash
# Runs every benchmark built in the given build directory and prints its
# figures; each benchmark reports ratios against a baseline it measures in
# the same run.
set -euo pipefail
build=${1:-build-bench}
status=0
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true || status=1
done
# The Python package against a pure-Python reader, with Debian's python3 and
# the library of this build.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3 || true)
library=$(ls "$build"/libvarnel.so.[0-9]* 2>/dev/null | head -n 1)
if [ -n "$python" ] && [ -n "$library" ]; then
  echo "== python_resources_bench"
  here=$(cd "$(dirname "$0")" && pwd)
  VARNEL_LIBRARY="$library" PYTHONPATH="$here/../python" PYTHONDONTWRITEBYTECODE=1 \
    "$python" "$here/python_resources_bench.py" || status=1
else
  echo "== python_resources_bench: skipped (no python3 or no libvarnel in $build)"
fi
# PNG writing against ImageMagick, when the tool is built.
echo "== png_peers"
"$(dirname "$0")/png_peers.sh" "$build" || status=1
exit $status
