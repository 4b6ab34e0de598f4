#!/usr/bin/env bash
# Builds the libFuzzer configuration (clang, ASan + UBSan, coverage of the
# whole library) and runs each fuzz target for SECONDS seconds on its corpus,
# with its own dictionary (fuzz/TARGET.dict) where it has one, else the
# shared one.
#
#   fuzz/run_fuzzers.sh SECONDS [--merge] [--no-build] [TARGET...]
#
# Without TARGET names every fuzz/*_fuzzer.cpp runs, one after another.
# Inputs that grow coverage go to BUILD/fuzz-new/<target>/, never straight
# into the committed corpus; --merge then folds into fuzz/corpus/<target>/
# only those that add coverage (libFuzzer -merge=1), which keeps it small.
# --no-build runs what BUILD already holds (for several runs side by side).
# A crash, leak or timeout is copied to BUILD/fuzz-crashes/<target>/ and
# makes the script exit 1 after the remaining targets ran.  A table of
# executions per target ends the output.
#
# Environment: VARNEL_FUZZ_BUILD (default build-fuzz), VARNEL_FUZZ_JOBS
# (build parallelism, default 2), WERROR (ON/OFF, default OFF).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: $0 SECONDS [--merge] [--no-build] [TARGET...]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
seconds=$1
shift
[[ $seconds =~ ^[0-9]+$ ]] || usage
merge=0
build_first=1
targets=()
for arg in "$@"; do
  case $arg in
    --merge) merge=1 ;;
    --no-build) build_first=0 ;;
    -*) usage ;;
    *) targets+=("$arg") ;;
  esac
done

build=${VARNEL_FUZZ_BUILD:-build-fuzz}
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

if [ "$build_first" = 1 ]; then
  mkdir -p "$build"
  cmake -S . -B "$build" "${generator[@]}" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVARNEL_BUILD_FUZZERS=ON -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCHMARKS=OFF \
    -DVARNEL_INSTALL=OFF -DVARNEL_SANITIZE="address;undefined" -DVARNEL_WERROR="${WERROR:-OFF}" \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
fi

if [ "${#targets[@]}" -eq 0 ]; then
  # What this configuration builds (targets needing the tool may be left out).
  while IFS= read -r name; do
    [ -n "$name" ] && targets+=("$name")
  done <"$build/fuzz/targets.txt"
fi
[ "${#targets[@]}" -gt 0 ] || { echo "fuzz: no fuzz targets"; exit 0; }

build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "${t}_fuzzer"); done
[ "$build_first" = 0 ] || cmake --build "$build" -j "${VARNEL_FUZZ_JOBS:-2}" "${build_targets[@]}"

# UBSan findings abort like ASan ones (the build also uses -fno-sanitize-recover).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for t in "${targets[@]}"; do
  binary=$build/fuzz/${t}_fuzzer
  corpus=fuzz/corpus/$t
  grown=$build/fuzz-new/$t
  crashes=$build/fuzz-crashes/$t
  log=$build/fuzz-logs/$t.log
  mkdir -p "$corpus" "$grown" "$crashes" "$(dirname "$log")"
  dictionary=fuzz/$t.dict
  [ -f "$dictionary" ] || dictionary=fuzz/macbinary.dict
  echo "fuzz: $t for ${seconds}s"
  status=0
  # The first corpus directory receives new inputs: the scratch one.
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -dict="$dictionary" -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$grown" "$corpus" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    echo "fuzz: $t FAILED (status $status); log $log, inputs in $crashes:" >&2
    grep -E 'ERROR: |runtime error|SUMMARY|Test unit written' "$log" | head -n 20 >&2 || true
  fi
  if [ "$merge" = 1 ] && [ "$status" -eq 0 ]; then
    before=$(find "$corpus" -type f | wc -l)
    "$binary" -merge=1 -timeout=10 "$corpus" "$grown" >"$log.merge" 2>&1 ||
      { echo "fuzz: merging $t failed, see $log.merge" >&2; failed+=("$t"); }
    after=$(find "$corpus" -type f | wc -l)
    echo "fuzz: $t corpus $before -> $after files"
  fi
  summary+=("$(printf '%-20s %10s execs in %ss, corpus %s files' "$t" "${execs:-?}" "$seconds" \
               "$(find "$corpus" -type f | wc -l)")")
done

echo "fuzz: summary"
printf '  %s\n' "${summary[@]}"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: failures in: ${failed[*]}" >&2
  exit 1
fi
