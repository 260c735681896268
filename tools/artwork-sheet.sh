#!/usr/bin/env bash
# Makes one PNG sheet of all of Lumeno's artwork for a person to look at: the caption strips on the
# caption blue (as the styled dialogs show them), the logo and round buttons on the window grey, the
# banner, and every icon image, each enlarged beside its real size.
# Usage: tools/artwork-sheet.sh [RES_FOLDER] [OUTPUT.png]     (defaults: res/ build/artwork-sheet.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
res=${1:-$root/res}
out=${2:-$root/build/artwork-sheet.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$out")"

on() {  # on COLOUR FILE LABEL: the picture flattened on a background, with its name and size below
  local colour=$1 file=$2 label=$3 name
  name=$work/$(printf '%02d' "$(ls "$work" | wc -l)").png
  local size
  size=$(identify -format '%wx%h' "$file" | head -n1)
  convert "$file" -background "$colour" -flatten -filter point -resize 200% \
    -background white -gravity center -font DejaVu-Sans -pointsize 11 -fill '#333' \
    label:"$label $size" -append "$name"
}

on '#13B3FD' "$res/close.png" "close.png"
on '#13B3FD' "$res/minimize.png" "minimize.png"
on '#ECECEC' "$res/logo.png" "logo.png"
on '#ECECEC' "$res/banner.jpg" "banner.jpg"
for f in settings start start-disabled stop stop-disabled; do
  on '#ECECEC' "$res/$f.png" "$f.png"
done
for ico in Lumeno tray-recording tray-idle; do
  count=$(identify "$res/$ico.ico" | wc -l)
  for ((i = 0; i < count; i++)); do
    on '#FFFFFF' "$res/$ico.ico[$i]" "$ico.ico[$i]"
  done
done
montage "$work"/*.png -background white -geometry +8+8 -tile 4x "$out"
echo "$out"
