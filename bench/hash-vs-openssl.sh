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

# Wall time of one run of the command, in nanoseconds.
run_ns() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  echo $((end - start))
}

# Best wall time of each of two commands, run alternately. Prints "a b".
best_pair() {
  local a=$1 b=$2 best_a=0 best_b=0 t i
  for ((i = 0; i < repeat; i++)); do
    t=$(run_ns bash -c "$a"); { [ "$best_a" -eq 0 ] || [ "$t" -lt "$best_a" ]; } && best_a=$t
    t=$(run_ns bash -c "$b"); { [ "$best_b" -eq 0 ] || [ "$t" -lt "$best_b" ]; } && best_b=$t
  done
  echo "$best_a $best_b"
}

mbps() { awk -v b="$bytes" -v ns="$1" 'BEGIN { printf "%.0f", b / (ns / 1e9) / 1e6 }'; }
ratio() { awk -v ours="$1" -v theirs="$2" 'BEGIN { printf "%.2f", theirs / ours }'; }

echo "in memory, best of $repeat:"
"$bench" memory --size 256 --repeat "$repeat"
echo
echo "file $file ($bytes bytes), best of $repeat, MB/s:"
printf '%-16s %10s %10s %8s\n' algorithm orvalen reference ratio
q=$(printf '%q' "$file")
b=$(printf '%q' "$bench")
for alg in md5 sha1 sha256 sha384 sha512; do
  read -r ours theirs < <(best_pair "$b file $q --algorithm $alg --repeat 1" "openssl dgst -$alg $q")
  printf '%-16s %10s %10s %7sx  (vs openssl dgst -%s)\n' "$alg" "$(mbps "$ours")" "$(mbps "$theirs")" \
    "$(ratio "$ours" "$theirs")" "$alg"
done
read -r ours theirs < <(best_pair "$b file $q --algorithm sha256 --repeat 1 --portable" "sha256sum $q")
printf '%-16s %10s %10s %7sx  (vs sha256sum)\n' "sha256 portable" "$(mbps "$ours")" "$(mbps "$theirs")" \
  "$(ratio "$ours" "$theirs")"
