#!/usr/bin/env bash
# Two `make package` runs with the same SOURCE_DATE_EPOCH, in two build folders,
# must give byte-identical packages whose launcher's build line is that moment.
set -eu
source_dir=$1
work=$(mktemp -d /tmp/korvane-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1700000000

for name in first second; do
  KORVANE_BUILD=$work/$name bash "$source_dir/scripts/package.sh" >/dev/null
done
first=$(echo "$work"/first/KorvanePortable_*.zip)
second=$work/second/$(basename "$first")
if ! cmp "$first" "$second"; then
  echo "FAIL: the two packages differ"
  exit 1
fi
launcher=$work/first/release/bin/KorvanePortable.exe
if ! unzip -p "$first" KorvanePortable/KorvanePortable.exe | cmp - "$launcher"; then
  echo "FAIL: the package does not hold the release launcher"
  exit 1
fi
expected="Built on $(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" '+%b %e %Y at %H:%M:%S')"
if ! grep -aq "$expected" "$launcher"; then
  echo "FAIL: build line is not '$expected': $(grep -ao 'Built on [^"]*' "$launcher" | head -1)"
  exit 1
fi
echo "identical packages ($(stat -c %s "$first") bytes), build line: $expected"
