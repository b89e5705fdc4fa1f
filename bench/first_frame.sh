#!/usr/bin/env bash
# Time from a 10,000,000-particle file to Pravik's first picture of it: writes
# a float64 file of clustered particles, then runs Pravik --snapshot on it under
# a virtual display three times: with the density estimated and not cached
# (--no-density-cache), estimated and stored in an empty cache, and read from
# that cache. Prints wall time, processor time (user + system) and peak
# resident memory of each run, and Pravik's own console lines.
#
#   bench/first_frame.sh [BUILD_DIR] [COUNT]        (COUNT=10000000 by default)
#
# PERF=1 records each run with perf and prints where its processor time went,
# by shared object and by function (perf must be installed).
set -euo pipefail
build=${1:-build}
count=${2:-10000000}
pravik=$(realpath "$build/Pravik")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data="$work/particles.f64"

# Five Gaussian clusters and a uniform tenth, far from the origin as a
# simulation box may be (the reader centres float64 data).
python3 - "$data" "$count" <<'PY'
import array, random, sys
path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(17)
centres = [(5000 + 40 * rng.random(), 300 + 40 * rng.random(), 40 * rng.random()) for _ in range(5)]
with open(path, "wb") as out:
    block = array.array("d")
    for i in range(count):
        if i % 10 == 9:
            block.extend((5000 + 50 * rng.random(), 300 + 50 * rng.random(), 50 * rng.random()))
        else:
            c = centres[i % 5]
            block.extend((rng.gauss(c[0], 3.0), rng.gauss(c[1], 3.0), rng.gauss(c[2], 3.0)))
        if len(block) >= 3 * 1000000:
            block.tofile(out)
            block = array.array("d")
    block.tofile(out)
PY
printf '<config><mainwindow width="1000" height="800" fullscreen="0"/></config>\n' >"$work/config.xml"
echo "$count particles, $(du -m "$data" | cut -f1) MB of float64 in $data"

run() {
  local name=$1
  shift
  local record=()
  [ "${PERF:-0}" = 1 ] && record=(perf record -q -o "$work/$name.perf" --)
  (cd "$work" && XDG_CACHE_HOME="$work/cache" /usr/bin/time -f "%e %U %S %M" -o "$work/$name.time" \
     xvfb-run -a -s "-screen 0 1280x1024x24" "${record[@]}" "$pravik" --snapshot "$work/$name.png" "$@" "$data" \
     >"$work/$name.log" 2>&1) || echo "$name: Pravik ended with status $?"
  read -r wall user sys rss <"$work/$name.time"
  awk -v n="$name" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" \
    'BEGIN { printf "%-22s wall %7.1f s   processor %7.1f s   peak resident %6.0f MB\n", n, w, u + s, r / 1024 }'
  grep -v -e '^$' -e XDG_RUNTIME_DIR "$work/$name.log" | head -20 | sed 's/^/    /' || true
  if [ "${PERF:-0}" = 1 ]; then
    perf report -q -i "$work/$name.perf" --no-children --sort dso --stdio -g none 2>/dev/null | head -8 | sed 's/^/    /' || true
    perf report -q -i "$work/$name.perf" --no-children --sort dso,sym --stdio -g none 2>/dev/null | head -12 | sed 's/^/    /' || true
  fi
}

run estimated-no-cache --no-density-cache
run estimated-and-stored
run read-from-cache
