#!/usr/bin/env bash
# Builds the 32-bit launcher, the stand-ins, the tests and the benchmarks into build/.
set -euo pipefail
source "$(dirname "$0")/common.sh"
korvane_build_arch i686 "$KORVANE_BUILD" "$@"
echo "Launcher: $KORVANE_BUILD/bin/KorvanePortable.exe"
