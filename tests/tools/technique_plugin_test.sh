#!/usr/bin/env bash
# The example technique (examples/techniques, built as a shared object) is
# reached through TRELLAN_TECHNIQUES alone, never through the library: by
# trellan-select's lassos and clicks, by a study file, by a lasso log with a
# click replayed in trellan-select and in Pravik's window (the same counts,
# equal to the log's), and by neither without the variable.
# Usage: technique_plugin_test.sh SOURCE_DIR PRAVIK TRELLAN_SELECT PLUGIN_DIR
set -uo pipefail
src="$1" pravik="$2" select="$3" plugins="$4"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_RUNTIME_DIR="$dir"
unset TRELLAN_TECHNIQUES
status=0
fail() { echo "FAIL: $*"; status=1; }
tool() { env -u DISPLAY "$select" "$@"; }

sample="$src/examples/sample-results/P1_lassos.csv"
view=$(sed -n 2p "$sample" | cut -d, -f12)
projection=$(sed -n 2p "$sample" | cut -d, -f13)
camera=(--dataset clusters --viewport 640x480 --view "$view" --projection "$projection")
square='180,140;460,140;460,340;180,340'

# Without the variable the example is nowhere.
tool --techniques | grep -q '^ball' && fail "ball is listed without TRELLAN_TECHNIQUES"
out=$(tool "${camera[@]}" --lasso "plus:ball:$square" 2>&1); rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *"unknown technique 'ball' (density, cylinder, structure, point)"* ]] ||
  fail "a ball lasso without TRELLAN_TECHNIQUES: exit $rc, '$out'"

export TRELLAN_TECHNIQUES="$plugins"
tool --techniques > "$dir/list"
grep -Eq '^ball +lasso +a ball around the densest grid node under the lasso$' "$dir/list" &&
  grep -Eq '^ball-click +click +' "$dir/list" || { fail "--techniques:"; cat "$dir/list"; }

# A lasso and a click, and each refused for the other kind with one line.
tool "${camera[@]}" --lasso "plus:density:$square" --lasso "plus:ball:$square" \
  --click 'minus:ball-click:320,240' > "$dir/out" 2>&1 || fail "strokes: exit $?"
mapfile -t counts < <(sed -n 's/^selected \([0-9]*\) of 300000 particles.*/\1/p' "$dir/out")
if [ "${#counts[@]}" -ne 3 ] || [ "${counts[1]}" -le "${counts[0]}" ] || [ "${counts[2]}" -ge "${counts[1]}" ]; then
  fail "density, ball, ball-click minus: '${counts[*]}'"; cat "$dir/out"
fi
for wrong in "--click plus:ball:3,3" "--lasso plus:ball-click:$square"; do
  out=$(tool "${camera[@]}" $wrong 2>&1); rc=$?
  [ "$rc" -eq 2 ] && [ "$(echo "$out" | wc -l)" -eq 1 ] && [[ "$out" == *"technique takes"* ]] ||
    fail "$wrong: exit $rc, '$out'"
done

# The same strokes as a study's lasso log, the click as its one point.
head -1 "$sample" > "$dir/P1_lassos.csv"
row() { echo "1,1,$1,$1,clusters,$2,$3,1,640,480,1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1,$view,$projection,$4,$5,0,0"; }
{
  row 1 plus density "180 140;460 140;460 340;180 340" "${counts[0]:-0}"
  row 2 plus ball "180 140;460 140;460 340;180 340" "${counts[1]:-0}"
  row 3 minus ball-click "320 240" "${counts[2]:-0}"
} >> "$dir/P1_lassos.csv"
tool --replay "$dir/P1_lassos.csv" --dataset clusters > "$dir/out" 2>&1 || { fail "trellan-select replay: exit $?"; cat "$dir/out"; }
[ "$(grep -c '(logged [0-9]*)' "$dir/out")" -eq 3 ] || { fail "trellan-select replay"; cat "$dir/out"; }
timeout 300 "$pravik" --replay "$dir/P1_lassos.csv" --trial 1 --study "$src/examples/study.xml" \
  --snapshot "$dir/replay.png" > "$dir/out" 2>&1
for k in 1 2 3; do
  grep -Eq "^step $k of 3: (lasso|click) .*: selected ${counts[$((k - 1))]:-x}, logged ${counts[$((k - 1))]:-x}$" "$dir/out" ||
    { fail "Pravik's replay, step $k"; cat "$dir/out"; }
done
grep -Eq '^step 3 of 3: click minus, ball-click' "$dir/out" || fail "Pravik's replay does not call step 3 a click"

# A study file names the example techniques wherever a technique goes.
cat > "$dir/study.xml" <<'XML'
<study results="results">
  <dataset id="c" builtin="clusters"/>
  <block techniques="density ball cylinder">
    <trial dataset="c" targetLabel="1" practice="true"/>
    <trial dataset="c" targetLabel="2"/>
  </block>
  <trial dataset="c" targetLabel="3" technique="ball-click"/>
</study>
XML
timeout 300 "$pravik" --study "$dir/study.xml" --participant 2 --snapshot "$dir/study.png" > "$dir/out" 2>&1
grep -q "7 trials for participant 2" "$dir/out" || { fail "the study with the example techniques"; cat "$dir/out"; }
env -u TRELLAN_TECHNIQUES timeout 300 "$pravik" --study "$dir/study.xml" --participant 3 \
  --snapshot "$dir/none.png" > "$dir/out" 2>&1
grep -q 'technique "ball" in "techniques" on <block> is not registered' "$dir/out" ||
  { fail "the study without TRELLAN_TECHNIQUES"; cat "$dir/out"; }
[ "$status" -eq 0 ] && echo "the example techniques reached everywhere through TRELLAN_TECHNIQUES"
exit $status
