#!/usr/bin/env bash
# Redraws the 48 x 48 PNG images in resources/images/ from their SVG sources in resources/images/src/.
# The PNGs are committed, so a normal build needs no drawing tool; run this after changing a source.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if ! command -v rsvg-convert >/dev/null; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get install -y -qq --no-install-recommends librsvg2-bin >/dev/null
fi
src="$root/resources/images/src"
out="$root/resources/images"
for svg in "$src"/*.svg; do
    name="$(basename "$svg" .svg)"
    rsvg-convert --width 48 --height 48 --format png --output "$out/$name.png" "$svg"
done
echo "Redrew $(ls "$src"/*.svg | wc -l) images into resources/images/"
