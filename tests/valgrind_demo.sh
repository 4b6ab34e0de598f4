#!/bin/sh
# valgrind memcheck on the demos: the example host (examples/demo) and, when
# the tool is built, the tool's demo steps (pack the sample document, list
# it, render its pictures and icons).  Fails on any memory error (invalid
# read or write, use of uninitialised values, bad free) and on memory
# definitely lost; prints valgrind's summary of each run.
#
# Usage: valgrind_demo.sh VALGRIND SOURCE_DIR DEMO [TOOL]
set -eu

valgrind=$1 source=$2 demo=$3 tool=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-valgrind-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
runs=0

memcheck() {
  name=$1
  shift
  runs=$((runs + 1))
  log=$work/$runs.log
  if "$valgrind" --tool=memcheck --error-exitcode=99 --leak-check=full \
       --errors-for-leak-kinds=definite --show-leak-kinds=definite \
       --log-file="$log" "$@" >"$work/$runs.out" 2>&1; then
    result=ok
  else
    result="FAILED (status $?)"
    status=1
    cat "$work/$runs.out"
    cat "$log"
  fi
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -n 1)
  lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1)
  echo "valgrind: $name: $result; ${errors:-?} errors, ${lost:-0} bytes definitely lost"
}

memcheck "examples/demo" "$demo" "$work/demo.bin"

if [ -n "$tool" ]; then
  sample=$source/examples/sample
  memcheck "varnel pack" "$tool" pack -o "$work/Sample.bin" --creator VARN --type TEXT \
    --name Sample --data "$sample/document.txt" "$sample/sample.rsrc"
  memcheck "varnel list" "$tool" list "$work/Sample.bin"
  memcheck "varnel render" "$tool" render "$work/Sample.bin" "$work/render"
fi
exit "$status"
