#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: a plain build, an
# AddressSanitizer+UndefinedBehaviorSanitizer build, a ThreadSanitizer build
# of the threaded tests, and a bounded libFuzzer run of each fuzz target.
# FUZZ_SECONDS (default 60) bounds each fuzz target; 0 skips fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-60}

bash tools/deps.sh

# The GUI tests need a display: each ctest run gets one virtual X server.
XVFB=(xvfb-run -a -s "-screen 0 1920x1080x24")
# Leaks inside GTK, GLib and fontconfig are theirs, not ours.
export LSAN_OPTIONS="suppressions=$ROOT/tools/lsan.supp:print_suppressions=0"

step() { printf '\n=== %s ===\n' "$*"; }

configure_build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -Wno-dev "$@" >/dev/null
  ninja -C "$dir"
}

step "plain build and tests"
configure_build build
"${XVFB[@]}" ctest --test-dir build -j"$JOBS" --output-on-failure

step "address and undefined-behaviour sanitizers"
configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=address,undefined -DQX_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "${XVFB[@]}" ctest --test-dir build-asan -j"$JOBS" --output-on-failure

step "thread sanitizer (threaded tests)"
CC=clang CXX=clang++ configure_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=thread -DQX_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -j"$JOBS" --output-on-failure -L thread

if [ "$FUZZ_SECONDS" != "0" ]; then
  step "fuzzing, ${FUZZ_SECONDS}s per target"
  CC=clang CXX=clang++ cmake -S "$ROOT" -B build-fuzz -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQX_FUZZ=ON -DQX_SANITIZE=address,undefined -DQX_TESTS=ON -DQX_BENCH=OFF >/dev/null
  targets=$(ninja -C build-fuzz -t targets all | grep -o '^fuzz_[a-z_]*' | sort -u)
  ninja -C build-fuzz $targets
  bash tools/fuzz.sh build-fuzz "$FUZZ_SECONDS"
fi

step "all tests passed"
