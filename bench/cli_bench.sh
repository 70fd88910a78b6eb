#!/usr/bin/env bash
# Times orvalen-cli against the usual command-line tools on the same warm
# data, in one run, and prints each ratio as reference time / our time
# (above 1.0: orvalen-cli is faster).
#   bench/cli_bench.sh path/to/orvalen-cli [runs]
# ORVALEN_BENCH_DIR: where the 1 GiB file and the 100,000-file tree are kept
# between runs (default /tmp/orvalen-cli-bench).
set -euo pipefail

cli=$(readlink -f "${1:?usage: $0 path/to/orvalen-cli [runs]}")
runs=${2:-5}
dir=${ORVALEN_BENCH_DIR:-/tmp/orvalen-cli-bench}
for tool in hyperfine openssl rhash python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
"$(dirname "$0")/bench-data.sh" "$dir"
cd "$dir"

# Warm the page cache and make the manifests both verifiers read.
cat big.bin > /dev/null
"$cli" create tree orvalen.sha256 > /dev/null
rhash -r --sha256 tree > rhash.sha256

# Wall time, and CPU time (user + system), which a machine shared with other
# work disturbs less.
ratio() {
  python3 - "$1" "$2" <<'PY'
import json, sys
name, path = sys.argv[1], sys.argv[2]
ours, reference = json.load(open(path))["results"][:2]
cpu = lambda r: r["user"] + r["system"]
print("%-7s wall: orvalen-cli %.3f s, reference %.3f s, ratio %.2fx;"
      "  cpu: %.3f s vs %.3f s, ratio %.2fx"
      % (name, ours["mean"], reference["mean"], reference["mean"] / ours["mean"],
         cpu(ours), cpu(reference), cpu(reference) / cpu(ours)))
PY
}

hyperfine -N --style basic --warmup 1 --runs "$runs" --export-json digest.json \
  "$cli digest big.bin" "openssl dgst -sha256 big.bin"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json create.json \
  "$cli create tree orvalen.sha256 > /dev/null" "rhash -r --sha256 tree > rhash.sha256"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json verify.json \
  "$cli verify tree orvalen.sha256 2> /dev/null" "rhash -c rhash.sha256 > /dev/null"

echo
ratio digest digest.json
ratio create create.json
ratio verify verify.json
