#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
# Usage: scripts/deps.sh [--armhf]   (--armhf adds the cross toolchain and armhf libraries)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libjson-c-dev libsqlite3-dev libssl-dev zlib1g-dev
  googletest libgtest-dev
  lighttpd curl
  libubootenv-tool u-boot-tools
  python3 time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# lighttpd's package starts a server on port 80; the project runs its own instances.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet lighttpd 2>/dev/null; then
  systemctl stop lighttpd >/dev/null 2>&1 || true
fi
exit 0
