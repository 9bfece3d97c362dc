#!/usr/bin/env bash
# make test-setup: checks that scripts/setup.sh installs a missing package
# while one source's index cannot be fetched. As root, with the network; it
# installs the small package `hello` (or PACKAGE) and removes it again, with
# whatever else the install brought in.
#
# apt runs with a private configuration (APT_CONFIG): copies of the machine's
# own sources plus one whose suite does not exist on the machine's mirror,
# and copies of the machine's package lists and cache folder. The machine's
# own sources and lists are only read; the check fails if they change.
#
# Usage: test-setup.sh [SETUP-SCRIPT]   (default: this tree's setup.sh)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/apt-source.sh"
setup=$(realpath "${1:-$here/setup.sh}")
package=${PACKAGE:-hello}

fail() {
  echo "test-setup: FAIL: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || { echo "test-setup: run it as root (it installs $package)" >&2; exit 2; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
installed "$package" && { echo "test-setup: $package is installed already; name another with PACKAGE=" >&2; exit 2; }

list= parts= lists=
eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d lists Dir::State::Lists/d)"
codename=$(apt_codename) || fail "no VERSION_CODENAME in /etc/os-release"
mirror=$(apt_source "$codename" | head -n 1) || fail "no deb source serves $codename"

work=$(mktemp -d)
chmod 755 "$work"   # apt fetches as _apt
packages() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 ~ /^.i/ { print $2 }' | sort; }
had=$(packages)
# Purges what the run installed.
remove() {
  local new
  new=$(comm -13 <(echo "$had") <(packages))
  [ -z "$new" ] || env -u APT_CONFIG apt-get purge -y -qq $new >/dev/null 2>&1
}
removed=
cleanup() {
  [ -n "$removed" ] || remove || true
  rm -rf "$work"
}
trap cleanup EXIT

# What must not change: the machine's sources and lists.
fingerprint() {
  { find "${list:-/dev/null}" "$parts" -maxdepth 1 -type f -print0 2>/dev/null
    find "$lists" -maxdepth 1 -type f ! -name lock -print0; } | sort -z | xargs -0 sha256sum
}
before=$(fingerprint)

mkdir -p "$work/sources" "$work/lists/partial" "$work/cache"
[ -z "$list" ] || [ ! -f "$list" ] || cp "$list" "$work/sources/machine.list"
for f in "$parts"/*.list "$parts"/*.sources; do
  [ -f "$f" ] && cp "$f" "$work/sources/"
done
printf 'Types: deb\nURIs: %s\nSuites: korvane-no-such-suite\nComponents: main\n' "$mirror" \
  >"$work/sources/zz-broken.sources"
find "$lists" -maxdepth 1 -type f ! -name lock -exec cp -p {} "$work/lists/" \;
cat >"$work/apt.conf" <<CONF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$work/sources";
Dir::State::Lists "$work/lists";
Dir::Cache "$work/cache";
CONF
export APT_CONFIG=$work/apt.conf

# The broken source must really break apt-get update, or the check proves nothing.
if apt-get update -qq >"$work/update.log" 2>&1; then
  fail "apt-get update passed with a suite that does not exist: the check would prove nothing"
fi
grep -q korvane-no-such-suite "$work/update.log" ||
  fail "apt-get update failed, but not on the broken source: $(tail -n 1 "$work/update.log")"

status=0
bash "$setup" "$package" >"$work/setup.log" 2>&1 || status=$?
sed 's/^/  setup: /' "$work/setup.log" >&2
[ "$status" -eq 0 ] || fail "setup.sh ended with status $status"
installed "$package" || fail "setup.sh ended with status 0, but $package is not installed"
grep -q 'apt-get update failed' "$work/setup.log" || fail "setup.sh did not say that apt-get update failed"
[ "$(grep -c 'apt-get update failed' "$work/setup.log")" -eq 1 ] && [ "$(grep -c . "$work/setup.log")" -le 2 ] ||
  fail "setup.sh said more than one line about the failed update"
[ "$(fingerprint)" = "$before" ] || fail "the machine's own sources or package lists changed"

remove && removed=1
echo "test-setup: PASS: setup.sh installed $package with an index that could not be fetched; the machine's sources and lists are unchanged" >&2
