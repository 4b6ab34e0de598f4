#!/usr/bin/env bash
# Builds the threads test (tests/thread_test.cpp) with ThreadSanitizer and
# runs it: reading and decoding on separate channels from several threads
# must be free of data races.  Only that test is built, so the stage stays
# short.
#
#   .ci/threads.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-tsan}
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNEL_WERROR="${WERROR:-OFF}" -DVARNEL_BUILD_TESTS=ON -DVARNEL_BUILD_TOOLS=OFF \
  -DVARNEL_SANITIZE=thread
cmake --build "$build" -j "${JOBS:-2}" --target thread_test
cd "$build"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -L threads
