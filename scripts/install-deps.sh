#!/usr/bin/env bash
# Installs the Debian packages of the named groups, when they are missing.
# Usage: scripts/install-deps.sh GROUP...    (no group: base)
#   base      the PC build (module, simulator, tapsim, the tests' GoogleTest) and the demo
#   cross     the recorder build: quarrow.tap and the mipsel tapsim
#   test      what the tests run besides the builds: qemu-mipsel, the ext4 tools, strace, man
#   fuzz      clang and its libFuzzer runtime
#   coverage  gcovr
#   bench     make bench: qemu-user (with its plugin interface) and bc
#   tools     the glyph generator's FreeType and font (tools/README.md)
# As root it installs them, with apt's own progress; otherwise it prints the one command
# to run and fails.
set -euo pipefail

declare -A group=(
  # The PC build's configuration needs GoogleTest, so the demo needs it too.
  [base]="cmake make g++ libpng-dev googletest libgtest-dev libgmock-dev"
  [cross]="g++-mipsel-linux-gnu binutils-mipsel-linux-gnu"
  [test]="qemu-user e2fsprogs strace man-db"
  [fuzz]="clang libclang-rt-14-dev"
  [coverage]="gcovr"
  [bench]="qemu-user bc"
  [tools]="libfreetype-dev fonts-crosextra-carlito"
)

[ $# -gt 0 ] || set -- base
packages=()
for g in "$@"; do
  if [ -z "${group[$g]+set}" ]; then
    echo "install-deps.sh: unknown group '$g' (groups: base cross test fuzz coverage bench tools)" >&2
    exit 2
  fi
  read -r -a list <<<"${group[$g]}"
  packages+=("${list[@]}")
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
# Two groups may share a package.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++')

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages ($*). Run:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "installing for $*: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
echo "installed: ${missing[*]}"
