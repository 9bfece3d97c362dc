#!/usr/bin/env bash
# Two `make package` runs with the same SOURCE_DATE_EPOCH, in two build folders,
# must give byte-identical packages and installers, whose launcher's build line
# is that moment.
set -eu
source_dir=$1
work=$(mktemp -d /tmp/korvane-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1700000000

# In two time zones too: no local time may reach the bytes.
for name in first:UTC second:Pacific/Kiritimati; do
  TZ=${name#*:} KORVANE_BUILD=$work/${name%%:*} bash "$source_dir/scripts/package.sh" >/dev/null
done
first=$(echo "$work"/first/KorvanePortable_*.zip)
for file in "$(basename "$first")" "$(basename "${first%.zip}")_English.paf.exe" SHA256SUMS; do
  if ! cmp "$work/first/$file" "$work/second/$file"; then
    echo "FAIL: the two builds' $file differ"
    exit 1
  fi
done
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
echo "identical packages ($(stat -c %s "$first") bytes) and installers, build line: $expected"
