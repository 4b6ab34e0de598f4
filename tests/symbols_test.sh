#!/bin/sh
# The shared library exports exactly what the two public headers declare, all
# under the version nodes VARNEL_1, VARNEL_1.1, VARNEL_1.2, VARNEL_1.3 and VARNEL_1.4; its soname and file name follow the
# package version, and so do the header's version macros.
#
# Usage: symbols_test.sh LIBRARY SOURCE_DIR NM READELF VERSION
#   LIBRARY is the built libvarnel.so.<version>.
set -eu

library=$1 source=$2 nm=$3 readelf=$4 version=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-symbols-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() {
  echo "symbols_test: FAILED: $*" >&2
  status=1
}

# Function names and extern globals declared at file level of a C header.
# Comments, preprocessor lines and the bodies of records and enums are
# dropped; what is left splits into declarations at ';'.
declared_names() {
  awk '
    { text = text $0 "\n" }
    END {
      # comments
      out = ""
      while ((i = index(text, "/*")) > 0) {
        out = out substr(text, 1, i - 1)
        rest = substr(text, i + 2)
        j = index(rest, "*/")
        text = (j > 0) ? substr(rest, j + 2) : ""
      }
      text = out text
      n = split(text, lines, "\n")
      text = ""
      for (k = 1; k <= n; ++k) {
        line = lines[k]
        sub(/\/\/.*/, "", line)
        if (line ~ /^[ \t]*#/) continue
        if (line ~ /^[ \t]*extern[ \t]+"C"[ \t]*\{/) continue
        text = text line " "
      }
      gsub(/__attribute__[ \t]*\(\([^)]*\)\)/, "", text)
      # keep only what lies outside braces; a function body (braces right
      # after a closing parenthesis) ends its statement as a semicolon does
      depth = 0
      flat = ""
      body = 0
      for (k = 1; k <= length(text); ++k) {
        c = substr(text, k, 1)
        if (c == "{") {
          if (depth == 0) {
            head = flat
            sub(/[ \t\n]+$/, "", head)
            body = (head ~ /\)$/)
          }
          ++depth
          continue
        }
        if (c == "}") {
          if (depth > 0) --depth
          if (depth == 0 && body) { flat = flat ";"; body = 0 }
          continue
        }
        if (depth == 0) flat = flat c
      }
      m = split(flat, statements, ";")
      for (k = 1; k <= m; ++k) {
        s = statements[k]
        gsub(/[ \t\n]+/, " ", s)
        sub(/^ /, "", s)
        # records, and inline functions (never exported)
        if (s == "" || s ~ /^(typedef|struct|enum|union|static) /) continue
        if ((p = index(s, "(")) > 0) {
          head = substr(s, 1, p - 1)
          sub(/ +$/, "", head)
          if (match(head, /[A-Za-z_][A-Za-z0-9_]*$/)) print substr(head, RSTART, RLENGTH)
        } else if (s ~ /^extern /) {
          sub(/\[.*$/, "", s)
          sub(/ +$/, "", s)
          if (match(s, /[A-Za-z_][A-Za-z0-9_]*$/)) print substr(s, RSTART, RLENGTH)
        } else {
          print "UNPARSED: " s
        }
      }
    }' "$@"
}

declared_names "$source/include/varnel.h" "$source/include/tessel.h" | sort >"$work/declared"
if grep -q '^UNPARSED' "$work/declared"; then
  fail "declarations the header parser does not understand:"
  grep '^UNPARSED' "$work/declared" >&2
fi
# The parser must see the whole interface, or the comparison proves little.
count=$(grep -vc '^UNPARSED' "$work/declared" || true)
[ "$count" -ge 80 ] || fail "only $count declarations found in the headers"
for probe in MacBin_Init MacBin_OpenR MacIOControl outfile errexit fputm tessel_patch_pending; do
  grep -qx "$probe" "$work/declared" || fail "header parser missed $probe"
done
# ... and nothing that is not declared there (an inline function is no export).
grep -qx tessel_put_area "$work/declared" && fail "header parser took the inline tessel_put_area"

# Defined dynamic symbols, without the version node itself; newer binutils
# append @@VERSION to each name.
LC_ALL=C "$nm" -D --defined-only --with-symbol-versions "$library" >"$work/nm" 2>/dev/null ||
  LC_ALL=C "$nm" -D --defined-only "$library" >"$work/nm"
awk '$2 != "A" { print $3 }' "$work/nm" | sed 's/@.*//' | sort -u >"$work/exported"

if ! cmp -s "$work/declared" "$work/exported"; then
  fail "exports differ from the headers (< declared only, > exported only):"
  diff "$work/declared" "$work/exported" | grep '^[<>]' >&2 || true
fi

# The stand-in's test hooks (tessel/testing.h) belong to test programs only.
hooks=$(grep -E '^tessel_(fail|zone)_' "$work/exported" || true)
[ -z "$hooks" ] || fail "test hooks exported: $(echo $hooks)"

# Every export carries a version node: VARNEL_1 for what 1.0 had, the node
# of the minor version that added it for the rest.
unversioned=$(awk '$2 != "A" && $3 !~ /@@?VARNEL_1(\.[0-9]+)?$/ { print $3 }' "$work/nm")
if grep -q '@' "$work/nm" && [ -n "$unversioned" ]; then
  fail "exports without a VARNEL_1.x version: $unversioned"
fi
for name in MacBin_GetFileInfo MacBin_ReadDataFork MacBin_ReadResourceData MacBin_UnpackBits; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.1$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.1"
done
for name in MacBin_SetDates MacBin_SetResourceFork CT_to_ICN_masked MacBin_DecodeResource \
            MacBin_DecodePicture MacBin_FreePixels MacBin_IdentifyFile MacBin_ReadResourceFork \
            MacBin_SetNextAttributes; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.2$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.2"
done

for name in MacBin_AddResourceData MacBin_SetFinderResources MacBin_SetMapAttributes \
            MacBin_SetFinderInfoBytes MacBin_GetFinderInfoBytes MacBin_GetResourceName \
            MacBin_GetResourceCompression MacBin_ReadResourceUncompressed \
            MacBin_SetPictureMemoryLimit MacBin_AddFontFile MacBin_ClearFonts; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.3$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.3"
done
for name in MacBin_EncodeResource; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.4$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.4"
done

for name in MacBin_LastError MacBin_LastSystemError MacBin_ClearError MacBin_Version \
            MacBin_UTF8ToMacRoman MacBin_MacRomanToUTF8 MacBin_DescribeResource MacBin_CheckResourceLine; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.4$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.4"
done

# Soname and file name from the package version.
major=${version%%.*}
soname=$(LC_ALL=C "$readelf" -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\].*/\1/p')
[ "$soname" = "libvarnel.so.$major" ] || fail "soname is '$soname', not libvarnel.so.$major"
case "$library" in
  *"/libvarnel.so.$version") ;;
  *) fail "library file $library is not libvarnel.so.$version" ;;
esac

# The header's version macros agree with each other and with the package.
macro() { sed -n "s/^#define $1 \\(.*\\)$/\\1/p" "$source/include/varnel.h"; }
v_major=$(macro VARNEL_VERSION_MAJOR)
v_minor=$(macro VARNEL_VERSION_MINOR)
v_patch=$(macro VARNEL_VERSION_PATCH)
v_string=$(macro VARNEL_VERSION_STRING)
v_num=$(macro VARNEL_VERNUM)
[ "$v_string" = "\"$version\"" ] || fail "VARNEL_VERSION_STRING $v_string, package $version"
[ "$v_major.$v_minor.$v_patch" = "$version" ] ||
  fail "VARNEL_VERSION_MAJOR/MINOR/PATCH give $v_major.$v_minor.$v_patch, package $version"
[ "$((v_num))" = "$((v_major * 65536 + v_minor * 256 + v_patch))" ] ||
  fail "VARNEL_VERNUM $v_num does not encode $v_major.$v_minor.$v_patch"

[ "$status" = 0 ] && echo "symbols_test: ok ($count exported names match the headers)"
exit "$status"
