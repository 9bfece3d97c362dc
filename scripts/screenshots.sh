#!/usr/bin/env bash
# Takes the README's screenshots of the release launcher under Xvfb, in a
# prefix with Wine's own fonts: the front panel, the About box, the Clear the
# list confirmation, the front panel at 144 DPI, the installer's pages; then
# the user guide as a browser shows it, and the icon at every size it is
# rendered at.
set -euo pipefail
source "$(dirname "$0")/common.sh"

out=$KORVANE_ROOT/docs
bash "$KORVANE_ROOT/scripts/setup.sh" chromium fonts-dejavu-core
korvane_build_arch i686 "$KORVANE_BUILD"
# The launcher of the package, so that About shows the package's build line.
bash "$KORVANE_ROOT/scripts/package.sh" >/dev/null

mkdir -p "$out"
run=$(mktemp -d /tmp/korvane-shots.XXXXXX)
cleanup() {
  for harness in "$run/wine" "$run/wine-144dpi"; do
    bash "$KORVANE_HARNESS" cleanup "$harness"
  done
  rm -rf "$run"
}
trap cleanup EXIT
korvane_lay_out_drive "$run/drive"

# shoot HARNESS MODE FILE: starts the launcher, saves the window, closes the launcher.
shoot() {
  local wine=(bash "$KORVANE_HARNESS" wine "$1")
  "${wine[@]}" 'K:\KorvanePortable.exe' </dev/null >/dev/null 2>&1 &
  local launcher=$!
  korvane_screenshot "$1" "$2" "$3"
  "${wine[@]}" "$KORVANE_BUILD/bin/screenshot_driver.exe" close </dev/null >/dev/null 2>&1
  wait "$launcher" || true
  echo "saved $3"
}

mkdir -p "$run/stick"
bash "$KORVANE_HARNESS" setup "$run/wine" --lane --owner $$ "k:6b6f7276:$run/drive" "p:51c0ffee:$run/stick" >/dev/null
shoot "$run/wine" panel "$out/front-panel.png"
shoot "$run/wine" about "$out/about-box.png"
shoot "$run/wine" clear "$out/clear-confirmation.png"

# The installer's pages, started with no switches from the root of drive P:,
# a stick that holds nothing else, and clicked through as a user does: the
# folder page, Cancel's question (No), Install, the end of the install with
# its details, Next, the last page, Finish.
version=$(head -n 1 "$KORVANE_BUILD/release/version.txt")
title="Korvane Portable Edition $version Setup"
driver=(bash "$KORVANE_HARNESS" wine "$run/wine" "$KORVANE_BUILD/bin/screenshot_driver.exe")
# shoot_setup BUTTON FILE: the installer's window (or box) that has BUTTON, as a PNG.
shoot_setup() {
  local x y w h
  read -r x y w h < <("${driver[@]}" window "$title" "$1" 2>/dev/null | tr -d '\r')
  bash "$KORVANE_HARNESS" run "$run/wine" import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
  echo "saved $2"
}
cp "$KORVANE_BUILD/KorvanePortable_${version}_English.paf.exe" "$run/stick/"
bash "$KORVANE_HARNESS" wine "$run/wine" "P:\\KorvanePortable_${version}_English.paf.exe" </dev/null >/dev/null 2>&1 &
installer=$!
shoot_setup 1 "$out/installer-folder-page.png"
"${driver[@]}" click "$title" 2 >/dev/null 2>&1
shoot_setup 7 "$out/installer-cancel.png"
"${driver[@]}" click "$title" 7 >/dev/null 2>&1
sleep 0.5
"${driver[@]}" click "$title" 1 >/dev/null 2>&1
sleep 3
shoot_setup 1 "$out/installer-completed.png"
"${driver[@]}" click "$title" 1 >/dev/null 2>&1
sleep 1
shoot_setup 1 "$out/installer-finish-page.png"
"${driver[@]}" click "$title" 1 >/dev/null 2>&1
wait "$installer" || true
bash "$KORVANE_HARNESS" cleanup "$run/wine"

bash "$KORVANE_HARNESS" setup "$run/wine-144dpi" --lane --dpi 144 --owner $$ "k:6b6f7276:$run/drive" >/dev/null
shoot "$run/wine-144dpi" panel "$out/front-panel-144dpi.png"
bash "$KORVANE_HARNESS" cleanup "$run/wine-144dpi"

# The user guide from the package, with the new picture, as headless Chromium renders it.
bash "$KORVANE_ROOT/scripts/package.sh" >/dev/null
browser=$(mktemp -d /tmp/korvane-browser.XXXXXX)
chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update \
         --disable-sync --no-first-run --user-data-dir="$browser" --hide-scrollbars --window-size=1000,1400 \
         --screenshot="$out/user-guide.png" "file://$KORVANE_BUILD/release/stage/KorvanePortable/help.html" \
         </dev/null >/dev/null 2>&1
rm -rf "$browser"
echo "saved $out/user-guide.png"

# The icon at each rendered size, side by side at its real pixels, labelled.
icon_sizes=()
for size in 16 20 24 32 40 48 64 75 128 256; do
  width=$((size < 40 ? 40 : size))
  icon_sizes+=( "(" "$KORVANE_BUILD/generated/icon/icon_$size.png" -background white -gravity south
                -extent "${width}x256" "(" -size "${width}x24" -font DejaVu-Sans -pointsize 13 -gravity center
                "label:$size" ")" -append -bordercolor white -border 10 ")" )
done
/usr/bin/convert "${icon_sizes[@]}" +append -depth 8 -strip -define png:exclude-chunks=date,time "$out/icon-sizes.png"
echo "saved $out/icon-sizes.png"

# What each picture was taken from, for the check that tells a stale one.
bash "$KORVANE_ROOT/scripts/picture-sources.sh" >"$out/pictures.sha256"
echo "saved $out/pictures.sha256"
