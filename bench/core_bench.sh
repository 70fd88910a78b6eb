#!/usr/bin/env bash
# Times the engine on the same warm data as rhash, sha256sum and openssl, in
# one run, and prints each ratio as reference time / our time (above 1.0: the
# engine is faster); then the checksums-file and comparison timings at a
# million records.
#   bench/core_bench.sh path/to/bench_core [runs]
# ORVALEN_BENCH_DIR: where the 1 GiB file and the 100,000-file tree are kept
# between runs (default /tmp/orvalen-core-bench); they are only read.
set -euo pipefail

bench=$(readlink -f "${1:?usage: $0 path/to/bench_core [runs]}")
runs=${2:-5}
data=${ORVALEN_BENCH_DIR:-/tmp/orvalen-core-bench}
for tool in hyperfine openssl rhash sha256sum python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
"$(dirname "$0")/bench-data.sh" "$data"
cd "$data"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/big"
ln -s "$data/big.bin" "$work/big/big.bin"

# Warm the page cache.
cat big.bin > /dev/null
rhash -r --sha256 tree > /dev/null
"$bench" scan tree

ratio() {  # name, hyperfine JSON: the first command is ours
  python3 - "$1" "$2" <<'PY'
import json, sys
name, path = sys.argv[1], sys.argv[2]
r = json.load(open(path))["results"]
ours = r[0]["mean"]
for ref in r[1:]:
    print("%s: ours %.3f s, %s %.3f s, ratio %.2f" % (name, ours, ref["command"], ref["mean"], ref["mean"] / ours))
PY
}

hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/tree.json" \
  "$bench scan $data/tree" "rhash -r --sha256 $data/tree" > /dev/null
ratio "100,000 files" "$work/tree.json"

hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/big.json" \
  "$bench scan $work/big" "sha256sum $data/big.bin" "openssl dgst -sha256 $data/big.bin" > /dev/null
ratio "1 GiB file" "$work/big.json"

"$bench" scan "$data/tree"
"$bench" db 1000000 "$work/million.sha256"
"$bench" compare 1000000
