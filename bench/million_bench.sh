#!/usr/bin/env bash
# orvalen-cli on a million small files, each case timed beside its reference
# in the same run and printed as a ratio with the target next to it. Nothing
# passes or fails: the machine is shared and its disk virtual, so only
# numbers measured side by side mean something.
#
#   bench/million_bench.sh [BUILD_DIR] [--files N] [--shape narrow|wide|both] [--no-cold]
#
# BUILD_DIR  the build folder to measure (default: build/ of this checkout);
#            configured here (Release, tests off) when it has no
#            CMakeCache.txt, and its orvalen-cli brought up to date.
# --files N  files in each tree (default 1000000), of 0-1 KiB each.
# --shape    which trees (default both). narrow: 500 files to a directory,
#            made once and kept in /tmp/orvalen-million-bench/N. wide: 1,000
#            files to a folder one level down with random hexadecimal names,
#            made by bench/wide-tree.sh in /tmp/orvalen-million-bench/wide-N,
#            its list of files and the outputs beside it in wide-N.aux.
# --no-cold  leave out the cold case, which takes minutes at a million files.
#
# Each shape is timed against bench/floor.c (open, status, read to the end,
# close; 2 threads) and against bench/uring_floor.c, the same through
# io_uring, once for each way of taking the status; where liburing was
# found, core's UringReader, through which the scan's hashers take runs of
# small files, hashes the files through io_uring and the plain way
# (bench/uring_bench.cpp) beside them.
#
# On a machine shared with other work the wall times favour a program with
# more threads, such as one whose requests go to io_uring's workers: compare
# the user and system times of the second table as well.
#
# Needs root: it installs rhash, GNU time and liburing-dev with apt-get when
# missing, and drops the page cache before every cold run.
# WARM_RUNS, COLD_RUNS  runs of each warm and each cold case (default 5 and
#                       1); the median counts.
# WARM_REPEAT=0        time warm runs without the untimed run of the same
#                      command just before each (see bench/measure.sh)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
files=1000000
shape=both
cold=yes
while [ $# -gt 0 ]; do
  case $1 in
    --files) files=${2:?--files needs a number}; shift 2 ;;
    --shape) shape=${2:?--shape needs narrow, wide or both}; shift 2 ;;
    --no-cold) cold=no; shift ;;
    -*) echo "usage: $0 [BUILD_DIR] [--files N] [--shape narrow|wide|both] [--no-cold]" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(readlink -f "$build")
warm_runs=${WARM_RUNS:-5}
cold_runs=${COLD_RUNS:-1}
bench_root=/tmp/orvalen-million-bench

say() { echo "== $*" >&2; }
die() { echo "million_bench: $*" >&2; exit 2; }

[[ $files =~ ^[1-9][0-9]*$ ]] || die "--files wants a positive number, not $files"
case $shape in
  narrow | wide) shapes=("$shape") ;;
  both) shapes=(narrow wide) ;;
  *) die "--shape wants narrow, wide or both, not $shape" ;;
esac
[ "$(id -u)" -eq 0 ] || die "run as root: the cold case drops the page cache"

missing=()
for p in rhash time gcc cmake g++ ccache python3 liburing-dev; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt-get update > /dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" > /dev/null
fi

# --- the build --------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  say "configuring $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=OFF \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache > /dev/null
fi
say "building orvalen-cli in $build"
cmake --build "$build" -j2 --target orvalen-cli > /dev/null
# The io_uring reader's own driver, where liburing was found.
cmake --build "$build" -j2 --target uring_bench > /dev/null 2>&1 || true
unit=$build/bench/uring_bench
cli=$build/orvalen-cli
[ -x "$cli" ] || cli=$build/cli/orvalen-cli
[ -x "$cli" ] || die "no orvalen-cli in $build"
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")

# --- the data ---------------------------------------------------------------
# Every shape: its tree and the list of its files for the floors; what a run
# writes goes to a folder of its own, outside both.
tools=$bench_root/tools
mkdir -p "$tools"
cc -O2 -pthread -o "$tools/floor" "$root/bench/floor.c"
uring=yes
cc -O2 -pthread -o "$tools/uring_floor" "$root/bench/uring_floor.c" -luring || uring=no

narrow_tree() {  # the tree the first version of this benchmark made
  local data=$bench_root/$files
  mkdir -p "$data"
  if [ "$(cat "$data/tree.done" 2>/dev/null)" != "$files" ]; then
    say "writing $files files below $data/tree"
    (
      cd "$data"
      rm -rf tree tree.done files.list tree.info
      # Python would spend longer on a million files than the benchmark itself.
      cat > mktree.c <<'C'
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
static uint64_t mix(uint64_t z) {  /* splitmix64: the same tree every time */
  z += 0x9e3779b97f4a7c15ull;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}
int main(int argc, char **argv) {
  long n = atol(argv[1]), dirs = n / 500 > 0 ? n / 500 : 1, per = (n + dirs - 1) / dirs;
  char path[64];
  uint64_t buf[129];
  mkdir("tree", 0755);
  for (long i = 0; i < n; i++) {
    if (i % per == 0) snprintf(path, sizeof path, "tree/d%05ld", i / per), mkdir(path, 0755);
    snprintf(path, sizeof path, "tree/d%05ld/f%03ld.bin", i / per, i % per);
    uint64_t s = mix(20261207u + (uint64_t)i);
    size_t size = s % 1025;
    for (size_t w = 0; w * 8 < size; w++) buf[w] = s = mix(s);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, buf, size) != (ssize_t)size || close(fd) != 0) return perror(path), 1;
  }
  return 0;
}
C
      cc -O2 -o mktree mktree.c
      start=$EPOCHREALTIME
      ./mktree "$files"
      made=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f", e - s }')
      find tree -type f -printf '%P\n' | LC_ALL=C sort > files.list
      echo "made in $made s, $(du -sh tree | cut -f1) on disk" > tree.info
      echo "$files" > tree.done
    )
  fi
  tree=$data/tree aux=$data
}

wide_tree() {  # made once by bench/wide-tree.sh, never written into here
  tree=$bench_root/wide-$files aux=$bench_root/wide-$files.aux
  if [ ! -f "$tree/.done" ]; then
    say "writing $files files below $tree"
    start=$EPOCHREALTIME
    "$root/bench/wide-tree.sh" "$files" "$tree"
    mkdir -p "$aux"
    awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "made in %.1f s", e - s }' > "$aux/tree.info"
  fi
  mkdir -p "$aux"
  if [ ! -s "$aux/files.list" ] || [ "$aux/files.list" -ot "$tree/.done" ]; then
    find "$tree" -type f ! -path "$tree/.done" -printf '%P\n' | LC_ALL=C sort > "$aux/files.list"
  fi
  [ -f "$aux/tree.info" ] || echo "made earlier" > "$aux/tree.info"
  grep -q 'on disk' "$aux/tree.info" || echo "$(cat "$aux/tree.info"), $(du -sh "$tree" | cut -f1) on disk" > "$aux/tree.info.new"
  if [ -f "$aux/tree.info.new" ]; then mv "$aux/tree.info.new" "$aux/tree.info"; fi
}

work=$(mktemp -d "$bench_root/run.XXXXXX")
trap 'rm -rf "$work"' EXIT

# --- timing -------------------------------------------------------------------
# After the drop the programs and their libraries are read back at once, so
# that a cold run measures the tree and not Qt's start from disk.
drop_caches() {
  sync
  echo 3 > /proc/sys/vm/drop_caches
  { "$cli" --version; rhash --version; /usr/bin/time --version; } > /dev/null 2>&1 || true
}

source "$root/bench/measure.sh"

# row CASE OURS REFERENCE_NAME REFERENCE within|faster|info TARGET
# within: ours / reference, at most TARGET; faster: reference / ours, at
# least TARGET; info: reference / ours, with no target.
table=()
row() {
  local label=$1 ours=$2 refname=$3 ref=$4 how=$5 target=${6:-0}
  # A time that is missing or zero gives no ratio, never a "met".
  if [ "$ours" = failed ] || [ "$ref" = failed ] \
     || ! awk -v o="$ours" -v r="$ref" 'BEGIN { exit !(o > 0 && r > 0) }'; then
    table+=("$(printf '%-34s %9s %9s  %-24s %s' "$label" "$ours" "$ref" "$refname" "no ratio")")
    return
  fi
  table+=("$(awk -v l="$label" -v o="$ours" -v rn="$refname" -v r="$ref" -v h="$how" -v t="$target" 'BEGIN {
    if (h == "within") { x = o / r; c = "<=" } else { x = r / o; c = ">=" }
    ok = h == "within" ? x <= t : x >= t
    if (h == "info") printf "%-34s %9.3f %9.3f  %-24s %6.2f  (x faster)", l, o, r, rn, x
    else printf "%-34s %9.3f %9.3f  %-24s %6.2f  %s %.1f %s", l, o, r, rn, x, c, t, ok ? "met" : "not met" }')")
}
memory() {  # row CASE OURS_MIB REFERENCE_NAME REFERENCE_MIB
  table+=("$(printf '%-34s %9s %9s  %-24s %6s  %s' "$1" "$2" "$4" "$3" "-" "(MiB, peak)")")
}
# Processor time of every case measured warm: the medians of user and
# system seconds.
cpu_rows=()
cpu() {  # cpu SHAPE NAME LABEL
  cpu_rows+=("$(printf '%-8s %-28s %8s %8s %9s' "$1" "$3" "$(median_cpu warm-$1 "$2" 1)" \
    "$(median_cpu warm-$1 "$2" 2)" "$(median warm-$1 "$2")")")
}

started=$SECONDS
echo "million_bench $(date -u +%Y-%m-%dT%H:%MZ): $("$cli" --version | head -1)," \
     "$(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$source_dir" diff --quiet HEAD 2>/dev/null || echo '-dirty')," \
     "$files files a tree, shapes: ${shapes[*]}"
echo "machine: $(nproc) cores, $(uname -sr), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
     "liburing $(dpkg-query -W -f='${Version}' liburing-dev 2>/dev/null || echo none)," \
     "io_uring_disabled=$(cat /proc/sys/kernel/io_uring_disabled 2>/dev/null || echo '?')," \
     "load $(cut -d' ' -f1-3 /proc/loadavg); median of $warm_runs warm / $cold_runs cold runs"

uring_modes=(none statx-path statx-direct fstat statx-fd)
for s in "${shapes[@]}"; do
  "${s}_tree"
  cd "$aux"
  [ "$(wc -l < files.list)" -eq "$files" ] || die "$aux/files.list does not hold $files paths"
  echo "$s: $tree ($(cat tree.info))"

  # One untimed round fills the page cache and writes the checksums files
  # that the two verifiers read; it also finds the ways of taking the status
  # that this kernel refuses, which are then left out.
  say "$s: warm-up"
  "$tools/floor" "$tree" files.list 2
  "$cli" -q create "$tree" "$work/$s.orvalen.sha256" > /dev/null
  rhash --sha256 -r "$tree" -o "$work/$s.rhash.sha256"
  "$cli" -q verify "$tree" "$work/$s.orvalen.sha256" > /dev/null || die "verify of a fresh checksums file found discrepancies"
  rhash -c "$work/$s.rhash.sha256" > /dev/null || die "rhash -c of a fresh checksums file failed"
  cases=(floor "'$tools/floor' '$tree' files.list 2")
  refused=()
  if [ "$uring" = yes ]; then
    for m in "${uring_modes[@]}"; do
      if "$tools/uring_floor" "$tree" files.list 2 "$m" 2> "$work/refusal"; then
        cases+=("uring-$m" "'$tools/uring_floor' '$tree' files.list 2 $m")
      else
        refused+=("$m: $(tail -1 "$work/refusal" | sed 's/.*first: //; s/)$//')")
      fi
    done
  fi
  if [ -x "$unit" ]; then
    cases+=(unit-ring "'$unit' '$tree' files.list 2 ring" unit-plain "'$unit' '$tree' files.list 2 plain")
  fi
  cases+=(create "'$cli' -q create '$tree' '$work/create.sha256'"
          rhash "rhash --sha256 -r '$tree' -o '$work/rhash.sha256'"
          verify "'$cli' -q verify '$tree' '$work/$s.orvalen.sha256'"
          rhashc "rhash -c '$work/$s.rhash.sha256'")

  say "$s: warm, $warm_runs rounds"
  measure "warm-$s" warm "$warm_runs" "${cases[@]}"
  row "$s a. warm create vs floor" "$(median warm-$s create)" "floor, 2 threads" "$(median warm-$s floor)" within 1.2
  row "$s b. warm create vs rhash" "$(median warm-$s create)" "rhash --sha256 -r" "$(median warm-$s rhash)" faster 2.5
  row "$s c. warm verify vs rhash -c" "$(median warm-$s verify)" "rhash -c" "$(median warm-$s rhashc)" faster 2.5
  if [ -f "$work/warm-$s.uring-none" ]; then
    row "$s f. warm create vs io_uring floor" "$(median warm-$s create)" "uring_floor none" "$(median warm-$s uring-none)" within 1.0
  fi
  for m in "${uring_modes[@]}"; do
    [ -f "$work/warm-$s.uring-$m" ] || continue
    row "$s g. io_uring floor, $m" "$(median warm-$s uring-$m)" "floor, 2 threads" "$(median warm-$s floor)" info
  done
  if [ -f "$work/warm-$s.unit-ring" ]; then
    row "$s h. UringReader, io_uring" "$(median warm-$s unit-ring)" "UringReader, plain" "$(median warm-$s unit-plain)" info
    row "$s h. UringReader, io_uring" "$(median warm-$s unit-ring)" "floor, 2 threads" "$(median warm-$s floor)" info
  fi
  for r in "${refused[@]}"; do
    table+=("$(printf '%-34s %s' "$s g. io_uring floor, ${r%%:*}" "refused by the kernel: ${r#*: }")")
  done
  for ((i = 0; i < ${#cases[@]}; i += 2)); do cpu "$s" "${cases[i]}" "${cases[i]}"; done

  if [ "$cold" = yes ]; then
    say "$s: cold, $cold_runs rounds"
    measure "cold-$s" cold "$cold_runs" \
      rhash "rhash --sha256 -r '$tree' -o '$work/rhash.sha256'" \
      create "'$cli' -q create '$tree' '$work/create.sha256'"
    row "$s d. cold create vs rhash" "$(median cold-$s create)" "rhash --sha256 -r" "$(median cold-$s rhash)" faster 6.0
  else
    table+=("$(printf '%-34s %s' "$s d. cold create vs rhash" "skipped (--no-cold)")")
  fi
  memory "$s e. memory, create" "$(peak_mib warm-$s create)" "rhash --sha256 -r" "$(peak_mib warm-$s rhash)"
  memory "$s e. memory, verify" "$(peak_mib warm-$s verify)" "rhash -c" "$(peak_mib warm-$s rhashc)"
done

echo
printf '%-34s %9s %9s  %-24s %6s  %s\n' case "orvalen s" "ref s" reference ratio target
printf '%s\n' "${table[@]}"
echo
printf '%-8s %-28s %8s %8s %9s\n' shape "case (warm, median)" "user s" "system s" "wall s"
printf '%s\n' "${cpu_rows[@]}"
echo "($((SECONDS - started)) s of measuring)"
