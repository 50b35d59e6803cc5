#!/usr/bin/env bash
# The recorder's own target, 32-bit ARM (armhf): builds the whole tree with
# cmake/toolchain-armhf.cmake into build-armhf/ and runs, under qemu-user:
#   1. the shipped programs' checks: stripped sizes of webcgi and update, the libraries they need
#      (update: the C/C++ runtime only), and no test code (gtest, tests/ sources such as
#      webcgi-probe's modules) linked into either;
#   2. in build-armhf, through ctest (CMAKE_CROSSCOMPILING_EMULATOR): the unit tests, the record
#      layout comparison against a native build of tests/layout/layout_dump, and the tests of the
#      update utility (its code in-process and the armhf update as a child);
#   3. the request tables: the native test kit (driver, sandbox maker, coresim) of the native
#      build against the armhf webcgi. So the armhf webcgi exchanges its daemon payloads with an
#      x86-64 coresim, and its answers meet expectations built natively.
# The test kits start every program through the launcher named by NVR_TEST_EMULATOR (made
# below): webcgi, webcgi-probe and update from build-armhf under qemu, the kit's own programs
# natively, so that no armhf program is ever handed to the kernel (there is no binfmt).
#
# The update and request tests cost about one sandbox each (plus the emulated program); when
# there are more than a budget of them, every Nth one runs (ctest -I), an even sample across all
# handler modules that keeps the whole CI run short. The native and sanitizer runs take them all.
#
# scripts/test.sh runs this after the native and sanitizer runs. On its own:
#   scripts/test-armhf.sh
# Environment:
#   NVR_NATIVE_BUILD         native build folder whose test kit is used (default build/, made
#                            here when missing, as scripts/test.sh makes it)
#   NVR_ARMHF_REQUEST_BUDGET request tables to run at most, about (default 200; 0: all)
#   NVR_ARMHF_UPDATE_BUDGET  update tests to run at most, about (default 100; 0: all)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

scripts/deps-armhf.sh

jobs=$(nproc 2>/dev/null || echo 2)
armhf=$repo/build-armhf
native=${NVR_NATIVE_BUILD:-build}
[[ $native = /* ]] || native=$repo/$native
cross=arm-linux-gnueabihf
# Must match CMAKE_CROSSCOMPILING_EMULATOR in cmake/toolchain-armhf.cmake.
qemu=(qemu-arm -L /usr/$cross -E LD_LIBRARY_PATH=/lib)

echo "== armhf: configure and build ($armhf)"
cmake -S . -B "$armhf" -G Ninja -DNVR_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-armhf.cmake" >/dev/null
# Every program but the request tables and end-to-end suites, which run from the native kit.
targets=$(ninja -C "$armhf" -t targets all | sed -n 's/^\(bin\/[^:]*\): .*/\1/p' | grep -vE '^bin/(request|e2e)_' || true)
# shellcheck disable=SC2086  # one target a word
ninja -C "$armhf" ${targets:-all}

echo "== armhf: shipped programs"
failed=0
# check_shipped PROGRAM SIZE_LIMIT_KIB ALLOWED_LIBRARIES...
check_shipped() {
  local program=$1 limit_kib=$2; shift 2
  local path=$armhf/bin/$program
  if [ ! -x "$path" ]; then
    echo "$program: not built"; failed=1; return
  fi
  local stripped size lib needed cus
  stripped=$(mktemp)
  $cross-strip -o "$stripped" "$path"
  size=$(stat -c %s "$stripped")
  rm -f "$stripped"
  echo "$program: $size bytes stripped (limit $((limit_kib * 1024)))"
  if [ "$size" -gt $((limit_kib * 1024)) ]; then
    echo "$program: larger than its limit; if the growth is wanted, raise the limit in $0"; failed=1
  fi
  needed=$($cross-readelf -d "$path" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
  for lib in $needed; do
    case " $* " in
      *" $lib "*) ;;
      *) echo "$program: links $lib, which it must not need"; failed=1 ;;
    esac
  done
  if $cross-nm -C "$path" 2>/dev/null | grep -q ' testing::'; then
    echo "$program: GoogleTest is linked in"; failed=1
  fi
  # Compile units named in the debug information: none may come from tests/.
  cus=$($cross-readelf --debug-dump=info "$path" 2>/dev/null |
        awk '/DW_TAG_compile_unit/ {unit = 1} unit && /DW_AT_name/ {print $NF; unit = 0}')
  if grep -q "^$repo/tests/" <<<"$cus"; then
    echo "$program: test code is linked in:"; grep "^$repo/tests/" <<<"$cus" | sed 's/^/  /'; failed=1
  fi
}
# Limits: webcgi was 167 KiB stripped with most of its handler modules still to be written, update 82 KiB
# complete; the limits leave room for the modules to come, not for debug or test code.
runtime=(libstdc++.so.6 libm.so.6 libgcc_s.so.1 libc.so.6 ld-linux-armhf.so.3)
check_shipped webcgi 1024 "${runtime[@]}" libjson-c.so.5 libsqlite3.so.0 libcrypto.so.3 libssl.so.3
check_shipped update 128 "${runtime[@]}"
[ $failed -eq 0 ] || { echo "armhf: shipped program checks failed"; exit 1; }

# The launcher the test kits put before every program they start (NVR_TEST_EMULATOR), called as
#   nvr-armhf-launch [-0 ARGV0] PROGRAM ARGS...
# (-0 as in qemu-user: the name to start the program under, for update's fw_printenv/fw_setenv).
launcher=$armhf/nvr-armhf-launch
cat >"$launcher" <<EOF
#!/bin/bash
# Made by scripts/test-armhf.sh: NVR_TEST_EMULATOR of the armhf test run. The programs under
# test start from the armhf build under qemu; the test kit's own programs (coresim, the sandbox
# maker, its steps and stand-ins) from the native build; any other program as it is.
armhf_bin='$armhf/bin'
native_bin='$native/bin'
# qemu's -E LD_LIBRARY_PATH=/lib is meant for the armhf loader only.
[ "\${LD_LIBRARY_PATH:-}" = /lib ] && unset LD_LIBRARY_PATH
as=() qemu_as=()
if [ "\$1" = -0 ]; then
  as=(-a "\$2") qemu_as=(-0 "\$2")
  shift 2
fi
prog=\$1
shift
case "\$prog" in
  "\$armhf_bin"/* | "\$native_bin"/*) ;;
  *) exec "\${as[@]}" "\$prog" "\$@" ;;
esac
name=\${prog##*/}
case "\$name" in
  webcgi | webcgi-probe | update) exec ${qemu[*]} "\${qemu_as[@]}" "\$armhf_bin/\$name" "\$@" ;;
esac
exec "\${as[@]}" "\$native_bin/\$name" "\$@"
EOF
chmod 755 "$launcher"
export NVR_TEST_EMULATOR=$launcher

echo "== armhf: native test kit ($native)"
if [ ! -f "$native/build.ninja" ]; then
  cmake -S . -B "$native" -G Ninja -DNVR_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$native"

# run_sampled DIR LABEL BUDGET: the tests of LABEL in DIR, every Nth one when there are more than
# BUDGET (0: all).
run_sampled() {
  local dir=$1 label=$2 budget=$3 count stride=1
  count=$(ctest --test-dir "$dir" -N -L "$label" | sed -n 's/^Total Tests: //p')
  if [ "$budget" -gt 0 ] && [ "${count:-0}" -gt "$budget" ]; then
    stride=$(((count + budget - 1) / budget))
    echo "$label: $count tests; one in $stride runs here"
  fi
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -L "$label" -I "1,,$stride"
}

echo "== armhf: unit tests and record layouts under qemu-arm"
# Tests that cannot hold under qemu-user, whatever the code does:
#   Multipart.FieldTooLargeForMemoryIsAMemoryFailure  sets RLIMIT_AS from /proc/self/statm; under
#     qemu-user both are the emulator's, whose address space is not the emulated program's
emulation_limits='^Multipart\.FieldTooLargeForMemoryIsAMemoryFailure$'
ctest --test-dir "$armhf" --output-on-failure -j "$jobs" -L 'unit|layout' -E "$emulation_limits"

echo "== armhf: update utility under qemu-arm"
run_sampled "$armhf" update "${NVR_ARMHF_UPDATE_BUDGET:-100}"

echo "== armhf: request tables, native test kit against the armhf webcgi"
run_sampled "$native" request "${NVR_ARMHF_REQUEST_BUDGET:-200}"
