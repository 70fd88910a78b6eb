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
mkdir -p "$dir"
cd "$dir"

if [ ! -f big.bin ] || [ "$(stat -c %s big.bin)" -ne 1073741824 ]; then
  echo "Writing a 1 GiB file of random bytes..."
  head -c 1073741824 /dev/urandom > big.bin
fi

# 1,000 directories of 100 files of 0-8 KiB, the same tree every time.
if [ ! -f tree.done ]; then
  echo "Writing 100,000 small files..."
  rm -rf tree
  python3 - <<'PY'
import os, random
rnd = random.Random(20261207)
for d in range(1000):
    path = os.path.join("tree", "d%04d" % d)
    os.makedirs(path)
    for f in range(100):
        with open(os.path.join(path, "f%03d.bin" % f), "wb") as out:
            out.write(rnd.randbytes(rnd.randint(0, 8192)))
PY
  touch tree.done
fi

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
