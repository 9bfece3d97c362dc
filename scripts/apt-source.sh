# Sourced by scripts that fetch from the Debian archive: the mirror comes from
# the machine's own apt sources (as apt-config names them, so APT_CONFIG
# counts), never from this repository.

# apt_source SUITE: prints "URI<TAB>SIGNED-BY" of the first enabled deb source
# that serves SUITE (SIGNED-BY may be empty), from the deb822 *.sources files
# and the one-line sources.list format; fails when none does.
apt_source() {
  local suite=$1 list= parts= files=()
  eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
  [ -z "$list" ] || [ ! -f "$list" ] || files+=("$list")
  if [ -n "$parts" ] && [ -d "$parts" ]; then
    local f
    for f in "$parts"/*.list "$parts"/*.sources; do
      [ -f "$f" ] && files+=("$f")
    done
  fi
  [ ${#files[@]} -gt 0 ] || return 1
  awk -v want="$suite" '
    function has(words, w,   n, a, i) {
      n = split(words, a, /[ \t]+/)
      for (i = 1; i <= n; i++) if (a[i] == w) return 1
      return 0
    }
    function stanza() {
      if (has(f["types"], "deb") && has(f["suites"], want) && tolower(f["enabled"]) != "no" && f["uris"] != "") {
        split(f["uris"], u, /[ \t]+/)
        print u[1] "\t" f["signed-by"]; found = 1; exit
      }
      delete f; key = ""; any = 0
    }
    FNR == 1 { if (any) stanza(); one = (FILENAME !~ /\.sources$/) }
    one {
      sub(/#.*/, "")
      if ($1 != "deb") next
      signed = ""; i = 2
      if ($2 ~ /^\[/) {
        for (; i <= NF; i++) {
          if ($i ~ /^\[?signed-by=/) { signed = $i; sub(/^\[?signed-by=/, "", signed); sub(/\]$/, "", signed) }
          if ($i ~ /\]$/) { i++; break }
        }
      }
      if ($(i + 1) == want) { print $i "\t" signed; found = 1; exit }
      next
    }
    /^#/ { next }
    /^[ \t]*$/ { stanza(); next }
    /^[ \t]/ { if (key != "") { line = $0; sub(/^[ \t]+/, "", line); f[key] = f[key] " " line } next }
    {
      key = tolower($0); sub(/:.*/, "", key)
      value = $0; sub(/^[^:]*:[ \t]*/, "", value); sub(/[ \t]+$/, "", value)
      f[key] = value; any = 1
    }
    END { if (!found) { stanza(); if (!found) exit 1 } }
  ' "${files[@]}"
}

# apt_codename: the release's codename, from /etc/os-release.
apt_codename() {
  (. /etc/os-release && [ -n "${VERSION_CODENAME:-}" ] && echo "$VERSION_CODENAME")
}
