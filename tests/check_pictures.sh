#!/usr/bin/env bash
# Fails when a picture in docs/ is older than what it shows: one of its
# sources changed after `make screenshots` took it, or it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
recorded=$root/docs/pictures.sha256
[ -f "$recorded" ] || { echo "FAIL: $recorded is missing: run make screenshots" >&2; exit 1; }
# A source that is missing fails the listing, and so the check.
current=$(bash "$root/scripts/picture-sources.sh") || { echo "FAIL: the pictures' sources cannot be listed" >&2; exit 1; }
status=0
while read -r hash picture; do
  [ -f "$root/docs/$picture" ] || { echo "FAIL: docs/$picture is missing" >&2; status=1; continue; }
  want=$(grep -E " $picture\$" "$recorded" | cut -d' ' -f1 || true)
  [ "$hash" = "$want" ] || { echo "FAIL: docs/$picture is older than its sources: run make screenshots" >&2; status=1; }
done <<<"$current"
[ $status -ne 0 ] || echo "pictures: each is as new as its sources"
exit $status
