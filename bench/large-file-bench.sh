#!/usr/bin/env bash
# One large file, warm and cold, each case timed beside its reference in the
# same run, alternating, the median of RUNS counting. Speed ratios are the
# reference's time over ours (above 1.0: orvalen is faster); processor-time
# ratios are ours over the reference's (below 1.0: orvalen uses less).
#
#   bench/large-file-bench.sh [BUILD_DIR]
#
# BUILD_DIR   a build with orvalen-cli and bench_hash (default: build/)
# WARM_DIR    where the warm files are made, a tmpfs (default /dev/shm)
# DISK_DIR    on a disk, for the cold case and the page-cache case
#             (default /var/tmp/orvalen-large-bench)
# RUNS        runs per warm case (default 9); COLD_RUNS (default 3)
# SECTIONS    any of: machine pieces warm disk cold interrupt
#             (default: all of them)
#
# The cold case drops the page cache (root only) and is skipped otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(readlink -f "${1:-$root/build}")
cli=$build/orvalen-cli
bench=$build/bench/bench_hash
warm_dir=${WARM_DIR:-/dev/shm}
disk_dir=${DISK_DIR:-/var/tmp/orvalen-large-bench}
runs=${RUNS:-9}
cold_runs=${COLD_RUNS:-3}
sections=${SECTIONS:-machine pieces warm disk cold interrupt}
algorithms=(md5 sha1 sha256 sha384 sha512)

for tool in "$cli" "$bench"; do
  [ -x "$tool" ] || { echo "missing $tool: build orvalen-cli and bench_hash" >&2; exit 2; }
done
command -v openssl > /dev/null || { echo "openssl is needed" >&2; exit 2; }
wants() { [[ " $sections " == *" $1 "* ]]; }

# A file of random bytes, made once and kept.
make_file() {
  local path=$1 mib=$2
  if [ ! -f "$path" ] || [ "$(stat -c %s "$path")" -ne $((mib << 20)) ]; then
    mkdir -p "$(dirname "$path")"
    head -c $((mib << 20)) /dev/urandom > "$path.tmp"
    mv "$path.tmp" "$path"
  fi
}

# "wall cpu" of one run in milliseconds, cpu being user plus system time.
run_ms() {
  local TIMEFORMAT='%3R %3U %3S' out
  out=$( { time "$@" > /dev/null 2>&1; } 2>&1 )
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' <<< "$out"
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs two commands (each a string for bash -c) alternately, n times each.
# Prints the medians "wall_a cpu_a wall_b cpu_b".
pair() {
  local n=$1 a=$2 b=$3 i w c
  local -a wa=() ca=() wb=() cb=()
  for ((i = 0; i < n; i++)); do
    read -r w c < <(run_ms bash -c "$a"); wa+=("$w"); ca+=("$c")
    read -r w c < <(run_ms bash -c "$b"); wb+=("$w"); cb+=("$c")
  done
  echo "$(median "${wa[@]}") $(median "${ca[@]}") $(median "${wb[@]}") $(median "${cb[@]}")"
}

over() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

row() {
  local label=$1 wa=$2 ca=$3 wb=$4 cb=$5
  printf '%-34s %7d %7d %6sx   %7d %7d %6sx\n' "$label" "$wa" "$wb" "$(over "$wb" "$wa")" \
    "$ca" "$cb" "$(over "$ca" "$cb")"
}

header() {
  printf '\n%s\n' "$1"
  printf '%-34s %7s %7s %7s   %7s %7s %7s\n' "" "wall ms" "ref" "speed" "cpu ms" "ref" "cpu"
}

q() { printf '%q' "$1"; }

if wants machine; then
  echo "== machine"
  lscpu | grep -E '^(Model name|CPU\(s\)|Thread\(s\) per core|L1d cache|L2 cache|L3 cache):' \
    | sed 's/  */ /g'
  echo "kernel $(uname -r), $(openssl version | cut -d' ' -f1-2)"
  "$bench" copy --size 512 --repeat 5
  "$bench" memory --size 1 --repeat 20 | grep -E 'sha-ni|avx2|avx512|md5'
  echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
fi

warm256=$warm_dir/orvalen-large-256m.bin
warm1g=$warm_dir/orvalen-large-1g.bin

if wants pieces; then
  make_file "$warm256" 256
  cat "$warm256" > /dev/null
  header "== piece size: bench_hash file, SHA-256, 256 MiB in $warm_dir, median of $runs, beside openssl dgst"
  for piece in 16 32 64 128 256 device; do
    if [ "$piece" = device ]; then
      option=--device label="second thread, 256 KiB pieces"
    else
      option="--piece $piece" label="$piece KiB on the hashing thread"
    fi
    read -r wa ca wb cb < <(pair "$runs" "$(q "$bench") file $(q "$warm256") --algorithm sha256 --repeat 1 $option" \
      "openssl dgst -sha256 $(q "$warm256")")
    row "$label" "$wa" "$ca" "$wb" "$cb"
  done
fi

# Every algorithm through orvalen-cli digest beside openssl dgst.
digest_rows() {
  local file=$1 size=$2 alg
  for alg in "${algorithms[@]}"; do
    read -r wa ca wb cb < <(pair "$runs" "$(q "$cli") digest --algorithm $alg $(q "$file")" \
      "openssl dgst -$alg $(q "$file")")
    row "$alg $size" "$wa" "$ca" "$wb" "$cb"
  done
}

if wants warm; then
  make_file "$warm256" 256
  make_file "$warm1g" 1024
  header "== warm, tmpfs ($warm_dir): orvalen-cli digest beside openssl dgst, median of $runs"
  digest_rows "$warm256" "256 MiB"
  digest_rows "$warm1g" "1 GiB"
fi

disk1g=$disk_dir/orvalen-large-1g.bin
if wants disk; then
  make_file "$disk1g" 1024
  cat "$disk1g" > /dev/null
  header "== warm, in the page cache of $(df --output=fstype "$disk_dir" | tail -1) ($disk_dir), median of $runs"
  digest_rows "$disk1g" "1 GiB"
fi

if wants cold; then
  make_file "$disk1g" 1024
  if [ "$(id -u)" -ne 0 ]; then
    echo "== cold: skipped, dropping the page cache needs root"
  else
    drop() { sync; echo 3 > /proc/sys/vm/drop_caches; cat "$cli" "$(command -v openssl)" > /dev/null; }
    dd_ms=() cold_ms=()
    for ((i = 0; i < cold_runs; i++)); do
      drop
      read -r w c < <(run_ms dd if="$disk1g" of=/dev/null bs=1M); dd_ms+=("$w")
      drop
      read -r w c < <(run_ms "$cli" digest "$disk1g"); cold_ms+=("$w")
    done
    cat "$disk1g" > /dev/null
    read -r warm_w warm_c _ < <(pair "$runs" "$(q "$cli") digest $(q "$disk1g")" true)
    dd_m=$(median "${dd_ms[@]}") cold_m=$(median "${cold_ms[@]}")
    bound=$(( dd_m > warm_w ? dd_m : warm_w ))
    printf '\n== cold, SHA-256, 1 GiB on disk, median of %d\n' "$cold_runs"
    printf 'dd cold %d ms, digest warm %d ms, digest cold %d ms: %sx of max(dd cold, warm digest)\n' \
      "$dd_m" "$warm_w" "$cold_m" "$(over "$cold_m" "$bound")"
  fi
fi

if wants interrupt; then
  sparse=$disk_dir/orvalen-large-30g-sparse.bin
  mkdir -p "$disk_dir"
  [ -f "$sparse" ] || truncate -s 30G "$sparse"
  "$cli" digest "$sparse" > /dev/null &
  pid=$!
  sleep 2
  start=$(date +%s%N)
  kill -INT "$pid"
  wait "$pid" || true
  printf '\n== Ctrl-C 2 s into a 30 GiB file: ended %d ms after the signal\n' \
    $(( ($(date +%s%N) - start) / 1000000 ))
fi
