#!/usr/bin/env bash
# Checks the shipped launcher as built: a stripped 32-bit GUI program with
# ASLR, DEP and terminal-server awareness that imports only system DLLs, and
# the very file that the package holds (KORVANE_PACKAGE_ZIP).
# The launcher comes from the argument or from KORVANE_RELEASE_EXE, and the
# package from KORVANE_PACKAGE_ZIP, which the test's properties set.
set -u
exe=${1:-${KORVANE_RELEASE_EXE:-}}
if [ -z "$exe" ]; then
  echo "skipped: run with ctest, whose properties name the release launcher"
  exit 77
fi
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
headers=$("$objdump" -p "$exe")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

grep -q 'file format pei-i386' <<<"$headers" || fail "not a 32-bit PE image"
grep -qE '^Magic\s+010b' <<<"$headers" || fail "not PE32"
grep -qE '^Subsystem\s+00000002' <<<"$headers" || fail "not a GUI subsystem program"

flags=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
(( 16#$flags & 0x0040 )) || fail "no dynamic base (ASLR)"
(( 16#$flags & 0x0100 )) || fail "not NX compatible (DEP)"
(( 16#$flags & 0x8000 )) || fail "not terminal-server aware"
characteristics=$(awk '/^Characteristics/ {print $2; exit}' <<<"$headers")
(( characteristics & 0x0001 )) && fail "relocations stripped: ASLR cannot move it"

# Only DLLs that every Windows has in its system folder, so none can be planted beside it.
allowed='^(kernel32|user32|msvcrt|gdi32|advapi32|comctl32|shell32|ole32|version)\.dll$'
while read -r dll; do
  [[ ${dll,,} =~ $allowed ]] || fail "imports $dll, which is not a system DLL"
done < <(awk '/DLL Name:/ {print $3}' <<<"$headers")

"$objdump" -h "$exe" | grep -q '\.debug' && fail "debug sections left in"
"$objdump" -t "$exe" 2>/dev/null | grep -q 'SYMBOL TABLE' && \
  [ "$("$objdump" -t "$exe" | grep -c '^\[')" -gt 0 ] && fail "symbols left in"

# The launcher that the tests start is the package's, byte for byte.
zip=${KORVANE_PACKAGE_ZIP:-}
tested=$(sha256sum <"$exe" | cut -d' ' -f1)
echo "launcher under test: $exe"
echo "SHA-256: $tested"
if [ -n "$zip" ]; then
  packaged=$(unzip -p "$zip" KorvanePortable/KorvanePortable.exe | sha256sum | cut -d' ' -f1)
  echo "package's KorvanePortable.exe: $packaged"
  [ "$packaged" = "$tested" ] || fail "the package holds another launcher than the one under test"
fi
echo "imports: $(awk '/DLL Name:/ {printf "%s ", $3}' <<<"$headers")"
echo "size: $(stat -c %s "$exe") bytes"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
