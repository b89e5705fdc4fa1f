#!/usr/bin/env bash
# The shipped sample's lasso log replays to the logged counts in both replays:
# trellan-select (each dataset in turn) and Pravik's window (each trial in
# turn), every count equal to the other replay's and to the log.
# Usage: sample_replay_test.sh SOURCE_DIR PRAVIK TRELLAN_SELECT
set -uo pipefail
src="$1" pravik="$2" select="$3"
log="$src/examples/sample-results/P1_lassos.csv"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_RUNTIME_DIR="$dir"
status=0

# trial,lasso,dataset,selected of every logged lasso, in log order.
tail -n +2 "$log" | awk -F, '{print $2 "," $3 "," $5 "," $15}' > "$dir/logged"

: > "$dir/select"
for dataset in $(cut -d, -f3 "$dir/logged" | sort -u); do
  "$select" --replay "$log" --only-dataset "$dataset" --dataset "$dataset" > "$dir/out" 2>&1
  grep -E '^selected [0-9]+ of' "$dir/out" | sed 's/^selected \([0-9]*\) of.*/\1/' > "$dir/counts"
  grep ",$dataset," "$dir/logged" | cut -d, -f1,2 | paste -d, - "$dir/counts" >> "$dir/select"
done

: > "$dir/window"
for trial in $(cut -d, -f1 "$dir/logged" | sort -un); do
  timeout 300 "$pravik" --replay "$log" --trial "$trial" --study "$src/examples/study.xml" \
    --snapshot "$dir/$trial.png" > "$dir/out" 2>&1
  grep -E '^step [0-9]+ of [0-9]+: lasso' "$dir/out" |
    sed "s/^step \([0-9]*\) of .*: selected \([0-9]*\), logged.*/$trial,\1,\2/" >> "$dir/window"
done

while IFS=, read -r trial lasso dataset logged; do
  a=$(grep "^$trial,$lasso," "$dir/select" | cut -d, -f3)
  b=$(grep "^$trial,$lasso," "$dir/window" | cut -d, -f3)
  if [ "$a" != "$logged" ] || [ "$b" != "$logged" ]; then
    echo "FAIL: trial $trial lasso $lasso on $dataset: logged $logged, trellan-select '${a}', Pravik '${b}'"
    status=1
  else
    echo "trial $trial lasso $lasso on $dataset: $logged in both replays"
  fi
done < "$dir/logged"
exit $status
