#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 or 13, as root. Does
# nothing when all is there. Extra package names given as arguments are
# installed too (the screenshots need a browser); with --only first, only
# those (the Debian 13 lane needs debootstrap, and nothing of the rest).
#
# A mirror in mid-sync is an everyday event: an index that cannot be fetched
# is reported in one line and the lists that exist are used; when the install
# cannot be resolved from them (one architecture's security index missing),
# it is tried once more with the release's own suite as the default release.
# Nothing else on the machine changes: no source is added or removed, no list
# deleted. APT_CONFIG, as apt reads it, may point at another configuration.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

only=
if [ "${1:-}" = --only ]; then
  only=1
  shift
fi
wanted=("$@")
[ -n "$only" ] ||
  wanted+=(wine wine32:i386 wine64 g++-mingw-w64-i686 binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 binutils cmake make xvfb xauth x11-utils googletest \
         imagemagick librsvg2-bin zip unzip tidy fonts-wine nsis git ca-certificates util-linux procps)
for p in "${wanted[@]}"; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

# apt's first error line, or its last line, squeezed into one line.
reason() { { grep -m 1 -E '^(E|Err):' "$1" || tail -n 1 "$1"; } | tr -s '\t\n ' ' '; }

if [ -z "$only" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${need[*]}" >&2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# apt retries a failed download, and the install waits up to 5 min for
# dpkg's lock while another apt holds it. sudo would drop the variables, so
# env hands them on.
apt=($SUDO env DEBIAN_FRONTEND=noninteractive ${APT_CONFIG:+"APT_CONFIG=$APT_CONFIG"}
     apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout=300)
# locked COMMAND...: runs it, output in $log; while another apt holds the lists
# or archives lock (which apt does not wait for), tries again, up to 5 min.
locked() {
  local try
  for try in $(seq 60); do
    "$@" >"$log" 2>&1 && return
    grep -q -E '^E: (Could not get lock|Unable to lock)' "$log" || return
    [ "$try" -gt 1 ] || echo "setup: waiting for another apt to finish" >&2
    sleep 5
  done
  return 1
}
if ! locked "${apt[@]}" update -qq; then
  echo "setup: apt-get update failed, going on with the package lists there are: $(reason "$log")" >&2
fi
install=("${apt[@]}" install -y -qq --no-install-recommends)
if ! locked "${install[@]}" "${need[@]}"; then
  codename=$( (. /etc/os-release && echo "${VERSION_CODENAME:-}") 2>/dev/null || true)
  first=$(reason "$log")
  if [ -z "$codename" ] || ! locked "${install[@]}" -t "$codename" "${need[@]}"; then
    echo "setup: the packages cannot be installed: $first${codename:+; with -t $codename: $(reason "$log")}" >&2
    exit 1
  fi
  echo "setup: installed with -t $codename: what was new comes from $codename itself, without its -security or -updates versions" >&2
fi
