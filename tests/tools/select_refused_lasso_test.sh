#!/usr/bin/env bash
# A lasso the engine refuses reaches the user of trellan-select as a refusal,
# never as "selected 0": the engine's line on standard output, the tool's on
# standard error, exit code 1; the lasso after it still runs. Standard output
# holds nothing of the triangulator: its quiet switch is on.
set -uo pipefail
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$tool" --dataset clusters --lasso 'plus:density:10,10;30000,10;10,30' \
        --lasso 'plus:cylinder:300,200;500,200;500,400;300,400' > "$dir/out" 2> "$dir/err"
rc=$?
cat "$dir/out" "$dir/err"
[ "$rc" -eq 1 ] || { echo "exit code $rc, expected 1"; exit 1; }
grep -qx "ParticleSelection: lasso ignored, it spans more than 16384 window units" "$dir/out" || exit 1
grep -qx "trellan-select: lasso 1 refused: it spans more than 16384 window units" "$dir/err" || exit 1
[ "$(grep -c '^selected [1-9][0-9]* of 300000 particles' "$dir/out")" -eq 1 ] || { echo "expected one count"; exit 1; }
# The triangulator's report opens with its method and gives its times.
if grep -Eiq "triangulation|milliseconds" "$dir/out"; then echo "triangulator lines on standard output"; exit 1; fi
