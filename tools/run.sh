#!/usr/bin/env bash
# Installs what is missing, builds everything and starts Quellix from the
# repository root, where it finds ./scripts/init.lua and ./default.vkd.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -Wno-dev >/dev/null
ninja -C build
if [ -x build/common/gui/quellix ]; then
  exec build/common/gui/quellix "$@"
fi
echo "Built the engine, libprobecore and devscout; the Quellix GUI is not built yet, so there is nothing to start."
