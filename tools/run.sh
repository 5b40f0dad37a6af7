#!/usr/bin/env bash
# Installs what is missing, builds everything and starts Quellix in the
# build's run directory, build/run, where it finds ./scripts/init.lua, its
# help page and ./default.vkd (the simulated board's recording of a device
# being enumerated, made by the build).
#   QX_SIM=1 bash tools/run.sh   captures from the simulated board instead
#                                of a real one (libkelvosim.so preloaded)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash tools/deps.sh
cmake -S . -B build -G Ninja -Wno-dev >/dev/null
ninja -C build

# GTK needs a Wayland or X display; without one say so, not GTK's message.
has_display() {
  [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
  [ -n "${DISPLAY:-}" ] || return 1
  case "$DISPLAY" in
    :* | unix:*)  # a local X server has its socket
      local n=${DISPLAY#*:}
      n=${n%%.*}
      [ -S "/tmp/.X11-unix/X$n" ] ;;
    *) return 0 ;;
  esac
}
if ! has_display; then
  echo "Quellix is built ($ROOT/build/common/gui/quellix) but cannot start: no graphical display here (DISPLAY and WAYLAND_DISPLAY name none); run it from a desktop session." >&2
  exit 1
fi

cd build/run
if [ "${QX_SIM:-0}" = "1" ]; then
  export LD_PRELOAD="$ROOT/build/kelvo/sim/libkelvosim.so${LD_PRELOAD:+:$LD_PRELOAD}"
fi
exec "$ROOT/build/common/gui/quellix" "$@"
