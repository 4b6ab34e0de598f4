#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when they are
# missing and we may (root with apt-get).  Otherwise it only names what is
# missing: tests that need a missing peer program skip with a reason (or fail
# when CI=true).
#   install-deps.sh        what `make test` needs
#   install-deps.sh --ci   that, plus the cross compilers, qemu and valgrind
#   install-deps.sh --demo only what `make demo` needs (the compiler, make,
#                          CMake, libpng and nlohmann-json); when they are
#                          missing and it may not install them it prints one
#                          line naming them and the command, and fails, so
#                          that `make demo` stops before CMake does
#
# picttoppm: Debian's netpbm package leaves it out, so when no picttoppm is
# on PATH it is built from Debian's netpbm source package (one compiler call
# against libnetpbm-dev) and installed as /usr/local/bin/picttoppm.  The
# source comes from the archive the netpbm package is installed from; when
# that archive has no deb-src entry yet, one is added as
# /etc/apt/sources.list.d/varnel-src.sources (same URI and suite).  A failed
# build fails this script under --ci and is only a warning otherwise.
# Everything present: no apt-get call, nothing built.
set -uo pipefail

ci=0
demo=0
[ "${1:-}" = "--ci" ] && ci=1
[ "${1:-}" = "--demo" ] && demo=1

# What `make demo` builds with: the library, the tool (libpng, nlohmann-json)
# and the example.
demo_packages=(g++ make cmake libpng-dev nlohmann-json3-dev)
packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev googletest libbenchmark-dev
          libpng-dev zlib1g-dev nlohmann-json3-dev pkg-config libclang-rt-14-dev
          macutils hfsutils imagemagick unar netpbm libnetpbm-dev valgrind
          python3 python3-pytest python3-pil python3-setuptools python3-pip
          shared-mime-info xdg-utils libfile-mimeinfo-perl)
if [ "$ci" = 1 ]; then
  packages+=(qemu-user g++-s390x-linux-gnu g++-i686-linux-gnu)
fi
if [ "$demo" = 1 ]; then
  packages=("${demo_packages[@]}")
fi

can_install=0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  can_install=1
fi
export DEBIAN_FRONTEND=noninteractive

install_packages() {
  local missing=() p installed
  # Not Debian: nothing to ask; CMake names what it cannot find.
  command -v dpkg-query >/dev/null 2>&1 || return 0
  # One dpkg-query for all: the script runs before every `make test`.
  installed=$(dpkg-query -W -f='${Status} ${Package}\n' "${packages[@]}" 2>/dev/null |
                awk '$1 == "install" && $2 == "ok" && $3 == "installed" { print $4 }')
  for p in "${packages[@]}"; do
    grep -qxF "$p" <<<"$installed" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  if [ "$can_install" = 1 ]; then
    echo "deps: installing ${missing[*]}"
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" && return 0
    echo "deps: apt-get could not install everything" >&2
    return 1
  fi
  if [ "$demo" = 1 ]; then
    echo "deps: make demo needs the Debian packages ${missing[*]}: run 'sudo apt-get install ${missing[*]}' (or make demo as root), then make demo again" >&2
    return 1
  fi
  echo "deps: missing Debian packages (install them as root): ${missing[*]}" >&2
  return 0
}

# The archive the netpbm binary package is installed from, as
# "URI SUITE COMPONENT" (from `apt-cache policy`'s version table).
netpbm_archive() {
  apt-cache policy netpbm 2>/dev/null |
    awk '$NF == "Packages" && $2 ~ /^[a-z]+:\/\// { split($3, s, "/"); print $2, s[1], s[2]; exit }'
}

# Adds a deb-src entry for the archive netpbm comes from, unless apt already
# has one for that archive and suite, then fetches the indexes (the caller
# found no source package, so they are missing or stale).  Returns nonzero
# when it cannot tell where netpbm comes from.
ensure_source_entry() {
  local archive uri suite component signed_by="" file
  archive=$(netpbm_archive)
  read -r uri suite component <<<"$archive"
  if [ -z "${uri:-}" ] || [ -z "${suite:-}" ]; then
    echo "deps: cannot tell which archive the netpbm package comes from" >&2
    return 1
  fi
  # shellcheck disable=SC2016  # apt's own $(FIELD) placeholders, not the shell's
  if apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Sources' 2>/dev/null |
       grep -qxF "${uri%/}/ $suite"; then
    apt-get update -qq
    return
  fi
  # The key the binary entry is checked with, when it names one.
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] || continue
    if grep -qE "^URIs:.*[[:space:]]${uri%/}/?([[:space:]]|$)" "$file"; then
      signed_by=$(grep -m1 '^Signed-By:' "$file")
      break
    fi
  done
  echo "deps: adding a deb-src entry for $uri $suite"
  {
    echo "Types: deb-src"
    echo "URIs: $uri"
    echo "Suites: $suite"
    echo "Components: ${component:-main}"
    [ -n "$signed_by" ] && echo "$signed_by"
  } >/etc/apt/sources.list.d/varnel-src.sources
  apt-get update -qq
}

# Builds picttoppm from the netpbm source package into /usr/local/bin.
build_picttoppm() {
  local source_package work status
  source_package=$(dpkg-query -W -f='${source:Package}' libnetpbm-dev 2>/dev/null)
  source_package=${source_package:-netpbm-free}
  if ! apt-cache showsrc "$source_package" 2>/dev/null | grep -q '^Package:'; then
    ensure_source_entry || return 1
  fi
  work=$(mktemp -d) || return 1
  # apt-get fetches as its own unprivileged user, which must write here.
  chown _apt "$work" 2>/dev/null
  # One && chain: set -e would not apply here, as the caller tests the result.
  (
    cd "$work" &&
      apt-get source --download-only -qq "$source_package" >/dev/null &&
      tar xf "$source_package"_*.orig.tar.* &&
      cd "$source_package"-*/ &&
      gcc -O2 -I/usr/include/netpbm -Ilib/util -Ilib converter/ppm/picttoppm.c -lnetpbm -o picttoppm &&
      # A PICT that ppmtopict wrote must come back as the same PPM.
      printf 'P6\n8 1\n255\n' >check.ppm &&
      printf '\377\0\0\0\377\0\0\0\377\022\064\126\377\377\377\0\0\0\377\377\0\001\002\003' >>check.ppm &&
      ppmtopict check.ppm >check.pict 2>/dev/null &&
      ./picttoppm check.pict 2>/dev/null | cmp -s - check.ppm &&
      install -m 755 picttoppm /usr/local/bin/picttoppm
  )
  status=$?
  rm -rf "$work"
  return "$status"
}

provide_picttoppm() {
  command -v picttoppm >/dev/null 2>&1 && return 0
  if [ "$can_install" = 0 ]; then
    echo "deps: picttoppm is missing (run this script as root to build it)" >&2
    return 0
  fi
  echo "deps: building picttoppm from Debian's netpbm source into /usr/local/bin"
  build_picttoppm && return 0
  if [ "$ci" = 1 ]; then
    echo "deps: ERROR: could not build picttoppm" >&2
    return 1
  fi
  echo "deps: warning: could not build picttoppm; the tests that compare with it skip" >&2
  return 0
}

install_packages || exit 1
[ "$demo" = 1 ] && exit 0
provide_picttoppm || exit 1
exit 0
