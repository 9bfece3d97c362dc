#!/usr/bin/env bash
# make-icon.sh SVG FOLDER ICO [CONVERT]: renders the program's icon, drawn once
# as SVG, into FOLDER/icon_N.png (RGBA) for every size below, and into ICO.
# The .ico holds 16 to 64 pixels as 32-bit BGRA bitmaps with their AND mask
# (what Windows XP reads) and 256 as PNG. The same SVG gives the same bytes:
# no PNG carries a date. CONVERT is ImageMagick's convert or magick.
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

# ICONDIR, one ICONDIRENTRY each (a width or height of 256 is written as 0),
# then the images in the same order.
offset=$((6 + 16 * ${#ico_sizes[@]}))
{
  printf '%b' "$(le16 0)$(le16 1)$(le16 ${#ico_sizes[@]})"
  for size in "${ico_sizes[@]}"; do
    bytes=$(stat -c %s "$tmp/$size")
    printf '%b' "$(printf '\\x%02x' $((size & 255)) $((size & 255)) 0 0)$(le16 1)$(le16 32)$(le32 "$bytes")$(le32 $offset)"
    offset=$((offset + bytes))
  done
  for size in "${ico_sizes[@]}"; do
    cat "$tmp/$size"
  done
} >"$ico.part"
mv "$ico.part" "$ico"
