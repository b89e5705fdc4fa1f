#!/usr/bin/env bash
# A study of 8 simulated participants through trellan-select --simulate and
# the real files: pilot rows in the pilot folder, lassos that find their
# targets (the camera is the one the trials are shown with), the same files
# for the same seed, an interrupted run resumed to the rows of an
# uninterrupted one, trellan-summary --paired on the result, and one clear
# line for each command-line mistake.
# Usage: simulate_study_test.sh TRELLAN_SELECT TRELLAN_SUMMARY SOURCE_DIR
set -uo pipefail
select="$1" summary="$2" src="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
unset DISPLAY
fail() { echo "FAIL: $*"; exit 1; }

cp "$src/examples/particles.csv" .
cat > study.xml <<'EOF'
<study name="simulated">
  <dataset id="blobs" file="particles.csv?x=px&amp;y=py&amp;z=pz"/>
  <block technique="counterbalanced" techniques="density cylinder" order="random">
    <trial name="practice" dataset="blobs" targetLabel="1" practice="true"/>
    <trial name="left" dataset="blobs" targetLabel="1"><view azimuth="30" elevation="15"/></trial>
    <trial name="right" dataset="blobs" targetLabel="2"><view azimuth="-20" elevation="10" zoom="1.2"/></trial>
  </block>
</study>
EOF

# Command-line mistakes: one line on standard error, exit status 2; a study
# that cannot be read: its problem and exit status 1. No files either way.
expect_mistake() {
  local code="$1" pattern="$2"; shift 2
  "$select" "$@" > out.txt 2> err.txt
  local rc=$?
  [ "$rc" -eq "$code" ] || fail "$* exited $rc, not $code: $(cat err.txt)"
  [ "$(wc -l < err.txt)" -eq 1 ] || fail "$*: not one line: $(cat err.txt)"
  grep -q -- "$pattern" err.txt || fail "$*: no '$pattern' in: $(cat err.txt)"
}
expect_mistake 2 "runs backwards" --simulate study.xml --participants 3-1 --results bad
expect_mistake 2 "run from 1" --simulate study.xml --participants 0 --results bad
expect_mistake 2 "expected A-B or A" --simulate study.xml --participants 1-x --results bad
expect_mistake 2 "no --results" --simulate study.xml --participants 1-2
expect_mistake 2 "goes with --simulate" --dataset clusters --pilot --lasso 'plus:density:1,1;5,5;1,5'
expect_mistake 2 "unknown technique" --simulate study.xml --participants 1 --results bad --time-factor sideways=2
expect_mistake 1 "missing.xml: cannot open the study file" --simulate missing.xml --participants 1-2 --results bad
[ ! -e bad ] || fail "a refused command left files"

run() { "$select" --simulate study.xml --participants 1-8 --seed 7 --pilot --time-factor cylinder=1.5 "$@"; }
run --results one > one.log 2>&1 || fail "the simulation failed: $(tail -5 one.log)"
[ "$(ls one)" = "pilot" ] || fail "pilot files outside the pilot folder: $(ls one)"
for p in 1 2 3 4 5 6 7 8; do
  [ -f "one/pilot/P${p}_trials.csv" ] && [ -f "one/pilot/P${p}_lassos.csv" ] || fail "participant $p has no files"
done

# Every row of every file says pilot=1; each participant ran 6 trials, with
# the simulated pointer, and the lassos found their targets.
python3 - one/pilot <<'EOF' || fail "the simulated files are not as expected"
import csv, glob, sys
folder = sys.argv[1]
f1 = []
for path in sorted(glob.glob(folder + "/P*.csv")):
    rows = list(csv.DictReader(open(path)))
    assert rows or "_events" in path, path + ": no rows"
    assert all(r["pilot"] == "1" for r in rows), path + ": a row without pilot=1"
    if "_trials" in path:
        assert len(rows) == 6, f"{path}: {len(rows)} trials"
        assert all(r["input"] == "simulated" for r in rows), path
        f1 += [float(r["f1"]) for r in rows]
        # The Latin square: odd participants start with density.
        p = int(rows[0]["participant"])
        assert rows[0]["technique"] == ("density" if p % 2 else "cylinder"), path
mean = sum(f1) / len(f1)
assert mean > 0.7, f"mean F1 {mean:.3f}: the lassos miss their targets"
print(f"mean F1 of {len(f1)} simulated trials: {mean:.3f}")
EOF

# The same command gives the same files; another seed does not.
run --results two > two.log 2>&1 || fail "the second simulation failed"
diff -r one two > /dev/null || fail "the same seed gave other files: $(diff -r one two | head -5)"
"$select" --simulate study.xml --participants 1-8 --seed 8 --pilot --results three > /dev/null 2>&1 ||
  fail "seed 8 failed"
! diff -q one/pilot/P1_trials.csv three/pilot/P1_trials.csv > /dev/null || fail "the seed changes nothing"

# Interrupted after 10 trial rows (participant 2, trial 4), then resumed by
# the same command: the rows, session after session, are the uninterrupted
# run's, apart from the simulated start stamps.
run --results cut --interrupt-after 10 > cut.log 2> cut.err
[ $? -eq 1 ] || fail "an interrupted run did not exit 1"
grep -q "the same command without it resumes" cut.err || fail "no resume hint: $(cat cut.err)"
[ ! -e cut/pilot/P3_trials.csv ] || fail "the run went on after the interruption"
run --results cut > resumed.log 2>&1 || fail "the resumed run failed: $(tail -5 resumed.log)"
grep -q "resuming participant 2 at trial 5" resumed.log || fail "participant 2 was not resumed: $(cat resumed.log)"
[ -f cut/pilot/P2_trials_2.csv ] || fail "the resumed session wrote no second file"
python3 - one/pilot cut/pilot <<'EOF' || fail "the resumed run differs from the uninterrupted one"
import csv, glob, os, sys
whole, cut = sys.argv[1:]
for kind in ("trials", "lassos", "events"):
    for p in range(1, 9):
        def rows(folder):
            files = sorted(glob.glob(f"{folder}/P{p}_{kind}*.csv"), key=lambda f: (len(f), f))
            out = []
            for f in files:
                for r in csv.DictReader(open(f)):
                    r.pop("started_utc", None)
                    out.append(r)
            return out
        a, b = rows(whole), rows(cut)
        assert a == b, f"P{p} {kind}: {len(a)} rows uninterrupted, {len(b)} resumed"
EOF

# The paired table of the simulated study; pilot rows never join real ones.
"$summary" --paired --csv paired.csv --svg paired.svg one/pilot/P*_trials*.csv > summary.txt 2>&1 ||
  fail "trellan-summary --paired failed: $(cat summary.txt)"
grep -q "pilot data (pilot=1)" summary.txt || fail "the summary does not say it is pilot data"
grep -q "^completion_time_s,density,cylinder,8," paired.csv || fail "no time row over 8 participants: $(cat paired.csv)"
grep -q "^f1,density,cylinder,8," paired.csv || fail "no F1 row: $(cat paired.csv)"
"$summary" one/pilot/P1_trials.csv "$src/examples/sample-results/P1_trials.csv" > mixed.txt 2>&1
[ $? -eq 1 ] || fail "pilot and real rows were summed up together"
grep -q "pilot data is summed up on its own" mixed.txt || fail "no reason given: $(cat mixed.txt)"
echo "simulated study: ok"
