#!/usr/bin/env bash
# Installs the Debian packages the game and its tests need, only those missing.
# Idempotent: when everything is present it changes nothing and runs no apt-get.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libsdl2-dev liblua5.2-dev lua5.2 libenet-dev libstb-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri
  xvfb xauth
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
