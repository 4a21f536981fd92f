#!/usr/bin/env bash
# Renders packaging/quorvel.svg into the PNG sizes the icon theme expects
# above 32 pixels; the 16 and 32 pixel icons are drawn by hand (ui/icons/).
# The PNGs are kept in the repository, so building never needs this.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" librsvg2-bin
for size in 22 24 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$root/packaging/quorvel.svg" \
    -o "$root/packaging/icons/quorvel-$size.png"
done
