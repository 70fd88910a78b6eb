#!/usr/bin/env bash
# Makes the benchmarks' shared data in folder $1 unless it is already there:
# big.bin, 1 GiB of random bytes; tree/, 1,000 directories of 100 files of
# 0-8 KiB, the same tree every time; and sparse/huge.bin, 30 GiB that take no
# disk space, long enough to interrupt a hash in the middle of one file.
set -euo pipefail

dir=${1:?usage: $0 folder}
mkdir -p "$dir"
cd "$dir"

if [ ! -f big.bin ] || [ "$(stat -c %s big.bin)" -ne 1073741824 ]; then
  echo "Writing a 1 GiB file of random bytes..."
  head -c 1073741824 /dev/urandom > big.bin
fi

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

if [ ! -f sparse/huge.bin ] || [ "$(stat -c %s sparse/huge.bin)" -ne 32212254720 ]; then
  mkdir -p sparse
  truncate -s 30G sparse/huge.bin
fi
