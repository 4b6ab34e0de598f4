#!/bin/sh
# The desktop integration as a desktop sees it: installs the build into a
# temporary prefix, builds that prefix's MIME database with
# update-mime-database, and asks `xdg-mime query filetype` (the prefix's
# share first in XDG_DATA_DIRS, no desktop session) for the type of a file
# of each container, named as users name them, and unnamed where the
# format's magic allows; other files keep their types.  Checks the
# thumbnailer entry's keys and runs its Exec line on a file of each container.
#
# Usage: desktop_test.sh BUILD_DIR CMAKE SAMPLES_PROGRAM WITH_TOOL
# Skips (exit 77) with the reason when shared-mime-info or xdg-utils (with
# the `mimetype` program it runs outside a desktop session) are missing;
# fails instead when CI=true.
set -eu

build=$1 cmake=$2 samples=$3 with_tool=$4

missing=""
command -v update-mime-database >/dev/null 2>&1 || missing="$missing update-mime-database (shared-mime-info)"
command -v xdg-mime >/dev/null 2>&1 || missing="$missing xdg-mime (xdg-utils)"
command -v mimetype >/dev/null 2>&1 || missing="$missing mimetype (libfile-mimeinfo-perl)"
if [ -n "$missing" ]; then
  if [ "${CI:-}" = true ]; then
    echo "desktop_test: FAILED: missing:$missing" >&2
    exit 1
  fi
  echo "desktop_test: skipped: missing:$missing (run .ci/install-deps.sh as root)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-desktop-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
prefix=$work/prefix
status=0
fail() {
  echo "desktop_test: FAILED: $*" >&2
  status=1
}

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "desktop_test: FAILED: cmake --install" >&2; exit 1; }
xml=$prefix/share/mime/packages/varnel.xml
[ -f "$xml" ] || { echo "desktop_test: FAILED: no share/mime/packages/varnel.xml" >&2; exit 1; }
update-mime-database "$prefix/share/mime" || { echo "desktop_test: FAILED: update-mime-database" >&2; exit 1; }

# ---- The thumbnailer entry ------------------------------------------------------
entry=$prefix/share/thumbnailers/varnel.thumbnailer
if [ "$with_tool" = ON ]; then
  [ -f "$entry" ] || fail "no share/thumbnailers/varnel.thumbnailer"
  [ "$(sed -n 1p "$entry")" = "[Thumbnailer Entry]" ] || fail "the thumbnailer entry has no [Thumbnailer Entry] group"
  grep -qx 'TryExec=varnel' "$entry" || fail "the thumbnailer entry has no TryExec=varnel"
  grep -qx 'Exec=varnel thumbnail --size %s %i %o' "$entry" || fail "the thumbnailer's Exec line differs"
  # Every type the entry names is one the package defines, and back.
  listed=$(sed -n 's/^MimeType=//p' "$entry" | tr ';' '\n' | sed '/^$/d' | sort)
  defined=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$xml" | sort)
  [ -n "$listed" ] && [ "$listed" = "$defined" ] ||
    fail "the thumbnailer's MimeType ($listed) is not the package's types ($defined)"
elif [ -e "$entry" ]; then
  fail "the thumbnailer entry is installed without the tool it runs"
fi

# ---- Types of the files --------------------------------------------------------------
files=$work/files
mkdir -p "$files"
"$samples" "$files" || { echo "desktop_test: FAILED: $samples could not write the samples" >&2; exit 1; }
cp "$files/Sample.bin" "$files/macbinary"
cp "$files/Sample.hqx" "$files/binhex"
cp "$files/Sample.as" "$files/applesingle"
cp "$files/._Doc" "$files/appledouble"
cp "$files/Sample.pict" "$files/picture"
printf 'A plain text.\n' >"$files/Notes.txt"
printf '*BEGIN SPREADSHEETS\n' >"$files/Sheet.as"

# No desktop session: xdg-mime asks the generic `mimetype`, which reads the
# databases of XDG_DATA_DIRS (ours first) and of an empty XDG_DATA_HOME.
type_of() {
  env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u GNOME_DESKTOP_SESSION_ID -u KDE_FULL_SESSION \
    -u MATE_DESKTOP_SESSION_ID XDG_DATA_HOME="$work/home" \
    XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" \
    xdg-mime query filetype "$1" 2>/dev/null
}

expect() {
  got=$(type_of "$files/$1")
  if [ "$got" = "$2" ]; then
    echo "desktop_test: $1: $got"
  else
    fail "$1 is '$got', not $2"
  fi
}

expect Sample.bin application/x-macbinary
expect Classic.bin application/x-macbinary
expect Sample.hqx application/mac-binhex40
expect Sample.as application/applefile
expect ._Doc multipart/appledouble
expect Sample.pict image/x-pict
# By their magic alone (MacBinary I has none).
expect macbinary application/x-macbinary
expect binhex application/mac-binhex40
expect applesingle application/applefile
expect appledouble multipart/appledouble
expect picture image/x-pict
# What is not ours stays what it was.
expect Notes.txt text/plain
expect Sheet.as application/x-applix-spreadsheet

# ---- The thumbnailer, run as a file manager runs it ---------------------------------
# The Exec line with %s, %i and %o replaced (the paths quoted, as file
# managers quote them), run by the shell with the installed tool first on
# PATH; the result must be a PNG of at most the size asked for.
png_size() {
  # The IHDR chunk's width and height, big-endian, right after the signature.
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }'
}
if [ "$with_tool" = ON ]; then
  exec_line=$(sed -n 's/^Exec=//p' "$entry")
  for size in 128 48; do
    for name in Sample.bin Classic.bin Sample.hqx Sample.as ._Doc Sample.pict; do
      out=$work/thumb-$size-$name.png
      line=$(printf '%s\n' "$exec_line" | sed "s|%s|$size|; s|%i|'$files/$name'|; s|%o|'$out'|")
      if ! PATH="$prefix/bin:$PATH" sh -c "$line" >"$work/thumb.log" 2>&1; then
        cat "$work/thumb.log"
        fail "the thumbnailer failed on $name at $size"
        continue
      fi
      [ "$(od -An -c -j1 -N3 "$out" | tr -d ' ')" = PNG ] || { fail "$name at $size: not a PNG"; continue; }
      set -- $(png_size "$out")
      if [ "$1" -ge 1 ] && [ "$1" -le "$size" ] && [ "$2" -ge 1 ] && [ "$2" -le "$size" ]; then
        echo "desktop_test: thumbnail of $name at $size: $1 x $2"
      else
        fail "the thumbnail of $name at $size is $1 x $2"
      fi
    done
  done
fi

exit "$status"
