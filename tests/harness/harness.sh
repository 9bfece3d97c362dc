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
    </dev/null >"$dir/lane.log" 2>&1 9>&- &
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

# The start time of process PID (clock ticks since boot), or failure when it
# has ended; a zombie counts as ended (kill -0 still succeeds on one).
proc_start() {
  local stat
  [ -n "$1" ] || return 1
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  # Fields after the command name: state first, start time 20th.
  set -- ${stat##*) }
  case $1 in Z|X|x) return 1 ;; esac
  echo "${20}"
}

# alive PID START: that process still runs, not another one under its pid.
alive() {
  [ -n "$1" ] && [ -n "$2" ] && [ "$(proc_start "$1")" = "$2" ]
}

# True when this process runs under process PID (its child, grandchild…).
descends_from() {
  local pid=$PPID stat
  while [ -n "$pid" ] && [ "$pid" -gt 1 ]; do
    [ "$pid" = "$1" ] && return 0
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    set -- "$1" ${stat##*) }
    pid=$3
  done
  return 1
}

# Waits until the processes (PID START pairs) have ended, killing those left
# after five seconds.
wait_gone() {
  local i
  while [ $# -ge 2 ]; do
    for ((i = 0; i < 100; i++)); do
      alive "$1" "$2" || break
      sleep 0.05
    done
    alive "$1" "$2" && kill -KILL "$1" 2>/dev/null || true
    shift 2
  done
  return 0
}

# True when the prefix looks whole: the registry files, the system folder and
# drive C:, and the settings that this harness writes into it.
prefix_sound() {
  local file
  for file in system.reg user.reg userdef.reg drive_c/windows/system32/kernel32.dll; do
    [ -s "$prefix/$file" ] || return 1
  done
  [ -d "$prefix/dosdevices/c:/windows" ] &&
    grep -q '^"Managed"="N"' "$prefix/user.reg" &&
    grep -q '^"ShowCrashDialog"=dword:00000000' "$prefix/user.reg"
}

# Debian's Wine does not find its own fonts by itself: without them dialogs
# fall back to a wider font (texts cut off, no caption glyphs). Each setup
# puts back any that are missing or changed.
copy_fonts() {
  local font target
  mkdir -p "$prefix/drive_c/windows/Fonts"
  for font in /usr/share/wine/fonts/*; do
    target=$prefix/drive_c/windows/Fonts/${font##*/}
    cmp -s "$font" "$target" || cp -p "$font" "$target"
  done
}

make_prefix() {
  local ready=$prefix/.korvane-prefix version
  version="$("$wine64" --version) dpi ${dpi:-96}"
  if [ "$(cat "$ready" 2>/dev/null)" = "$version" ] && prefix_sound; then
    copy_fonts
    return 0
  fi
  [ -f "$ready" ] && echo "Remaking the Wine prefix $prefix (another Wine version or DPI, unfinished, or damaged)" >&2
  rm -rf "$prefix"
  mkdir -p "$prefix"
  echo incomplete >"$ready"
  # In the background, so that a signal stops the setup at once.
  (in_harness "$wine64" wineboot -i) </dev/null >"$dir/prefix.log" 2>&1 9>&- &
  busy_pid=$!
  if ! wait "$busy_pid"; then
    echo "Wine could not create the prefix $prefix: $(tail -n 1 "$dir/prefix.log")" >&2
    exit 1
  fi
  busy_pid=
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
  (in_harness "$wine64" regedit /S 'C:\korvane.reg') </dev/null >/dev/null 2>&1 9>&-
  (in_harness wineserver -k) >/dev/null 2>&1 || true
  (in_harness wineserver -w) >/dev/null 2>&1 || true
  prefix_sound || { echo "Wine made no sound prefix in $prefix" >&2; exit 1; }
  copy_fonts
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
  mkdir -p "$dir" "$(dirname "$prefix")"
  # The prefix's lock, held by this setup and then by its watcher until the
  # cleanup: one run at a time uses the prefix. Nothing is touched before it
  # is held.
  exec 9>"$prefix.lock"
  if ! flock -w 30 9; then
    echo "The Wine prefix $prefix is in use by another test run (lock $prefix.lock held for 30 s): nothing was changed" >&2
    exit 1
  fi
  # Only a folder that this harness made (or began to make) is used or replaced.
  if [ -d "$prefix" ] && [ ! -f "$prefix/.korvane-prefix" ] && [ -n "$(ls -A "$prefix")" ]; then
    echo "The folder $prefix is not empty and is no Wine prefix of these tests (it has no .korvane-prefix):" \
         "left as it is. Name a new or empty folder as the prefix (KORVANE_WINE_PREFIX)." >&2
    exit 1
  fi
  if [ -n "$own_display" ] && [ -z "${DISPLAY:-}" ]; then
    echo "harness.sh setup --display: DISPLAY is not set" >&2
    exit 1
  fi
  local wanted=$prefix
  if read_state; then
    # What an interrupted run left behind goes, once its owner and watcher
    # have ended; a run still going keeps its harness.
    if alive "${owner_pid:-}" "${owner_start:-}" || alive "${watcher_pid:-}" "${watcher_start:-}"; then
      echo "The harness in $dir belongs to a run still going (process ${owner_pid:-}): nothing was changed" >&2
      exit 1
    fi
    # Its server ends its programs and services only when asked while alive.
    alive "${server_pid:-}" "${server_start:-}" && { (in_harness wineserver -k) >/dev/null 2>&1 || true; }
    alive "${xvfb_pid:-}" "${xvfb_start:-}" && kill "$xvfb_pid" 2>/dev/null || true
    alive "${server_pid:-}" "${server_start:-}" && kill "$server_pid" 2>/dev/null || true
    alive "${lane_pid:-}" "${lane_start:-}" && kill "$lane_pid" 2>/dev/null || true
    wait_gone "${xvfb_pid:-}" "${xvfb_start:-}" "${server_pid:-}" "${server_start:-}" \
              "${lane_pid:-}" "${lane_start:-}"
    rm -f "$dir/state"
  fi
  prefix=$wanted
  owner_pid=$owner
  owner_start=$(proc_start "$owner") || { echo "harness.sh setup: no process $owner" >&2; exit 1; }
  display= xvfb_pid= xvfb_start= lane_pid= lane_start= server_pid= server_start= watcher_pid= watcher_start= busy_pid=
  # From here on a failure or a signal stops what this setup started.
  trap 'abort_setup' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # With the lock held, a server still running in the prefix belongs to no
  # harness (its run was killed); the drives must be mapped before one starts.
  [ -d "$prefix" ] && { (in_harness wineserver -k) >/dev/null 2>&1 || true; }

  if [ -n "$own_display" ]; then
    display=$DISPLAY
  else
    local fifo=$dir/xvfb.fifo
    rm -f "$fifo"
    mkfifo "$fifo"
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 9>&- &
    xvfb_pid=$!
    xvfb_start=$(proc_start "$xvfb_pid") || true
    local number=
    read -r number <"$fifo" || true
    rm -f "$fifo"
    [ -n "$number" ] || { echo "Xvfb did not start" >&2; exit 1; }
    display=:$number
  fi
  if [ -n "$lane" ] && ! runs_32bit; then
    start_lane
    lane_start=$(proc_start "$lane_pid") || true
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
  # The server in the foreground of a process of its own (so that its pid is
  # known: the emulator checks it is still there after each program), and
  # Wine's services, with their output detached: otherwise they hold the pipes
  # of the first test program, and CTest waits on them.
  (in_harness setsid wineserver -f -p) </dev/null >/dev/null 2>&1 9>&- &
  server_pid=$!
  # It is ready once its socket exists in its folder, its working folder.
  local socket=/proc/$server_pid/cwd/socket i
  for ((i = 0; i < 200; i++)); do
    [ -S "$socket" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  server_start=$(proc_start "$server_pid") && [ -S "$socket" ] ||
    { echo "The wineserver for $prefix did not start" >&2; exit 1; }
  (in_harness "$wine64" cmd /c exit) </dev/null >/dev/null 2>&1 9>&- &
  busy_pid=$!
  wait "$busy_pid"
  busy_pid=

  # Torn down when the owner ends, also when it is stopped before its cleanup.
  # The watcher keeps the prefix's lock (descriptor 9).
  setsid bash "${BASH_SOURCE[0]}" watch "$dir" "$owner_pid" "$owner_start" "$$" "$(proc_start $$)" \
    </dev/null >/dev/null 2>&1 &
  watcher_pid=$!
  watcher_start=$(proc_start "$watcher_pid") || true
  write_state "$dir/state.part"
  mv "$dir/state.part" "$dir/state"
  trap - EXIT INT TERM
  echo "Wine prefix $prefix, display $display${lane_pid:+, 32-bit lane (namespace of process $lane_pid)}"
}

write_state() {
  local name
  for name in prefix display owner_pid owner_start xvfb_pid xvfb_start server_pid server_start \
              lane_pid lane_start watcher_pid watcher_start; do
    printf '%s=%q\n' "$name" "${!name:-}"
  done >"$1"
}

# Stops what this harness started: by process id, and the prefix's server
# and programs with `wineserver -k`. Only with the prefix's lock held.
stop_harness() {
  alive "$xvfb_pid" "$xvfb_start" && kill "$xvfb_pid" 2>/dev/null || true
  alive "$lane_pid" "$lane_start" || lane_pid=
  if [ -d "$prefix" ]; then
    (in_harness wineserver -k) >/dev/null 2>&1 || true
    (in_harness wineserver -w) >/dev/null 2>&1 || true
  fi
  [ -n "$lane_pid" ] && kill "$lane_pid" 2>/dev/null || true
  wait_gone "$xvfb_pid" "$xvfb_start" "$server_pid" "$server_start" "$lane_pid" "$lane_start"
}

# A setup that failed or was stopped half-way stops what it had started; it
# holds the lock.
abort_setup() {
  local status=$?
  trap - EXIT INT TERM
  [ -n "${busy_pid:-}" ] && kill "$busy_pid" 2>/dev/null || true
  [ -n "${watcher_pid:-}" ] && kill -TERM -- "-$watcher_pid" 2>/dev/null || true
  stop_harness
  exit "$status"
}

# The watcher (OWNER START SETUP START): waits for the owner to end, and for
# the setup to have written the state, then cleans up.
watch() {
  while alive "$1" "$2" || alive "$3" "$4"; do
    sleep 1
  done
  cleanup --watcher
}

# Tears down the harness in DIR, only one that the caller's run set up: the
# caller runs under its owner (CTest runs both fixtures; a script passes
# --owner $$), or is its watcher, or the owner has ended (an interrupted run).
cleanup() {
  display= owner_pid= owner_start= xvfb_pid= xvfb_start= server_pid= server_start=
  lane_pid= lane_start= watcher_pid= watcher_start=
  read_state || return 0
  if [ "${1:-}" != --watcher ]; then
    if alive "$owner_pid" "$owner_start" && ! descends_from "$owner_pid"; then
      echo "The harness in $dir belongs to another run (process $owner_pid): left alone" >&2
      return 0
    fi
    # The watcher runs in a session of its own, with its sleep, and holds the lock.
    if alive "$watcher_pid" "$watcher_start"; then
      kill -TERM -- "-$watcher_pid" 2>/dev/null || true
      wait_gone "$watcher_pid" "$watcher_start"
    fi
    exec 9>"$prefix.lock"
  fi
  # The watcher has the lock already (descriptor 9).
  if flock -w 5 9; then
    stop_harness
  else
    # Another run has the prefix: its server stays; this run's own processes go.
    echo "The Wine prefix $prefix is in use by another run: only this harness's own processes are stopped" >&2
    local pid
    for pid in xvfb server lane; do
      local p=${pid}_pid s=${pid}_start
      alive "${!p}" "${!s}" && kill "${!p}" 2>/dev/null || true
    done
    wait_gone "$xvfb_pid" "$xvfb_start" "$server_pid" "$server_start" "$lane_pid" "$lane_start"
  fi
  rm -f "$dir/state"
}

# The emulator: runs a Windows program under the harness's server, and fails
# when that server was gone before or ended during the program (Wine's
# programs then end with status 0 mid-run).
run_wine() {
  local own=
  [ "$(realpath -m "${WINEPREFIX:-$prefix}")" = "$prefix" ] && own=1
  if [ -n "$own" ] && ! alive "$server_pid" "$server_start"; then
    echo "The harness's wineserver (process $server_pid, prefix $prefix) is not running" >&2
    exit 1
  fi
  # A GoogleTest program makes this file when it starts its tests and removes
  # it when it has run them all: left behind, the program ended half-way
  # (Wine ends a program with status 0 when its server goes away).
  local unfinished=$dir/unfinished-$$
  rm -f "$unfinished"
  local windows_path=Z:${unfinished//\//\\}
  # The program ends with this script, also when it is killed outright.
  (TEST_PREMATURE_EXIT_FILE=$windows_path in_harness setpriv --pdeathsig KILL -- "$wine64" "$@") <&0 &
  local child=$! status=0
  trap 'kill -TERM "$child" 2>/dev/null || true' TERM INT HUP
  while :; do
    wait "$child" && status=0 || status=$?
    # A trapped signal interrupts wait with a status above 128; the program
    # may still run.
    kill -0 "$child" 2>/dev/null || break
  done
  if [ -f "$unfinished" ]; then
    rm -f "$unfinished"
    echo "$1 ended before it had run all its tests (status $status)" >&2
    [ "$status" -ne 0 ] || status=1
  fi
  if [ -n "$own" ] && ! alive "$server_pid" "$server_start"; then
    echo "The harness's wineserver (process $server_pid) ended while $1 ran" >&2
    [ "$status" -ne 0 ] || status=1
  fi
  exit "$status"
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
  watch) watch "$@" ;;
  wine|run)
    if ! read_state; then
      echo "No Wine harness is up in $dir: run the tests with ctest, whose fixture sets it up" >&2
      exit 1
    fi
    [ "$command" = run ] || run_wine "$@"
    in_harness "$@"
    ;;
  *) echo "harness.sh: no command $command" >&2; exit 2 ;;
esac
