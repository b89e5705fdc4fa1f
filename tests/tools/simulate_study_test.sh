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
  <form>
    <field id="age"/>
    <field id="hand" label="Hand" choices="right | left"/>
  </form>
  <dataset id="blobs" file="particles.csv?x=px&amp;y=py&amp;z=pz"/>
  <block technique="counterbalanced" techniques="density cylinder" order="random">
    <trial name="practice" dataset="blobs" targetLabel="1" practice="true"/>
    <trial name="left" dataset="blobs" targetLabel="1"><view azimuth="30" elevation="15"/></trial>
    <trial name="right" dataset="blobs" targetLabel="2"><view azimuth="-20" elevation="10" zoom="1.2"/></trial>
    <questionnaire type="tlx"/>
    <questionnaire type="sus"/>
    <questionnaire type="ranking" after="block"/>
  </block>
  <break seconds="20" text="Rest a moment."/>
  <trial name="last" dataset="blobs" targetLabel="2" technique="density"/>
  <questionnaire type="likert" id="overall" points="7" low="no" high="yes">
    <item id="easy" text="Was it easy?"/>
  </questionnaire>
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
    if "_participant" in path:
        assert len(rows) == 1 and 16 <= int(rows[0]["age"]) and rows[0]["hand"] in ("right", "left"), path
    if "_answers" in path:
        # TLX (6) and SUS (10) after each technique, the ranking (2), the last item.
        kinds = [r["questionnaire"] for r in rows]
        assert len(rows) == 35 and kinds.count("tlx") == 12 and kinds.count("sus") == 20, path
        assert [r["value"] for r in rows if r["questionnaire"] == "ranking"] in (["density", "cylinder"],
                                                                              ["cylinder", "density"]), path
        last_answer = rows[-2]["time_utc"]
    if "_trials" in path:
        assert len(rows) == 7, f"{path}: {len(rows)} trials"
        # The break after the block is waited out exactly: 20 s after the
        # ranking's last answer, and the 3 s of looking at the target.
        from datetime import datetime
        at = lambda t: datetime.strptime(t, "%Y-%m-%dT%H:%M:%S.%fZ")
        gap = (at(rows[6]["started_utc"]) - at(last_answer)).total_seconds()
        assert abs(gap - 23.0) < 1e-9, f"{path}: the last trial starts {gap} s after the ranking"
        assert all(r["input"] == "simulated" for r in rows), path
        f1 += [float(r["f1"]) for r in rows]
        # The Latin square: odd participants start with density.
        p = int(rows[0]["participant"])
        assert rows[6]["trial_name"] == "last", path
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

# Interrupted after 49 rows: participant 1's 7 trials and 35 answers, then
# participant 2's first 3 trials and 4 of the 6 TLX items. The same command
# resumes in the TLX; the rows, session after session, are the uninterrupted
# run's, apart from the simulated stamps and the session number.
run --results cut --interrupt-after 49 > cut.log 2> cut.err
[ $? -eq 1 ] || fail "an interrupted run did not exit 1"
grep -q "the same command without it resumes" cut.err || fail "no resume hint: $(cat cut.err)"
[ ! -e cut/pilot/P3_trials.csv ] || fail "the run went on after the interruption"
run --results cut > resumed.log 2>&1 || fail "the resumed run failed: $(tail -5 resumed.log)"
grep -q 'resuming participant 2 at questionnaire "tlx" after block 1 (.*), item 5 of 6' resumed.log ||
  fail "participant 2 was not resumed in the TLX: $(cat resumed.log)"
grep -q "participant 1: finished before" resumed.log || fail "participant 1 ran again: $(cat resumed.log)"
[ -f cut/pilot/P2_answers_2.csv ] || fail "the resumed session wrote no second answers file"
python3 - one/pilot cut/pilot <<'EOF' || fail "the resumed run differs from the uninterrupted one"
import csv, glob, os, sys
whole, cut = sys.argv[1:]
for kind in ("trials", "lassos", "events", "answers", "participant"):
    for p in range(1, 9):
        def rows(folder):
            files = sorted(glob.glob(f"{folder}/P{p}_{kind}*.csv"), key=lambda f: (len(f), f))
            out = []
            for f in files:
                for r in csv.DictReader(open(f)):
                    for stamp in ("started_utc", "time_utc", "session"):
                        r.pop(stamp, None)
                    out.append(r)
            return out
        a, b = rows(whole), rows(cut)
        assert a == b, f"P{p} {kind}: {len(a)} rows uninterrupted, {len(b)} resumed"
EOF

# The paired table of the simulated study; pilot rows never join real ones.
"$summary" --paired --csv paired.csv --svg paired.svg one/pilot/P*_trials*.csv one/pilot/P*_answers*.csv \
  > summary.txt 2>&1 ||
  fail "trellan-summary --paired failed: $(cat summary.txt)"
grep -q "pilot data (pilot=1)" summary.txt || fail "the summary does not say it is pilot data"
grep -q "^completion_time_s,density,cylinder,8," paired.csv || fail "no time row over 8 participants: $(cat paired.csv)"
grep -q "^f1,density,cylinder,8," paired.csv || fail "no F1 row: $(cat paired.csv)"
grep -q "^tlx,density,cylinder,8," paired.csv || fail "no TLX row: $(cat paired.csv)"
grep -q "^sus,density,cylinder,8," paired.csv || fail "no SUS row: $(cat paired.csv)"
"$summary" one/pilot/P1_trials.csv "$src/examples/sample-results/P1_trials.csv" > mixed.txt 2>&1
[ $? -eq 1 ] || fail "pilot and real rows were summed up together"
grep -q "pilot data is summed up on its own" mixed.txt || fail "no reason given: $(cat mixed.txt)"
echo "simulated study: ok"
