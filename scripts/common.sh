# Shared by the project's scripts: build, a private Wine prefix with mapped
# test drives, and an Xvfb display. Everything started here is stopped by its
# own process id or by `wineserver -k` with the same WINEPREFIX.

KORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KORVANE_BUILD=$(realpath -m "${KORVANE_BUILD:-$KORVANE_ROOT/build}")

# Test builds: the 32-bit one (the architecture that ships) in build/, the
# x86-64 one in build/x86_64. Both run in one Wine prefix of the win64 kind,
# whose server and services are native 64-bit code.
KORVANE_WINE=/usr/lib/wine/wine64
korvane_test_build() {
  case $1 in
    i686) echo "$KORVANE_BUILD" ;;
    x86_64) echo "$KORVANE_BUILD/x86_64" ;;
    *) echo "no such architecture: $1 (i686 or x86_64)" >&2; return 1 ;;
  esac
}

# True when a binfmt_misc handler of this machine takes 32-bit ELF programs
# (an emulator registered machine-wide): 32-bit code then runs, but not as
# native code, so it proves nothing about the kernel.
korvane_foreign_i386_handler() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case ${entry##*/} in register|status) continue ;; esac
    grep -qx enabled "$entry" 2>/dev/null &&
      grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" 2>/dev/null && return 0
  done
  return 1
}

# True where this kernel runs Wine's 32-bit loader itself. Where IA-32
# emulation is switched off it cannot, and 32-bit programs run through the
# 32-bit lane below instead.
korvane_runs_32bit() {
  ! korvane_foreign_i386_handler && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The architecture whose programs run as native code here: benchmarks use it,
# since timings under emulation mean nothing.
korvane_native_arch() {
  if korvane_runs_32bit; then echo i686; else echo x86_64; fi
}

# The 32-bit lane, for kernels that cannot run 32-bit code: a private user and
# mount namespace mounts its own binfmt_misc (Linux 6.7 and later) and hands
# i386 ELF programs, Wine's 32-bit loader among them, to a static qemu-i386.
# The registration lives and dies with the namespace; nothing outside changes.
# Bookworm's own qemu (7.2) takes a minute per Windows process, so the lane
# takes qemu-user 10 from bookworm-backports, downloaded once with a private
# apt configuration and kept in KORVANE_CACHE.
KORVANE_CACHE=${KORVANE_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/korvane-portable}
KORVANE_QEMU=$KORVANE_CACHE/qemu-i386

korvane_lane_fail() {
  echo "The 32-bit lane cannot run: $*" >&2
  return 1
}

# Brings qemu-i386 into the cache, or says in one line why it cannot. Runs
# that share the cache take turns.
korvane_fetch_qemu() {
  [ -x "$KORVANE_QEMU" ] && return 0
  mkdir -p "$KORVANE_CACHE"
  (
    flock 9
    [ -x "$KORVANE_QEMU" ] || korvane_download_qemu
  ) 9>"$KORVANE_CACHE/lock"
}

korvane_download_qemu() {
  local apt=$KORVANE_CACHE/apt
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
    korvane_lane_fail "downloading qemu-user from bookworm-backports failed: $(grep -E -A1 '^(E|Err):' "$log" | head -n 2 | tr -s '\n ' ' ')(all of it in $log)"
    return 1
  fi
  dpkg -x "$apt"/deb/qemu-user_*.deb "$apt/unpacked" &&
    cp "$apt/unpacked/usr/bin/qemu-i386" "$KORVANE_QEMU.part" && mv "$KORVANE_QEMU.part" "$KORVANE_QEMU" ||
    { korvane_lane_fail "the qemu-user package holds no usr/bin/qemu-i386"; return 1; }
  rm -rf "$apt"
}

# korvane_in_32bit_lane [--exec] COMMAND...: runs COMMAND where Wine's 32-bit
# loader runs: directly where the kernel runs it, else inside the lane's
# namespace. With --exec, COMMAND replaces the calling shell, so that signals
# sent to it reach COMMAND. Fails with one line that says why when neither is
# possible.
korvane_in_32bit_lane() {
  local run=
  if [ "$1" = --exec ]; then
    run=exec
    shift
  fi
  [ -x /usr/lib/wine/wine ] || { korvane_lane_fail "Wine's 32-bit loader is missing (package wine32:i386)"; return 1; }
  if korvane_runs_32bit; then
    $run "$@"
    return
  fi
  korvane_foreign_i386_handler &&
    echo "A machine-wide handler runs 32-bit programs here; the tests use the lane's own instead." >&2
  command -v unshare >/dev/null || { korvane_lane_fail "unshare (package util-linux) is missing"; return 1; }
  local kernel major minor
  kernel=$(uname -r)
  IFS=. read -r major minor _ <<<"$kernel"
  if [ "$major" -lt 6 ] || { [ "$major" -eq 6 ] && [ "${minor%%[!0-9]*}" -lt 7 ]; }; then
    korvane_lane_fail "kernel $kernel cannot run 32-bit code, and a private binfmt_misc needs Linux 6.7 or later"
    return 1
  fi
  unshare --user --map-root-user --mount true 2>/dev/null ||
    { korvane_lane_fail "this machine allows no user namespaces (unshare --user --map-root-user failed)"; return 1; }
  korvane_fetch_qemu || return 1
  $run unshare --user --map-root-user --mount -- bash "$KORVANE_ROOT/scripts/lane32.sh" "$KORVANE_QEMU" "$@"
}

# korvane_build_arch ARCH FOLDER [CMAKE ARGUMENTS...]: configures and builds.
korvane_build_arch() {
  local arch=$1 folder=$2
  shift 2
  bash "$KORVANE_ROOT/scripts/setup.sh"
  cmake -S "$KORVANE_ROOT" -B "$folder" \
        -DCMAKE_TOOLCHAIN_FILE="$KORVANE_ROOT/cmake/mingw-$arch.cmake" "$@" >/dev/null
  cmake --build "$folder" -j"$(nproc)"
}

# korvane_build_release ARCH FOLDER: the launcher alone, afresh, as it ships:
# the compilers' win32 thread model links no threads library into it, and a
# fresh folder takes up SOURCE_DATE_EPOCH in the build line.
korvane_build_release() {
  local arch=$1 folder=$2
  rm -rf "$folder"
  cmake -S "$KORVANE_ROOT" -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$KORVANE_ROOT/cmake/mingw-$arch.cmake" \
        -DKORVANE_THREADS=win32 -DKORVANE_TESTS=OFF -DKORVANE_BENCH=OFF >/dev/null
  cmake --build "$folder" --target KorvanePortable -j"$(nproc)" >/dev/null
}

# korvane_wine_start PREFIX [LETTER:FOLDER:SERIAL ...]
# Creates the prefix (win64: 32- and 64-bit programs run in it), gives it
# Wine's own fonts, maps each drive letter to its folder with the given volume
# serial, and starts a persistent wineserver with detached output.
korvane_wine_start() {
  export WINEPREFIX=$1; shift
  export WINEDEBUG=-all
  export WINEARCH=win64
  # No prompts to install the browser or .NET runtimes while the prefix is made.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    local log=$WINEPREFIX.log
    if ! "$KORVANE_WINE" wineboot -i </dev/null >"$log" 2>&1; then
      echo "Wine could not create the prefix $WINEPREFIX: $(tail -n 1 "$log")" >&2
      return 1
    fi
    rm -f "$log"
    # Without a window manager: Wine draws the frames itself and destroys
    # windows at once; a crash never waits on a dialog.
    cat > "$WINEPREFIX/drive_c/korvane.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    "$KORVANE_WINE" regedit /S 'C:\korvane.reg' </dev/null >/dev/null 2>&1
    wineserver -k || true
    wineserver -w || true
    # Debian's Wine does not find its own fonts by itself: without them dialogs
    # fall back to a wider font (texts cut off, no caption glyphs).
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  local map letter folder serial
  for map in "$@"; do
    IFS=: read -r letter folder serial <<<"$map"
    mkdir -p "$folder"
    printf '%s\n' "$serial" > "$folder/.windows-serial"
    ln -sfn "$folder" "$WINEPREFIX/dosdevices/${letter}:"
  done
  wineserver -p </dev/null >/dev/null 2>&1
  "$KORVANE_WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

korvane_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
}

# korvane_xvfb_start [WIDTHxHEIGHT]: starts Xvfb on a free display, sets DISPLAY.
korvane_xvfb_start() {
  local size=${1:-1280x1024}
  local fifo
  fifo=$(mktemp -u /tmp/korvane-xvfb.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
  KORVANE_XVFB_PID=$!
  local number
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
}

korvane_xvfb_stop() {
  if [ -n "${KORVANE_XVFB_PID:-}" ]; then
    kill "$KORVANE_XVFB_PID" 2>/dev/null || true
    wait "$KORVANE_XVFB_PID" 2>/dev/null || true
    KORVANE_XVFB_PID=
  fi
}

# korvane_lay_out_drive FOLDER: the release launcher, Data with the 32-bit
# stand-ins, and a viewer settings file (UTF-16LE) with a few recent connections.
korvane_lay_out_drive() {
  local drive=$1
  mkdir -p "$drive/Data"
  cp "$KORVANE_BUILD/release/bin/KorvanePortable.exe" "$drive/"
  cp "$KORVANE_BUILD/bin/standins/dodivarav.exe" "$KORVANE_BUILD/bin/standins/WinZRX.exe" "$drive/Data/"
  local history='80000001\Software\Durmont\DODivarav\History'
  {
    printf '\xef\xbb\xbf'
    printf '[80000001\\Software\\Durmont\\DODivarav\\Settings]\r\nHistoryLimit=d32\r\n'
    printf '[%s]\r\n0=Sworkstation.example::5901\r\n1=Slab-server:1\r\n2=Shelpdesk.example.org\r\n' "$history"
    printf '[%s\\workstation.example::5901]\r\nViewOnly=d0\r\n' "$history"
    printf '[%s\\lab-server:1]\r\nViewOnly=d1\r\n' "$history"
    printf '[%s\\helpdesk.example.org]\r\nViewOnly=d0\r\n' "$history"
  } | iconv -f UTF-8 -t UTF-16LE > "$drive/Data/viewer_settings.ini"
  printf '[Server]\r\nPort=5900\r\n' > "$drive/Data/server_settings.ini"
}

# korvane_set_dpi DPI: the prefix's screen resolution for text (96 is normal).
korvane_set_dpi() {
  local hex
  hex=$(printf '%08x' "$1")
  cat > "$WINEPREFIX/drive_c/dpi.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$hex

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]
"LogPixels"=dword:$hex
REG
  "$KORVANE_WINE" regedit /S 'C:\dpi.reg' </dev/null >/dev/null 2>&1
}

# korvane_screenshot MODE FILE: with the launcher running, shows MODE (panel,
# about or clear) and saves that window as a PNG.
korvane_screenshot() {
  local geometry x y w h
  geometry=$("$KORVANE_WINE" "$KORVANE_BUILD/bin/screenshot_driver.exe" "$1" 2>/dev/null | tr -d '\r')
  read -r x y w h <<<"$geometry"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
}
