#!/usr/bin/env bash
# Renders the icons' SVG drawings into the PNG and ICO files that the build
# and the installer use. The outputs are committed, so building never needs
# the renderers; run this again after changing an SVG.
#   needs: rsvg-convert (Debian: librsvg2-bin), ImageMagick (Debian: imagemagick)
set -euo pipefail
cd "$(dirname "$0")"

IM=$(command -v magick || command -v convert) || {
  echo "render.sh: ImageMagick (magick or convert) is missing" >&2; exit 1; }
command -v rsvg-convert >/dev/null || {
  echo "render.sh: rsvg-convert is missing" >&2; exit 1; }

png() { # png SVG SIZE OUT
  rsvg-convert --width "$2" --height "$2" --output "$3" "$1"
}

# Application icon: the small cut below 32 px, the full drawing from 32 px on.
for size in 16 24; do png morvane-16.svg "$size" "morvane-$size.png"; done
for size in 32 48 64 128 256; do png morvane.svg "$size" "morvane-$size.png"; done

# Play and Stop button icons.
png play.svg 32 play-32.png
png stop.svg 32 stop-32.png

# Windows icon files, 32 bits per pixel with alpha. The 256 px image is kept
# PNG-compressed inside the ICO, as Windows expects.
"$IM" morvane-16.png morvane-32.png morvane-48.png morvane-256.png \
  -define png:exclude-chunks=date,time morvane.ico
"$IM" play-32.png play.ico
"$IM" stop-32.png stop.ico
