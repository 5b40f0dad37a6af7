#!/usr/bin/env bash
# Runs every fuzz target built in BUILD_DIR for SECONDS each and prints the
# last lines of each run, indented, under a line with the target's name. A
# target that finds a crash ends the run with its failure.
# usage: fuzz.sh BUILD_DIR SECONDS   (from the source tree's root)
set -euo pipefail
build=$1 seconds=$2
for bin in "$build"/tests/fuzz/fuzz_*; do
  [ -f "$bin" ] && [ -x "$bin" ] || continue
  name=$(basename "$bin"); short=${name#fuzz_}
  work="$build/corpus-$short"; mkdir -p "$work"
  echo "$name:"
  # New crashes land in tests/fuzz/regress/<target>/ as regression files.
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="tests/fuzz/regress/$short/crash-" \
    "$work" "tests/fuzz/regress/$short" 2>&1 | tail -n 3 | sed "s/^/  /"
done
