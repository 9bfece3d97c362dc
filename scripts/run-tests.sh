#!/usr/bin/env bash
# Builds everything, makes the release package, and runs CTest in each lane:
# i686 tests the launcher that ships, the package's own 32-bit
# KorvanePortable.exe, with the 32-bit test programs; x86_64 tests the same
# sources built for x86-64. Both run by default; KORVANE_ARCH=i686 or x86_64
# runs one. Arguments go to ctest. The tests' own fixtures set up and tear down
# the Wine prefix, the drives and the display (tests/harness).
set -euo pipefail
source "$(dirname "$0")/common.sh"

lanes=${KORVANE_ARCH:-i686 x86_64}
# Ctrl-C or a stop ends the run at once, whatever step runs: each step runs in
# the background in a process group of its own and gets the signal with its
# children; the fixtures' watcher tears down what CTest had set up.
child=
stop() {
  trap - INT TERM
  if [ -n "$child" ]; then
    kill -"$1" -- "-$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  exit "$2"
}
trap 'stop INT 130' INT
trap 'stop TERM 143' TERM
step() {
  set -m
  "$@" &
  child=$!
  set +m
  local code=0
  wait "$child" || code=$?
  child=
  return $code
}

for arch in $lanes; do
  step korvane_build_arch "$arch" "$(korvane_test_build "$arch")"
done
[[ " $lanes " != *" i686 "* ]] || step bash "$KORVANE_ROOT/scripts/package.sh"

status=0
for arch in $lanes; do
  build=$(korvane_test_build "$arch")
  # The launcher under test, as the tests' properties name it (Z:\… to a path here).
  launcher=$(ctest --test-dir "$build" --show-only=json-v1 | grep -o '"KORVANE_LAUNCHER=Z:[^"]*"' | sort -u)
  launcher=${launcher#\"KORVANE_LAUNCHER=Z:}
  launcher=${launcher%\"}
  launcher=${launcher//\\\\//}
  echo "== $arch lane: launcher under test $launcher"
  echo "   SHA-256 $(sha256sum "$launcher" | cut -d' ' -f1)"
  [ "$arch" != i686 ] || rm -f "$KORVANE_BUILD/silent-install-seconds.txt"
  rm -f "$build/harness/restarts.log"
  step ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -O "$build/ctest.log" "$@" || status=1
  # Here every case and check must run: a skipped one fails the run.
  if grep -q "tests did not run" "$build/ctest.log"; then
    echo "FAIL: $arch lane: tests were skipped (listed above)"
    status=1
  fi
  # Said, so that how often Wine fails to start a program stays in sight.
  if [ -s "$build/harness/restarts.log" ]; then
    echo "Cases that Wine did not start, and the harness started once more:"
    cat "$build/harness/restarts.log"
  fi
  if [ "$arch" = i686 ] && [ -f "$KORVANE_BUILD/silent-install-seconds.txt" ]; then
    version=$(head -n 1 "$KORVANE_BUILD/release/version.txt")
    echo "Installer: $(stat -c %s "$KORVANE_BUILD/KorvanePortable_${version}_English.paf.exe") bytes; a fresh silent install took $(<"$KORVANE_BUILD/silent-install-seconds.txt") s"
  fi
done
exit $status
