#!/usr/bin/env bash
# The tests' Wine harness, one per folder DIR (the build folder's harness/):
# a Wine prefix with Wine's own fonts, the test drives mapped with their
# serials, an Xvfb display, a persistent wineserver and, for 32-bit programs
# where the kernel cannot run 32-bit code, the 32-bit lane's namespace. CTest
# runs `setup` and `cleanup` as fixtures; the emulator CMake hands to each test
# (DIR/wine) runs the test program with `wine`.
#
#   harness.sh setup DIR [--lane] [--display] [--dpi N] [--owner PID] [--prefix PATH] LETTER:SERIAL[:FOLDER]...
#       --lane     32-bit programs will run (through the lane where needed)
#       --prefix   the Wine prefix (default DIR/prefix), kept between runs; one
#                  run at a time uses it
#       --display  use $DISPLAY instead of starting Xvfb
#       --owner    tear down when that process ends (default: the caller, CTest)
#       A drive without FOLDER is DIR/drive-LETTER, made empty.
#   harness.sh wine DIR PROGRAM [ARGUMENTS...]   a Windows program under Wine there
#   harness.sh run DIR COMMAND [ARGUMENTS...]    any command with that prefix and display,
#                                                in the lane (a check that runs Wine itself)
# `wine` and `run` keep a WINEPREFIX that the caller has set (a check may make
# a prefix of its own); the server, display and lane stay the harness's.
#   harness.sh cleanup DIR
#   harness.sh runs-32bit                        true where 32-bit code runs natively
#
# Everything started here is stopped by its own process id or by
# `wineserver -k` with the same WINEPREFIX. KORVANE_FORCE_LANE=1 takes the lane
# with qemu-i386 even where the kernel runs 32-bit code, to try the lane.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
wine64=/usr/lib/wine/wine64

lane_fail() {
  echo "The 32-bit lane cannot run: $*" >&2
  exit 1
}

# True when a binfmt_misc handler of this machine takes 32-bit ELF programs
# (an emulator registered machine-wide): 32-bit code then runs, but not as
# native code, so it proves nothing about the kernel.
foreign_i386_handler() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case ${entry##*/} in register|status) continue ;; esac
    grep -qx enabled "$entry" 2>/dev/null &&
      grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" 2>/dev/null && return 0
  done
  return 1
}

# True where this kernel runs Wine's 32-bit loader itself.
runs_32bit() {
  [ -z "${KORVANE_FORCE_LANE:-}" ] && ! foreign_i386_handler && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The lane's namespace: a private user and mount namespace with its own
# binfmt_misc (Linux 6.7 and later) that hands i386 ELF programs to qemu-i386.
# A process that sleeps in it keeps it; programs enter it with nsenter.
start_lane() {
  [ -x /usr/lib/wine/wine ] || lane_fail "Wine's 32-bit loader is missing (package wine32:i386)"
  foreign_i386_handler &&
    echo "A machine-wide handler runs 32-bit programs here; the tests use the lane's own instead." >&2
  command -v unshare >/dev/null && command -v nsenter >/dev/null ||
    lane_fail "unshare or nsenter (package util-linux) is missing"
  local kernel major minor
  kernel=$(uname -r)
  IFS=. read -r major minor _ <<<"$kernel"
  if [ "$major" -lt 6 ] || { [ "$major" -eq 6 ] && [ "${minor%%[!0-9]*}" -lt 7 ]; }; then
    lane_fail "kernel $kernel cannot run 32-bit code, and a private binfmt_misc needs Linux 6.7 or later"
  fi
  unshare --user --map-root-user --mount true 2>/dev/null ||
    lane_fail "this machine allows no user namespaces (unshare --user --map-root-user failed)"
  local qemu
  qemu=$(bash "$root/scripts/fetch-qemu.sh") || exit 1
  rm -f "$dir/lane.pid"
  # The holder writes its pid once the registration works, then sleeps.
  setsid unshare --user --map-root-user --mount -- bash "$here/lane32.sh" "$qemu" \
    bash -c 'echo $$ >"$0.part" && mv "$0.part" "$0" && exec sleep infinity' "$dir/lane.pid" \
    </dev/null >"$dir/lane.log" 2>&1 &
  local starter=$! i
  for ((i = 0; i < 600; i++)); do
    [ -s "$dir/lane.pid" ] && break
    kill -0 "$starter" 2>/dev/null || { cat "$dir/lane.log" >&2; exit 1; }
    sleep 0.05
  done
  [ -s "$dir/lane.pid" ] || lane_fail "its namespace did not come up in 30 s"
  lane_pid=$(<"$dir/lane.pid")
}

# Runs a command with the harness's environment, inside the lane where there is
# one (a command already inside it, such as a check run there, stays).
in_harness() {
  export WINEPREFIX=${WINEPREFIX:-$prefix} WINEDEBUG=-all WINEARCH=win64 DISPLAY=$display
  # No prompts to install the browser or .NET runtimes.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # Wine takes its ANSI code page from the locale: 1252 for this one, whatever
  # the machine's, since the tests check what the best fit of 1252 does. A test
  # that runs in another code page names its locale in KORVANE_LOCALE.
  export LC_ALL=${KORVANE_LOCALE:-C.UTF-8}
  if [ -n "${lane_pid:-}" ] && [ "$(readlink /proc/self/ns/user)" != "$(readlink "/proc/$lane_pid/ns/user")" ]; then
    exec nsenter --target "$lane_pid" --user --mount -- "$@"
  fi
  exec "$@"
}

read_state() {
  [ -f "$dir/state" ] || return 1
  # shellcheck source=/dev/null
  source "$dir/state"
}

make_prefix() {
  local ready=$prefix/.korvane-prefix version
  version="$("$wine64" --version) dpi ${dpi:-96}"
  [ "$(cat "$ready" 2>/dev/null)" = "$version" ] && return 0
  rm -rf "$prefix"
  if ! (in_harness "$wine64" wineboot -i) </dev/null >"$dir/prefix.log" 2>&1; then
    echo "Wine could not create the prefix $prefix: $(tail -n 1 "$dir/prefix.log")" >&2
    exit 1
  fi
  # Without a window manager: Wine draws the frames itself and destroys
  # windows at once; a crash never waits on a dialog.
  cat >"$prefix/drive_c/korvane.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  if [ -n "$dpi" ]; then
    local hex
    hex=$(printf '%08x' "$dpi")
    cat >>"$prefix/drive_c/korvane.reg" <<REG

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$hex

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]
"LogPixels"=dword:$hex
REG
  fi
  (in_harness "$wine64" regedit /S 'C:\korvane.reg') </dev/null >/dev/null 2>&1
  (in_harness wineserver -k) >/dev/null 2>&1 || true
  (in_harness wineserver -w) >/dev/null 2>&1 || true
  # Debian's Wine does not find its own fonts by itself: without them dialogs
  # fall back to a wider font (texts cut off, no caption glyphs).
  cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
  echo "$version" >"$ready"
}

setup() {
  local lane= own_display= owner=$PPID drives=()
  dpi=
  while [ $# -gt 0 ]; do
    case $1 in
      --lane) lane=1 ;;
      --display) own_display=1 ;;
      --dpi) dpi=$2; shift ;;
      --owner) owner=$2; shift ;;
      --prefix) prefix=$(realpath -m "$2"); shift ;;
      *) drives+=("$1") ;;
    esac
    shift
  done
  local wanted=$prefix
  # What an interrupted run left behind goes first.
  cleanup
  prefix=$wanted
  mkdir -p "$dir" "$(dirname "$prefix")"
  xvfb_pid= lane_pid= watcher_pid=
  trap 'cleanup_started' EXIT
  # Held by everything started here (the watcher longest), so that another
  # harness waits for this one to end before it takes the same prefix.
  exec 9>"$prefix.lock"
  flock -w 30 9 || { echo "The Wine prefix $prefix is in use by another test run" >&2; exit 1; }

  if [ -n "$own_display" ]; then
    display=$DISPLAY
  else
    local fifo=$dir/xvfb.fifo
    rm -f "$fifo"
    mkfifo "$fifo"
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    local number
    read -r number <"$fifo"
    rm -f "$fifo"
    display=:$number
  fi
  if [ -n "$lane" ] && ! runs_32bit; then
    start_lane
  fi
  make_prefix

  local drive letter serial folder
  for drive in "${drives[@]}"; do
    IFS=: read -r letter serial folder <<<"$drive"
    if [ -z "$folder" ]; then
      folder=$dir/drive-$letter
      rm -rf "$folder"
    fi
    mkdir -p "$folder"
    printf '%s\n' "$serial" >"$folder/.windows-serial"
    # Mapped before the server starts, or Wine reads no serial from them.
    ln -sfn "$folder" "$prefix/dosdevices/${letter}:"
  done
  # The server and Wine's services with their output detached: otherwise they
  # hold the pipes of the first test program, and CTest waits on them.
  (in_harness setsid wineserver -p) </dev/null >/dev/null 2>&1
  (in_harness "$wine64" cmd /c exit) </dev/null >/dev/null 2>&1

  # Torn down when the owner ends, also when it is stopped before its cleanup.
  setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done; exec bash "$2" cleanup "$3"' \
    _ "$owner" "${BASH_SOURCE[0]}" "$dir" </dev/null >/dev/null 2>&1 &
  watcher_pid=$!
  write_state "$dir/state.part"
  mv "$dir/state.part" "$dir/state"
  trap - EXIT
  echo "Wine prefix $prefix, display $display${lane_pid:+, 32-bit lane (namespace of process $lane_pid)}"
}

write_state() {
  printf 'prefix=%q\ndisplay=%q\nxvfb_pid=%q\nlane_pid=%q\nwatcher_pid=%q\n' \
    "$prefix" "${display:-}" "${xvfb_pid:-}" "${lane_pid:-}" "${watcher_pid:-}" >"$1"
}

# A setup that failed half-way stops what it had started.
cleanup_started() {
  [ -f "$dir/state" ] && return
  write_state "$dir/state"
  cleanup
}

# Waits until the processes have ended, killing those left after five seconds.
wait_pids() {
  local pid i
  for pid in "$@"; do
    for ((i = 0; i < 100; i++)); do
      kill -0 "$pid" 2>/dev/null || continue 2
      sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
}

cleanup() {
  display= xvfb_pid= lane_pid= watcher_pid=
  read_state || return 0
  local stopping=()
  # The watcher runs in a session of its own, with its sleep; it runs this
  # itself when the owner has ended.
  if [ -n "$watcher_pid" ] && [ "$watcher_pid" != "$$" ] && kill -TERM -- "-$watcher_pid" 2>/dev/null; then
    stopping+=("$watcher_pid")
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && stopping+=("$xvfb_pid")
  [ -n "$lane_pid" ] && ! kill -0 "$lane_pid" 2>/dev/null && lane_pid=
  if [ -d "$prefix" ]; then
    (in_harness wineserver -k) >/dev/null 2>&1 || true
    (in_harness wineserver -w) >/dev/null 2>&1 || true
  fi
  [ -n "$lane_pid" ] && kill "$lane_pid" 2>/dev/null && stopping+=("$lane_pid")
  wait_pids "${stopping[@]}"
  rm -f "$dir/state"
}

command=${1:-}
# The harness's own prefix, whatever the caller's environment says.
[ "$command" = wine ] || [ "$command" = run ] || unset WINEPREFIX
# For the benchmarks: exit status 0 where 32-bit programs run as native code.
if [ "$command" = runs-32bit ]; then
  runs_32bit
  exit
fi
dir=${2:-}
if [ -z "$command" ] || [ -z "$dir" ]; then
  echo "usage: harness.sh setup|wine|run|cleanup DIR ..." >&2
  exit 2
fi
dir=$(realpath -m "$dir")
prefix=$dir/prefix
shift 2
case $command in
  setup) setup "$@" ;;
  cleanup) cleanup ;;
  wine|run)
    if ! read_state; then
      echo "No Wine harness is up in $dir: run the tests with ctest, whose fixture sets it up" >&2
      exit 1
    fi
    [ "$command" = run ] || set -- "$wine64" "$@"
    in_harness "$@"
    ;;
  *) echo "harness.sh: no command $command" >&2; exit 2 ;;
esac
