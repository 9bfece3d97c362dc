#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine and Xvfb, and prints their figures.
# They run as native code: the 32-bit build where this kernel runs 32-bit
# code, else the x86-64 build (timings under emulation would mean nothing).
set -euo pipefail
source "$(dirname "$0")/common.sh"

arch=$(korvane_native_arch)
build=$(korvane_test_build "$arch")
korvane_build_arch "$arch" "$build"
run=$(mktemp -d /tmp/korvane-bench.XXXXXX)
cleanup() {
  korvane_wine_stop
  korvane_xvfb_stop
  rm -rf "$run" "$build/bench/Data"
}
trap cleanup EXIT
korvane_xvfb_start
korvane_wine_start "$run/prefix" "e:$run/drive-e:6b6f7276"

echo "Figures of the $arch build, native code under Wine $("$KORVANE_WINE" --version)"
cd "$build/bench"
echo "== start-up"
"$KORVANE_WINE" startup_bench.exe "E:\\bench" "${ROUNDS:-15}"
echo "== recent connections (one fill, one Delete record, one Clear the list)"
"$KORVANE_WINE" history_bench.exe ${HISTORY_QUICK:+quick}
