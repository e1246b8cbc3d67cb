#!/bin/sh
# Draws the picture of the about box: a camera on its tripod watching a finish line, on the
# cyan that the box treats as transparent. Run from the repository's root to remake the image.
set -e
out=${1:-res/IDB_ABOUT.png}
convert +antialias -size 261x233 xc:'#00FFFF' \
  -fill '#3a6b35' -draw 'polygon 0,150 261,120 261,233 0,233' \
  -fill '#b5533c' -draw 'polygon 60,233 130,128 190,124 261,180 261,233' \
  -stroke white -strokewidth 2 \
  -draw 'line 112,233 150,127' -draw 'line 165,233 166,126' -draw 'line 218,233 180,125' \
  -stroke none -fill white -draw 'polygon 74,220 261,205 261,213 68,229' \
  -fill '#202020' -draw 'polygon 126,214 140,212 142,218 128,220' \
  -fill '#f2f2f2' -draw 'rectangle 236,60 242,210' \
  -fill '#d01010' -draw 'rectangle 236,60 242,80' -draw 'rectangle 236,100 242,120' \
  -draw 'rectangle 236,140 242,160' -draw 'rectangle 236,180 242,200' \
  -stroke '#303030' -strokewidth 4 \
  -draw 'line 62,120 30,225' -draw 'line 62,120 94,225' -draw 'line 62,120 62,228' \
  -stroke none -fill '#404040' -draw 'roundrectangle 18,78 106,122 6,6' \
  -fill '#606060' -draw 'rectangle 30,70 60,80' \
  -fill '#101010' -draw 'circle 104,100 122,100' \
  -fill '#3060c0' -draw 'circle 104,100 114,100' \
  -fill '#a0c8ff' -draw 'circle 101,96 104,96' \
  -fill '#ffcc00' -draw 'circle 32,88 35,88' \
  -fill '#102060' -font DejaVu-Sans-Bold -pointsize 26 -draw "text 20,40 'Quillon ID'" \
  -colors 256 -define png:color-type=3 PNG8:"$out"
