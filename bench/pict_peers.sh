#!/usr/bin/env bash
# The 4096 x 4096 RGB preview of pict_bench against programs that write a
# comparable 8-bit picture, timed as whole processes, with peak memory:
#   ours        pict_bench --once (MacBin_Add_PICT, rows streamed from memory)
#   reference   pict_bench --reference (float diffusion, plain packer, fwrite)
#   ImageMagick convert in.ppm -colors 245 -type Palette out.pict
#   netpbm      ppmtopict on the image already reduced to 245 colours
#               (pnmcolormap + pnmremap, timed apart)
# Usage: bench/pict_peers.sh [build directory, default build-bench]
set -euo pipefail
build=${1:-build-bench}
bench="$build/bench/pict_bench"
[ -x "$bench" ] || { echo "pict_peers: $bench not built (make bench)"; exit 1; }
[ -x /usr/bin/time ] || { echo "pict_peers: /usr/bin/time missing (apt-get install time)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command, prints "label seconds peak-KiB", keeps the seconds.
declare -A seconds
labels=()
measure() {
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@"
  read -r s kib < "$work/time"
  seconds[$label]=$s
  labels+=("$label")
  printf '%-34s %8.2f s  peak %7d KiB\n' "$label" "$s" "$kib"
}

"$bench" --write-ppm "$work/in.ppm"
measure "ours (MacBin_Add_PICT)" "$bench" --once "$work/ours.pict"
measure "reference (float, plain, fwrite)" "$bench" --reference "$work/reference.pict"
cmp "$work/ours.pict" "$work/reference.pict" && echo "ours and reference: identical bytes"

convert=$(command -v convert-im6.q16 || true)
if [ -n "$convert" ]; then
  measure "ImageMagick -colors 245" "$convert" "$work/in.ppm" -colors 245 -type Palette \
    "$work/im.pict"
else
  echo "ImageMagick (convert-im6.q16) not installed: skipped"
fi

if command -v ppmtopict >/dev/null && command -v pnmremap >/dev/null; then
  measure "netpbm reduction (pnmcolormap)" sh -c \
    "pnmcolormap 245 '$work/in.ppm' > '$work/map.ppm' 2>/dev/null"
  measure "netpbm reduction (pnmremap)" sh -c \
    "pnmremap -map='$work/map.ppm' '$work/in.ppm' > '$work/reduced.ppm' 2>/dev/null"
  measure "netpbm ppmtopict" sh -c "ppmtopict '$work/reduced.ppm' > '$work/netpbm.pict' 2>/dev/null"
else
  echo "netpbm (ppmtopict, pnmremap) not installed: skipped"
fi

ours=${seconds["ours (MacBin_Add_PICT)"]}
for label in "${labels[@]}"; do
  [ "$label" = "ours (MacBin_Add_PICT)" ] && continue
  awk -v l="$label" -v t="${seconds[$label]}" -v o="$ours" \
    'BEGIN { if (o > 0) printf "ratio %-34s / ours: %6.2fx\n", l, t / o }'
done
ls -l "$work"/*.pict | awk '{ printf "%-12s %10d bytes\n", $NF, $5 }' | sed "s|$work/||"
