#!/usr/bin/env bash
# Pravik, trellan-select and trellan-summary answer their command lines alike:
# --help and --version on standard output with exit code 0, and a mistake
# with exactly one line on standard error naming it, and exit code 2.
# Usage: command_line_test.sh VERSION PRAVIK TRELLAN_SELECT TRELLAN_SUMMARY
set -uo pipefail
version="$1" pravik="$2" select="$3" summary="$4"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_RUNTIME_DIR="$dir"  # keeps Qt's note about a missing one off standard error
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE PATTERN PROGRAM ARGS...: the exit code, and for code 2 a single
# line on standard error holding PATTERN, for code 1 PATTERN on standard
# error, for code 0 on standard output.
expect() {
  local code="$1" pattern="$2"
  shift 2
  "$@" > "$dir/out" 2> "$dir/err"
  local got=$?
  local name
  name=$(basename "$1")
  [ "$name" = nodisplay ] && name=$(basename "$2")
  [ "$got" -eq "$code" ] || fail "$name ${*:2}: exit code $got, expected $code ($(head -c 300 "$dir/err"))"
  if [ "$code" -eq 2 ]; then
    [ "$(wc -l < "$dir/err")" -eq 1 ] || fail "$name ${*:2}: expected one line on standard error, got: $(cat "$dir/err")"
    grep -qF -- "$pattern" "$dir/err" || fail "$name ${*:2}: '$pattern' not in: $(cat "$dir/err")"
    grep -qF -- "(see $name --help)" "$dir/err" || fail "$name ${*:2}: no pointer to --help in: $(cat "$dir/err")"
  elif [ "$code" -eq 1 ]; then
    grep -qF -- "$pattern" "$dir/err" || fail "$name ${*:2}: '$pattern' not in: $(head -c 300 "$dir/err")"
  else
    grep -qF -- "$pattern" "$dir/out" || fail "$name ${*:2}: '$pattern' not in: $(head -c 300 "$dir/out")"
  fi
}

lasso='plus:density:1,1;5,5;1,5'
for tool in "$pravik" "$select" "$summary"; do
  name=$(basename "$tool")
  expect 0 "Usage: $name" "$tool" --help
  expect 0 "exit status: 0 success, 1 failure, 2 command-line mistake" "$tool" --help
  expect 0 "$name $version" "$tool" --version
done
# Pravik answers its mistakes before it connects to a display, so they are
# checked without one; Qt's own options are let through to Qt.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
expect 2 "Unknown option 'frobnicate'" nodisplay "$pravik" --frobnicate
expect 2 "Missing value after '--study'" nodisplay "$pravik" --study
expect 2 "--participant needs a whole number, not 'x'" nodisplay "$pravik" -platform offscreen --participant x
expect 2 "--render takes continuous or on-demand, not 'sometimes'" nodisplay "$pravik" -style=fusion --render sometimes
expect 1 "no display" nodisplay "$pravik"

expect 2 "--frobnicate" "$select" --frobnicate
expect 2 "--dataset: 1 required NAME|FILE missing" "$select" --dataset
expect 2 "--threshold: '-0.5' is negative" "$select" --dataset clusters --threshold -0.5 --lasso "$lasso"
expect 2 "--fovy: '0' is not between 0 and 180 degrees" "$select" --dataset clusters --fovy 0 --lasso "$lasso"
expect 2 "--lasso: unknown technique 'sideways'" "$select" --dataset clusters --lasso 'plus:sideways:1,1;5,5;1,5'
expect 2 "--eye: expected 3 numbers, got 2" "$select" --dataset clusters --eye 1,2 --lasso "$lasso"
expect 2 "--threshold: 'nan' is not a finite number" "$select" --dataset clusters --threshold nan --lasso "$lasso"
expect 2 "--threshold: 'inf' is not a finite number" "$select" --dataset clusters --threshold inf --lasso "$lasso"
expect 0 "selected" "$select" --dataset clusters --threshold 0 --lasso "$lasso"
expect 2 "--eye and --center are the same point" "$select" --dataset clusters --eye 1,2,3 --center 1,2,3 --lasso "$lasso"
expect 2 "--up is zero" "$select" --dataset clusters --up 0,0,0 --lasso "$lasso"
expect 2 "--up is parallel to the view direction" "$select" --dataset clusters --eye 0,0,40 --center 0,0,0 --up 0,0,2 --lasso "$lasso"
expect 2 "--up is parallel to the view direction" "$select" --dataset clusters --up 0,0,-1 --lasso "$lasso"
expect 2 "no --lasso or --click given" "$select" --dataset clusters
expect 2 "--click: the density technique takes lassos" "$select" --dataset clusters --click plus:density:3,3
expect 2 "--view and --projection go together" "$select" --dataset clusters --view "$(seq -s, 16)" --lasso "$lasso"

expect 2 "--frobnicate" "$summary" --frobnicate x.csv
expect 2 "--svg: 1 required FILE missing" "$summary" x.csv --svg
expect 2 "no trials file given" "$summary"
# Not a mistake of the command line: a file that cannot be read is a failure.
expect 1 "missing.csv: cannot open the trials file" "$summary" "$dir/missing.csv"

[ "$failures" -eq 0 ] && echo "all command-line checks passed"
exit $((failures > 0))
