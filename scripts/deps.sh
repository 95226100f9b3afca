#!/usr/bin/env bash
# Installs the Debian packages that are missing, and only those:
#   bash scripts/deps.sh run    what building and running the game needs
#   bash scripts/deps.sh test   that and the test and benchmark libraries
# Idempotent: when everything is present it prints nothing and runs no apt-get.
set -euo pipefail

RUN=(
  build-essential cmake pkg-config
  libsdl2-dev liblua5.2-dev libenet-dev libstb-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri
)
TEST=(libgtest-dev libgmock-dev libbenchmark-dev)

case "${1:-test}" in
  run) PACKAGES=("${RUN[@]}") ;;
  test) PACKAGES=("${RUN[@]}" "${TEST[@]}") ;;
  *)
    echo "usage: bash scripts/deps.sh [run|test]" >&2
    exit 2
    ;;
esac

# One query for all: dpkg-query names only the packages it knows (and fails
# when it does not know one, which is no failure here).
installed=" $({ dpkg-query -W -f='${Package}=${Status}\n' "${PACKAGES[@]}" 2>/dev/null || true; } |
  sed -n 's/=install ok installed$//p' | tr '\n' ' ') "
missing=()
for p in "${PACKAGES[@]}"; do
  case "$installed" in *" $p "*) ;; *) missing+=("$p") ;; esac
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them as root (apt-get install ${missing[*]}), or run this as root" >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
