#!/usr/bin/env bash
# Pravik --check on the example study and on a broken copy: exit 0 with the
# trial order of the first Latin-square round (or of one --participant), exit
# 1 with every problem listed at once; never a file written, no display used.
# Usage: study_check_test.sh SOURCE_DIR PRAVIK
set -uo pipefail
src="$1" pravik="$2"
work=$(mktemp -d)
trap 'rm -rf "$work" "${extra:-}"' EXIT
cp "$src/examples/study.xml" "$work/study.xml"
export XDG_CACHE_HOME="$work/cache"
fail() { echo "FAILED: $*"; exit 1; }
snapshot() { (cd "$work" && find . -path ./out -prune -o -print | sort); }

sed -e 's/dataset="disk" targetLabel="2" practice/dataset="nowhere" targetLabel="2" practice/' \
    -e 's/zoom="1.2"/zoom="-3"/' -e 's/type="sus"/type="usability"/' -e 's/break seconds="60"/break seconds="soon"/' \
    -e 's/<field id="experience3d"\/>/<field id="experience3d" choices="none"\/>/' \
    "$work/study.xml" > "$work/broken.xml"
before=$(snapshot)
env -u DISPLAY "$pravik" --check "$work/study.xml" > "$work/out" 2>&1
rc=$?
cat "$work/out"
[ "$rc" -eq 0 ] || fail "--check of the example exited $rc"
grep -q "no problems" "$work/out" || fail "no 'no problems' line"
grep -q "^participant 1:" "$work/out" && grep -q "^participant 2:" "$work/out" || fail "not the first round"
# Participant 1 starts with density, participant 2 with cylinder.
[ "$(grep -A1 '^participant 1:' "$work/out" | tail -1 | awk '{print $3}')" = density ] || fail "participant 1's first"
[ "$(grep -A1 '^participant 2:' "$work/out" | tail -1 | awk '{print $3}')" = cylinder ] || fail "participant 2's first"
# The questionnaires after each technique, the break between them, those at the end.
[ "$(sed -n '/^participant 1:/,/^participant 2:/p' "$work/out" | awk '$1 == "tlx" || $1 == "sus" || $1 == "break" ||
   $1 == "ranking" || $1 == "comfort" {print $1 "/" $2}' | tr '\n' ' ')" = \
  "tlx/density sus/density break/60 tlx/cylinder sus/cylinder ranking/- comfort/- " ] || fail "questionnaires and the break"
grep -q "^participant form before the first trial: age, handedness, experience3d, vision" "$work/out" || fail "the form"
# 2 practice + 5 measured trials per technique.
[ "$(sed -n '/^participant 1:/,/^participant 2:/p' "$work/out" | grep -c measured)" -eq 10 ] || fail "10 measured trials"

env -u DISPLAY "$pravik" --check "$work/study.xml" --participant 7 > "$work/out" 2>&1 || fail "--participant 7"
grep -q "^participant 7:" "$work/out" && ! grep -q "^participant 1:" "$work/out" || fail "only participant 7"

# Two problems in one file: both reported, exit 1.
env -u DISPLAY "$pravik" --check "$work/broken.xml" > "$work/out" 2>&1
rc=$?
cat "$work/out"
[ "$rc" -eq 1 ] || fail "--check of a broken file exited $rc"
grep -q "nowhere" "$work/out" || fail "the unknown dataset is not named"
grep -q "zoom" "$work/out" || fail "the bad zoom is not named"
# ... and those of the questionnaires, the break and the form, each with its line.
grep -q 'broken.xml:[0-9]*: <questionnaire> needs a type: tlx, sus, likert or ranking (not "usability")' "$work/out" ||
  fail "the unknown questionnaire is not named"
grep -q 'broken.xml:[0-9]*: attribute "seconds" of <break> is not a number' "$work/out" || fail "the bad break"
grep -q 'broken.xml:[0-9]*: choices of <field> need two or more' "$work/out" || fail "the bad form field"
grep -q "5 problem(s)" "$work/out" || fail "not every problem listed"

# The structure-aware techniques wherever a technique goes: a counterbalanced
# block and a lone click trial.
extra=$(mktemp -d)
cat > "$extra/structure.xml" <<'XML'
<study results="results">
  <dataset id="c" builtin="clusters"/>
  <block techniques="structure density">
    <trial dataset="c" targetLabel="5"/>
  </block>
  <trial dataset="c" targetLabel="1" technique="point"/>
</study>
XML
env -u DISPLAY "$pravik" --check "$extra/structure.xml" --participant 2 > "$work/out" 2>&1 || { cat "$work/out"; fail "--check of structure and point"; }
[ "$(grep -A3 '^participant 2:' "$work/out" | tail -3 | awk '{print $3}' | tr '\n' ' ')" = "density structure point " ] ||
  { cat "$work/out"; fail "participant 2's order with structure and point"; }

[ "$(snapshot)" = "$before" ] || { diff <(echo "$before") <(snapshot); fail "--check wrote files"; }
echo "ok"
