#!/usr/bin/env bash
# Builds the launcher, the stand-ins, the tests and the benchmarks into build/.
set -euo pipefail
source "$(dirname "$0")/common.sh"
korvane_build "$@"
echo "Launcher: $KORVANE_BUILD/bin/KorvanePortable.exe"
