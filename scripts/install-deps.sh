#!/usr/bin/env bash
# Installs the Debian packages the project needs, when they are missing.
# As root it installs them; otherwise it prints the one command to run and fails.
set -euo pipefail
packages=(cmake make g++ googletest libgtest-dev libgmock-dev libpng-dev libfreetype-dev
          g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user fonts-crosextra-carlito
          e2fsprogs clang libclang-rt-14-dev gcovr)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
