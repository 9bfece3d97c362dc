#!/usr/bin/env bash
# The release package as a user gets it: it holds exactly the listed files,
# its guide passes an HTML checker, and unzipped onto a test drive with the
# stand-ins in its Data folder it works (tests/PackageTests.cpp).
# Arguments: version, Wine command, package_tests.exe, folder of the test build
# (for its stand-ins). The packaged launcher itself is what runs. The package comes from
# KORVANE_PACKAGE_ZIP, which scripts/run-tests.sh sets after making it.
set -u
version=$1 wine=$2 tests=$3 bin=$4
zip=${KORVANE_PACKAGE_ZIP:-}
if [ -z "$zip" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "skipped: run through scripts/run-tests.sh, which makes the package and the test drives"
  exit 77
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$(basename "$zip")" = "KorvanePortable_$version.zip" ] || fail "package named $(basename "$zip")"
expected="KorvanePortable/App/AppInfo/appicon.ico
KorvanePortable/App/AppInfo/appicon_128.png
KorvanePortable/App/AppInfo/appicon_16.png
KorvanePortable/App/AppInfo/appicon_256.png
KorvanePortable/App/AppInfo/appicon_32.png
KorvanePortable/App/AppInfo/appicon_75.png
KorvanePortable/App/AppInfo/appinfo.ini
KorvanePortable/Data/README.txt
KorvanePortable/KorvanePortable.exe
KorvanePortable/Other/Source/LICENSE.txt
KorvanePortable/Other/Source/README.txt
KorvanePortable/help.html"
held=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$held" = "$expected" ] || fail "the package holds:"$'\n'"$held"

guide=$(unzip -p "$zip" KorvanePortable/help.html)
tidy -q -e <<<"$guide" || fail "help.html does not pass tidy"
# Self-contained: nothing to fetch but inline pictures.
grep -qiE '(src|href)="(https?:|//)|<link ' <<<"$guide" && fail "help.html refers to outside files"
grep -q "Version $version<" <<<"$guide" || fail "help.html does not give version $version"

drive=$(readlink -f "$WINEPREFIX/dosdevices/e:")
rm -rf "$drive/package" "$drive/pkgdrive"
unzip -q "$zip" -d "$drive/package"
# True-colour icons: each PNG RGBA at its size; the .ico with 16, 32 and 48
# pixels in 256 colours, then eight sizes at 32 bits per pixel, 256 as PNG.
icons=$drive/package/KorvanePortable/App/AppInfo
for size in 16 32 75 128 256; do
  [ "$(identify -format '%w %h %[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]' "$icons/appicon_$size.png")" = \
    "$size $size 6 8" ] || fail "appicon_$size.png is not $size pixels of 8-bit RGBA"
done
# The count of images, then each one's bits per pixel, from the .ico's directory.
ico=$(identify -format '%w:%m ' "$icons/appicon.ico"; for at in 4 $(seq 12 16 172); do od -An -tu2 -j"$at" -N2 "$icons/appicon.ico"; done)
[ "$(echo $ico)" = "16:ICO 32:ICO 48:ICO 16:ICO 20:ICO 24:ICO 32:ICO 40:ICO 48:ICO 64:ICO 256:PNG 11 8 8 8 32 32 32 32 32 32 32 32" ] ||
  fail "appicon.ico does not hold 16, 32, 48 pixels at 8 bits, then 16 to 64 and 256 (as PNG) at 32: $(echo $ico)"
mkdir -p "$drive/pkgdrive"
cp -r "$drive/package/KorvanePortable" "$drive/pkgdrive/"
cp "$bin/standins/dodivarav.exe" "$bin/standins/WinZRX.exe" "$drive/pkgdrive/KorvanePortable/Data/"
# GoogleTest's summary too: under Wine a program ends with status 0 when its server goes.
out=$(KORVANE_PACKAGE='E:\package\KorvanePortable' KORVANE_PACKAGE_DRIVE='E:\pkgdrive\KorvanePortable' \
  "$wine" "$tests" </dev/null 2>&1) || fail "package_tests"
printf '%s\n' "$out"
grep -qE '^\[  PASSED  \] [1-9]' <<<"$out" && ! grep -qE '^\[  (FAILED  |SKIPPED )\]' <<<"$out" ||
  fail "package_tests did not run all its tests"
rm -rf "$drive/package" "$drive/pkgdrive"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
