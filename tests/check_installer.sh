#!/usr/bin/env bash
# The installer (KORVANE_PACKAGE_ZIP's .paf.exe) as a Platform or a user runs
# it, silently, on test drive E:. One table of cases: where the files land for
# each form of the command line, a fresh install that is the zip's tree, an
# upgrade that keeps Data to the byte and the second, refusals that change
# nothing and say why; then installers cut off at seeded random moments and
# run again. Arguments: Wine command, run_command_line.exe,
# screenshot_driver.exe, platform_stand_in.exe.
set -u
wine=$1 run=$2 driver=$3 platform=$4
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
# The keys that portable-apps installers carry, each followed by its value.
resource=$(strings -el -n 3 "$installer")
for key in PortableApps.comAppID:KorvanePortable PortableApps.comFormatVersion:3.8 \
           "OriginalFilename:$(basename "$installer")" InternalName:KorvanePortable; do
  grep -A1 -x "${key%%:*}" <<<"$resource" | grep -qx "${key#*:}" || fail "the installer's version resource lacks ${key%%:*} ${key#*:}"
done
for key in Comments LegalTrademarks PortableApps.comInstallerVersion; do
  grep -qx "$key" <<<"$resource" || fail "the installer's version resource lacks $key"
done

work=$(readlink -f "$WINEPREFIX/dosdevices/e:")/installer
rm -rf "$work" && mkdir -p "$work" && cp "$installer" "$work/setup.exe" && unzip -q "$zip" -d "$work/zip" &&
  [ -f "$work/zip/KorvanePortable/KorvanePortable.exe" ] || { echo "FAIL: cannot lay out the installer and the zip's tree in $work"; exit 1; }
# TEMP is the folder Wine names (users/NAME/Temp in Wine 8, users/NAME/AppData/
# Local/Temp in Wine 10); a folder that is not there proves nothing.
# no_nsis_in_temp PREFIX: nothing from NSIS in that TEMP, in the shared prefix
# or in a copy of it.
temp=$("$wine" cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
[ -z "$temp" ] || temp=$("$wine" winepath -u "$temp" </dev/null 2>/dev/null | tr -d '\r')
temp=${temp#*/dosdevices/c:/} && temp=${temp#*/drive_c/}
no_nsis_in_temp() {
  local dir=$1/drive_c/$temp
  if [ -z "$temp" ] || [ ! -d "$dir" ]; then
    fail "no TEMP folder to look in ('${temp:+$dir}${temp:-Wine named none}')"
  elif ls -A "$dir" | grep -qi '^ns'; then
    fail "the installer left files in TEMP ($dir)"
  fi
}
# Type, path and content of everything under a folder (Data left out with a
# second argument); manifest adds sizes and times, the folder's own too.
# The installers' own logs (the app's and the /LOG=true one) are left out too.
skip=(\( -path ./zip -o -name pac_installer_log.ini -o -name setup.exe.log)
content() { (cd "$1" && find . -mindepth 1 "${skip[@]}" -o -path "./${2:-zip}" \) -prune -o -printf '%y %P\n' | LC_ALL=C sort &&
             find . "${skip[@]}" -o -path "./${2:-zip}" \) -prune -o -type f -exec sha256sum {} + | LC_ALL=C sort -k2); }
manifest() { content "$1" && (cd "$1" && find . "${skip[@]}" \) -prune -o -printf '%P %s %T@\n' | LC_ALL=C sort); }
stages() { find "$work" -path "$work/zip" -prune -o -name 'KorvanePortable-upgrade-*' -print; }
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
# makes up/ a read-only bind mount, "rodata" its app's Data; "full" a tmpfs
# holding up/'s files with 60 KiB to spare, copied out to up.after when the
# run ends.
namespace_run() {
  local as_root=(unshare --mount) prefix=$work.prefix
  [ "$(id -u)" -eq 0 ] || as_root=(unshare --user --map-root-user --mount)
  cp -al "$WINEPREFIX" "$prefix"
  "${as_root[@]}" bash -c 'up=$1; shift
    if [ "$1" = readonly ]; then mount --bind "$up" "$up" && mount -o remount,bind,ro "$up" || exit 99
    elif [ "$1" = rodata ]; then d=$up/KorvanePortable/Data && mount --bind "$d" "$d" && mount -o remount,bind,ro "$d" || exit 99
    else tar --format=posix -C "$up" -cf "$up.tar" . && mount -t tmpfs -o size=$(( $(du -sk "$up" | cut -f1) + 60 ))k tmpfs "$up" &&
         tar -C "$up" -xpf "$up.tar" || exit 99; fi
    export WINEPREFIX=$2; "$3" "$4" </dev/null; code=$?; wineserver -k; wineserver -w
    [ "$1" != full ] || cp -a "$up" "$up.after"; exit $code' _ "$work/up" "$1" "$prefix" "$wine" "$run"
  local code=$?
  no_nsis_in_temp "$prefix"
  rm -rf "$prefix" "$work/up.tar"
  return $code
}

# A stand-in for a running Platform in pa\PortableApps.com, as its installer finds it.
start_platform() {
  mkdir -p "$work/pa/PortableApps.com" && cp "$platform" "$work/pa/PortableApps.com/PortableAppsPlatform.exe"
  "$wine" 'E:\installer\pa\PortableApps.com\PortableAppsPlatform.exe' </dev/null >/dev/null 2>&1 &
  platform_pid=$!
  for _ in $(seq 300); do [ -f "$work/pa/PortableApps.com/ready.txt" ] && break; sleep 0.1; done
}
# The text a run wrote to its /LOG=true log beside the installer.
said() { iconv -f UTF-16LE -t UTF-8 "$work/setup.exe.log" 2>/dev/null | tr -d '\r'; }
# A destination folder of about N characters: E:\installer\ and 100-character parts.
long() { local path='E:\installer' part; part=$(printf 'd%.0s' $(seq 99)); while [ ${#path} -lt $(($1 - 101)) ]; do path+="\\$part"; done
         path+="\\$(printf 'e%.0s' $(seq $(($1 - ${#path} - 2))))\\"; printf '%s' "$path"; }

while IFS='|' read -r name prepare want target says line; do
  find "$work" -mindepth 1 -maxdepth 1 ! -name zip ! -name setup.exe -exec rm -rf {} +
  case $prepare in
    old|running|readonly|pair) prepare_old ;;
    # An old launcher of 1 KB: the new files do not fit even in place of the old.
    full) prepare_old && truncate -s 1000 "$old/KorvanePortable.exe" ;;
    noinfo) prepare_old && rm "$old/App/AppInfo/appinfo.ini" ;;
    link*) prepare_old && mkdir -p "$work/elsewhere/dir" && echo mine >"$work/elsewhere/dir/mine.txt" &&
           echo mine >"$work/elsewhere/file.txt" && ln -s "$work/elsewhere/${prepare#link}" "$old/App/link" ;;
    foreign|freshpage) mkdir -p "$old" && echo "someone else's" >"$old/notes.txt" ;;
    underfile) echo mine >"$work/f.txt" ;;
    # A launcher's name on someone else's file beside someone else's App.
    forged) mkdir -p "$old/App/mystuff" && printf MZ >"$old/KorvanePortable.exe" && echo thesis >"$old/App/mystuff/thesis.doc" ;;
    userfile) prepare_old && echo "my own" >"$old/notes.txt" ;;
    # Someone else's App and guide beside a planted stage marker.
    planted) mkdir -p "$old/App" "$old/KorvanePortable-upgrade-1" && echo thesis >"$old/App/thesis.doc" &&
             echo theirs >"$old/help.html" && printf '[Upgrade]\r\nAppID=KorvanePortable\r\n' >"$old/KorvanePortable-upgrade-1/upgrade.ini" ;;
    # What a fresh install cut off in its first milliseconds leaves: an empty
    # stage, or one with an empty marker.
    freshcut) mkdir -p "$old/KorvanePortable-upgrade-1" ;;
    freshcutini) mkdir -p "$old/KorvanePortable-upgrade-1" && : >"$old/KorvanePortable-upgrade-1/upgrade.ini" ;;
    # The same beside someone else's file: not ours.
    foreigncut) mkdir -p "$old/KorvanePortable-upgrade-1" && echo theirs >"$old/notes.txt" ;;
    emptymarker) prepare_old && mkdir -p "$old/KorvanePortable-upgrade-1" && : >"$old/KorvanePortable-upgrade-1/upgrade.ini" ;;
    # The installer inside the app's folder.
    inside) prepare_old && cp "$work/setup.exe" "$old/" ;;
    rodata) prepare_old && rm "$old/Data/README.txt" ;;
    root) prepare_old && cp "$work/setup.exe" "$work/../setup.exe" ;;
    # Drive R: is the app's folder itself: launcher and Data at the root.
    atroot) prepare_old && ln -sfn "$old" "$WINEPREFIX/dosdevices/r:" ;;
    # A swap cut off by a power cut: the old launcher, guide, licence and App
    # are aside, the new launcher is in, the new guide, App and Other are not.
    halfswap) prepare_old && s=$old/KorvanePortable-upgrade-1 && mkdir -p "$s/old" &&
              printf '[Upgrade]\r\nAppID=KorvanePortable\r\nReady=1\r\n' >"$s/upgrade.ini" &&
              mv "$old"/{KorvanePortable.exe,help.html,LICENSE.txt,App} "$s/old/" &&
              cp -r "$work"/zip/KorvanePortable/{help.html,App,Other} "$s/" && cp "$work/zip/KorvanePortable/KorvanePortable.exe" "$old/" ;;
    platform) start_platform ;;
  esac
  if [ "$prepare" = running ]; then
    "$wine" 'E:\installer\up\KorvanePortable\KorvanePortable.exe' </dev/null >/dev/null 2>&1 &
    launcher=$!
    "$wine" "$driver" panel </dev/null >/dev/null 2>&1 || fail "$name: the launcher did not start"
  fi
  # A full drive's files are seen in the copy made when the run ended; a
  # failed upgrade there leaves all as it was but the folder's own time.
  seen=$work && [ "$prepare" = full ] && seen=$work/up
  # The installer's folder's own time goes: a /LOG=true log beside it changes it.
  state() { if [ "$prepare" = full ]; then content "$1" && manifest "$1/KorvanePortable/Data"; else manifest "$1" | grep -v '^ '; fi; }
  before=$(state "$seen") data=$(manifest "$old/Data" 2>/dev/null)
  [ "$prepare" = full ] && seen=$work/up.after
  line=${line//ROOTSETUP/E:\\setup.exe}
  line=${line//INSIDESETUP/E:\\installer\\up\\KorvanePortable\\setup.exe}
  for n in 266 600 1014 1102; do line=${line//LONG$n/$(long $n)}; done
  export KORVANE_COMMAND_LINE=${line//SETUP/\"E:\\installer\\setup.exe\"}
  start=$(date +%s%N)
  case $prepare in
    readonly|rodata|full) namespace_run "$prepare"; code=$? ;;
    # A second installer while the first is held in the middle of its stage.
    pair) code=$(KORVANE_SECOND_COMMAND_LINE=$KORVANE_COMMAND_LINE KORVANE_PAUSE_AT='E:\installer\up\KorvanePortable\KorvanePortable-upgrade-1\old' \
                 "$wine" "$run" </dev/null | tr -d '\r' | sed -n 's/^first \([0-9]*\) second \([0-9]*\)$/\1:\2/p') ;;
    # The folder page, clicked as a user does: Install into someone else's
    # folder, OK on the refusal, another folder typed in, Install again.
    freshpage) "$wine" "$run" </dev/null & runner=$!
               title='Korvane Portable Edition'
               { "$wine" "$driver" click "$title" 1 && "$wine" "$driver" window "$title" 65535 >/dev/null &&
                 "$wine" "$driver" click "$title" 1 && "$wine" "$driver" text "$title" 1019 'E:\installer\fresh\KorvanePortable' &&
                 "$wine" "$driver" click "$title" 1; } </dev/null >/dev/null 2>&1 || fail "$name: the folder page was not found"
               wait "$runner"; code=$? ;;
    *) "$wine" "$run" </dev/null; code=$? ;;
  esac
  seconds=$(( ($(date +%s%N) - start) / 1000000 ))e-3
  if [ "$prepare" = running ]; then "$wine" "$driver" close </dev/null >/dev/null 2>&1; wait "$launcher"; fi
  if [ "$prepare" = platform ]; then
    wait "$platform_pid"
    grep -q '^AppID=KorvanePortable' "$work/pa/PortableApps.com/Data/NewApp.ini" 2>/dev/null ||
      fail "$name: no NewApp.ini for the Platform"
    [ "$(tr -d '\0\r' <"$work/pa/PortableApps.com/received.txt" 2>/dev/null)" = $'refresh\nAppID=KorvanePortable' ] ||
      fail "$name: the Platform got no notice of the new app"
    rm -rf "$work/pa/PortableApps.com"
    grep -q '^Run=true' "$work/$target/App/AppInfo/pac_installer_log.ini" 2>/dev/null || fail "$name: no installer log in App\AppInfo"
  fi
  rm -f "$work/../setup.exe" "$WINEPREFIX/dosdevices/r:" "$old/setup.exe"
  echo "$name: exit $code in $(printf '%.2f' "$seconds") s"
  [ "$code" = "$want" ] || fail "$name: exit code $code, not $want"
  [ -z "$says" ] || said | grep -qF -- "$says" || fail "$name: the log does not say '$says': $(said)"
  # Exit 2 with the install done: README.txt could not be written into Data.
  if [ "$want" != 0 ] && [ "$prepare" != rodata ] && [ "$prepare" != pair ]; then
    [ "$(state "$seen")" = "$before" ] || fail "$name: the refused install changed files"
    continue
  fi
  [ -z "$(stages)" ] || fail "$name: a stage was left: $(stages)"
  landed=$(cd "$work" && find . -path ./zip -prune -o -name KorvanePortable.exe -printf '%h\n')
  [ "$landed" = "./$target" ] || fail "$name: installed into '$landed', not '$target'"
  if [ "$prepare" = userfile ]; then [ -f "$old/notes.txt" ] && rm "$old/notes.txt" || fail "$name: the user's file is gone"; fi
  case $prepare in
    fresh*|platform)
      [ "$(content "$work/$target")" = "$(content "$work/zip/KorvanePortable")" ] || fail "$name: the installed tree is not the zip's"
      [ -n "${first:-}" ] || { first=$seconds; echo "$(printf '%.2f' "$seconds")" >"${zip%/*}/silent-install-seconds.txt"; }
      [ "${seconds%e-3}" -ge "${fastest:-999999}" ] || fastest=${seconds%e-3} ;;
    *)
      [ "$(content "$work/$target" Data)" = "$(content "$work/zip/KorvanePortable" Data)" ] || fail "$name: App, Other, launcher or guide not replaced"
      [ -d "$old/Data" ] && [ "$(manifest "$old/Data")" = "$data" ] || fail "$name: Data changed or gone" ;;
  esac
done <<'CASES'
/DESTINATION="a b\ü\"|fresh|0|a b/ü/KorvanePortable||SETUP /DESTINATION="E:\installer\a b\ü\" /S
"/DESTINATION=c dé\"|fresh|0|c dé/KorvanePortable||SETUP "/DESTINATION=E:\installer\c dé\" /SILENT=true /AUTOCLOSE=true
/DESTINATION=e  f unquoted|fresh|0|e  f/KorvanePortable||SETUP /SILENT=true /DESTINATION=E:\installer\e  f /AUTOCLOSE=true
/D=g h\Mine|fresh|0|g h/Mine||SETUP /S /D=E:\installer\g h\Mine
no destination: beside the installer|fresh|0|KorvanePortable||SETUP /S
/DESTINATION=fw/ with forward slashes|fresh|0|fw/KorvanePortable||SETUP /DESTINATION=E:/installer/fw/ /S
-o, the older form of /DESTINATION=|fresh|0|leg/KorvanePortable||SETUP -oE:\installer\leg\ /S
/COPYNUMBER=2: a second copy beside the first|fresh|0|cp/KorvanePortable_Copy_2||SETUP /DESTINATION=E:\installer\cp\ /COPYNUMBER=2 /S
a Platform's switches: the Platform hears of the new app|platform|0|pa/KorvanePortable||SETUP /DESTINATION="E:\installer\pa\" /AUTOCLOSE=true /HIDEINSTALLER=true /SILENT=true /SILENTLANGUAGEMODE=always
a Platform's switches without /SILENT: no page waits|platform|0|pa/KorvanePortable||SETUP /DESTINATION="E:\installer\pa\" /AUTOCLOSE=true /HIDEINSTALLER=true /SILENTLANGUAGEMODE=always /LOG=true
/DESTINATION= with doubled separators|fresh|0|dbl/KorvanePortable||SETUP /DESTINATION=E:\\installer\\dbl\\ /S
/DESTINATION= with doubled forward slashes|fresh|0|fs2/KorvanePortable||SETUP /DESTINATION=E://installer//fs2/ /S
-overwrite is no destination: beside the installer|fresh|0|KorvanePortable||SETUP /S -overwrite
the folder page checks a second folder afresh after a refusal|freshpage|0|fresh/KorvanePortable||SETUP /AUTOCLOSE=true /D=E:\installer\up\KorvanePortable
a Platform's switches, a destination with ..: the Platform hears of it|platform|0|pa/KorvanePortable||SETUP /DESTINATION=E:\installer\pa\..\pa\ /AUTOCLOSE=true /HIDEINSTALLER=true /SILENT=true
a Platform's switches, a \\?\ destination: the Platform hears of it|platform|0|pa/KorvanePortable||SETUP /DESTINATION=\\?\E:\installer\pa\ /AUTOCLOSE=true /HIDEINSTALLER=true /SILENT=true
a fresh install cut off at once: an empty stage|freshcut|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
a fresh install cut off at once: an empty marker|freshcutini|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
upgrade keeps Data|old|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
upgrade, /DESTINATION= the app's own folder|old|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\KorvanePortable\ /S
upgrade, /DESTINATION= the app's own folder without appinfo.ini|noinfo|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\KorvanePortable\ /S
upgrade by the installer inside the app's folder|inside|0|up/KorvanePortable||INSIDESETUP /S
upgrade repairs a folder without appinfo.ini|noinfo|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
upgrade keeps a user's file beside the launcher|userfile|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
upgrade by an installer at a drive root|root|0|up/KorvanePortable||ROOTSETUP /DESTINATION=E:\installer\up\ /S
upgrade, /DESTINATION= a drive root that is the app's folder|atroot|0|up/KorvanePortable||SETUP /DESTINATION=R:\ /S
upgrade finishes a swap cut off halfway|halfswap|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
upgrade removes a stage with an empty marker|emptymarker|0|up/KorvanePortable||SETUP /DESTINATION=E:\installer\up\ /S
two installers at once: the second waits, then refuses|pair|0:2|up/KorvanePortable|Another installer|SETUP /DESTINATION=E:\installer\up\ /S /LOG=true
upgrade into a read-only Data without README.txt says so|rodata|2|up/KorvanePortable|README.txt could not be written|SETUP /DESTINATION=E:\installer\up\ /S /LOG=true
refused: a forged launcher beside someone else's App|forged|2|||SETUP /DESTINATION=E:\installer\up\ /S
refused: a planted upgrade folder beside someone else's App|planted|2|||SETUP /DESTINATION=E:\installer\up\ /S
refused: an empty stage beside someone else's file|foreigncut|2||something other than|SETUP /DESTINATION=E:\installer\up\ /S /LOG=true
refused: a link in App to a folder|linkdir|2|||SETUP /DESTINATION=E:\installer\up\ /S
refused: a link in App to a file|linkfile.txt|2|||SETUP /DESTINATION=E:\installer\up\ /S
failed: drive full, upgrade changes nothing|full|2|||SETUP /DESTINATION=E:\installer\up\ /S
refused: someone else's folder|foreign|2|||SETUP /DESTINATION=E:\installer\up /S
refused: launcher running|running|2|||SETUP /DESTINATION=E:\installer\up\ /SILENT=true
refused: read-only drive, upgrade|readonly|2|||SETUP /DESTINATION=E:\installer\up\ /S
refused: read-only drive, new folder|readonly|2|||SETUP /DESTINATION=E:\installer\up\new\ /S
refused: a destination of 266 characters, too long|none|2||is too long|SETUP /DESTINATION=LONG266 /S /LOG=true
refused: a destination of 600 characters, too long|none|2||is too long|SETUP /LOG=true /DESTINATION="LONG600" /S
refused: a destination of 1014 characters, past what NSIS reads|none|2||reads at most|SETUP /LOG=true /S /DESTINATION="LONG1014"
refused: a destination of 1102 characters, past what NSIS reads|none|2||reads at most|SETUP /LOG=true /DESTINATION=LONG1102 /SILENT=true
refused: a folder name that ends in a blank|none|2||ends in a blank or a dot|SETUP /DESTINATION=E:\installer\tb \ /S /LOG=true
refused: a quoted folder name that is a blank|none|2||ends in a blank or a dot|SETUP /S /LOG=true /DESTINATION="E:\installer\tb\ "
refused: a folder name that ends in dots|none|2||ends in a blank or a dot|SETUP /DESTINATION=E:\installer\dots...\ /S /LOG=true
refused: a folder name that ends in a dot and a blank|none|2||ends in a blank or a dot|SETUP /DESTINATION="E:\installer\db. \" /S /LOG=true
refused: /DESTINATION=\ is no full path|none|2||is not a full path|SETUP /DESTINATION=\ /S /LOG=true
refused: a destination of 1102 characters with /S at the end|none|2||reads at most|SETUP /LOG=true /DESTINATION=LONG1102 /S
refused: /DESTINATION=\\ is no full path|none|2||is not a full path|SETUP /DESTINATION=\\ /S /LOG=true
refused: /DESTINATION=\\\ is no full path|none|2||is not a full path|SETUP /DESTINATION=\\\ /S /LOG=true
refused: /DESTINATION=E:installer\rel\, relative to E:'s folder|none|2||is not a full path|SETUP /DESTINATION=E:installer\rel\ /S /LOG=true
refused: a ? in a folder name|none|2||which Windows does not allow|SETUP /DESTINATION=E:\installer\q?\ /S /LOG=true
refused: a * in a folder name|none|2||which Windows does not allow|SETUP /DESTINATION=E:\installer\a*b\ /S /LOG=true
refused: a : in a folder name|none|2||which Windows does not allow|SETUP /DESTINATION=E:\installer\a:b\ /S /LOG=true
refused: a < in a folder name|none|2||which Windows does not allow|SETUP /DESTINATION=E:\installer\x<y\ /S /LOG=true
refused: a destination under a file|underfile|2||is a file, so no folder|SETUP /DESTINATION=E:\installer\f.txt\ /S /LOG=true
refused: a device's name as a folder|none|2||a device's name|SETUP /DESTINATION=E:\installer\con\ /S /LOG=true
refused: .. in a \\?\ destination|none|2||does not resolve|SETUP /DESTINATION=\\?\E:\installer\lp\..\lq\ /S /LOG=true
refused: /COPYNUMBER= that is a path|none|2||is not a number|SETUP /DESTINATION=E:\installer\cp\ /COPYNUMBER=\..\..\esc /S /LOG=true
CASES

# No trace on the computer: nothing in TEMP from NSIS, no registry keys.
no_nsis_in_temp "$WINEPREFIX"
"$wine" reg query 'HKCU\Software' /s 2>/dev/null | grep -qi korvane && fail "the installer left registry keys"

# Cuts: a fresh install and an upgrade, each killed at 20 seeded random
# moments and run again: the rerun ends with 0, gives the zip's tree, keeps
# Data to the byte and leaves no stage. Odd points count from the start, from
# its first millisecond to past its end (the span, the fastest fresh run
# above); even ones from the moment the stage appears, into the writing and
# the swap. Each point is a seeded share of the span, so KORVANE_CUT_SEED and
# KORVANE_CUT_SPAN repeat a campaign. A cut counts as landed when it left a
# stage or a changed folder; each kind needs a quarter of its cuts landed.
seed=${KORVANE_CUT_SEED:-$(od -An -tu2 -N2 /dev/urandom | tr -d ' ')}
RANDOM=$seed
span=${KORVANE_CUT_SPAN:-$(( fastest * 6 / 5 ))}
echo "cut campaign: seed $seed, span $span ms (KORVANE_CUT_SEED=$seed KORVANE_CUT_SPAN=$span repeats it)"
line='"E:\installer\setup.exe" /DESTINATION=E:\installer\up\ /S'
for kind in fresh upgrade; do
  landed=0
  for point in $(seq 20); do
    find "$work" -mindepth 1 -maxdepth 1 ! -name zip ! -name setup.exe -exec rm -rf {} +
    [ "$kind" = upgrade ] && prepare_old
    data=$(manifest "$old/Data" 2>/dev/null) before=$(content "$work/up" 2>/dev/null)
    share=$((RANDOM % 1001)) from=() start=start
    delay=$((span * share / 1000))
    if [ $((point % 2)) = 0 ]; then
      delay=$((delay / 10)) start=stage from=(KORVANE_KILL_FROM='E:\installer\up\KorvanePortable\KorvanePortable-upgrade-1')
    fi
    env "${from[@]}" KORVANE_KILL_AFTER_MS=$delay "KORVANE_COMMAND_LINE=$line" "$wine" "$run" </dev/null
    cut=$?
    # Landed: a stage left, or the folder neither as it was nor finished.
    if [ "$cut" = 254 ] && { [ -n "$(stages)" ] || { [ "$(content "$work/up" 2>/dev/null)" != "$before" ] &&
         [ "$(content "$old" Data 2>/dev/null)" != "$(content "$work/zip/KorvanePortable" Data)" ]; }; }; then
      landed=$((landed + 1))
    fi
    KORVANE_COMMAND_LINE=$line "$wine" "$run" </dev/null
    code=$?
    where="cut $kind $point (seed $seed) at $delay ms from the $start, exit $cut"
    [ "$code" = 0 ] || fail "$where: the rerun ended with $code"
    [ -z "$(stages)" ] || fail "$where: a stage was left: $(stages)"
    if [ "$kind" = fresh ]; then
      [ "$(content "$old")" = "$(content "$work/zip/KorvanePortable")" ] || fail "$where: the tree is not the zip's"
    else
      [ "$(content "$old" Data)" = "$(content "$work/zip/KorvanePortable" Data)" ] || fail "$where: App, Other, launcher or guide not replaced"
      [ "$(manifest "$old/Data")" = "$data" ] || fail "$where: Data changed"
    fi
  done
  echo "cut $kind: $landed of 20 cuts landed in the work"
  [ "$landed" -ge 5 ] || fail "cut $kind (seed $seed): only $landed of 20 cuts landed in the work"
done
# A killed installer cannot remove its plug-in folder from TEMP.
find "$WINEPREFIX"/drive_c/users -maxdepth 5 -path '*Temp/ns*.tmp' -exec rm -rf {} + 2>/dev/null
rm -rf "$work"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installer checks passed"
