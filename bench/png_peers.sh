#!/usr/bin/env bash
# PNG writing: `varnel render --picture` (PICT to PNG, with --compression
# fast, the default, and best) against ImageMagick writing the same image
# as PNG from a PPM file, timed as whole processes in alternating rounds on
# the same machine, with the sizes of what each wrote.  Two 2048 x 2048
# pictures of 256 colours: a noisy one (plasma) and a flat drawing.
# Target: fast at least 3 times as fast as ImageMagick, its files within a
# tenth of best's size.
# Usage: bench/png_peers.sh [build directory, default build-bench] [rounds, default 5]
set -euo pipefail
build=${1:-build-bench}
rounds=${2:-5}
varnel="$build/tools/varnel"
[ -x "$varnel" ] || { echo "png_peers: $varnel not built"; exit 1; }
for program in convert ppmtopict; do
  command -v "$program" >/dev/null || { echo "png_peers: skipped ($program missing: imagemagick, netpbm)"; exit 0; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -seed 1 -size 2048x2048 plasma:fractal -colors 256 -depth 8 "$work/noisy.ppm"
convert -size 2048x2048 xc:white -fill red -draw "circle 1000,1000 500,500" \
  -fill blue -draw "rectangle 100,100 700,400" -fill black -draw "rectangle 300,1600 1800,1700" \
  -colors 256 -depth 8 "$work/flat.ppm"

# Milliseconds a command takes, its output thrown away.
milliseconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for picture in noisy flat; do
  ppmtopict "$work/$picture.ppm" >"$work/$picture.pict" 2>/dev/null
  : >"$work/fast" ; : >"$work/best" ; : >"$work/magick"
  for _ in $(seq "$rounds"); do
    milliseconds "$varnel" render --compression fast --picture "$work/$picture.pict" "$work/fast.png" >>"$work/fast"
    milliseconds "$varnel" render --compression best --picture "$work/$picture.pict" "$work/best.png" >>"$work/best"
    milliseconds convert "$work/$picture.ppm" "$work/magick.png" >>"$work/magick"
  done
  fast=$(median <"$work/fast") best=$(median <"$work/best") magick=$(median <"$work/magick")
  fast_size=$(stat -c %s "$work/fast.png") best_size=$(stat -c %s "$work/best.png")
  magick_size=$(stat -c %s "$work/magick.png")
  echo "$picture: varnel fast $fast ms ($fast_size bytes), best $best ms ($best_size bytes), ImageMagick $magick ms ($magick_size bytes)"
  awk -v f="$fast" -v b="$best" -v m="$magick" -v fs="$fast_size" -v bs="$best_size" 'BEGIN {
    printf "  ImageMagick / fast %.2fx (target 3x), best / fast %.2fx, fast size / best size %.3f (target at most 1.10)\n",
      m / f, b / f, fs / bs }'
done
