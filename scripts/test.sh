#!/usr/bin/env bash
# The test command: installs missing packages, builds, and runs every test through ctest, first
# in the normal build (build/), then again with AddressSanitizer + UBSan (build-asan/), then the
# armhf build under qemu-user (build-armhf/, scripts/test-armhf.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DNVR_WERROR=ON "$@" >/dev/null
  ninja -C "$dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== native build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DNVR_SANITIZE=ON

# The recorder's own target: the armhf build under qemu-user (cross toolchain and armhf libraries
# from Debian, installed by scripts/deps-armhf.sh). NVR_TEST_ARMHF=0 leaves it out.
if [ "${NVR_TEST_ARMHF:-1}" != 0 ]; then
  echo "== armhf build under emulation"
  scripts/test-armhf.sh
fi
