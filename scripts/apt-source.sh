# Sourced by scripts that fetch from the Debian archive: the mirror comes from
# the machine's own apt sources (as apt-config names them, so APT_CONFIG
# counts), never from this repository.

# apt_source SUITE: prints the URI of the first enabled deb source that serves
# SUITE, then that source's Signed-By field as deb822 lines (none when it has
# none; an inline key keeps its continuation lines); fails when none does.
# apt itself parses the sources (so continuation lines, Enabled: and both
# formats count as apt reads them); SUITE matches a source's suite as written
# or, for an alias such as "stable", the codename its fetched Release names.
apt_source() {
  local want=$1 format='$(TARGET_OF) $(REPO_URI) $(SOURCESENTRY) $(RELEASE) $(CODENAME)' uri entry
  read -r uri entry < <(
    { apt-get indextargets --no-release-info --format "$format"; apt-get indextargets --format "$format"; } 2>/dev/null |
      awk -v want="$want" '$1 == "deb" && $2 !~ /^cdrom:/ && ($4 == want || $5 == want) { print $2, $3; exit }') &&
    [ -n "$uri" ] || return 1
  echo "$uri"
  # SOURCESENTRY is FILE:N, the Nth stanza of a .sources file or line N of a .list.
  awk -v n="${entry##*:}" '
    FNR == 1 { one = (FILENAME !~ /\.sources$/) }
    one && FNR == n {
      for (i = 2; i <= NF && $i !~ /^\[?signed-by=/; i++) ;
      if (i <= NF) { v = $i; sub(/^\[?signed-by=/, "", v); sub(/\].*/, "", v); print "Signed-By: " v }
      exit
    }
    one || /^#/ { next }
    /^[ \t]*$/ { fields = 0; next }
    !fields++ { stanza++ }
    stanza == n {
      if (/^[ \t]/) { if (key) print; next }
      key = (tolower($0) ~ /^signed-by:/)
      if (key) { sub(/^[^:]*:/, "Signed-By:"); print }
    }
  ' "${entry%:*}"
}

# apt_codename: the release's codename, from /etc/os-release.
apt_codename() {
  (. /etc/os-release && [ -n "${VERSION_CODENAME:-}" ] && echo "$VERSION_CODENAME")
}
