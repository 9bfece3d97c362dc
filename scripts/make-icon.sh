#!/usr/bin/env bash
# make-icon.sh SVG FOLDER ICO [CONVERT]: renders the program's icon, drawn once
# as SVG, into FOLDER/icon_N.png (RGBA) for every size below, and into ICO.
# The .ico holds 16 to 64 pixels as 32-bit BGRA bitmaps with their AND mask
# (what Windows XP reads) and 256 as PNG. appicon.ico beside it holds the
# same and, first, 16, 32 and 48 pixels in 256 colours, as the portable-apps
# format asks. The same SVG gives the same bytes: no PNG or BMP carries a
# date. CONVERT is ImageMagick's convert or magick.
set -euo pipefail
source "$(dirname "$0")/common.sh"
svg=$1 out=$2 ico=$3 convert=${4:-convert}
ico_sizes=(16 20 24 32 40 48 64 256)
mkdir -p "$out"
for size in "${ico_sizes[@]}" 75 128; do
  rsvg-convert -w "$size" -h "$size" "$svg" -o "$out/icon_$size.png"
done

# An image entry: BITMAPINFOHEADER (height counts colour and mask), the
# pixels bottom-up, then the AND mask, 1 where the pixel is fully transparent,
# each row padded to 32 bits.
bitmap() {
  local size=$1 png=$out/icon_$1.png padded=$((($1 + 31) / 32 * 32))
  printf '%b' "$(le32 40)$(le32 "$size")$(le32 $((size * 2)))$(le16 1)$(le16 32)$(le32 0)"
  printf '%b' "$(le32 $((size * size * 4 + padded / 8 * size)))$(le32 0)$(le32 0)$(le32 0)$(le32 0)"
  "$convert" "$png" -flip -depth 8 BGRA:-
  "$convert" "$png" -alpha extract -threshold 0 -negate -flip -background white \
             -extent "${padded}x$size" -depth 1 GRAY:-
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in "${ico_sizes[@]}"; do
  if [ "$size" -ge 256 ]; then
    cp "$out/icon_$size.png" "$tmp/$size"
  else
    bitmap "$size" >"$tmp/$size"
  fi
done

# A 256-colour image entry: ImageMagick's 8-bit BMP less its file header,
# its height doubled for the mask, then the same AND mask. Pixels under the
# mask are black, so that the screen shows through unchanged.
palette_bitmap() {
  local size=$1 png=$out/icon_$1.png padded=$((($1 + 31) / 32 * 32))
  "$convert" "$png" -background black -alpha remove -alpha off -colors 256 -type Palette -compress none \
             BMP3:"$tmp/$size.bmp"
  [ "$(od -An -tu2 -j28 -N2 "$tmp/$size.bmp" | tr -d ' ')" = 8 ] || { echo "$size px: not 8 bits" >&2; exit 1; }
  tail -c +15 "$tmp/$size.bmp" >"$tmp/$size.part"
  printf '%b' "$(le32 $((size * 2)))" | dd of="$tmp/$size.part" bs=1 seek=8 conv=notrunc status=none
  cat "$tmp/$size.part"
  "$convert" "$png" -alpha extract -threshold 0 -negate -flip -background white \
             -extent "${padded}x$size" -depth 1 GRAY:-
}

# write_ico FILE ENTRY...: ICONDIR, one ICONDIRENTRY each (a width or height
# of 256 is written as 0), then the images in the same order. An entry is
# SIZE:BITS, its image in $tmp/SIZE or $tmp/SIZE-8.
write_ico() {
  local file=$1 entry size bits image bytes
  shift
  local offset=$((6 + 16 * $#))
  {
    printf '%b' "$(le16 0)$(le16 1)$(le16 $#)"
    for entry in "$@"; do
      size=${entry%:*} bits=${entry#*:} image=$tmp/$size && [ "$bits" = 8 ] && image=$tmp/$size-8
      bytes=$(stat -c %s "$image")
      printf '%b' "$(printf '\\x%02x' $((size & 255)) $((size & 255)) 0 0)$(le16 1)$(le16 "$bits")$(le32 "$bytes")$(le32 $offset)"
      offset=$((offset + bytes))
    done
    for entry in "$@"; do
      size=${entry%:*} bits=${entry#*:} image=$tmp/$size && [ "$bits" = 8 ] && image=$tmp/$size-8
      cat "$image"
    done
  } >"$file.part"
  mv "$file.part" "$file"
}

entries=()
for size in "${ico_sizes[@]}"; do
  entries+=("$size:32")
done
write_ico "$ico" "${entries[@]}"
for size in 16 32 48; do
  palette_bitmap "$size" >"$tmp/$size-8"
done
write_ico "$(dirname "$ico")/appicon.ico" 16:8 32:8 48:8 "${entries[@]}"
