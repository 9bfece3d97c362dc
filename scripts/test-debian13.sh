#!/usr/bin/env bash
# make test-debian13: a clean clone of this repository's HEAD runs `make test`
# in a fresh Debian 13 root, the way README tells a new user (as root:
# apt-get update, apt-get install git make, git clone, make test). As root.
#
# The root comes from debootstrap (minbase) out of the machine's own mirror
# and is kept in KORVANE_CACHE/debian13 as it left debootstrap; each run
# starts from it afresh through an overlay whose changes go to
# build/debian13 (replaced by the next run). The packages the run downloads
# are kept beside the root, so a second run downloads little.
#
# Everything runs in a private mount and pid namespace: the mounts (the
# overlay, proc, sys read-only, dev with a pty instance and shm of its own,
# the package cache) are seen by nothing else, are unmounted on every exit,
# and every process of the run ends with the namespace.
#
# test-debian13.sh --last-run COMMAND...: runs COMMAND in the last run's
# clone, in that run's state (for example `make demo`, to see Wine 10 draw).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
. "$here/apt-source.sh"

release=trixie
cache=${KORVANE_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/korvane-portable}/debian13
base=$cache/root
archives=$cache/archives
run=$(realpath -m "${KORVANE_BUILD:-$top/build}")/debian13

fail() {
  echo "test-debian13: $*" >&2
  exit 1
}

# Inside the namespaces: mount, run, unmount.
if [ "${1:-}" = --inside ]; then
  root=$run/root
  mounted=()
  unmount() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
      umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
    done
    mounted=()
  }
  trap unmount EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  on() { mount "$@"; mounted+=("${!#}"); }
  mount --make-rprivate /
  on -t overlay overlay -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work" "$root"
  on --bind "$archives" "$root/var/cache/apt/archives"
  on -t proc proc "$root/proc"
  on -t sysfs -o ro sysfs "$root/sys"
  on --bind /dev "$root/dev"
  on -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
  on --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
  on -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  shift
  start=$(date +%s)
  status=0
  steps='
      apt-get update && apt-get install -y git make
      git clone /root/korvane.bundle korvane && cd korvane
      make test
      cd build
      for f in KorvanePortable_*_English.paf.exe; do
        echo "installer: $f $(stat -c %s "$f") bytes, $(cat makensis-version.txt)"
        sha256sum "$f"
      done
    '
  [ $# -eq 0 ] || steps='cd /root/korvane && exec "$@"'
  export TERM=${TERM:-dumb}
  # pivot_root, not chroot: in a chroot the kernel refuses user namespaces,
  # which the tests' 32-bit lane needs where the kernel runs no 32-bit code.
  # It happens in a mount namespace of its own, so this script keeps its view.
  mkdir -p "$root/.host"
  unshare --mount -- sh -c 'cd "$1" && pivot_root . .host || exit
    steps="umount -l /.host && rmdir /.host && cd /root
$2"
    shift 2
    exec /usr/bin/env -i HOME=/root TERM="$TERM" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      /bin/sh -ec "$steps" sh "$@"' sh "$root" "$steps" "$@" || status=$?
  what="the new user's steps (apt-get, git clone, make test)"
  [ $# -eq 0 ] || what="$*"
  echo "test-debian13: $what took $(( $(date +%s) - start )) s in the Debian 13 root, status $status" >&2
  exit "$status"
fi

[ "$(id -u)" -eq 0 ] || fail "run it as root (debootstrap and chroot need it)"
git -C "$top" diff --quiet HEAD -- ||
  echo "test-debian13: the clone gets HEAD ($(git -C "$top" rev-parse --short HEAD)); changes not committed are not in it" >&2
bash "$here/setup.sh" --only debootstrap
command -v unshare >/dev/null || bash "$here/setup.sh" --only util-linux

if [ ! -e "$base/.korvane-root" ]; then
  codename=$(apt_codename) || fail "no VERSION_CODENAME in /etc/os-release"
  source=$(apt_source "$codename") ||
    fail "no deb source in the machine's apt sources serves $codename, so there is no mirror to take Debian 13 from"
  mirror=${source%%$'\t'*}
  keyring=${source#*$'\t'}
  security=$(apt_source "$codename-security" | cut -f 1) || security=
  # debootstrap does not read apt's configuration: hand it apt's proxy.
  proxy=
  eval "$(apt-config shell proxy Acquire::http::Proxy)"
  if [ -n "$proxy" ] && [ "$proxy" != DIRECT ]; then
    export http_proxy=$proxy
  fi
  options=(--variant=minbase)
  [ -n "$keyring" ] && [ -f "$keyring" ] && options+=("--keyring=$keyring")
  echo "test-debian13: making a Debian 13 root from $mirror in $base" >&2
  rm -rf "$base.part"
  mkdir -p "$cache"
  debootstrap "${options[@]}" "$release" "$base.part" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    fail "debootstrap failed: $(grep -m 1 -E '^(E|W):' "$cache/debootstrap.log" || tail -n 1 "$cache/debootstrap.log") (all of it in $cache/debootstrap.log)"
  # The root's sources: the machine's own mirrors, for Debian 13.
  rm -f "$base.part/etc/apt/sources.list"
  {
    printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' "$mirror" "$release" "$release"
    [ -z "$keyring" ] || printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    if [ -n "$security" ]; then
      printf '\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' "$security" "$release"
      [ -z "$keyring" ] || printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    fi
  } >"$base.part/etc/apt/sources.list.d/debian.sources"
  if [ -n "$proxy" ] && [ "$proxy" != DIRECT ]; then
    printf 'Acquire::http::Proxy "%s";\n' "$proxy" >"$base.part/etc/apt/apt.conf.d/80proxy"
  fi
  # Downloaded packages stay in the shared cache (bind-mounted in), so keep them.
  rm -f "$base.part/etc/apt/apt.conf.d/docker-clean"
  rm -rf "$base"
  touch "$base.part/.korvane-root"
  mv "$base.part" "$base"
fi

if [ "${1:-}" = --last-run ]; then
  shift
  [ $# -gt 0 ] && [ -d "$run/upper/root/korvane" ] || fail "usage: $0 --last-run COMMAND... (after a run)"
else
  rm -rf "$run"
  mkdir -p "$run/upper/root" "$run/work" "$run/root" "$archives/partial"
  git -C "$top" bundle create "$run/upper/root/korvane.bundle" HEAD $(git -C "$top" symbolic-ref -q HEAD) 2>/dev/null ||
    fail "git bundle of HEAD failed"
fi
# The pid namespace's first process is this script again: when it ends, so
# does every process of the run; --kill-child ends it when unshare is killed.
exec unshare --mount --pid --fork --kill-child -- bash "${BASH_SOURCE[0]}" --inside "$@"
