#!/usr/bin/env bash
# Builds the release launcher and the stand-ins, lays out a demo drive and runs
# the launcher from it under Wine (through the 32-bit lane where the kernel
# cannot run 32-bit code): on your display if there is one, else under Xvfb
# with a screenshot.
set -euo pipefail
source "$(dirname "$0")/common.sh"

drive=$KORVANE_BUILD/demo-drive
korvane_build_arch i686 "$KORVANE_BUILD"
korvane_build_release i686 "$KORVANE_BUILD/release"
rm -rf "$drive"
korvane_lay_out_drive "$drive"
echo "Demo drive: $drive (mapped as K: in the demo's Wine prefix)"

harness=$KORVANE_BUILD/wine-demo
display=
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  display=--display
fi
trap 'bash "$KORVANE_HARNESS" cleanup "$harness"' EXIT
bash "$KORVANE_HARNESS" setup "$harness" --lane $display --owner $$ "k:6b6f7276:$drive" >/dev/null
wine() { bash "$KORVANE_HARNESS" wine "$harness" "$@" </dev/null >/dev/null 2>&1; }

if [ -n "$display" ]; then
  echo "Starting K:\\KorvanePortable.exe on $DISPLAY. The stand-in viewer or server shows what it was given."
  wine 'K:\KorvanePortable.exe' || true
  echo "The launcher has ended."
else
  wine 'K:\KorvanePortable.exe' &
  launcher=$!
  shot=$KORVANE_BUILD/demo-front-panel.png
  korvane_screenshot "$harness" panel "$shot"
  wine "$KORVANE_BUILD/bin/screenshot_driver.exe" close
  wait "$launcher" || true
  echo "No display: the launcher ran under Xvfb. Screenshot of its front panel: $shot"
fi
