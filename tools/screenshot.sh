#!/usr/bin/env bash
# Takes docs/quellix.png: the main window on the bundled default capture with
# a control transfer clicked, under a virtual X server (no desktop needed).
# The same test fails when the row view paints empty, black or in one colour.
#   BUILD=<build dir> (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -Wno-dev >/dev/null
ninja -C "$BUILD" ${JOBS:+-j"$JOBS"} gui_test_screenshot quellix_run
mkdir -p docs
QX_SCREENSHOT="$PWD/docs/quellix.png" xvfb-run -a -s "-screen 0 1920x1080x24" \
  "$BUILD/tests/gui/gui_test_screenshot" --gtest_brief=1
echo "wrote docs/quellix.png"
