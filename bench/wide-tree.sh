#!/usr/bin/env bash
# Makes the wide shape of the million-file benchmark in folder $2 unless it
# is already there: $1 files of 0-1 KiB, 1,000 to a folder, each folder one
# level down (dirNNNN/subK/), names with a random hexadecimal part; the same
# tree every time.
#   bench/wide-tree.sh FILES FOLDER
set -euo pipefail
files=${1:?usage: $0 files folder}
dir=${2:?usage: $0 files folder}
[ -f "$dir/.done" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir"
python3 - "$files" "$dir" <<'PY'
import os, random, sys
files, top = int(sys.argv[1]), sys.argv[2]
rnd = random.Random(20261208)
for i in range(files):
    if i % 1000 == 0:
        d = i // 1000
        folder = os.path.join(top, "dir%04d" % d, "sub%d" % (d % 10))
        os.makedirs(folder)
    name = "img_%08x_%d.dat" % (rnd.getrandbits(32), i % 1000)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(rnd.randbytes(rnd.randint(0, 1024)))
PY
touch "$dir/.done"
