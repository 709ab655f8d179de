#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (only those missing).
set -euo pipefail

packages=(
  cmake g++ make pkg-config binutils
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  libssl-dev openssl
  python3 python3-pyftpdlib python3-openssl vsftpd curl lftp
  xvfb xauth clang-format
  dpkg-dev file
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
