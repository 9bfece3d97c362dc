# Shared by the project's scripts: build, a private Wine prefix with mapped
# test drives, and an Xvfb display. Everything started here is stopped by its
# own process id or by `wineserver -k` with the same WINEPREFIX.

KORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KORVANE_BUILD=$(realpath -m "${KORVANE_BUILD:-$KORVANE_ROOT/build}")

# The launcher ships as a 32-bit program. Running it under Wine needs a kernel
# that runs 32-bit code; where it cannot (IA-32 emulation switched off), the
# tests, the demo and the benchmarks build the same sources for x86-64 and run
# them under 64-bit Wine instead. KORVANE_ARCH=i686 or x86_64 forces a choice.
korvane_choose_arch() {
  if [ -z "${KORVANE_ARCH:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      KORVANE_ARCH=i686
    else
      KORVANE_ARCH=x86_64
    fi
  fi
  case $KORVANE_ARCH in
    i686)
      KORVANE_RUN_BUILD=$KORVANE_BUILD
      KORVANE_WINE=wine
      KORVANE_WINEARCH=win32 ;;
    x86_64)
      KORVANE_RUN_BUILD=$KORVANE_BUILD/x86_64
      KORVANE_WINE=/usr/lib/wine/wine64
      KORVANE_WINEARCH=win64 ;;
    *)
      echo "KORVANE_ARCH must be i686 or x86_64" >&2
      return 1 ;;
  esac
  export KORVANE_ARCH KORVANE_RUN_BUILD KORVANE_WINE
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

# Builds everything for the architecture that this machine's Wine runs.
korvane_build() {
  korvane_choose_arch
  korvane_build_arch "$KORVANE_ARCH" "$KORVANE_RUN_BUILD" "$@"
}

# korvane_wine_start PREFIX [LETTER:FOLDER:SERIAL ...]
# Creates the prefix, maps each drive letter to its folder with the given
# volume serial, and starts a persistent wineserver with detached output.
korvane_wine_start() {
  export WINEPREFIX=$1; shift
  korvane_choose_arch
  export WINEDEBUG=-all
  export WINEARCH=$KORVANE_WINEARCH
  # No prompts to install the browser or .NET runtimes while the prefix is made.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$KORVANE_WINE" wineboot -i </dev/null >/dev/null 2>&1
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

# korvane_lay_out_drive FOLDER: the launcher, Data with the stand-ins, and a
# viewer settings file (UTF-16LE) with a few recent connections.
korvane_lay_out_drive() {
  local drive=$1
  mkdir -p "$drive/Data"
  cp "$KORVANE_RUN_BUILD/bin/KorvanePortable.exe" "$drive/"
  cp "$KORVANE_RUN_BUILD/bin/standins/dodivarav.exe" "$KORVANE_RUN_BUILD/bin/standins/WinZRX.exe" "$drive/Data/"
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
  geometry=$("$KORVANE_WINE" "$KORVANE_RUN_BUILD/bin/screenshot_driver.exe" "$1" 2>/dev/null | tr -d '\r')
  read -r x y w h <<<"$geometry"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
}
