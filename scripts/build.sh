#!/usr/bin/env bash
# Builds the 32-bit test build (launcher, stand-ins, tests, benchmarks) into
# build/, the x86-64 test build into build/x86_64/, and the launcher as it
# ships into build/release/. Arguments go to CMake for the 32-bit build.
set -euo pipefail
source "$(dirname "$0")/common.sh"
korvane_build_arch i686 "$KORVANE_BUILD" "$@"
korvane_build_arch x86_64 "$(korvane_test_build x86_64)"
korvane_build_release i686 "$KORVANE_BUILD/release"
echo "Launcher as it ships: $KORVANE_BUILD/release/bin/KorvanePortable.exe"
echo "Test build's launcher: $KORVANE_BUILD/bin/KorvanePortable.exe"
