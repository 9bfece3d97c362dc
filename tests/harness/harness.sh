#!/usr/bin/env bash
# The tests' Wine harness in folder DIR (a build folder's harness/): a Wine
# prefix with Wine's own fonts, the test drives mapped with their serials, an
# Xvfb display, a persistent wineserver and, for 32-bit programs where the
# kernel cannot run 32-bit code, the 32-bit lane. CTest runs setup and cleanup
# as fixtures and each test program through the emulator DIR/wine.
#   harness.sh setup DIR [--lane] [--display] [--dpi N] [--owner PID] [--prefix PATH] LETTER:SERIAL[:FOLDER]...
#     --display: $DISPLAY, not Xvfb; --owner: torn down when it ends (default CTest);
#     --prefix: kept between runs (default DIR/prefix). No FOLDER: DIR/drive-LETTER, emptied.
#   harness.sh wine|run DIR PROGRAM|COMMAND [ARGUMENTS...] (or DIR/wine|run PROGRAM...): a Windows
#     program, or any command, in that prefix, display and lane | cleanup DIR | runs-32bit
# Setup starts a keeper, in a session of its own, that holds PREFIX.lock while the
# harness is up: one run at a time uses a prefix, and a free lock means no run owns
# what an earlier one left. It tears down (by pid, and `wineserver -k`) when told, when its
# owner ends, or when setup fails or is stopped. KORVANE_FORCE_LANE=1: the lane even where
# the kernel runs 32-bit code.
set -euo pipefail
wine64=/usr/lib/wine/wine64
fail() { echo "$*" >&2; exit "${status:-1}"; }

# True when this machine's binfmt_misc runs 32-bit ELF programs (not natively).
foreign_i386_handler() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [[ ${entry##*/} = @(register|status) ]] || ! grep -qx enabled "$entry" 2>/dev/null ||
      ! grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" || return 0
  done
  return 1
}
runs_32bit() {
  [ -z "${KORVANE_FORCE_LANE:-}" ] && ! foreign_i386_handler && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The lane: a private user and mount namespace with its own binfmt_misc (Linux
# 6.7 and later) that hands i386 ELF programs to qemu-i386. A process that
# sleeps in it keeps it; programs enter it with nsenter.
start_lane() {
  local why="The 32-bit lane cannot run:" major minor qemu i
  [ -x /usr/lib/wine/wine ] || fail "$why Wine's 32-bit loader is missing (package wine32:i386)"
  ! foreign_i386_handler || echo "A machine-wide handler runs 32-bit programs here; the tests use the lane's own instead."
  command -v unshare >/dev/null && command -v nsenter >/dev/null ||
    fail "$why unshare or nsenter (package util-linux) is missing"
  IFS=. read -r major minor _ <<<"$(uname -r)"
  [ "$major" -gt 6 ] || { [ "$major" -eq 6 ] && [ "${minor%%[!0-9]*}" -ge 7 ]; } ||
    fail "$why kernel $(uname -r) cannot run 32-bit code, and a private binfmt_misc needs Linux 6.7 or later"
  unshare --user --map-root-user --mount true 2>/dev/null ||
    fail "$why this machine allows no user namespaces (unshare --user --map-root-user failed)"
  qemu=$(bash "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../../scripts/fetch-qemu.sh") || exit 1
  rm -f "$dir/lane.ready"
  setpriv --pdeathsig KILL -- unshare --user --map-root-user --mount -- bash "${BASH_SOURCE[0]}" lane "$dir" \
    "$qemu" bash -c ': >"$0" && exec sleep infinity' "$dir/lane.ready" 9>&- &
  lane_pid=$!
  for ((i = 0; i < 600; i++)); do
    [ -f "$dir/lane.ready" ] && return 0
    proc_start "$lane_pid" >/dev/null || exit 1
    sleep 0.05
  done
  fail "$why its namespace did not come up in 30 s"
}

# Runs a command with the harness's environment, in the lane where there is one, with no
# prompts to install the browser or .NET. The ANSI code page comes from the locale: 1252
# whatever the machine's (the tests check its best fit), unless KORVANE_LOCALE names another.
in_harness() {
  export WINEPREFIX=${WINEPREFIX:-$prefix} WINEDEBUG=-all WINEARCH=win64 DISPLAY=$display \
         WINEDLLOVERRIDES="mscoree,mshtml="
  # Through env: a locale that this machine has not generated would make bash warn into the output.
  if [ -n "${lane_pid:-}" ] && [ "$(readlink /proc/self/ns/user)" != "$(readlink "/proc/$lane_pid/ns/user")" ]; then
    exec env LC_ALL="${KORVANE_LOCALE:-C.UTF-8}" nsenter --target "$lane_pid" --user --mount -- "$@"
  fi
  exec env LC_ALL="${KORVANE_LOCALE:-C.UTF-8}" "$@"
}
quietly() { (in_harness "$@") </dev/null >/dev/null 2>&1 9>&-; }
# In the background, so that a signal stops the keeper at once.
busy() {
  local status=0
  "$@" & busy_pid=$!
  wait "$busy_pid" || status=$?
  busy_pid='' && return "$status"
}

# shellcheck source=/dev/null
read_state() { [ -f "$dir/state" ] && source "$dir/state"; }

# The start time of process PID, or failure when it has ended (a zombie too).
# alive PID START: it runs, and is not another process under its pid.
proc_start() {
  local stat
  stat=$(cat "/proc/${1:-0}/stat" 2>/dev/null) || return 1
  set -- ${stat##*) }
  [[ $1 != [ZXx] ]] && echo "${20}"
}
alive() { [ -n "$2" ] && [ "$(proc_start "$1")" = "$2" ]; }

# The prefix looks whole: registry, system folder, drive C:, this harness's settings.
prefix_sound() {
  local file
  for file in system.reg user.reg userdef.reg drive_c/windows/system32/kernel32.dll; do
    [ -s "$prefix/$file" ] || return 1
  done
  [ -d "$prefix/dosdevices/c:/windows" ] && grep -q '^"Managed"="N"' "$prefix/user.reg" &&
    grep -q '^"ShowCrashDialog"=dword:00000000' "$prefix/user.reg"
}

# Debian's Wine does not find its own fonts: dialogs then fall back to a wider
# font (texts cut off, no caption glyphs). Each setup puts them back.
copy_fonts() {
  local font target
  mkdir -p "$prefix/drive_c/windows/Fonts"
  [ -d /usr/share/wine/fonts ] || fail "Wine's fonts are missing (/usr/share/wine/fonts): run scripts/setup.sh"
  for font in /usr/share/wine/fonts/*; do
    target=$prefix/drive_c/windows/Fonts/${font##*/}
    cmp -s "$font" "$target" || cp -p "$font" "$target"
  done
}

make_prefix() {
  local ready=$prefix/.korvane-prefix version
  version="$("$wine64" --version) dpi ${dpi:-96}"
  if [ "$(cat "$ready" 2>/dev/null)" != "$version" ] || ! prefix_sound; then
    [ ! -f "$ready" ] || echo "Remaking the Wine prefix $prefix (another Wine version or DPI, unfinished, or damaged)"
    # The stamp goes last, so a kill halfway leaves a prefix that is ours.
    mkdir -p "$prefix" && echo incomplete >"$ready"
    find "$prefix" -mindepth 1 -maxdepth 1 ! -name .korvane-prefix -exec rm -rf {} +
    busy in_harness "$wine64" wineboot -i </dev/null >"$dir/prefix.log" 2>&1 9>&- || fail "Wine could not create the prefix $prefix: $(tail -n 1 "$dir/prefix.log")"
    # No window manager: Wine draws the frames and destroys windows at once; no crash dialog.
    local reg='REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="N"\n'
    reg+='\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n'
    [ -z "$dpi" ] || reg+='\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n\n'`
      `'[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\n"LogPixels"=dword:%08x\n'
    # shellcheck disable=SC2059
    printf "$reg" "${dpi:-0}" "${dpi:-0}" >"$prefix/drive_c/korvane.reg"
    quietly "$wine64" regedit /S 'C:\korvane.reg' || true
    { quietly wineserver -k; quietly wineserver -w; } || true
    prefix_sound || fail "Wine made no sound prefix in $prefix"
    echo "$version" >"$ready"
  fi
  copy_fonts
}

# The keeper (setup's arguments): brings the harness up, writes DIR/state once
# it is up, and stays until told to go or until its owner ends.
keep() {
  local owner lane='' own_display='' drives=() owner_start keeper_pid=$$ keeper_start drive letter serial folder i name
  dpi='' display='' xvfb_pid='' lane_pid='' server_pid='' server_start='' busy_pid=''
  while [ $# -gt 0 ]; do
    case $1 in
      --lane) lane=1 ;;
      --display) [ -n "${DISPLAY:-}" ] || fail "harness.sh setup --display: DISPLAY is not set"; own_display=1 ;;
      --owner) owner=$2; shift ;;
      --dpi) dpi=$2; shift ;;
      --prefix) prefix=$(realpath -m "$2"); shift ;;
      *) drives+=("$1") ;;
    esac
    shift
  done
  owner_start=$(proc_start "$owner") || fail "harness.sh setup: no process $owner"
  keeper_start=$(proc_start $$)
  mkdir -p "$(dirname "$prefix")"
  # Nothing is touched before the lock is held; only a prefix this harness made is used.
  exec 9>"$prefix.lock"
  flock -w 30 9 || fail "The Wine prefix $prefix is in use by another test run (lock $prefix.lock held for 30 s):" \
    "nothing was changed"
  [ ! -d "$prefix" ] || [ -f "$prefix/.korvane-prefix" ] || [ -z "$(ls -A "$prefix")" ] ||
    fail "The folder $prefix is not empty and is no Wine prefix of these tests (it has no .korvane-prefix):" \
         "left as it is. Name a new or empty folder as the prefix (KORVANE_WINE_PREFIX)."
  trap teardown EXIT && trap 'exit 143' TERM
  # What an earlier run left is no run's now; no server may run while drives are mapped.
  rm -f "$dir/state"
  [ ! -d "$prefix" ] || quietly wineserver -k || true
  if [ -n "$own_display" ]; then
    display=$DISPLAY
  else
    local fifo=$dir/xvfb.fifo number=''
    rm -f "$fifo" && mkfifo "$fifo"
    setpriv --pdeathsig KILL -- Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
      3>"$fifo" </dev/null >/dev/null 2>&1 9>&- &
    xvfb_pid=$!
    read -r number <"$fifo" || true
    rm -f "$fifo" && display=:$number
    [ -n "$number" ] || fail "Xvfb did not start"
  fi
  [ -z "$lane" ] || runs_32bit || start_lane
  make_prefix
  for drive in "${drives[@]}"; do
    IFS=: read -r letter serial folder <<<"$drive"
    [ -n "$folder" ] || { folder=$dir/drive-$letter; rm -rf "$folder"; }
    mkdir -p "$folder"
    printf '%s\n' "$serial" >"$folder/.windows-serial"
    # Mapped before the server starts, or Wine reads no serial from them.
    ln -sfn "$folder" "$prefix/dosdevices/${letter}:"
  done
  # The server in the foreground (its pid known; up once its socket is in its
  # working folder), and Wine's services, detached from any test's output.
  (in_harness wineserver -f -p) </dev/null >/dev/null 2>&1 9>&- &
  server_pid=$!
  for ((i = 0; i < 200; i++)); do
    [ ! -S "/proc/$server_pid/cwd/socket" ] && proc_start "$server_pid" >/dev/null || break
    sleep 0.05
  done
  [ -S "/proc/$server_pid/cwd/socket" ] || fail "The wineserver for $prefix did not start"
  # Known later by its start time: saving the registry, it leaves that folder.
  server_start=$(proc_start "$server_pid")
  busy quietly "$wine64" cmd /c exit
  for name in prefix display owner owner_start keeper_pid keeper_start server_pid server_start lane_pid; do
    printf '%s=%q\n' "$name" "${!name}"
  done >"$dir/state.part"
  mv "$dir/state.part" "$dir/state"
  echo "Wine prefix $prefix, display $display${lane_pid:+, 32-bit lane (namespace of process $lane_pid)}"
  while alive "$owner" "$owner_start"; do sleep 1 & wait $! || true; done
}

# Stops the keeper's children by pid, and the prefix's programs with `wineserver -k`.
teardown() {
  local status=$?
  trap '' TERM
  rm -f "$dir/state"
  kill $busy_pid $xvfb_pid 2>/dev/null || true
  [ ! -d "$prefix" ] || { quietly wineserver -k; quietly wineserver -w; } || true
  [ -z "$lane_pid" ] || kill "$lane_pid" 2>/dev/null || true
  wait
  exit "$status"
}

# Starts the keeper and waits until it has the harness up or has failed; a
# signal to setup makes the keeper tear down what it had started.
setup() {
  local keeper log=$dir/harness.log
  mkdir -p "$dir"
  setsid bash "${BASH_SOURCE[0]}" keep "$dir" --owner "$PPID" "$@" </dev/null >"$log" 2>&1 &
  keeper=$!
  trap 'kill "$keeper"; wait "$keeper"; exit 130' INT
  trap 'kill "$keeper"; wait "$keeper"; exit 143' TERM
  until read_state && [ "$keeper_pid" = "$keeper" ]; do
    proc_start "$keeper" >/dev/null || { cat "$log" >&2; exit 1; }
    sleep 0.05
  done
  cat "$log"
}

# Tears down only a harness that the caller's run set up (CTest runs both
# fixtures; a script passes --owner $$), or whose owner has ended.
cleanup() {
  read_state || return 0
  ! alive "$owner" "$owner_start" || [ "$PPID" = "$owner" ] ||
    { echo "The harness in $dir belongs to another run (process $owner): left alone" >&2; return 0; }
  ! alive "$keeper_pid" "$keeper_start" || kill "$keeper_pid"
  exec 9>"$prefix.lock"
  flock -w 60 9 || fail "The harness in $dir did not end within 60 s"
  lane_pid=''
  quietly wineserver -k || true
  rm -f "$dir/state"
}

# Run as DIR/wine or DIR/run, the links that CMake makes to this script: the emulator.
[[ ${0##*/} != @(wine|run) ]] || set -- "${0##*/}" "$(dirname "$0")" "$@"
command=${1:-}
# The harness's own prefix, whatever the caller's environment says.
[[ $command = @(wine|run) ]] || unset WINEPREFIX
[ "$command" != runs-32bit ] || { runs_32bit; exit; }
[ -n "$command" ] && [ -n "${2:-}" ] || fail "usage: harness.sh setup|wine|run|cleanup DIR ..."
dir=$(realpath -m "$2")
prefix=$dir/prefix
shift 2
case $command in
  setup | keep | cleanup) "$command" "$@" ;;
  wine | run)
    read_state || fail "No Wine harness is up in $dir: run the tests with ctest, whose fixture sets it up"
    # Wine ends a program with status 0 when its server goes: none starts without
    # it. Another status is said (CTest reads only the output); the program ends with this script.
    [ "$command" = run ] || [ "$(realpath -m "${WINEPREFIX:-$prefix}")" != "$prefix" ] ||
      alive "$server_pid" "${server_start:-}" || fail "The harness's wineserver (process $server_pid) is not running"
    [ "$command" = run ] && in_harness "$@"
    # Wine now and then fails to start a process and says nothing: a GoogleTest case that
    # ends so, with no output at all, never ran, and starts once more (noted in DIR/restarts.log).
    out=$(mktemp)
    for try in 1 2; do
      status=0
      (in_harness setpriv --pdeathsig KILL -- "$wine64" "$@") >"$out" 2>&1 || status=$?
      [ $try = 1 ] && [ $status != 0 ] && [ ! -s "$out" ] && [[ ${2:-} = --gtest_filter=* ]] || break
      echo "$(date +%T) $1 $2: status $status, no output" >>"$dir/restarts.log"
    done
    cat "$out" && rm -f "$out"
    [ $status = 0 ] || fail "$1 ended with status $status"
    exit 0
    ;;
  # In the lane's namespace: its binfmt_misc hands i386 ELF programs to qemu-i386
  # (P keeps argv[0], O hands over the file, F opens qemu now), unless not needed.
  lane)
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
      fail "The 32-bit lane cannot run: this kernel ($(uname -r)) refuses a binfmt_misc of a user namespace's own"
    if [ -n "${KORVANE_FORCE_LANE:-}" ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo ":korvane-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:`
        `\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$1:POF" >/proc/sys/fs/binfmt_misc/register
      /usr/lib/wine/wine --version >/dev/null 2>&1 || fail "The 32-bit lane cannot run: Wine's 32-bit loader does not start under $1"
    fi
    shift && exec "$@"
    ;;
  *) fail "harness.sh: no command $command" ;;
esac
