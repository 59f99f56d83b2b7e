#!/usr/bin/env bash
# Draws the program and tray icons (16, 32 and 48 pixels in one .ico each) with ImageMagick.
# The committed .ico files are its output; run it again after changing a colour here.
set -euo pipefail
cd "$(dirname "$0")/icons"
IM=/usr/bin/convert

# name  ring colour  left arrow  right arrow   (arrows: up = sent, down = received)
draw() {
  local name=$1 ring=$2 up=$3 down=$4 sizes=()
  for s in 16 32 48; do
    local f="/tmp/kv-icon-$name-$s.png" w=$((s - 1)) c=$((s / 2)) r=$((s * 2 / 5))
    local a=$((s / 4)) b=$((s * 3 / 4))
    $IM -size ${s}x${s} xc:none -fill "$ring" -stroke '#0b3a5c' -strokewidth $((s / 16 + 1)) \
      -draw "circle $c,$c $c,$((c - r))" \
      -fill "$up" -stroke none -draw "polygon $a,$((c + 1)) $((c - 1)),$((c + 1)) $((a + (c - 1 - a) / 2)),$a" \
      -fill "$down" -draw "polygon $((c + 1)),$((c - 1)) $b,$((c - 1)) $((c + 1 + (b - c - 1) / 2)),$((b))" \
      "$f"
    sizes+=("$f")
  done
  $IM "${sizes[@]}" "$name.ico"
  rm -f "${sizes[@]}"
}

draw kavrin        '#1f8ad6' white   white
draw tray_idle     '#9aa4ad' '#e8e8e8' '#e8e8e8'
draw tray_both     '#2bb24c' '#ffe14d' '#ffe14d'
draw tray_sent     '#2bb24c' '#ffe14d' '#1d6b33'
draw tray_connected '#2bb24c' '#1d6b33' '#1d6b33'
draw tray_received '#2bb24c' '#1d6b33' '#ffe14d'
