#!/usr/bin/env bash
# Installer benchmark: time to verify a 64 MiB upgrade image and to install it on the emulated
# flash of a sandbox, each as a ratio against the floor of reading the same file once with
# `cksum`. Every figure is the median of several runs with the image in the page cache.
#
#   bench/update_bench.sh [BUILD_DIR] [RUNS]     (defaults: build, 5)
#
# The sandbox's kernel and file-system slots are enlarged so that the image fits (ker2 8 MiB,
# fs2 64 MiB); the image carries a 4 MiB kernel, a 60 MiB file system and the second boot loader
# (which this board does not take), so the installation writes ker2 and fs2 and switches slots.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
bin=$(cd "$build/bin" && pwd)
for tool in update nvr-sandbox nvr-bench-verify; do
  [ -x "$bin/$tool" ] || { echo "missing $bin/$tool: build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/update-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
erased_file() { head -c "$2" /dev/zero | tr '\0' '\377' > "$1"; }

# A sandbox with room for the image; the pristine copy is restored before each install.
pristine=$work/pristine
"$bin/nvr-sandbox" "$pristine" > /dev/null
erased_file "$pristine/dev/mtd4" $((8 * 1024 * 1024))
erased_file "$pristine/dev/mtd6" $((64 * 1024 * 1024))

# 64 MiB in all: header, 4 MiB kernel, 200 KiB boot loader, the file system the rest.
parts=$work/parts
mkdir -p "$parts"
head -c $((4 * 1024 * 1024)) /dev/urandom > "$parts/uImage"
head -c $((200 * 1024)) /dev/urandom > "$parts/uboot_4096M"
head -c $((64 * 1024 * 1024 - 2048 - 4 * 1024 * 1024 - 200 * 1024)) /dev/urandom > "$parts/ubifs"
image=$work/updateFM.bin
NVR_ROOT=$pristine "$bin/update" --build-image "$parts" "$image" > /dev/null
echo "image: $(stat -c %s "$image") bytes"

# Milliseconds of one run of "$@" (output discarded).
time_ms() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

cat "$image" > /dev/null
floor=(); verify=(); install=()
for _ in $(seq "$runs"); do
  floor+=("$(time_ms cksum "$image")")
  verify+=("$(time_ms "$bin/nvr-bench-verify" "$image")")
  rm -rf "$work/root"
  cp -a "$pristine" "$work/root"
  start=$(date +%s%N)
  NVR_ROOT=$work/root "$bin/update" -u "$image" > "$work/install.log" 2>&1 || {
    echo "installation failed:" >&2; tail -5 "$work/install.log" >&2; exit 1; }
  end=$(date +%s%N)
  install+=("$(( (end - start) / 1000000 ))")
done
f=$(printf '%s\n' "${floor[@]}" | median)
v=$(printf '%s\n' "${verify[@]}" | median)
i=$(printf '%s\n' "${install[@]}" | median)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
echo "runs: $runs (medians)"
echo "cksum (read once):       ${f} ms"
echo "verify (CRC-32 of parts): ${v} ms  = $(ratio "$v" "$f") x cksum"
echo "install (check, verify, erase, write + read back, switch): ${i} ms  = $(ratio "$i" "$f") x cksum"
echo "  of which writing (install less verify): $((i - v)) ms  = $(ratio "$((i - v))" "$f") x cksum"
