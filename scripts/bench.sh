#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine and Xvfb, and prints their figures.
# They run as native code: the 32-bit build where this kernel runs 32-bit
# code, else the x86-64 build (timings under emulation would mean nothing).
set -euo pipefail
source "$(dirname "$0")/common.sh"

arch=$(korvane_native_arch)
build=$(korvane_test_build "$arch")
korvane_build_arch "$arch" "$build"
harness=$build/bench/harness
trap 'bash "$KORVANE_HARNESS" cleanup "$harness"; rm -rf "$harness" "$build/bench/Data"' EXIT
bash "$KORVANE_HARNESS" setup "$harness" --owner $$ e:6b6f7276 >/dev/null
wine() { bash "$KORVANE_HARNESS" wine "$harness" "$@"; }

echo "Figures of the $arch build, native code under Wine $(/usr/lib/wine/wine64 --version)"
cd "$build/bench"
echo "== start-up"
wine startup_bench.exe "E:\\bench" "${ROUNDS:-15}"
echo "== recent connections (one fill, one Delete record, one Clear the list)"
wine history_bench.exe ${HISTORY_QUICK:+quick}
