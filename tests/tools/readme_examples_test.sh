#!/usr/bin/env bash
# Every command of Pravik and the tools shown in README.md and docs/*.md runs
# as written, from a copy of the repository's root: build/ is this build, the
# examples are copied (a study writes its results beside its file), and the
# programs are on PATH for the docs that name them bare.
#
# A command is a line of a code block (indented or fenced) whose program is
# Pravik, trellan-select or trellan-summary, with or without build/ and
# "xvfb-run -a" and "env NAME=VALUE"; a line ending in "\" continues on the next. The tools run
# with DISPLAY unset (they need no display); Pravik gets a virtual one. Synopses (with
# "[") are not run. Pravik without --snapshot, --help or --version opens a
# session that waits for a participant: it passes when it is still running
# after 10 s, or has ended with 0.
# Usage: readme_examples_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1" build="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build" "$work/build"
cp -r "$src/examples" "$work/examples"
export PATH="$build:$build/tools:$PATH"
export XDG_RUNTIME_DIR="$work"

# The program of a command: after "xvfb-run -a" and "env NAME=VALUE ...".
program_of() {
  echo "$1" | sed -E 's/^xvfb-run -a //; s/^env( +[A-Za-z_][A-Za-z0-9_]*=[^ ]*)+ +//' | awk '{print $1}'
}

commands=()
for doc in "$src/README.md" "$src"/docs/*.md; do
  fenced=0 pending=""
  while IFS= read -r line || [ -n "$line" ]; do
    if [[ "$line" =~ ^\`\`\` ]]; then fenced=$((1 - fenced)); continue; fi
    if [ -n "$pending" ]; then
      code="${line#"${line%%[![:space:]]*}"}"
    elif [ "$fenced" -eq 1 ]; then
      code="$line"
    elif [[ "$line" == "    "* ]]; then
      code="${line:4}"
    else
      continue
    fi
    if [[ "$code" == *\\ ]]; then pending+="${code%\\} "; continue; fi
    code="$pending$code" pending=""
    program=$(program_of "$code")
    case "$(basename "$program")" in
      Pravik|trellan-select|trellan-summary) ;;
      *) continue ;;
    esac
    if [[ "$code" == *"["* ]]; then echo "synopsis, not run: $code"; continue; fi
    commands+=("$(basename "$doc")|$code")
  done < "$doc"
done

failures=0
for entry in "${commands[@]}"; do
  doc="${entry%%|*}" cmd="${entry#*|}"
  program_of_cmd=$(basename "$(program_of "$cmd")")
  echo "== $doc: $cmd"
  waits=0
  if [[ "$cmd" =~ (^|[[:space:]/])Pravik([[:space:]]|$) && ! "$cmd" =~ --(snapshot|help|version) ]]; then waits=1; fi
  # Pravik gets a virtual display where there is none; the tools run without
  # any display, as the docs say they do.
  if [[ "$program_of_cmd" == Pravik ]]; then
    if [ -z "${DISPLAY:-}" ] && [[ "$cmd" != xvfb-run* ]]; then cmd="xvfb-run -a $cmd"; fi
  else
    cmd="env -u DISPLAY $cmd"
  fi
  if [ "$waits" -eq 1 ]; then
    (cd "$work" && timeout 10 bash -c "$cmd") > "$work/out" 2>&1
  else
    (cd "$work" && timeout 500 bash -c "$cmd") > "$work/out" 2>&1
  fi
  rc=$?
  tail -n 8 "$work/out"
  if [ "$rc" -eq 0 ] || { [ "$waits" -eq 1 ] && [ "$rc" -eq 124 ]; }; then
    echo "-- ok (exit code $rc)"
  else
    echo "-- FAILED with exit code $rc"
    failures=$((failures + 1))
  fi
done
echo "${#commands[@]} commands run, $failures failed"
# The README alone shows five: a lost block must not pass as success.
[ "${#commands[@]}" -ge 5 ] || { echo "too few commands found"; exit 1; }
exit $((failures > 0))
