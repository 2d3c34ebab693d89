#!/bin/sh
# Renders eml2pst-icon.svg into eml2pst.ico (16, 32, 48 and 256 pixels), the icon of both
# programs and the setup. Run it after changing the drawing and commit both files.
# Needs rsvg-convert (librsvg2-bin): ImageMagick 6 on Debian has no SVG reader of its own.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

pngs=""
for size in 16 32 48 256; do
    rsvg-convert -w "$size" -h "$size" "$here/eml2pst-icon.svg" -o "$tmp/$size.png"
    pngs="$pngs $tmp/$size.png"
done
# -strip drops the time stamps, so an unchanged drawing gives a byte-identical icon.
# shellcheck disable=SC2086
convert $pngs -strip "$here/eml2pst.ico"
identify "$here/eml2pst.ico"
