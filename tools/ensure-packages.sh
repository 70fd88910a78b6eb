#!/usr/bin/env bash
# Installs those of the given Debian packages that are missing.
# Usage: tools/ensure-packages.sh PACKAGE...
set -euo pipefail

missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "Installing: sudo apt-get install -y ${missing[*]}"
  sudo apt-get update
  sudo apt-get install -y "${missing[@]}"
fi
