#!/usr/bin/env bash
# Draws the installer's default artwork with ImageMagick, so that it can be made again from this
# script: the 128 x 280 sidebar picture, stored as a 24-bit bitmap with a plain
# BITMAPINFOHEADER (the form the tool stores a user's picture in, so both load alike), and the
# setup icon (16x16 and 32x32 in one .ico).
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A handheld with a green arrow going into it, on a transparent ground.
device() { # size file
    local s=$1 f=$2
    convert -size 64x64 xc:none \
        -fill '#f4f8fc' -stroke '#0e2f52' -strokewidth 2 -draw 'roundrectangle 14,4 50,60 6,6' \
        -fill '#7fb2e5' -stroke none -draw 'rectangle 19,11 45,43' \
        -fill '#0e2f52' -draw 'circle 32,51 32,54' \
        -fill '#3cb371' -draw 'polygon 24,22 36,22 36,30 24,30' -draw 'polygon 34,16 44,26 34,36' \
        -resize "${s}x${s}" "PNG32:$f"
}
device 16 "$tmp/icon16.png"
device 32 "$tmp/icon32.png"
device 96 "$tmp/device96.png"
convert "$tmp/icon16.png" "$tmp/icon32.png" setup.ico

convert -size 128x280 gradient:'#1d5fa6'-'#0b2542' \
    -fill '#ffffff22' -draw 'circle 110,40 170,40' -draw 'circle 10,250 60,250' \
    "$tmp/device96.png" -geometry +16+54 -composite \
    -font DejaVu-Sans-Bold -pointsize 20 -fill white -gravity north -annotate +0+172 'Setup' \
    -font DejaVu-Sans -pointsize 10 -fill '#c9dcef' -annotate +0+200 'for Pocket PC' \
    -alpha off -type TrueColor "BMP3:sidebar.bmp"
