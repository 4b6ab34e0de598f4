#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when they are
# missing and we may (root with apt-get).  Otherwise it only names what is
# missing: tests that need a missing peer program skip with a reason (or fail
# when CI=true).
#   install-deps.sh        what `make test` needs
#   install-deps.sh --ci   that, plus the cross compilers, qemu and valgrind
set -uo pipefail

packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev googletest libbenchmark-dev
          libpng-dev zlib1g-dev nlohmann-json3-dev pkg-config libclang-rt-14-dev
          macutils hfsutils imagemagick unar netpbm valgrind)
if [ "${1:-}" = "--ci" ]; then
  packages+=(qemu-user g++-s390x-linux-gnu g++-i686-linux-gnu)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" && exit 0
  echo "deps: apt-get could not install everything" >&2
  exit 1
fi
echo "deps: missing Debian packages (install them as root): ${missing[*]}" >&2
exit 0
