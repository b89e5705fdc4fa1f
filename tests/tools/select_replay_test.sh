#!/usr/bin/env bash
# trellan-select replays a lasso log: a lasso run directly and the same lasso
# written as a log row (once at the window's origin, once in a viewport offset
# inside the window, with the points shifted alike) select the same particles.
set -euo pipefail
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

view="1 0 0 0 0 1 0 0 0 0 1 0 0 0 -150 1"
projection="2.7990381056766584 0 0 0 0 3.7320508075688776 0 0 0 0 -1.5 -1 0 0 -125 0"
direct=$("$tool" --dataset clusters --viewport 640x480 --view "$view" --projection "$projection" \
         --lasso 'plus:density:180,140;460,140;460,340;180,340' --out "$dir/direct.txt")
count=$(echo "$direct" | sed -n 's/^selected \([0-9]*\) of .*/\1/p')
[ -n "$count" ] && [ "$count" -gt 0 ] || { echo "no selection: $direct"; exit 1; }

identity="1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"
{
  echo "participant,trial,lasso,time_s,dataset,mode,technique,threshold,viewport_width,viewport_height,model_matrix,view_matrix,projection_matrix,points,selected,viewport_x,viewport_y"
  echo "1,1,1,0.5,c,plus,density,1,640,480,$identity,$view,$projection,180 140;460 140;460 340;180 340,$count,0,0"
  echo "1,2,1,0.5,c,plus,density,1,640,480,$identity,$view,$projection,280 190;560 190;560 390;280 390,$count,100,50"
} > "$dir/lassos.csv"
replay=$("$tool" --replay "$dir/lassos.csv" --dataset clusters --out "$dir/replay.txt")
echo "$replay"
[ "$(echo "$replay" | grep -c "selected $count of 300000 particles (logged $count)")" -eq 2 ] || exit 1
cmp "$dir/direct.txt" "$dir/replay.txt"

# A malformed log names the file and line.
echo "participant,trial" > "$dir/bad.csv"
if "$tool" --replay "$dir/bad.csv" --dataset clusters 2> "$dir/err.txt"; then exit 1; fi
grep -q "bad.csv: no column 'mode'" "$dir/err.txt"

# A lasso refused for its size says so instead of only selecting nothing.
if big=$("$tool" --dataset clusters --viewport 640x480 --view "$view" --projection "$projection" \
      --lasso 'plus:cylinder:-20000,-20000;20000,-20000;20000,20000;-20000,20000' 2>&1); then
  echo "a refused lasso reported success: $big"; exit 1
fi
echo "$big" | grep -q "lasso 1 refused: it spans more than 16384 window units" || { echo "no refusal: $big"; exit 1; }
if echo "$big" | grep -q "^selected"; then echo "a refused lasso printed a count: $big"; exit 1; fi
