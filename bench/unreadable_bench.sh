#!/usr/bin/env bash
# What unreadable files cost a verify: 100,000 files seen through faultfs,
# once with none failing and once with 100 of them (every 1,000th) answering
# EIO, in one run, warm. Prints the median of each and the ratio
# failing / sound, which is to stay at or below 1.1.
#   bench/unreadable_bench.sh path/to/orvalen-cli path/to/faultfs [runs]
# Needs root (or fusermount3) and /dev/fuse. ORVALEN_BENCH_DIR: where the
# data of bench-data.sh is kept between runs (default /tmp/orvalen-scan-bench,
# shared with scan_bench.sh).
set -euo pipefail

cli=$(readlink -f "${1:?usage: $0 path/to/orvalen-cli path/to/faultfs [runs]}")
faultfs=$(readlink -f "${2:?usage: $0 path/to/orvalen-cli path/to/faultfs [runs]}")
runs=${3:-5}
dir=${ORVALEN_BENCH_DIR:-/tmp/orvalen-scan-bench}
# The tree of the other benchmarks: 1,000 folders of 100 files of 0-8 KiB.
"$(dirname "$(readlink -f "$0")")/bench-data.sh" "$dir"
cd "$dir"
[ -f unreadable.sha256 ] || "$cli" -q create tree unreadable.sha256 > /dev/null

faults=()
for d in $(seq 0 10 990); do
  faults+=(--file "$(printf 'd%04d/f050.bin' "$d")")
done

mkdir -p sound failing
unmount() {
  for point in sound failing; do
    mountpoint -q "$point" && umount "$point"
  done
  return 0
}
trap unmount EXIT
"$faultfs" tree sound
"$faultfs" tree failing "${faults[@]}"

# Seconds of one verify; its exit status must be the expected one.
timed() {
  local start end status=0
  start=$(date +%s.%N)
  "$cli" -q verify "$1" unreadable.sha256 > /dev/null || status=$?
  end=$(date +%s.%N)
  [ "$status" -eq "$2" ] || { echo "verify $1 exited $status, not $2" >&2; exit 2; }
  echo "$end - $start" | bc -l
}

# Warm both mounts' caches, then alternate, so that a busy moment of the
# machine weighs on both alike.
timed sound 0 > /dev/null
timed failing 1 > /dev/null
sound=()
failing=()
for _ in $(seq "$runs"); do
  sound+=("$(timed sound 0)")
  failing+=("$(timed failing 1)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
s=$(median "${sound[@]}")
f=$(median "${failing[@]}")
printf 'verify, 100,000 files: none failing %.3f s, 100 failing with EIO %.3f s, ratio %.3f (runs: %d)\n' \
  "$s" "$f" "$(echo "$f / $s" | bc -l)" "$runs"
