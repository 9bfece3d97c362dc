#!/usr/bin/env bash
# Builds the release launcher and the stand-ins, lays out a demo drive and runs
# the launcher from it under Wine (through the 32-bit lane where the kernel
# cannot run 32-bit code): on your display if there is one, else under Xvfb
# with a screenshot.
set -euo pipefail
source "$(dirname "$0")/common.sh"

drive=$KORVANE_BUILD/demo-drive
if [ -z "${KORVANE_INSIDE_LANE:-}" ]; then
  korvane_build_arch i686 "$KORVANE_BUILD"
  korvane_build_release i686 "$KORVANE_BUILD/release"
  rm -rf "$drive"
  korvane_lay_out_drive "$drive"
  echo "Demo drive: $drive (mapped as K: in the demo's Wine prefix)"
  KORVANE_INSIDE_LANE=1 korvane_in_32bit_lane bash "$0" "$@"
  exit
fi

headless=
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  korvane_xvfb_start 1280x1024
fi
trap 'korvane_wine_stop; korvane_xvfb_stop' EXIT
korvane_wine_start "$KORVANE_BUILD/wine-demo" "k:$drive:6b6f7276"

if [ -z "$headless" ]; then
  echo "Starting K:\\KorvanePortable.exe on $DISPLAY. The stand-in viewer or server shows what it was given."
  "$KORVANE_WINE" 'K:\KorvanePortable.exe' </dev/null >/dev/null 2>&1 || true
  echo "The launcher has ended."
else
  "$KORVANE_WINE" 'K:\KorvanePortable.exe' </dev/null >/dev/null 2>&1 &
  launcher=$!
  shot=$KORVANE_BUILD/demo-front-panel.png
  korvane_screenshot panel "$shot"
  "$KORVANE_WINE" "$KORVANE_BUILD/bin/screenshot_driver.exe" close </dev/null >/dev/null 2>&1
  wait "$launcher" || true
  echo "No display: the launcher ran under Xvfb. Screenshot of its front panel: $shot"
fi
