#!/usr/bin/env bash
# Prints the path of the qemu-i386 that the tests' 32-bit lane runs 32-bit
# programs with, downloading it first, or says in one line why it cannot.
# Bookworm's own qemu (7.2) takes a minute per Windows process, so the lane
# takes qemu-user 10 or later built for this release: the release's own
# when it is that new (Debian 13 has 10.0), else its backports' (Debian 12:
# bookworm-backports). It is downloaded once from the machine's
# own mirror with a private apt configuration (no change to the machine's
# sources or lists; apt's own settings, a proxy among them, still count) and
# kept in KORVANE_CACHE. Runs that share the cache take turns.
set -euo pipefail
cache=${KORVANE_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/korvane-portable}
qemu=$cache/qemu-i386
. "$(dirname "${BASH_SOURCE[0]}")/apt-source.sh"

fail() {
  echo "The 32-bit lane cannot run: $*" >&2
  exit 1
}

download() {
  local apt=$cache/apt codename source mirror
  codename=$(apt_codename) || fail "no VERSION_CODENAME in /etc/os-release"
  source=$(apt_source "$codename") ||
    fail "no deb source in the machine's apt sources serves $codename, so there is no mirror to take qemu-user from"
  mirror=${source%%$'\n'*}
  rm -rf "$apt"
  mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache" "$apt/deb"
  # The source's own Signed-By lines follow its URI.
  printf 'Types: deb\nURIs: %s\nSuites: %s %s-backports\nComponents: main\n%s\n' \
    "$mirror" "$codename" "$codename" "$(sed 1d <<<"$source")" >"$apt/sources/qemu.sources"
  local options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
                 -o "APT::Architectures=$(dpkg --print-architecture)")
  [ "$(id -u)" -ne 0 ] || options+=(-o APT::Sandbox::User=root)
  local log=$apt/download.log version= v suite
  # One suite's index may fail (a release without backports yet, a mirror in
  # mid-sync): the other may still have a qemu new enough. The release's own
  # qemu wins when it is new enough; backports only make up for an old one.
  apt-get "${options[@]}" update >"$log" 2>&1 || true
  for suite in "$codename" "$codename-backports"; do
    while read -r v; do
      if [ -z "$version" ] || dpkg --compare-versions "$v" gt "$version"; then
        version=$v
      fi
    done < <(apt-cache "${options[@]}" madison qemu-user 2>>"$log" |
             awk -F' *[|] *' -v suite="$suite" '{ split($3, w, " "); if (w[2] ~ "^" suite "/") print $2 }')
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:10.0~; then
      break
    fi
  done
  if [ -z "$version" ] || dpkg --compare-versions "$version" lt 1:10.0~; then
    fail "no qemu-user 10 or later in $codename or $codename-backports from $mirror (${version:+found $version; }$(grep -m 1 -E '^(E|Err):' "$log" | tr -s '\t\n ' ' ')all of it in $log)"
  fi
  (cd "$apt/deb" && apt-get "${options[@]}" download "qemu-user=$version") >>"$log" 2>&1 ||
    fail "downloading qemu-user $version from $mirror failed: $(grep -E -A1 '^(E|Err):' "$log" | head -n 2 | tr -s '\n ' ' ')(all of it in $log)"
  dpkg -x "$apt"/deb/qemu-user_*.deb "$apt/unpacked" &&
    cp "$apt/unpacked/usr/bin/qemu-i386" "$qemu.part" && mv "$qemu.part" "$qemu" ||
    fail "the qemu-user package holds no usr/bin/qemu-i386"
  rm -rf "$apt"
}

if [ ! -x "$qemu" ]; then
  mkdir -p "$cache"
  (
    flock 9
    [ -x "$qemu" ] || download >&2
  ) 9>"$cache/lock"
fi
echo "$qemu"
