#!/usr/bin/env bash
# Builds the 32-bit release launcher and writes build/KorvanePortable_<version>.zip
# (one folder, KorvanePortable, ready to be unzipped onto a drive), the installer
# build/KorvanePortable_<version>_English.paf.exe made from it with NSIS, and
# build/SHA256SUMS. Two runs with the same SOURCE_DATE_EPOCH and NSIS version
# give byte-identical files. With --unless-current (the tests' fixture) it does
# nothing when the package and the installer are newer than all they are made from.
set -euo pipefail
source "$(dirname "$0")/common.sh"

# By default the time of the last commit that changed what goes into the
# package (so new screenshots or test changes keep the build line); without a
# git checkout of this project (a source archive), the newest time among those
# files.
sources=(CMakeLists.txt LICENSE cmake core drive ui res package)
if [ "${1:-}" = --unless-current ] && [ -f "$KORVANE_BUILD/release/version.txt" ]; then
  version=$(head -n 1 "$KORVANE_BUILD/release/version.txt")
  package=$KORVANE_BUILD/KorvanePortable_$version.zip
  # A release launcher built after the package (make build) is not the one it holds.
  if [ -f "$package" ] && [ -f "$KORVANE_BUILD/KorvanePortable_${version}_English.paf.exe" ] &&
     [ -f "$KORVANE_BUILD/release/bin/KorvanePortable.exe" ] &&
     [ -z "$(cd "$KORVANE_ROOT" && find "${sources[@]}" docs/front-panel.png docs/installer-folder-page.png \
             scripts/package.sh "$KORVANE_BUILD/release/bin/KorvanePortable.exe" -newer "$package" | head -n 1)" ]; then
    echo "Package is current: $package"
    exit 0
  fi
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if [ "$(git -C "$KORVANE_ROOT" rev-parse --show-toplevel 2>/dev/null)" = "$(realpath "$KORVANE_ROOT")" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$KORVANE_ROOT" log -1 --format=%ct -- "${sources[@]}")
  else
    SOURCE_DATE_EPOCH=$(cd "$KORVANE_ROOT" && find "${sources[@]}" -type f -printf '%T@\n' | sort -n | tail -1 | cut -d. -f1)
  fi
fi
if ! [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]]; then
  echo "SOURCE_DATE_EPOCH must be a number of seconds, not '$SOURCE_DATE_EPOCH'" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH
echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"

bash "$KORVANE_ROOT/scripts/setup.sh"
release=$KORVANE_BUILD/release
korvane_build_release i686 "$release"
# Three numbers, then the four of the version resource.
{ read -r version; read -r version_text; } <"$release/version.txt"

stage=$release/stage
app=$stage/KorvanePortable
rm -rf "$stage"
mkdir -p "$app/Data" "$app/App/AppInfo" "$app/Other/Source"
cp "$release/bin/KorvanePortable.exe" "$app/"

# Text files with Windows line endings, for Notepad.
crlf() { sed 's/\r*$/\r/'; }
crlf <"$KORVANE_ROOT/package/Data-README.txt" >"$app/Data/README.txt"
crlf <"$KORVANE_ROOT/LICENSE" >"$app/Other/Source/LICENSE.txt"
sed "s/@VERSION@/$version/g" "$KORVANE_ROOT/package/Source-README.txt" | crlf >"$app/Other/Source/README.txt"
sed -e "s/@VERSION_TEXT@/$version_text/g" -e "s/@VERSION@/$version/g" "$KORVANE_ROOT/package/appinfo.ini.in" |
  crlf >"$app/App/AppInfo/appinfo.ini"

# The program's icon with the 256-colour images the format also asks for, and
# the PNG sizes a portable-apps menu looks for, as the release build rendered
# them from res/launcher.svg.
cp "$release/generated/appicon.ico" "$app/App/AppInfo/appicon.ico"
for size in 16 32 75 128 256; do
  cp "$release/generated/icon/icon_$size.png" "$app/App/AppInfo/appicon_$size.png"
done

# The user guide, with the pictures of the front panel and of the installer's
# folder page inline.
guide=$(<"$KORVANE_ROOT/package/help.html.in")
guide=${guide//@VERSION@/$version}
for shot in FRONT_PANEL:front-panel INSTALLER:installer-folder-page; do
  name=${shot%%:*} shot=$KORVANE_ROOT/docs/${shot#*:}.png
  read -r width height < <(/usr/bin/identify -format '%w %h\n' "$shot")
  guide=${guide//@${name}_WIDTH@/$width}
  guide=${guide//@${name}_HEIGHT@/$height}
  guide=${guide//@${name}_PNG@/$(base64 -w0 "$shot")}
done
printf '%s\n' "$guide" >"$app/help.html"

# Fixed order, times and permissions: the zip depends on the sources alone.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
package=$KORVANE_BUILD/KorvanePortable_$version.zip
rm -f "$package"
(cd "$stage" && find KorvanePortable -type f | LC_ALL=C sort | TZ=UTC zip -X -D -9 -q "$package" -@)
echo "Package: $package"

# The installer packs the same staged files; makensis keeps their times, which
# are SOURCE_DATE_EPOCH, and its stub's own time stamp is fixed.
installer=$KORVANE_BUILD/KorvanePortable_${version}_English.paf.exe
rm -f "$installer"
# Its own icon holds only the 16, 32 and 48 pixel images of the program's:
# the larger ones, which a window of the installer never shows, cost 40 KB.
program_icon=$release/generated/launcher.ico setup_icon=$release/setup.ico
entries=() offset=$((6 + 16 * 3))
for ((i = 0; i < $(od -An -tu2 -j4 -N2 "$program_icon"); i++)); do
  read -r width _ _ _ _ _ _ _ bytes0 bytes1 bytes2 bytes3 at0 at1 at2 at3 < <(od -An -tu1 -v -j$((6 + 16 * i)) -N16 "$program_icon")
  case $width in 16|32|48) entries+=("$i $((bytes0 | bytes1 << 8 | bytes2 << 16 | bytes3 << 24)) $((at0 | at1 << 8 | at2 << 16 | at3 << 24))") ;; esac
done
{
  printf '%b' "$(le16 0)$(le16 1)$(le16 ${#entries[@]})"
  for entry in "${entries[@]}"; do
    read -r i bytes at <<<"$entry"
    dd if="$program_icon" bs=1 skip=$((6 + 16 * i)) count=8 status=none
    printf '%b' "$(le32 "$bytes")$(le32 "$offset")"
    offset=$((offset + bytes))
  done
  for entry in "${entries[@]}"; do
    read -r i bytes at <<<"$entry"
    dd if="$program_icon" iflag=skip_bytes,count_bytes skip="$at" count="$bytes" status=none
  done
} >"$setup_icon"
# The last page's picture: the icon on white, 8 bits per pixel (no date in a BMP).
bitmap=$release/setup-finish.bmp
/usr/bin/convert -size 164x314 xc:white "$release/generated/icon/icon_128.png" -gravity center -composite \
                 -colors 64 -type Palette BMP3:"$bitmap"
# makensis keeps the time of each file it packs.
touch -d "@$SOURCE_DATE_EPOCH" "$bitmap"
# The longest path below the app's folder, which the installer measures against.
longest=$(cd "$app" && find . -mindepth 1 -printf '%P\n' | awk '{ if (length > n) n = length } END { print n }')
# What the folder page gives as the space required, in KiB.
size_kib=$(find "$app" -type f -printf '%s\n' | awk '{ n += $1 } END { print int((n + 1023) / 1024) }')
makensis -V2 -INPUTCHARSET UTF8 "-DSTAGE=$app" "-DVERSION=$version" "-DVERSION_TEXT=$version_text" \
         "-DICON=$setup_icon" "-DBITMAP=$bitmap" "-DOUTFILE=$installer" "-DOUTNAME=$(basename "$installer")" \
         "-DLONGEST_PATH=$longest" "-DSIZE_KIB=$size_kib" "$KORVANE_ROOT/package/installer.nsi"
# The installer's bytes depend on the NSIS version too.
makensis -VERSION >"$KORVANE_BUILD/makensis-version.txt"
(cd "$KORVANE_BUILD" && sha256sum "$(basename "$package")" "$(basename "$installer")" >SHA256SUMS)
echo "Installer: $installer ($(stat -c %s "$installer") bytes, $(( ($(stat -c %s "$installer") + 1023) / 1024 )) KiB; NSIS $(cat "$KORVANE_BUILD/makensis-version.txt"))"
