#!/bin/sh
# The demo: pack the sample document of examples/sample/, list it, and
# render its pictures and icons as PNG files; then run examples/demo.c, a
# plain C host of the library, and list what it wrote.
#   tools/demo.sh [BUILD_DIR]      (default: build; run from anywhere)
# Writes BUILD_DIR/demo/Sample.bin, BUILD_DIR/demo/render/*.png and
# BUILD_DIR/demo/demo.bin.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
varnel=$build/tools/varnel
sample=examples/sample
demo=$build/demo

if [ ! -x "$varnel" ]; then
  echo "demo: $varnel is missing; build first (make)" >&2
  exit 1
fi
rm -rf "$demo"
mkdir -p "$demo"

echo "== varnel pack"
"$varnel" pack -o "$demo/Sample.bin" --creator VARN --type TEXT --name "Sample" \
  --data "$sample/document.txt" "$sample/sample.rsrc"
echo
echo "== varnel list"
"$varnel" list "$demo/Sample.bin"
echo
echo "== varnel render"
"$varnel" render "$demo/Sample.bin" "$demo/render"
echo
echo "== examples/demo (a C host of the library)"
"$build/examples/demo" "$demo/demo.bin"
"$varnel" list "$demo/demo.bin"
