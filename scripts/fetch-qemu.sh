#!/usr/bin/env bash
# Prints the path of the qemu-i386 that the tests' 32-bit lane runs 32-bit
# programs with, downloading it first, or says in one line why it cannot.
# Bookworm's own qemu (7.2) takes a minute per Windows process, so the lane
# takes qemu-user 10 from bookworm-backports, downloaded once with a private
# apt configuration (no change to the machine's sources) and kept in
# KORVANE_CACHE. Runs that share the cache take turns.
set -euo pipefail
cache=${KORVANE_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/korvane-portable}
qemu=$cache/qemu-i386

fail() {
  echo "The 32-bit lane cannot run: $*" >&2
  exit 1
}

download() {
  local apt=$cache/apt
  rm -rf "$apt"
  mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache" "$apt/deb"
  cat >"$apt/sources/backports.sources" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  local options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
                 -o APT::Architectures=amd64)
  [ "$(id -u)" -ne 0 ] || options+=(-o APT::Sandbox::User=root)
  local log=$apt/download.log
  if ! apt-get "${options[@]}" update >"$log" 2>&1 ||
     ! (cd "$apt/deb" && apt-get "${options[@]}" download qemu-user/bookworm-backports) >>"$log" 2>&1; then
    fail "downloading qemu-user from bookworm-backports failed: $(grep -E -A1 '^(E|Err):' "$log" | head -n 2 | tr -s '\n ' ' ')(all of it in $log)"
  fi
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
