#!/usr/bin/env bash
# trellan-select on particle files of the reader layer: particles on a plane
# are selected by both techniques, a second run reads the density cache and
# selects the same, and a file with bad lines is refused with those lines.
set -euo pipefail
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CACHE_HOME="$dir/cache"

# 20,000 particles at z = 0 on a 200 x 100 grid, in columns chosen by name.
awk 'BEGIN { print "id,PX,py,pz,label"; for (i = 0; i < 20000; i++) printf "%d,%g,%g,0,%d\n", i, (i % 200) * 0.5, int(i / 200), (i % 200 < 100) }' > "$dir/plane.csv"
lasso='200,150;440,150;440,330;200,330'
run() { "$tool" --dataset "$dir/plane.csv?x=px&y=py&z=pz" --viewport 640x480 \
          --lasso "plus:density:$lasso" --lasso "intersection:cylinder:$lasso" "$@" | grep '^selected' | sed 's/ \[.*//'; }
first=$(run)
echo "$first"
# The cylinder lasso intersects the density one: both must select.
[ "$(echo "$first" | grep -Ec "^selected [1-9][0-9]* of 20000 particles$")" -eq 2 ] || { echo "the plane selects nothing"; exit 1; }
[ "$(echo "$first" | grep -c "selected 20000 of 20000")" -eq 0 ] || { echo "the lasso took everything"; exit 1; }
ls "$XDG_CACHE_HOME"/trellan/*.density > /dev/null
[ "$(run)" = "$first" ] || { echo "the cached start selects differently"; exit 1; }
[ "$(run --no-density-cache)" = "$first" ] || { echo "--no-density-cache selects differently"; exit 1; }
# On a terminal standard error shows where the density comes from; elsewhere nothing.
tty=$(script -qec "'$tool' --dataset '$dir/plane.csv?x=px&y=py&z=pz' --lasso 'plus:density:$lasso' >/dev/null" /dev/null)
echo "$tty" | grep -q "density of $dir/plane.csv?x=px&y=py&z=pz: read from the cache" || { echo "no progress: $tty"; exit 1; }
[ -z "$("$tool" --dataset "$dir/plane.csv?x=px&y=py&z=pz" --lasso "plus:density:$lasso" 2>&1 >/dev/null)" ]

# Good lines, then bad ones: refused, the bad lines named, no claim of emptiness.
{ echo "x y z"; echo "1 2 3"; echo "4 5 6"; echo "1 2"; echo "a b c"; } > "$dir/bad.txt"
if "$tool" --dataset "$dir/bad.txt" --lasso "plus:density:$lasso" > "$dir/out.txt" 2>&1; then exit 1; fi
cat "$dir/out.txt"
grep -q "line 1: expected three numbers" "$dir/out.txt"
grep -q "line 5: expected three numbers" "$dir/out.txt"
grep -q "3 malformed lines (all named above) beside 2 good ones" "$dir/out.txt"
! grep -q "holds no particles" "$dir/out.txt"

# Files that declare far more than they hold are refused before anything is
# allocated for them: one line naming the file, and little memory. The HDF5
# file (1.4 KB) declares a 10^10 x 3 dataset, chunked and never written; the
# PLY file claims a vertex per byte of its body.
printf 'ply\nformat binary_little_endian 1.0\nelement vertex 4000000\nproperty float x\nproperty float y\nproperty float z\nend_header\n' > "$dir/lie.ply"
head -c 4000000 /dev/zero >> "$dir/lie.ply"
for f in "$(dirname "$0")/declared-huge.h5" "$dir/lie.ply"; do
  if /usr/bin/time -f "%M" -o "$dir/rss" "$tool" --dataset "$f" --lasso "plus:density:$lasso" > "$dir/out.txt" 2>&1; then exit 1; fi
  cat "$dir/out.txt"
  grep -Eq "dataset file \"$f\": .*(declares 10000000000x3 values|announces 4000000 records)" "$dir/out.txt"
  ! grep -q "bad_alloc" "$dir/out.txt"
  [ "$(tail -1 "$dir/rss")" -lt 200000 ] || { echo "$f: $(tail -1 "$dir/rss") KB to refuse it"; exit 1; }
done
