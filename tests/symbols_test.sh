#!/bin/sh
# libvarnel exports exactly what varnel.h declares, all under the version
# nodes VARNEL_1 to VARNEL_1.x; libtessel (the host utility stand-in)
# exports exactly what tessel.h declares, under TESSEL_1, and neither
# exports the other's names or the stand-in's test hooks.  libvarnel's
# soname and file name follow the package version, and so do the header's
# version macros.
#
# Usage: symbols_test.sh LIBRARY SOURCE_DIR NM READELF VERSION TESSEL_LIBRARY
#   LIBRARY is the built libvarnel.so.<version>, TESSEL_LIBRARY the built
#   libtessel.so.<its version>.
set -eu

library=$1 source=$2 nm=$3 readelf=$4 version=$5 tessel_library=$6
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

declared_names "$source/include/varnel.h" | sort >"$work/declared"
declared_names "$source/include/tessel.h" | sort >"$work/tessel_declared"
if grep -q '^UNPARSED' "$work/declared" "$work/tessel_declared"; then
  fail "declarations the header parser does not understand:"
  grep -h '^UNPARSED' "$work/declared" "$work/tessel_declared" >&2
fi
# The parser must see the whole interface, or the comparison proves little.
count=$(grep -vc '^UNPARSED' "$work/declared" || true)
[ "$count" -ge 60 ] || fail "only $count declarations found in varnel.h"
tessel_count=$(grep -vc '^UNPARSED' "$work/tessel_declared" || true)
[ "$tessel_count" -ge 30 ] || fail "only $tessel_count declarations found in tessel.h"
for probe in MacBin_Init MacBin_OpenR MacIOControl outfile; do
  grep -qx "$probe" "$work/declared" || fail "header parser missed $probe in varnel.h"
done
for probe in errexit fputm nint movb tessel_patch_pending; do
  grep -qx "$probe" "$work/tessel_declared" || fail "header parser missed $probe in tessel.h"
done
# ... and nothing that is not declared there (an inline function is no export).
grep -qx tessel_put_area "$work/tessel_declared" && fail "header parser took the inline tessel_put_area"

# Defined dynamic symbols, without the version node itself; newer binutils
# append @@VERSION to each name.
exported_names() {
  LC_ALL=C "$nm" -D --defined-only --with-symbol-versions "$1" >"$2" 2>/dev/null ||
    LC_ALL=C "$nm" -D --defined-only "$1" >"$2"
  awk '$2 != "A" { print $3 }' "$2" | sed 's/@.*//' | sort -u
}
exported_names "$library" "$work/nm" >"$work/exported"
exported_names "$tessel_library" "$work/tessel_nm" >"$work/tessel_exported"

if ! cmp -s "$work/declared" "$work/exported"; then
  fail "libvarnel's exports differ from varnel.h (< declared only, > exported only):"
  diff "$work/declared" "$work/exported" | grep '^[<>]' >&2 || true
fi
if ! cmp -s "$work/tessel_declared" "$work/tessel_exported"; then
  fail "libtessel's exports differ from tessel.h (< declared only, > exported only):"
  diff "$work/tessel_declared" "$work/tessel_exported" | grep '^[<>]' >&2 || true
fi

# The stand-in's test hooks (tessel/testing.h) belong to test programs only,
# and so does its fault injection.
hooks=$(cat "$work/exported" "$work/tessel_exported" | grep -E '^tessel_(fail|zone)_' || true)
[ -z "$hooks" ] || fail "test hooks exported: $(echo $hooks)"
if LC_ALL=C "$nm" -C "$tessel_library" 2>/dev/null | grep -q 'set_write_fault'; then
  fail "libtessel carries the fault injection of test builds"
fi
# libvarnel needs libtessel by name, so that hosts and the loader find it.
LC_ALL=C "$readelf" -d "$library" | grep -q 'NEEDED.*\[libtessel\.so\.' ||
  fail "libvarnel does not name libtessel as a needed library"
unversioned=$(awk '$2 != "A" && $3 !~ /@@?TESSEL_1$/ { print $3 }' "$work/tessel_nm")
if grep -q '@' "$work/tessel_nm" && [ -n "$unversioned" ]; then
  fail "libtessel exports without the TESSEL_1 version: $unversioned"
fi
tessel_soname=$(LC_ALL=C "$readelf" -d "$tessel_library" | sed -n 's/.*(SONAME).*\[\(.*\)\].*/\1/p')
[ "$tessel_soname" = "libtessel.so.1" ] || fail "libtessel's soname is '$tessel_soname', not libtessel.so.1"

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

for name in MacBin_Reset; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.4$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.4"
done

for name in MacBin_ListResources MacBin_CheckFile MacBin_FindFinderIcon; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.5$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.5"
done

for name in MacBin_FinderFlagNames MacBin_AttributeNames MacBin_ParseAttributes \
            MacBin_FormatDate MacBin_ParseDate MacBin_DateNow MacBin_ResourceToText MacBin_TextToResource \
            MacBin_DescribeResourceFields MacBin_DrawThumbnail MacBin_FindPictFilePicture \
            MacBin_DrawPictFileThumbnail MacBin_NewResampler MacBin_ResampleRow MacBin_FreeResampler \
            MacBin_CheckResourceData MacBin_CheckClose MacBin_FindUnclosedQuote MacBin_GetPictureInfo \
            MacBin_PixelsToSamples; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.6$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.6"
done
for name in MacBin_AddScriptLine MacBin_NewScript MacBin_GetScriptText MacBin_GetScriptFile MacBin_GetScriptNote \
            MacBin_FreeScript MacBin_ReadScriptHeader MacBin_QuoteWord MacBin_ResourceFileName MacBin_ContainerNamed \
            MacBin_ContainerName MacBin_DefaultMacName MacBin_SetImageFileReader MacBin_SetImageDirectory \
            MacBin_MakeIconFromFiles MacBin_MakeIconFromLine MacBin_Add_Icon MacBin_ConversionNotes \
            MacBin_FindingName MacBin_DecodesType MacBin_Add_FileData MacBin_ReadImageFile MacBin_EncodePNG \
            MacBin_OpenOutput MacBin_OutputPath MacBin_OutputWrittenInto MacBin_WriteOutput MacBin_CommitOutput \
            MacBin_DiscardOutput MacBin_OpenWOutput MacBin_SetStandardOutput MacBin_MakeTemporaryFile \
            MacBin_RemoveTemporaryFile MacBin_RemoveTemporaries; do
  grep -q "^[0-9a-f]* [A-Z] $name@@VARNEL_1\.7$" "$work/nm" ||
    ! grep -q '@' "$work/nm" || fail "$name is not under VARNEL_1.7"
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

[ "$status" = 0 ] && echo "symbols_test: ok ($count libvarnel and $tessel_count libtessel exports match their headers)"
exit "$status"
