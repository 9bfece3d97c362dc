#!/usr/bin/env bash
# Builds everything, makes the release package, and runs every test under Wine
# and Xvfb, in a Wine prefix made for this run and removed afterwards.
#
# Two lanes: i686 tests the launcher that ships, the package's own 32-bit
# KorvanePortable.exe, with the 32-bit test programs (through the 32-bit lane
# where the kernel cannot run 32-bit code); x86_64 tests the same sources built
# for x86-64. Both run by default; KORVANE_ARCH=i686 or x86_64 runs one.
# Arguments go to ctest.
set -euo pipefail
source "$(dirname "$0")/common.sh"

lanes=${KORVANE_ARCH:-i686 x86_64}
if [ -z "${KORVANE_INSIDE_LANE:-}" ]; then
  for arch in $lanes; do
    korvane_build_arch "$arch" "$(korvane_test_build "$arch")"
  done
  # The tests replace this shell, so that a stop sent to it reaches them.
  export KORVANE_INSIDE_LANE=1
  if [[ " $lanes " == *" i686 "* ]]; then
    bash "$KORVANE_ROOT/scripts/package.sh"
    korvane_in_32bit_lane --exec bash "$0" "$@"
    exit 1
  fi
  exec bash "$0" "$@"
fi

run=$(mktemp -d /tmp/korvane-tests.XXXXXX)
ctest_pid=
cleanup() {
  # CTest runs in a process group of its own: its tests go with it.
  [ -z "$ctest_pid" ] || kill -TERM -- "-$ctest_pid" 2>/dev/null || true
  korvane_wine_stop
  korvane_xvfb_stop
  rm -rf "$run"
}
trap cleanup EXIT
# Ctrl-C or a stop ends the run at once: CTest would go on to the next test.
trap 'exit 130' INT
trap 'exit 143' TERM

# Wine takes its ANSI code page from the locale: 1252 for this one, whatever
# the machine's, since the tests check what the best fit of 1252 does.
export LC_ALL=C.UTF-8
korvane_xvfb_start
korvane_wine_start "$run/prefix" "e:$run/drive-e:1a2b3c4d" "f:$run/drive-f:00c0ffee"

# A Windows path of a file here, through Wine's Z: drive.
windows_path() { local path; path=$(realpath "$1"); echo "Z:${path//\//\\}"; }

status=0
for arch in $lanes; do
  build=$(korvane_test_build "$arch")
  if [ "$arch" = i686 ]; then
    version=$(head -n 1 "$KORVANE_BUILD/release/version.txt")
    export KORVANE_PACKAGE_ZIP=$KORVANE_BUILD/KorvanePortable_$version.zip
    export KORVANE_RELEASE_EXE=$KORVANE_BUILD/release/bin/KorvanePortable.exe
    rm -f "$KORVANE_BUILD/silent-install-seconds.txt"
    launcher=$KORVANE_RELEASE_EXE
  else
    launcher=$build/bin/KorvanePortable.exe
  fi
  # Every test program that starts the launcher starts this file.
  KORVANE_LAUNCHER=$(windows_path "$launcher")
  export KORVANE_LAUNCHER
  echo "== $arch lane: launcher under test $launcher"
  echo "   SHA-256 $(sha256sum "$launcher" | cut -d' ' -f1)"
  # No test may hang the run: each ends within five minutes.
  set -m
  (cd "$build" && exec ctest --output-on-failure --timeout 300 -j"$(nproc)" "$@") &
  ctest_pid=$!
  set +m
  wait "$ctest_pid" || status=1
  ctest_pid=
  if [ "$arch" = i686 ] && [ -f "$KORVANE_BUILD/silent-install-seconds.txt" ]; then
    echo "Installer: $(stat -c %s "${KORVANE_PACKAGE_ZIP%.zip}_English.paf.exe") bytes; a fresh silent install took $(<"$KORVANE_BUILD/silent-install-seconds.txt") s"
  fi
done
exit $status
