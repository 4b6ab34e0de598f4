#!/usr/bin/env bash
# Builds the library and its own tests with a Debian cross compiler and runs
# them under qemu-user:
#
#   .ci/cross.sh ARCH [SECONDS]     ARCH: s390x (big-endian) or i686 (32-bit)
#
# The whole stage (configure, build, tests) is capped at SECONDS (default
# 1500).  The tool is left out (it needs libpng for the target); peer-program
# tests skip (VARNEL_NO_PEERS=1: they exercise host programs, not the
# library).  Needs g++-<arch>-linux-gnu, qemu-user and googletest.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-}
seconds=${2:-1500}
case $arch in
  s390x | i686) ;;
  *)
    echo "usage: $0 s390x|i686 [SECONDS]" >&2
    exit 2
    ;;
esac
build=${VARNEL_CROSS_BUILD:-build-$arch}
jobs=${JOBS:-2}
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

start=$(date +%s)
deadline=$((start + seconds))
remaining() {
  local left=$((deadline - $(date +%s)))
  [ "$left" -gt 0 ] || { echo "cross $arch: out of time (${seconds}s)" >&2; exit 124; }
  echo "$left"
}

left=$(remaining)
timeout "$left" cmake -S . -B "$build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNEL_BUILD_TOOLS=OFF -DVARNEL_BUILD_TESTS=ON -DVARNEL_BUILD_BENCHMARKS=OFF \
  -DVARNEL_GTEST_FROM_SOURCE=ON -DVARNEL_WERROR="${WERROR:-OFF}"
left=$(remaining)
timeout "$left" cmake --build "$build" -j "$jobs"

export VARNEL_NO_PEERS=1
# Every byte position of the fault sweep is a child process under qemu;
# a sample of them (every 7th byte, all seeks) keeps the stage short.
export VARNEL_FAULT_SWEEP_STRIDE=${VARNEL_FAULT_SWEEP_STRIDE:-7}
# qemu runs the test programs; ctest's own per-test timeout stays the default.
# The programs run whole (label "whole") repeat every test once more in one
# process: that is proved by the native builds, and would double the time here.
cd "$build"
left=$(remaining)
set +e
timeout "$left" ctest --output-on-failure -j "$jobs" -LE whole | tee ctest.log
status=${PIPESTATUS[0]}
set -e
echo "cross $arch: $(grep -E 'tests passed|tests failed' ctest.log | tail -n 1) in $(($(date +%s) - start))s"
exit "$status"
