#!/usr/bin/env bash
# trellan-select without a display: with DISPLAY unset it computes the lasso
# image, opens no display and loads no OpenGL driver, and its counts and
# selected particles equal those of the captured image (--raster gl, where a
# display is there) on the README's lassos and on the sample replay.
# Usage: select_raster_test.sh TRELLAN_SELECT SOURCE_DIR
set -euo pipefail
tool="$1" src="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
counts() { sed -E 's/ \[[0-9.]+ ms\]$//' | grep -E 'selected [0-9]+ of'; }

lassos=(--lasso 'plus:density:300,200;500,200;500,400;300,400'
        --lasso 'minus:cylinder:250,150;450,150;450,350;250,350'
        --lasso 'intersection:density:200,100;560,120;540,470;220,450')
# LD_DEBUG lists every library the loader starts. OpenSceneGraph links the GL
# dispatch and X client libraries, so those are there; no GL driver (Mesa's
# GLX or DRI one) may be, since no context is made.
env -u DISPLAY LD_DEBUG=files "$tool" --dataset clusters "${lassos[@]}" --out "$dir/cpu.txt" \
    > "$dir/cpu.out" 2> "$dir/loader.txt"
counts < "$dir/cpu.out" > "$dir/cpu.counts"
[ "$(wc -l < "$dir/cpu.counts")" -eq 3 ] || { cat "$dir/cpu.out"; exit 1; }
grep -q 'calling init: .*libtrellan' "$dir/loader.txt"  # the listing is there at all
if grep -E 'calling init: .*(libGLX_[a-z]|_dri\.so)' "$dir/loader.txt"; then
  echo "a GL driver was loaded without a display"
  exit 1
fi
if env -u DISPLAY "$tool" --raster gl --dataset clusters "${lassos[@]:0:2}" 2> "$dir/err.txt"; then exit 1; fi
grep -q 'no offscreen OpenGL context for --raster gl' "$dir/err.txt"

env -u DISPLAY "$tool" --replay "$src/examples/sample-results/P1_lassos.csv" --only-dataset clusters \
    --dataset clusters --out "$dir/replay-cpu.txt" | counts > "$dir/replay-cpu.counts"
grep -q 'logged' "$dir/replay-cpu.counts"
if grep -q differs "$dir/replay-cpu.counts"; then cat "$dir/replay-cpu.counts"; exit 1; fi

if [ -n "${DISPLAY:-}" ]; then
  "$tool" --raster gl --dataset clusters "${lassos[@]}" --out "$dir/gl.txt" | counts > "$dir/gl.counts"
  diff "$dir/cpu.counts" "$dir/gl.counts"
  cmp "$dir/cpu.txt" "$dir/gl.txt"
  "$tool" --raster gl --replay "$src/examples/sample-results/P1_lassos.csv" --only-dataset clusters \
      --dataset clusters --out "$dir/replay-gl.txt" | counts > "$dir/replay-gl.counts"
  diff "$dir/replay-cpu.counts" "$dir/replay-gl.counts"
  cmp "$dir/replay-cpu.txt" "$dir/replay-gl.txt"
fi
cat "$dir/cpu.counts" "$dir/replay-cpu.counts"
