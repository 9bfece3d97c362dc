# Shared by the project's scripts: building, and a demo drive. A Wine prefix
# with mapped drives and a display comes from the tests' harness
# (tests/harness/harness.sh), as for the tests.

KORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KORVANE_BUILD=$(realpath -m "${KORVANE_BUILD:-$KORVANE_ROOT/build}")

KORVANE_HARNESS=$KORVANE_ROOT/tests/harness/harness.sh
# Wine runs in the harness's prefix, not in one of the caller's.
unset WINEPREFIX

# Little-endian 16- and 32-bit numbers as printf escapes, for icon files:
# printf '%b' "$(le16 1)$(le32 40)" writes their bytes.
le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16)); }

# Test builds: the 32-bit one (the architecture that ships) in build/, the
# x86-64 one in build/x86_64.
korvane_test_build() {
  case $1 in
    i686) echo "$KORVANE_BUILD" ;;
    x86_64) echo "$KORVANE_BUILD/x86_64" ;;
    *) echo "no such architecture: $1 (i686 or x86_64)" >&2; return 1 ;;
  esac
}

# The architecture whose programs run as native code here: benchmarks use it,
# since timings under emulation mean nothing.
korvane_native_arch() {
  if bash "$KORVANE_HARNESS" runs-32bit; then echo i686; else echo x86_64; fi
}

# korvane_build_arch ARCH FOLDER [CMAKE ARGUMENTS...]: configures and builds.
# Both test builds' tests run in one Wine prefix, made once in build/harness.
korvane_build_arch() {
  local arch=$1 folder=$2
  shift 2
  bash "$KORVANE_ROOT/scripts/setup.sh"
  cmake -S "$KORVANE_ROOT" -B "$folder" -DKORVANE_WINE_PREFIX="$KORVANE_BUILD/harness/prefix" \
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

# korvane_screenshot HARNESS MODE FILE: with the launcher running in that
# harness, shows MODE (panel, about or clear) and saves that window as a PNG.
korvane_screenshot() {
  local geometry x y w h
  geometry=$(bash "$KORVANE_HARNESS" wine "$1" "$KORVANE_BUILD/bin/screenshot_driver.exe" "$2" 2>/dev/null | tr -d '\r')
  read -r x y w h <<<"$geometry"
  bash "$KORVANE_HARNESS" run "$1" import -window root -crop "${w}x${h}+${x}+${y}" +repage "$3"
}
