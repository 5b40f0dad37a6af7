#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libusb-1.0-0-dev liblua5.3-dev zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  sigrok-cli
  libwxgtk3.2-dev xvfb xauth fonts-dejavu-core
  openbox libx11-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# Packages are installed as root: directly, or through sudo where it may be
# used (without a password, or asking for one on a terminal).
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && { sudo -n true 2>/dev/null || { [ -t 0 ] && sudo -v; }; }; then
    SUDO="sudo"
  else
    echo "tools/deps.sh: packages missing; install them as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
echo "Installing: ${missing[*]}"
# sudo drops the caller's environment: hand it the frontend on its command.
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO ${SUDO:+env DEBIAN_FRONTEND=noninteractive} apt-get install -y -qq --no-install-recommends "${missing[@]}"
