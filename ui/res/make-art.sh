#!/usr/bin/env bash
# Draws the program's own artwork with ImageMagick, so that it can be made again from this script:
# the application icon (16x16 and 32x32 in one .ico) and the 320x240 splash picture, stored as a
# 32-bit uncompressed bitmap because the splash window copies it to the screen pixel for pixel.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The logo: a blue rounded tile holding a small white handheld with a green arrow into it.
logo() { # size file
    local s=$1 f=$2
    convert -size 64x64 xc:none \
        -fill '#1d5fa6' -draw 'roundrectangle 2,2 61,61 12,12' \
        -fill white -draw 'roundrectangle 20,8 44,56 4,4' \
        -fill '#1d5fa6' -draw 'rectangle 24,14 40,40' \
        -fill '#3cb371' -draw 'polygon 26,24 38,24 38,30 26,30' -draw 'polygon 22,27 28,19 28,35' \
        -fill '#1d5fa6' -draw 'circle 32,48 32,51' \
        -resize "${s}x${s}" "PNG32:$f"
}
logo 16 "$tmp/icon16.png"
logo 32 "$tmp/icon32.png"
logo 96 "$tmp/logo96.png"
convert "$tmp/icon16.png" "$tmp/icon32.png" tarvelo.ico

convert -size 320x240 gradient:'#f4f8fc'-'#c9dcef' \
    -fill '#1d5fa6' -draw 'rectangle 0,0 319,6' -draw 'rectangle 0,233 319,239' \
    "$tmp/logo96.png" -geometry +24+72 -composite \
    -font DejaVu-Sans-Bold -pointsize 30 -fill '#17406e' -annotate +132+112 'Tarvelo' \
    -font DejaVu-Sans -pointsize 18 -fill '#17406e' -annotate +132+138 'Installer' \
    -pointsize 11 -fill '#45607d' -annotate +132+162 'Installers for Pocket PC' \
    -alpha off "$tmp/splash.png"
# A 32-bit BMP with a plain BITMAPINFOHEADER (ImageMagick writes 24 bits or a V4/V5 header): the
# pixels come from ImageMagick as bottom-up BGRA rows, the headers from this script.
convert "$tmp/splash.png" -flip -alpha set -channel A -evaluate set 100% +channel -depth 8 BGRA:"$tmp/splash.raw"
python3 - "$tmp/splash.raw" splash.bmp <<'PY'
import struct, sys
pixels = open(sys.argv[1], "rb").read()
width, height = 320, 240
assert len(pixels) == width * height * 4
info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
open(sys.argv[2], "wb").write(head + info + pixels)
PY
