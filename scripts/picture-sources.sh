#!/usr/bin/env bash
# Prints, for each picture in docs/, one line "SHA-256 picture": the hash of
# the files that decide what the picture shows. `make screenshots` keeps the
# lines in docs/pictures.sha256; tests/check_pictures.sh tells when a source
# has changed since its picture was taken.
set -euo pipefail
cd "$(dirname "$0")/.."

# picture: its sources (files, or folders whose files all count).
pictures=(
  "front-panel.png: res/dialogs.rc res/resource.h res/launcher.svg scripts/common.sh"
  "front-panel-144dpi.png: res/dialogs.rc res/resource.h res/launcher.svg scripts/common.sh"
  "about-box.png: res/dialogs.rc ui/AboutBox.cpp res/launcher.svg CMakeLists.txt"
  "clear-confirmation.png: ui/FrontPanel.cpp"
  "installer-folder-page.png: package/installer.nsi package/installer"
  "installer-cancel.png: package/installer.nsi package/installer"
  "installer-completed.png: package/installer.nsi package/installer"
  "installer-finish-page.png: package/installer.nsi package/installer"
  "user-guide.png: package/help.html.in package/Data-README.txt docs/front-panel.png docs/installer-folder-page.png"
  "icon-sizes.png: res/launcher.svg scripts/make-icon.sh"
)

for entry in "${pictures[@]}"; do
  picture=${entry%%:*}
  read -r -a sources <<<"${entry#*:}"
  # A missing source fails here, so the list cannot go stale quietly.
  hash=$(find "${sources[@]}" -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1)
  echo "$hash $picture"
done
