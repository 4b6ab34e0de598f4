#!/bin/sh
# Installs the build into a temporary prefix, checks what landed there, and
# builds hosts against the installed copy only, once with pkg-config and once
# with find_package: the two of tests/consumers (C and C++; each writes a
# MacBinary file and reads it back) and the example hosts of examples/ (each
# writes the file named by its argument).
#
# Usage: install_test.sh BUILD_DIR SOURCE_DIR CMAKE CC CXX VERSION WITH_TOOL GENERATOR
set -eu

build=$1 source=$2 cmake=$3 cc=$4 cxx=$5 version=$6 with_tool=$7 generator=$8
major=${version%%.*}

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
prefix=$work/prefix

fail() {
  echo "install_test: FAILED: $*" >&2
  exit 1
}
step() { echo "install_test: $*"; }

step "cmake --install into a temporary prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }

# ---- What was installed ---------------------------------------------------
real=$(find "$prefix" -name "libvarnel.so.$version" | head -n 1)
[ -n "$real" ] && [ -f "$real" ] && [ ! -L "$real" ] || fail "no libvarnel.so.$version"
lib=$(dirname "$real")
[ "$(readlink "$lib/libvarnel.so.$major")" = "libvarnel.so.$version" ] ||
  fail "libvarnel.so.$major does not point to libvarnel.so.$version"
[ "$(readlink "$lib/libvarnel.so")" = "libvarnel.so.$major" ] ||
  fail "libvarnel.so (the development link) does not point to libvarnel.so.$major"
soname=$(LC_ALL=C readelf -d "$real" | sed -n 's/.*(SONAME).*\[\(.*\)\].*/\1/p')
[ "$soname" = "libvarnel.so.$major" ] || fail "soname is '$soname', not libvarnel.so.$major"

# The host utility stand-in beside it, which libvarnel names as needed.
[ -f "$lib/libtessel.so.1" ] || [ -L "$lib/libtessel.so.1" ] || fail "no libtessel.so.1 beside libvarnel"
[ -L "$lib/libtessel.so" ] || fail "no libtessel.so development link"
LC_ALL=C readelf -d "$real" | grep -q 'NEEDED.*\[libtessel\.so\.1\]' ||
  fail "libvarnel does not name libtessel.so.1 as needed"

headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
[ "$headers" = "./tessel.h ./varnel.h " ] ||
  fail "installed headers are '$headers'; only varnel.h and tessel.h belong there"

for f in pkgconfig/varnel.pc pkgconfig/tessel.pc cmake/varnel/varnelConfig.cmake \
         cmake/varnel/varnelConfigVersion.cmake cmake/varnel/varnelTargets.cmake; do
  [ -f "$lib/$f" ] || fail "missing $lib/$f"
done

if [ "$with_tool" = ON ]; then
  [ -x "$prefix/bin/varnel" ] || fail "the varnel tool is not installed in bin/"
  page=$(find "$prefix/share/man" -name 'varnel.1*' 2>/dev/null | head -n 1)
  [ -n "$page" ] || fail "the varnel man page (man1/varnel.1) is not installed"
  LD_LIBRARY_PATH="$lib" "$prefix/bin/varnel" --help >/dev/null 2>&1 ||
    LD_LIBRARY_PATH="$lib" "$prefix/bin/varnel" -h >/dev/null 2>&1 ||
    step "note: the installed tool gives a non-zero status for --help and -h"
fi

# A relocatable package names no directory of the build or source tree.
if grep -rlF -e "$build" -e "$source" "$lib/pkgconfig" "$lib/cmake" >"$work/leaks" 2>/dev/null; then
  cat "$work/leaks"
  fail "installed package files name the build or source directory"
fi

# Whether the binary really uses the installed library.
check_uses_installed() {
  loaded=$(LD_LIBRARY_PATH="$lib" ldd "$1" | sed -n 's/.*libvarnel\.so[^ ]* => \([^ ]*\).*/\1/p')
  [ "$(cd "$(dirname "$loaded")" && pwd -P)" = "$(cd "$lib" && pwd -P)" ] ||
    fail "$1 loads libvarnel from '$loaded', not from the installed copy"
}

run_host() {
  LD_LIBRARY_PATH="$lib" "$1" "$2" || fail "$1 $2 failed"
  [ -s "$2" ] || fail "$1 left no output file"
}

# ---- The Python package ---------------------------------------------------------
# Installed into the prefix's Python site directory, it loads the library
# installed beside it (no VARNEL_LIBRARY, no LD_LIBRARY_PATH) and names no
# directory of the build or source tree.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3 || true)
package=$(find "$prefix" -path '*/varnel/__init__.py' | head -n 1)
if [ -z "$package" ]; then
  fail "the Python package (varnel/__init__.py) is not installed"
elif [ -z "$python" ]; then
  step "note: no python3: the installed Python package is not tried"
else
  step "the Python package"
  site=$(dirname "$(dirname "$package")")
  if grep -rlF -e "$build" -e "$source" "$site/varnel" >"$work/leaks" 2>/dev/null; then
    cat "$work/leaks"
    fail "installed Python files name the build or source directory"
  fi
  (cd "$work" && env -u VARNEL_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -c '
import os, sys, varnel
from varnel import _library
assert varnel.__version__ == sys.argv[1], varnel.__version__
loaded = os.path.realpath(_library.lib._name)
assert loaded.startswith(os.path.realpath(sys.argv[2])), loaded
with varnel.create("py.bin", type=b"TEXT", creator=b"VARN") as out:
    out.write(b"from Python")
with varnel.open("py.bin") as back:
    assert back.read_data() == b"from Python"
' "$version" "$prefix") || fail "python3 -c 'import varnel' with the installed package"
fi

# ---- pkg-config -------------------------------------------------------------
step "pkg-config"
export PKG_CONFIG_LIBDIR="$lib/pkgconfig"
unset PKG_CONFIG_PATH || true
[ "$(pkg-config --modversion varnel)" = "$version" ] || fail "pkg-config --modversion"
cflags=$(pkg-config --cflags varnel)
libs=$(pkg-config --libs varnel)
# The consumers call the stand-in too (fgetm in their read handlers).
case " $libs " in
  *" -ltessel "*) ;;
  *) fail "pkg-config --libs varnel gives '$libs', without -ltessel" ;;
esac
# libpng is private: a shared link does not name it, a static one must.
static_libs=$(pkg-config --static --libs varnel)
if LC_ALL=C readelf -d "$real" | grep -q 'NEEDED.*\[libpng'; then
  case " $libs " in *" -lpng"*) fail "pkg-config --libs varnel names libpng: '$libs'" ;; esac
  case " $static_libs " in
    *" -lpng"*) ;;
    *) fail "pkg-config --static --libs varnel gives '$static_libs', without libpng" ;;
  esac
fi
# Consumers see the installed header with strict warnings: it must stay clean
# for them as well.
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $cflags \
  "$source/tests/consumers/c/main.c" $libs -o "$work/c_pc" || fail "C host with pkg-config"
# shellcheck disable=SC2086
"$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror $cflags \
  "$source/tests/consumers/cpp/main.cpp" $libs -o "$work/cpp_pc" || fail "C++ host with pkg-config"
check_uses_installed "$work/c_pc"
check_uses_installed "$work/cpp_pc"
run_host "$work/c_pc" "$work/c_pc.bin"
run_host "$work/cpp_pc" "$work/cpp_pc.bin"
# The example hosts, as a reader of the README would build them.
for example in "$source"/examples/*.c; do
  [ -e "$example" ] || continue
  name=$(basename "$example" .c)
  # shellcheck disable=SC2086
  "$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $cflags "$example" $libs -o "$work/example_$name" ||
    fail "examples/$name.c with pkg-config"
  run_host "$work/example_$name" "$work/example_$name.bin" >"$work/example_$name.out"
done

# ---- find_package -----------------------------------------------------------
step "find_package(varnel)"
configure() {
  dir=$1
  shift
  "$cmake" -S "$source/tests/consumers" -B "$dir" -G "$generator" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=Release "$@"
}
configure "$work/cmake" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configuring the hosts with find_package"; }
"$cmake" --build "$work/cmake" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the hosts with find_package"; }
check_uses_installed "$work/cmake/consumer_c"
check_uses_installed "$work/cmake/consumer_cpp"
# CMake's build RPATH points at the imported library: no LD_LIBRARY_PATH.
"$work/cmake/consumer_c" "$work/cmake_c.bin" || fail "C host built with find_package"
"$work/cmake/consumer_cpp" "$work/cmake_cpp.bin" || fail "C++ host built with find_package"
for example in "$work"/cmake/example_*; do
  [ -x "$example" ] || continue
  "$example" "$example.bin" >"$example.out" || fail "$(basename "$example") built with find_package"
  [ -s "$example.bin" ] || fail "$(basename "$example") left no output file"
done

# SameMajorVersion: another major version is refused.
next=$((major + 1))
if configure "$work/cmake-next" -DVARNEL_WANT_VERSION="$next.0" >"$work/next.log" 2>&1; then
  fail "find_package(varnel $next.0) accepted version $version"
fi
grep -q "varnelConfig.cmake" "$work/next.log" || { cat "$work/next.log"; fail "refusal of $next.0 not explained"; }

step "ok"
