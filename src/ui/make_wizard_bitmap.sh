#!/bin/sh
# Draws the wizard picture: a guitar on a dark stage under a spotlight, with
# sound waves; 154 x 400 pixels, 24 bits per pixel (uncompressed BMP).
# Usage: make_wizard_bitmap.sh OUTPUT.bmp   (needs ImageMagick's convert)
set -eu
out=$1
convert -size 154x400 gradient:'#24365e-#05060b' \
  \( -size 154x240 radial-gradient:'#fff4d0-#000000' \
     -background black -gravity north -extent 154x400 +gravity -evaluate multiply 0.35 \) -compose screen -composite \
  -stroke '#3c6fb0' -strokewidth 2 -fill none \
  -draw 'arc 10,250 60,330 150,210' -draw 'arc 0,235 60,345 150,210' \
  -draw 'arc 94,250 144,330 -30,30' -draw 'arc 94,235 154,345 -30,30' \
  -stroke '#2a1206' -strokewidth 2 -fill '#b5461c' \
  -draw 'ellipse 77,318 52,58 0,360' -draw 'ellipse 77,244 40,42 0,360' \
  -stroke none -fill '#b5461c' -draw 'rectangle 45,250 109,300' \
  -fill '#e08a2c' -draw 'ellipse 77,300 30,34 0,360' -draw 'ellipse 77,248 20,22 0,360' \
  -fill '#f4d9a0' -draw 'ellipse 77,295 12,14 0,360' \
  -fill '#111111' -draw 'roundrectangle 61,258 93,272 3,3' -draw 'roundrectangle 61,288 93,302 3,3' \
  -fill '#c9c9c9' -draw 'rectangle 63,330 91,336' -fill '#111111' -draw 'rectangle 60,344 94,350' \
  -fill '#e6e6e6' -draw 'circle 112,336 116,336' -draw 'circle 112,352 116,352' \
  -fill '#5b3a1e' -stroke '#2a1206' -strokewidth 1 -draw 'rectangle 70,46 84,256' \
  -stroke '#d8d0b8' -draw 'line 70,70 84,70' -draw 'line 70,92 84,92' -draw 'line 70,112 84,112' \
  -draw 'line 70,130 84,130' -draw 'line 70,147 84,147' -draw 'line 70,163 84,163' \
  -draw 'line 70,178 84,178' -draw 'line 70,192 84,192' -draw 'line 70,205 84,205' \
  -stroke none -fill '#f0f0f0' -draw 'circle 77,101 79,101' -draw 'circle 77,155 79,155' -draw 'circle 77,185 79,185' \
  -stroke '#2a1206' -strokewidth 1 -fill '#1a1a1a' -draw 'polygon 68,48 86,48 92,8 62,8' \
  -fill '#d8d8d8' -stroke none \
  -draw 'circle 60,16 63,16' -draw 'circle 60,28 63,28' -draw 'circle 60,40 63,40' \
  -draw 'circle 94,16 97,16' -draw 'circle 94,28 97,28' -draw 'circle 94,40 97,40' \
  -stroke '#e8e8e8' -strokewidth 1 \
  -draw 'line 72,46 72,333' -draw 'line 74,46 74,333' -draw 'line 76,46 76,333' \
  -draw 'line 78,46 78,333' -draw 'line 80,46 80,333' -draw 'line 82,46 82,333' \
  -stroke '#7aa7e0' -strokewidth 2 -fill none \
  -draw 'line 10,384 144,384' -draw 'line 20,390 134,390' \
  -alpha off -type TrueColor BMP3:"$out"
