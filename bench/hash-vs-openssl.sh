#!/usr/bin/env bash
# digestOfFile beside openssl dgst (and sha256sum for the portable SHA-256) on
# one warm 1 GiB file. Each side runs REPEAT times, interleaved, and the best
# run of each counts: the machine is shared and noisy.
#
# usage: bench/hash-vs-openssl.sh path/to/bench_hash [file]
#   file defaults to $ORVALEN_HASH_BENCH_FILE or /tmp/orvalen-hash-bench-1g.bin
#   and is created (1 GiB of random bytes) when missing; REPEAT defaults to 5.
set -euo pipefail

bench=${1:?usage: $0 path/to/bench_hash [file]}
file=${2:-${ORVALEN_HASH_BENCH_FILE:-/tmp/orvalen-hash-bench-1g.bin}}
repeat=${REPEAT:-5}

if [ ! -f "$file" ]; then
  echo "creating $file (1 GiB)"
  head -c 1073741824 /dev/urandom > "$file.tmp"
  mv "$file.tmp" "$file"
fi
bytes=$(stat -c %s "$file")
cat "$file" > /dev/null   # into the page cache

# One run of the command: "wall cpu" in milliseconds, cpu being user plus
# system time. On a shared machine the processor time is the steadier
# measure; both are shown.
run_ms() {
  local TIMEFORMAT='%3R %3U %3S' out
  out=$( { time "$@" > /dev/null; } 2>&1 )
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' <<< "$out"
}

# Best wall and cpu time of each of two commands, run alternately.
# Prints "wall_a cpu_a wall_b cpu_b".
best_pair() {
  local a=$1 b=$2 wa=0 ca=0 wb=0 cb=0 w c i
  for ((i = 0; i < repeat; i++)); do
    read -r w c < <(run_ms bash -c "$a")
    { [ "$wa" -eq 0 ] || [ "$w" -lt "$wa" ]; } && wa=$w
    { [ "$ca" -eq 0 ] || [ "$c" -lt "$ca" ]; } && ca=$c
    read -r w c < <(run_ms bash -c "$b")
    { [ "$wb" -eq 0 ] || [ "$w" -lt "$wb" ]; } && wb=$w
    { [ "$cb" -eq 0 ] || [ "$c" -lt "$cb" ]; } && cb=$c
  done
  echo "$wa $ca $wb $cb"
}

mbps() { awk -v b="$bytes" -v ms="$1" 'BEGIN { printf "%.0f", b / (ms / 1e3) / 1e6 }'; }
ratio() { awk -v ours="$1" -v theirs="$2" 'BEGIN { printf "%.2f", theirs / ours }'; }

# One line per comparison: throughput by processor time and by wall time.
compare() {
  local label=$1 reference=$2 wa ca wb cb
  read -r wa ca wb cb < <(best_pair "$3" "$4")
  printf '%-16s %8s %8s %6sx   %8s %8s %6sx   vs %s\n' "$label" \
    "$(mbps "$ca")" "$(mbps "$cb")" "$(ratio "$ca" "$cb")" \
    "$(mbps "$wa")" "$(mbps "$wb")" "$(ratio "$wa" "$wb")" "$reference"
}

echo "in memory, best of $repeat:"
"$bench" memory --size 256 --repeat "$repeat"
echo
echo "file $file ($bytes bytes), best of $repeat runs each, MB/s:"
printf '%-16s %8s %8s %7s   %8s %8s %7s\n' "" "cpu:" "" "" "wall:" "" ""
printf '%-16s %8s %8s %7s   %8s %8s %7s\n' algorithm orvalen ref ratio orvalen ref ratio
q=$(printf '%q' "$file")
b=$(printf '%q' "$bench")
for alg in md5 sha1 sha256 sha384 sha512; do
  compare "$alg" "openssl dgst -$alg" "$b file $q --algorithm $alg --repeat 1" "openssl dgst -$alg $q"
done
compare "sha256 portable" "sha256sum" "$b file $q --algorithm sha256 --repeat 1 --portable" "sha256sum $q"
