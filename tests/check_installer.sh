#!/usr/bin/env bash
# The installer (KORVANE_PACKAGE_ZIP's .paf.exe) as a Platform or a user runs
# it, silently, on test drive E:. One table of cases: where the files land for
# each form of the command line, a fresh install that is the zip's tree, an
# upgrade that keeps Data to the byte and the second, refusals that change
# nothing. Arguments: Wine command, run_command_line.exe, screenshot_driver.exe.
set -u
wine=$1 run=$2 driver=$3
zip=${KORVANE_PACKAGE_ZIP:-}
if [ -z "$zip" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "skipped: run through scripts/run-tests.sh, which makes the installer and the test drives"
  exit 77
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
installer=${zip%.zip}_English.paf.exe
grep -aq 'level="asInvoker"' "$installer" || fail "the installer's manifest does not say asInvoker"
strings -el "$installer" | grep -qx "$(unzip -p "$zip" KorvanePortable/App/AppInfo/appinfo.ini | sed -n 's/^PackageVersion=\([0-9.]*\).*/\1/p')" ||
  fail "the installer's version resource does not give the package's version"

work=$(readlink -f "$WINEPREFIX/dosdevices/e:")/installer
rm -rf "$work" && mkdir -p "$work" && cp "$installer" "$work/setup.exe" && unzip -q "$zip" -d "$work/zip" &&
  [ -f "$work/zip/KorvanePortable/KorvanePortable.exe" ] || { echo "FAIL: cannot lay out the installer and the zip's tree in $work"; exit 1; }
# Type, path and content of everything under a folder (Data left out with a
# second argument); manifest adds sizes and times, the folder's own too.
content() { (cd "$1" && find . -mindepth 1 \( -path ./zip -o -path "./${2:-zip}" \) -prune -o -printf '%y %P\n' | LC_ALL=C sort &&
             find . \( -path ./zip -o -path "./${2:-zip}" \) -prune -o -type f -exec sha256sum {} + | LC_ALL=C sort -k2); }
manifest() { content "$1" && (cd "$1" && find . -path ./zip -prune -o -printf '%P %s %T@\n' | LC_ALL=C sort); }
old=$work/up/KorvanePortable
# An earlier version's folder with the user's programs and settings, at odd times.
prepare_old() {
  mkdir -p "$work/up" && cp -r "$work/zip/KorvanePortable" "$work/up/" && mkdir -p "$old/Data/sub"
  head -c 5000 /dev/urandom >"$old/Data/dodivarav.exe"
  printf '[Server]\r\nPort=5901\r\n' >"$old/Data/sub/server_settings.ini"
  echo "my own note" >"$old/Data/README.txt"
  mv "$old/Other/Source/LICENSE.txt" "$old/LICENSE.txt" && echo stale >"$old/App/AppInfo/old.png"
  find "$old" -exec touch -h -d @1234567890 {} + && touch -d @1111111111 "$old/Data/sub"
}
# A private mount namespace with its own Wine server, in a linked copy of the
# prefix: a server of the shared prefix would write past the mount. "readonly"
# makes up/ a read-only bind mount; "full" a tmpfs holding up/'s files with
# 60 KiB to spare, copied out to up.after when the run ends.
namespace_run() {
  local as_root=(unshare --mount) prefix=$work.prefix
  [ "$(id -u)" -eq 0 ] || as_root=(unshare --user --map-root-user --mount)
  cp -al "$WINEPREFIX" "$prefix"
  "${as_root[@]}" bash -c 'up=$1; shift
    if [ "$1" = readonly ]; then mount --bind "$up" "$up" && mount -o remount,bind,ro "$up" || exit 99
    else tar --format=posix -C "$up" -cf "$up.tar" . && mount -t tmpfs -o size=$(( $(du -sk "$up" | cut -f1) + 60 ))k tmpfs "$up" &&
         tar -C "$up" -xpf "$up.tar" || exit 99; fi
    export WINEPREFIX=$2; "$3" "$4" </dev/null; code=$?; wineserver -k; wineserver -w
    [ "$1" = readonly ] || cp -a "$up" "$up.after"; exit $code' _ "$work/up" "$1" "$prefix" "$wine" "$run"
  local code=$?
  rm -rf "$prefix" "$work/up.tar"
  return $code
}

while IFS='|' read -r name prepare want target line; do
  find "$work" -mindepth 1 -maxdepth 1 ! -name zip ! -name setup.exe -exec rm -rf {} +
  case $prepare in
    old|running|readonly) prepare_old ;;
    # An old launcher of 1 KB: the new files do not fit even in place of the old.
    full) prepare_old && truncate -s 1000 "$old/KorvanePortable.exe" ;;
    noinfo) prepare_old && rm "$old/App/AppInfo/appinfo.ini" ;;
    link*) prepare_old && mkdir -p "$work/elsewhere/dir" && echo mine >"$work/elsewhere/dir/mine.txt" &&
           echo mine >"$work/elsewhere/file.txt" && ln -s "$work/elsewhere/${prepare#link}" "$old/App/link" ;;
    foreign) mkdir -p "$old" && echo "someone else's" >"$old/notes.txt" ;;
    # A launcher's name on someone else's file beside someone else's App.
    forged) mkdir -p "$old/App/mystuff" && printf MZ >"$old/KorvanePortable.exe" && echo thesis >"$old/App/mystuff/thesis.doc" ;;
    userfile) prepare_old && echo "my own" >"$old/notes.txt" ;;
    # Someone else's App and guide beside a planted stage marker.
    planted) mkdir -p "$old/App" "$old/KorvanePortable-upgrade-1" && echo thesis >"$old/App/thesis.doc" &&
             echo theirs >"$old/help.html" && printf '[Upgrade]\r\nAppID=KorvanePortable\r\n' >"$old/KorvanePortable-upgrade-1/upgrade.ini" ;;
    root) prepare_old && cp "$work/setup.exe" "$work/../setup.exe" ;;
    # Drive R: is the app's folder itself: launcher and Data at the root.
    atroot) prepare_old && ln -sfn "$old" "$WINEPREFIX/dosdevices/r:" ;;
    # A swap cut off by a power cut: the old launcher, guide, licence and App
    # are aside, the new launcher is in, the new guide, App and Other are not.
    halfswap) prepare_old && s=$old/KorvanePortable-upgrade-1 && mkdir -p "$s/old" &&
              printf '[Upgrade]\r\nAppID=KorvanePortable\r\nReady=1\r\n' >"$s/upgrade.ini" &&
              mv "$old"/{KorvanePortable.exe,help.html,LICENSE.txt,App} "$s/old/" &&
              cp -r "$work"/zip/KorvanePortable/{help.html,App,Other} "$s/" && cp "$work/zip/KorvanePortable/KorvanePortable.exe" "$old/" ;;
  esac
  if [ "$prepare" = running ]; then
    "$wine" 'E:\installer\up\KorvanePortable\KorvanePortable.exe' </dev/null >/dev/null 2>&1 &
    launcher=$!
    "$wine" "$driver" panel </dev/null >/dev/null 2>&1 || fail "$name: the launcher did not start"
  fi
  # A full drive's files are seen in the copy made when the run ended; a
  # failed upgrade there leaves all as it was but the folder's own time.
  seen=$work && [ "$prepare" = full ] && seen=$work/up
  state() { if [ "$prepare" = full ]; then content "$1" && manifest "$1/KorvanePortable/Data"; else manifest "$1"; fi; }
  before=$(state "$seen") data=$(manifest "$old/Data" 2>/dev/null)
  [ "$prepare" = full ] && seen=$work/up.after
  line=${line//ROOTSETUP/E:\\setup.exe}
  export KORVANE_COMMAND_LINE=${line//SETUP/\"E:\\installer\\setup.exe\"}
  start=$(date +%s%N)
  case $prepare in readonly|full) namespace_run "$prepare" ;; *) "$wine" "$run" </dev/null ;; esac
  code=$? seconds=$(( ($(date +%s%N) - start) / 1000000 ))e-3
  if [ "$prepare" = running ]; then "$wine" "$driver" close </dev/null >/dev/null 2>&1; wait "$launcher"; fi
  rm -f "$work/../setup.exe" "$WINEPREFIX/dosdevices/r:"
  echo "$name: exit $code in $(printf '%.2f' "$seconds") s"
  [ "$code" = "$want" ] || fail "$name: exit code $code, not $want"
  if [ "$want" != 0 ]; then
    [ "$(state "$seen")" = "$before" ] || fail "$name: the refused install changed files"
    continue
  fi
  landed=$(cd "$work" && find . -path ./zip -prune -o -name KorvanePortable.exe -printf '%h\n')
  [ "$landed" = "./$target" ] || fail "$name: installed into '$landed', not '$target'"
  if [ "$prepare" = userfile ]; then [ -f "$old/notes.txt" ] && rm "$old/notes.txt" || fail "$name: the user's file is gone"; fi
  if [ "$prepare" != none ]; then
    [ "$(content "$work/$target" Data)" = "$(content "$work/zip/KorvanePortable" Data)" ] || fail "$name: App, Other, launcher or guide not replaced"
    [ -d "$old/Data" ] && [ "$(manifest "$old/Data")" = "$data" ] || fail "$name: Data changed or gone"
  else
    [ "$(content "$work/$target")" = "$(content "$work/zip/KorvanePortable")" ] || fail "$name: the installed tree is not the zip's"
    [ -n "${first:-}" ] || { first=$seconds; echo "$(printf '%.2f' "$seconds")" >"${zip%/*}/silent-install-seconds.txt"; }
  fi
done <<'CASES'
/DESTINATION="a b\ü\"|none|0|a b/ü/KorvanePortable|SETUP /DESTINATION="E:\installer\a b\ü\" /S
"/DESTINATION=c dé\"|none|0|c dé/KorvanePortable|SETUP "/DESTINATION=E:\installer\c dé\" /SILENT=true /AUTOCLOSE=true
/DESTINATION=e  f unquoted|none|0|e  f/KorvanePortable|SETUP /SILENT=true /DESTINATION=E:\installer\e  f /AUTOCLOSE=true
/D=g h\Mine|none|0|g h/Mine|SETUP /S /D=E:\installer\g h\Mine
no destination: beside the installer|none|0|KorvanePortable|SETUP /S
/DESTINATION=fw/ with forward slashes|none|0|fw/KorvanePortable|SETUP /DESTINATION=E:/installer/fw/ /S
upgrade keeps Data|old|0|up/KorvanePortable|SETUP /DESTINATION=E:\installer\up\ /S
upgrade, /DESTINATION= the app's own folder|old|0|up/KorvanePortable|SETUP /DESTINATION=E:\installer\up\KorvanePortable\ /S
upgrade repairs a folder without appinfo.ini|noinfo|0|up/KorvanePortable|SETUP /DESTINATION=E:\installer\up\ /S
upgrade keeps a user's file beside the launcher|userfile|0|up/KorvanePortable|SETUP /DESTINATION=E:\installer\up\ /S
upgrade by an installer at a drive root|root|0|up/KorvanePortable|ROOTSETUP /DESTINATION=E:\installer\up\ /S
upgrade, /DESTINATION= a drive root that is the app's folder|atroot|0|up/KorvanePortable|SETUP /DESTINATION=R:\ /S
upgrade finishes a swap cut off halfway|halfswap|0|up/KorvanePortable|SETUP /DESTINATION=E:\installer\up\ /S
refused: a forged launcher beside someone else's App|forged|2||SETUP /DESTINATION=E:\installer\up\ /S
refused: a planted upgrade folder beside someone else's App|planted|2||SETUP /DESTINATION=E:\installer\up\ /S
refused: a link in App to a folder|linkdir|2||SETUP /DESTINATION=E:\installer\up\ /S
refused: a link in App to a file|linkfile.txt|2||SETUP /DESTINATION=E:\installer\up\ /S
failed: drive full, upgrade changes nothing|full|2||SETUP /DESTINATION=E:\installer\up\ /S
refused: someone else's folder|foreign|2||SETUP /DESTINATION=E:\installer\up /S
refused: launcher running|running|2||SETUP /DESTINATION=E:\installer\up\ /SILENT=true
refused: read-only drive, upgrade|readonly|2||SETUP /DESTINATION=E:\installer\up\ /S
refused: read-only drive, new folder|readonly|2||SETUP /DESTINATION=E:\installer\up\new\ /S
CASES

# No trace on the computer: nothing in TEMP from NSIS, no registry keys. TEMP
# is the folder Wine names (users/NAME/Temp in Wine 8, users/NAME/AppData/
# Local/Temp in Wine 10); a folder that is not there proves nothing.
temp=$("$wine" cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
[ -z "$temp" ] || temp=$("$wine" winepath -u "$temp" </dev/null 2>/dev/null | tr -d '\r')
if [ -z "$temp" ] || [ ! -d "$temp" ]; then
  fail "no TEMP folder to look in ('${temp:-Wine named none}')"
elif ls -A "$temp" | grep -qi '^ns'; then
  fail "the installer left files in TEMP ($temp)"
fi
"$wine" reg query 'HKCU\Software' /s 2>/dev/null | grep -qi korvane && fail "the installer left registry keys"
rm -rf "$work"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installer checks passed"
