#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine and Xvfb, and prints their figures.
set -euo pipefail
source "$(dirname "$0")/common.sh"

korvane_build
run=$(mktemp -d /tmp/korvane-bench.XXXXXX)
cleanup() {
  korvane_wine_stop
  korvane_xvfb_stop
  rm -rf "$run" "$KORVANE_RUN_BUILD/bench/Data"
}
trap cleanup EXIT
korvane_xvfb_start
korvane_wine_start "$run/prefix" "e:$run/drive-e:6b6f7276"

cd "$KORVANE_RUN_BUILD/bench"
echo "== start-up"
"$KORVANE_WINE" startup_bench.exe "E:\\bench" "${ROUNDS:-15}"
echo "== recent connections (clearing 10,000 entries takes about ten minutes under Wine)"
"$KORVANE_WINE" history_bench.exe ${HISTORY_QUICK:+quick}
