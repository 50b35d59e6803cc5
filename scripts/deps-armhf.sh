#!/usr/bin/env bash
# Installs what the recorder's own target needs, only what is missing: the armhf (32-bit ARM,
# hard-float) cross compiler, Debian's armhf builds of the libraries webcgi and the tests link
# (through multiarch), and qemu-user to run the armhf programs and tests on this machine.
# qemu-user-binfmt is deliberately not installed: the tests name qemu-arm themselves
# (cmake/toolchain-armhf.cmake), so no armhf program is ever started by the kernel.
set -euo pipefail

packages=(
  g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf
  libjson-c-dev:armhf libsqlite3-dev:armhf libssl-dev:armhf zlib1g-dev:armhf libgtest-dev:armhf
  qemu-user
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

added_arch=0
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  echo "deps-armhf: adding the armhf architecture"
  $SUDO dpkg --add-architecture armhf
  added_arch=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ $added_arch -eq 1 ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps-armhf: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
exit 0
