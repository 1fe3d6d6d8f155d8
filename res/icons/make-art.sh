#!/usr/bin/env bash
# Draws the program's pictures from their SVG sources:
#   icons/quorvelan-{16,32,48,128}.png  desktop icons (hicolor theme)
#   icon128.png                         the window icon: 16 x 16, 256-colour palette
#   about136.bmp                        the about box picture: 122 x 154, 24-bit
# Needs rsvg-convert (librsvg2-bin) and ImageMagick. Output carries no time
# stamps, so running it again changes nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
res=$(dirname "$here")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# ImageMagick's own binary, not a wrapper earlier on PATH.
im=convert
[[ -x /usr/bin/convert ]] && im=/usr/bin/convert
png_opts=(-strip -define png:exclude-chunks=date,time)

# 16 pixels has its own drawing; the large one turns to mush that small.
rsvg-convert -w 16 -h 16 "$here/quorvelan-small.svg" -o "$tmp/16.png"
"$im" "$tmp/16.png" "${png_opts[@]}" "PNG32:$here/quorvelan-16.png"
for size in 32 48 128; do
  rsvg-convert -w "$size" -h "$size" "$here/quorvelan.svg" -o "$tmp/$size.png"
  "$im" "$tmp/$size.png" "${png_opts[@]}" "PNG32:$here/quorvelan-$size.png"
done

# The window icon: the 16-pixel drawing in at most 256 colours, transparent
# corners kept as one palette entry.
"$im" "$tmp/16.png" +dither -colors 255 "${png_opts[@]}" "PNG8:$res/icon128.png"

# The about picture has no transparency: flatten on its own dark panel colour.
rsvg-convert -w 122 -h 154 "$res/about136.svg" -o "$tmp/about.png"
"$im" "$tmp/about.png" -background '#061318' -alpha remove -alpha off -type TrueColor \
  -strip "BMP3:$res/about136.bmp"

echo "drawn: $(cd "$res" && ls icon128.png about136.bmp icons/quorvelan-*.png | tr '\n' ' ')"
