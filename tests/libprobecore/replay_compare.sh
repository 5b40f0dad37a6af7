#!/usr/bin/env bash
# A raw capture file replayed through the preloaded simulated board and
# libprobecore must give the row text lines the engine gives for the file.
# usage: replay_compare.sh QXRAWLINES PROBECORE_C_TEST KELVOSIM_SO WORKDIR SEED
set -euo pipefail
tool=$1 prog=$2 sim=$3 work=$4 seed=$5
mkdir -p "$work"
raw="$work/replay-$seed.raw"
"$tool" make "$raw" "$seed" 400
"$tool" lines "$raw" > "$work/expected-$seed.txt"
bytes=$(( $(stat -c %s "$raw") - 8 ))
KELVOSIM_CAPTURE="$raw" LD_PRELOAD="$sim" "$prog" dump "$bytes" > "$work/actual-$seed.txt"
rows=$(wc -l < "$work/expected-$seed.txt")
[ "$rows" -gt 100 ] || { echo "only $rows rows decoded from the file"; exit 1; }
diff -u "$work/expected-$seed.txt" "$work/actual-$seed.txt"
echo "$rows rows alike"
