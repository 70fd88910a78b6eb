#!/usr/bin/env bash
# Times `orvalen-cli update` against `create` on a 100,000-file tree of which
# 1,000 files changed, each with the page cache dropped first, in one run,
# and prints update's time as a share of create's (target: at most 0.10).
#   bench/update_bench.sh path/to/orvalen-cli
# ORVALEN_BENCH_DIR: where the shared data is kept (default
# /tmp/orvalen-cli-bench); the tree is copied there once more, as the run
# changes it. Dropping the page cache needs root.
set -euo pipefail

cli=$(readlink -f "${1:?usage: $0 path/to/orvalen-cli}")
dir=${ORVALEN_BENCH_DIR:-/tmp/orvalen-cli-bench}
"$(dirname "$0")/bench-data.sh" "$dir"
cd "$dir"

rm -rf update-tree update.sha256
cp -a tree update-tree
# Files whose inode changed just before the scan are read again by update;
# the copy's must be older than that.
sleep 3

drop_cache() {
  sync
  if ! echo 3 > /proc/sys/vm/drop_caches 2>/dev/null; then
    echo "warning: cannot drop the page cache; times are for a warm cache" >&2
  fi
}

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  python3 -c "print('%.3f' % ($end - $start))"
}

drop_cache
create=$(seconds "$cli" -q create update-tree update.sha256)

# One file in each of the 1,000 directories gets new content.
for d in update-tree/d*; do
  printf 'changed\n' >> "$d/f050.bin"
done

drop_cache
set +e
update=$(seconds "$cli" -q update update-tree update.sha256)
set -e

# The result must be what create writes now.
"$cli" -q create update-tree fresh.sha256 > /dev/null
cmp -s update.sha256 fresh.sha256 || { echo "update differs from create" >&2; exit 1; }

python3 - "$create" "$update" <<'PY'
import sys
create, update = float(sys.argv[1]), float(sys.argv[2])
print("create %.3f s, update %.3f s (100,000 files, 1,000 changed): ratio %.3fx (target <= 0.10x)"
      % (create, update, update / create))
PY
rm -rf update-tree update.sha256 fresh.sha256
