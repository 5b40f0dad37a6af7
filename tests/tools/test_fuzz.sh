#!/usr/bin/env bash
# tools/fuzz.sh on stand-in fuzz targets: each target's last lines come under
# its name, and a target that fails fails the run.
# usage: test_fuzz.sh SOURCE_DIR
set -uo pipefail
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/build/tests/fuzz"
target() {  # name, exit code
  printf '#!/bin/bash\nfor i in 1 2 3 4; do echo "%s line $i"; done\nexit %s\n' "$1" "$2" \
    > "$tmp/build/tests/fuzz/$1"
  chmod +x "$tmp/build/tests/fuzz/$1"
}
target fuzz_alpha 0
target fuzz_beta 1
cd "$tmp" && bash "$1/tools/fuzz.sh" build 1 > out 2>&1
rc=$?
expected='fuzz_alpha:
  fuzz_alpha line 2
  fuzz_alpha line 3
  fuzz_alpha line 4
fuzz_beta:
  fuzz_beta line 2
  fuzz_beta line 3
  fuzz_beta line 4'
if [ "$rc" != 0 ] && [ "$(cat out)" = "$expected" ]; then
  echo "1 passed, 0 failed"
else
  echo "exit $rc (a failing target must fail the run); output:"; cat out
  echo "0 passed, 1 failed"; exit 1
fi
