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
# Everything, debootstrap too, runs in a private mount and pid namespace: the
# mounts (the overlay, proc with sys read-only, sys read-only, a dev of a few
# nodes with a pty instance and shm of its own, the package cache) are seen by
# nothing else, are unmounted on every exit, and every process of the run ends
# with the namespace. Runs that share the cache or the build folder take turns.
# The root gets the key the machine's mirror is signed with, and each run
# the machine's apt proxy settings and proxy variables.
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

# The mirror's key as a keyring file debootstrap can check with: the first
# file Signed-By names, or an inline key, unarmored.
unarmor() {
  sed 's/^[ \t]*//' | sed -n '/^-----BEGIN PGP PUBLIC KEY BLOCK/,/^-----END/p' |
    grep -v -e '^-----' -e '^\.\?$' -e '^=' -e ':' | base64 -d
}
debootstrap_key() {
  local word
  case $1 in
    *'BEGIN PGP'*) unarmor <<<"$1" >"$cache/mirror-key.gpg" && echo "$cache/mirror-key.gpg" ;;
    Signed-By:*) for word in ${1#Signed-By:}; do
        word=${word%,}
        [ -f "$word" ] || continue
        case $word in
          *.asc) unarmor <"$word" >"$cache/mirror-key.gpg" && echo "$cache/mirror-key.gpg" ;;
          *) echo "$word" ;;
        esac
        return
      done ;;
  esac
}
# root_signed_by LINES NAME: the Signed-By lines of the root's sources; the
# files they name are copied into the root's /etc/apt/keyrings.
root_signed_by() {
  local word out=
  case $1 in
    ''|*'BEGIN PGP'*) [ -z "$1" ] || printf '%s\n' "$1"; return ;;
  esac
  mkdir -p "$base.part/etc/apt/keyrings"
  for word in ${1#Signed-By:}; do
    word=${word%,}
    if [ -f "$word" ]; then
      cp "$word" "$base.part/etc/apt/keyrings/$2-${word##*/}"
      word=/etc/apt/keyrings/$2-${word##*/}
    fi
    out+=" $word"
  done
  echo "Signed-By:$out"
}

make_root() {
  local codename source mirror signed security= key proxy=
  codename=$(apt_codename) || fail "no VERSION_CODENAME in /etc/os-release"
  source=$(apt_source "$codename") ||
    fail "no deb source in the machine's apt sources serves $codename, so there is no mirror to take Debian 13 from"
  mirror=${source%%$'\n'*}
  signed=$(sed 1d <<<"$source")
  security=$(apt_source "$codename-security") || security=
  key=$(debootstrap_key "$signed")
  # debootstrap does not read apt's configuration: hand it apt's proxy.
  eval "$(apt-config shell proxy Acquire::http::Proxy)"
  if [ -n "$proxy" ] && [ "$proxy" != DIRECT ]; then
    export http_proxy=$proxy
  fi
  echo "test-debian13: making a Debian 13 root from $mirror in $base" >&2
  rm -rf "$base.part"
  debootstrap --variant=minbase ${key:+"--keyring=$key"} "$release" "$base.part" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    fail "debootstrap failed: $(grep -m 1 -E '^(E|W):' "$cache/debootstrap.log" || tail -n 1 "$cache/debootstrap.log") (all of it in $cache/debootstrap.log)"
  # The root's sources: the machine's own mirrors and keys, for Debian 13.
  rm -f "$base.part/etc/apt/sources.list"
  {
    printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' "$mirror" "$release" "$release"
    root_signed_by "$signed" mirror
    if [ -n "$security" ]; then
      printf '\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' "${security%%$'\n'*}" "$release"
      root_signed_by "$(sed 1d <<<"$security")" security
    fi
  } >"$base.part/etc/apt/sources.list.d/debian.sources"
  # Downloaded packages stay in the shared cache (bind-mounted in), so keep them.
  rm -f "$base.part/etc/apt/apt.conf.d/docker-clean"
  rm -rf "$base"
  touch "$base.part/.korvane-root"
  mv "$base.part" "$base"
}

# This run's apt proxy settings for the root: the machine's, an auto-detect
# script copied in.
root_proxy() {
  local conf=$root/etc/apt/apt.conf.d/80proxy scheme detect=
  apt-config dump | grep -E '^Acquire::https?::Proxy( |::)' >"$conf" || true
  for scheme in http https; do
    eval "$(apt-config shell detect "Acquire::$scheme::Proxy-Auto-Detect")"
    if [ -n "$detect" ] && [ -f "$detect" ]; then
      cp "$detect" "$root/etc/apt/proxy-detect-$scheme"
      echo "Acquire::$scheme::Proxy-Auto-Detect \"/etc/apt/proxy-detect-$scheme\";" >>"$conf"
    fi
  done
}

# Inside the namespaces: make the root if need be, mount, run, unmount.
if [ "${1:-}" = --inside ]; then
  [ $$ -eq 1 ] || fail "--inside is for this script itself, in the namespaces it makes"
  shift
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
  [ -e "$base/.korvane-root" ] || make_root
  on -t overlay overlay -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work" "$root"
  on --bind "$archives" "$root/var/cache/apt/archives"
  on -t proc proc "$root/proc"
  on --bind "$root/proc/sys" "$root/proc/sys"
  mount -o remount,bind,ro "$root/proc/sys"
  on -t sysfs -o ro sysfs "$root/sys"
  on -t tmpfs -o mode=755,nosuid tmpfs "$root/dev"
  for node in null zero full random urandom tty; do
    touch "$root/dev/$node"
    on --bind "/dev/$node" "$root/dev/$node"
  done
  mkdir "$root/dev/pts" "$root/dev/shm"
  ln -s pts/ptmx "$root/dev/ptmx"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
  on -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
  on -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  root_proxy
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
  keep=(HOME=/root "TERM=${TERM:-dumb}" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
  for v in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    [ -z "${!v:-}" ] || keep+=("$v=${!v}")
  done
  # pivot_root, not chroot: in a chroot the kernel refuses user namespaces,
  # which the tests' 32-bit lane needs where the kernel runs no 32-bit code.
  # It happens in a mount namespace of its own, so this script keeps its view.
  mkdir -p "$root/.host"
  env -i "${keep[@]}" unshare --mount -- sh -c 'cd "$1" && pivot_root . .host || exit
    steps="umount -l /.host && rmdir /.host && cd /root
$2"
    shift 2
    exec /bin/sh -ec "$steps" sh "$@"' sh "$root" "$steps" "$@" || status=$?
  what="the new user's steps (apt-get, git clone, make test)"
  [ $# -eq 0 ] || what="$*"
  echo "test-debian13: $what took $(( $(date +%s) - start )) s in the Debian 13 root, status $status" >&2
  exit "$status"
fi

[ "$(id -u)" -eq 0 ] || fail "run it as root (debootstrap, mounts and namespaces need it)"
git -C "$top" diff --quiet HEAD -- ||
  echo "test-debian13: the clone gets HEAD ($(git -C "$top" rev-parse --short HEAD)); changes not committed are not in it" >&2
bash "$here/setup.sh" --only debootstrap
command -v unshare >/dev/null || bash "$here/setup.sh" --only util-linux

# Runs that share the build folder or the cache wait for each other.
mkdir -p "$cache" "$(dirname "$run")"
exec 8>"$run.lock" 9>"$cache/lock"
for fd in 8 9; do
  flock -n "$fd" || { echo "test-debian13: waiting for another run to end" >&2; flock "$fd"; }
done

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
