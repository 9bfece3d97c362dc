#!/usr/bin/env bash
# Builds everything, makes the release package, and runs every test under Wine
# and Xvfb, in a Wine prefix made for this run and removed afterwards.
set -euo pipefail
source "$(dirname "$0")/common.sh"

korvane_build
bash "$KORVANE_ROOT/scripts/package.sh"
version=$(head -n 1 "$KORVANE_BUILD/release/version.txt")
export KORVANE_PACKAGE_ZIP=$KORVANE_BUILD/KorvanePortable_$version.zip
export KORVANE_RELEASE_EXE=$KORVANE_BUILD/release/bin/KorvanePortable.exe
if [ "$KORVANE_ARCH" = x86_64 ]; then
  # The packaged 32-bit launcher cannot run here: the package's drive test runs
  # the same sources built for x86-64 the way the release is built.
  korvane_build_release x86_64 "$KORVANE_BUILD/x86_64-release"
  export KORVANE_PACKAGE_LAUNCHER=$KORVANE_BUILD/x86_64-release/bin/KorvanePortable.exe
fi

run=$(mktemp -d /tmp/korvane-tests.XXXXXX)
cleanup() {
  korvane_wine_stop
  korvane_xvfb_stop
  rm -rf "$run"
}
trap cleanup EXIT

korvane_xvfb_start
korvane_wine_start "$run/prefix" "e:$run/drive-e:1a2b3c4d" "f:$run/drive-f:00c0ffee"

cd "$KORVANE_RUN_BUILD"
echo "Testing the $KORVANE_ARCH build under Wine."
ctest --output-on-failure -j"$(nproc)" "$@"
