#!/usr/bin/env bash
# Two builds of the launcher with the same SOURCE_DATE_EPOCH, in two folders,
# must give byte-identical executables whose build line is that moment.
set -eu
source_dir=$1
work=$(mktemp -d /tmp/korvane-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1700000000

for name in first second; do
  cmake -S "$source_dir" -B "$work/$name" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
        -DKORVANE_TESTS=OFF -DKORVANE_BENCH=OFF >/dev/null
  cmake --build "$work/$name" --target KorvanePortable -j2 >/dev/null
done
first=$work/first/bin/KorvanePortable.exe
second=$work/second/bin/KorvanePortable.exe
if ! cmp "$first" "$second"; then
  echo "FAIL: the two builds differ"
  exit 1
fi
expected="Built on $(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" '+%b %e %Y at %H:%M:%S')"
if ! grep -aq "$expected" "$first"; then
  echo "FAIL: build line is not '$expected': $(grep -ao 'Built on [^"]*' "$first" | head -1)"
  exit 1
fi
echo "identical builds ($(stat -c %s "$first") bytes), build line: $expected"
