#!/usr/bin/env bash
# The scan's targets, every case in one run: each is timed beside its
# reference in the same run and printed as a ratio with the target next to
# it. Nothing here passes or fails: the machine is shared and its disk is
# virtual, so only numbers measured side by side mean something.
#
#   bench/scan_bench.sh [BUILD_DIR [REFERENCE]]
#
# BUILD_DIR  the build folder to measure (default: build/ of this checkout);
#            configured here (Release, tests off) when it has no
#            CMakeCache.txt, and its orvalen-cli and bench_app brought up to
#            date.
# REFERENCE  for the "--jobs 1" row: the build folder of the revision to
#            compare with, or a git revision, which is exported and built
#            (orvalen-cli only) under the data folder and kept there. Without
#            it the row is skipped.
#
# Needs root: it installs rhash, hashdeep, openssl and GNU time with apt-get
# and drops the page cache before every cold run.
# ORVALEN_BENCH_DIR  the data, made by bench-data.sh and kept between runs
#                    (default /tmp/orvalen-scan-bench)
# COLD_RUNS, WARM_RUNS  runs of each cold and each warm case (default 3 and
#                    5); the median counts.
# WARM_REPEAT=0        time warm runs without the untimed run of the same
#                      command just before each (see bench/measure.sh)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(readlink -f "${1:-$root/build}")
reference=${2:-}
data=${ORVALEN_BENCH_DIR:-/tmp/orvalen-scan-bench}
cold_runs=${COLD_RUNS:-3}
warm_runs=${WARM_RUNS:-5}
jobs=$(nproc 2>/dev/null || echo 2)

say() { echo "== $*" >&2; }
die() { echo "scan_bench: $*" >&2; exit 2; }

[ "$(id -u)" -eq 0 ] || die "run as root: the cold cases drop the page cache"

# --- what the comparisons need ----------------------------------------------
packages=(rhash hashdeep openssl time python3 g++ make cmake qtbase5-dev
          qttools5-dev-tools qttools5-dev xvfb xauth)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt-get update > /dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" > /dev/null
fi

# --- the builds -------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  say "configuring $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DORVALEN_BUILD_TESTS=OFF -DORVALEN_BUILD_BENCH=ON > /dev/null
fi
targets=(orvalen-cli)
# A build folder configured without the benchmarks has no bench_app.
if cmake --build "$build" --target help 2>/dev/null | grep -q '\bbench_app\b'; then
  targets+=(bench_app)
fi
say "building ${targets[*]} in $build"
cmake --build "$build" -j"$jobs" --target "${targets[@]}" > /dev/null
cli=$build/orvalen-cli
bench_app=$build/bench/bench_app
[ -x "$cli" ] || die "no orvalen-cli in $build"

"$root/bench/bench-data.sh" "$data" >&2

ref_cli=
if [ -n "$reference" ]; then
  if [ -d "$reference" ]; then
    cmake --build "$reference" -j"$jobs" --target orvalen-cli > /dev/null
    ref_cli=$(readlink -f "$reference")/orvalen-cli
  else
    sha=$(git -C "$root" rev-parse --verify -q "$reference^{commit}") \
      || die "$reference is neither a build folder nor a git revision"
    ref_dir=$data/reference-$sha
    if [ ! -x "$ref_dir/build/orvalen-cli" ]; then
      say "building orvalen-cli of $reference ($sha) in $ref_dir"
      rm -rf "$ref_dir"
      mkdir -p "$ref_dir/src"
      git -C "$root" archive "$sha" | tar -x -C "$ref_dir/src"
      cmake -S "$ref_dir/src" -B "$ref_dir/build" -DCMAKE_BUILD_TYPE=Release \
        -DORVALEN_BUILD_TESTS=OFF -DORVALEN_BUILD_BENCH=OFF > /dev/null
      cmake --build "$ref_dir/build" -j"$jobs" --target orvalen-cli > /dev/null
    fi
    ref_cli=$ref_dir/build/orvalen-cli
  fi
  [ -x "$ref_cli" ] || die "no orvalen-cli for the reference $reference"
fi

work=$(mktemp -d /tmp/orvalen-scan-bench-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$data"

# --- timing -------------------------------------------------------------------
# After the drop the programs and their libraries are read back at once, so
# that a cold run measures the data and not Qt's start from disk.
drop_caches() {
  sync
  echo 3 > /proc/sys/vm/drop_caches
  { "$cli" --version; [ -z "$ref_cli" ] || "$ref_cli" --version; hashdeep -V; rhash --version
    openssl version; find --version; xargs --version; cat --version; dd --version; /usr/bin/time --version; } > /dev/null 2>&1 || true
}

source "$root/bench/measure.sh"

slower() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", (a > b ? a : b) }'; }

# row LABEL OURS REFERENCE_NAME REFERENCE within|faster TARGET
# within: ours / reference, at most TARGET; faster: reference / ours, at
# least TARGET.
table=()
row() {
  local label=$1 ours=$2 refname=$3 ref=$4 how=$5 target=$6 line
  # A time that is missing or zero gives no ratio, never a "met".
  if [ "$ours" = failed ] || [ "$ref" = failed ] \
     || ! awk -v o="$ours" -v r="$ref" 'BEGIN { exit !(o > 0 && r > 0) }'; then
    line=$(printf '%-34s %s' "$label" "ours $ours s, $refname $ref s: no ratio")
  else
    line=$(awk -v l="$label" -v o="$ours" -v rn="$refname" -v r="$ref" -v h="$how" -v t="$target" 'BEGIN {
      if (h == "within") { x = o / r; q = "ours/ref"; ok = x <= t; c = "<=" }
      else               { x = r / o; q = "ref/ours"; ok = x >= t; c = ">=" }
      printf "%-34s ours %7.3f s | %-22s %7.3f s | %s %5.2f (target %s %.2f: %s)",
             l, o, rn, r, q, x, c, t, ok ? "met" : "not met" }')
  fi
  table+=("$line")
  echo "$line"
}
note() { table+=("$(printf '%-34s %s' "$1" "$2")"); printf '%-34s %s\n' "$1" "$2"; }

has_jobs=no
# The whole help is taken first: grep -q would stop reading, and under
# pipefail the program's broken pipe would read as no --jobs.
case "$("$cli" --help 2>&1 || true)" in *--jobs*) has_jobs=yes ;; esac

started=$SECONDS
echo "scan_bench $(date -u +%Y-%m-%dT%H:%MZ): $cli" \
     "($(git -C "$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")" describe --always --dirty 2>/dev/null || echo '?'))," \
     "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), --jobs: $has_jobs;" \
     "median of $warm_runs warm / $cold_runs cold runs"

# --- 100,000 small files, warm -----------------------------------------------
say "100k files, warm"
find tree -type f -print0 | xargs -0 cat > /dev/null
"$cli" create tree orvalen.sha256 > /dev/null
[ -s rhash.sha256 ] || rhash -r --sha256 tree > rhash.sha256
[ -s hashdeep.known ] || hashdeep -c sha256 -r -j8 tree > hashdeep.known
rhash -c rhash.sha256 > /dev/null
"$cli" verify tree orvalen.sha256 > /dev/null 2>&1 || die "verify of the fresh checksums file failed"
measure warm warm "$warm_runs" \
  create "'$cli' create tree '$work/warm.sha256'" \
  rhash "rhash -r --sha256 tree > '$work/warm-rhash.sha256'" \
  verify "'$cli' verify tree orvalen.sha256" \
  rhashc "rhash -c rhash.sha256"
row "100k warm, create" "$(median warm create)" "rhash -r --sha256" "$(median warm rhash)" faster 2.0
row "100k warm, verify" "$(median warm verify)" "rhash -c" "$(median warm rhashc)" faster 2.0

# --- one 1 GiB file, warm ---------------------------------------------------
say "1 GiB file, warm"
cat big.bin > /dev/null
measure big warm "$warm_runs" \
  digest "'$cli' digest big.bin" \
  openssl "openssl dgst -sha256 big.bin"
row "1 GiB warm, digest" "$(median big digest)" "openssl dgst -sha256" "$(median big openssl)" faster 1.1

# --- --jobs 1 against the reference build -----------------------------------
if [ "$has_jobs" = no ]; then
  note "--jobs 1, 100k warm create" "skipped: this orvalen-cli has no --jobs option"
elif [ -z "$ref_cli" ]; then
  note "--jobs 1, 100k warm create" "skipped: no REFERENCE build folder or revision given"
else
  say "--jobs 1 against $ref_cli"
  "$ref_cli" create tree "$work/ref.sha256" > /dev/null
  measure jobs1 warm "$warm_runs" \
    ours "'$cli' --jobs 1 create tree '$work/jobs1.sha256'" \
    ref "'$ref_cli' create tree '$work/ref.sha256'"
  cmp -s "$work/jobs1.sha256" "$work/ref.sha256" || echo "warning: --jobs 1 and the reference wrote different checksums files" >&2
  row "--jobs 1, 100k warm create" "$(median jobs1 ours)" "reference build" "$(median jobs1 ref)" within 1.03
fi

# --- the desktop window -----------------------------------------------------
if [ ! -x "$bench_app" ]; then
  note "desktop create, 100k warm" "skipped: $build has no bench_app (configured without benchmarks)"
elif ! command -v xvfb-run > /dev/null; then
  note "desktop create, 100k warm" "skipped: no xvfb-run"
else
  say "desktop create under Xvfb"
  if xvfb-run -a "$bench_app" --tree "$data/tree" --cli "$cli" --runs "$warm_runs" > "$work/app.out" 2>> "$work/stderr"; then
    read -r window_s cli_s < <(awk '/^window-vs-cli/ { print $3, $4 }' "$work/app.out") || true
    row "desktop create, 100k warm" "$window_s" "orvalen-cli create" "$cli_s" within 1.15
  else
    note "desktop create, 100k warm" "failed: $(tail -1 "$work/stderr")"
  fi
fi

# --- peak memory --------------------------------------------------------------
say "peak memory"
mkdir -p "$work/one"
head -c 4096 big.bin > "$work/one/file.bin"
peak_kib() {  # the largest maximum resident set of three runs of create on $1
  local best=0 kib i
  for i in 1 2 3; do
    /usr/bin/time -f %M -o "$work/rss" "$cli" create "$1" "$work/mem.sha256" > /dev/null
    kib=$(tail -1 "$work/rss")
    [ "$kib" -gt "$best" ] && best=$kib
  done
  echo "$best"
}
tree_kib=$(peak_kib tree)
one_kib=$(peak_kib "$work/one")
# The records kept in memory: per file a HashRecord of two std::string
# (32 bytes each with libstdc++), and a heap block for each string longer
# than the 15 bytes held inline (glibc: the request plus 8, rounded up to
# 16, at least 32). The 64-character digest always takes one.
records_bytes=$(python3 - orvalen.sha256 <<'PY'
import sys
def block(n):
    return 0 if n <= 15 else max(32, (n + 1 + 8 + 15) // 16 * 16)
total = 0
with open(sys.argv[1], "rb") as f:
    for line in f:
        line = line.rstrip(b"\r\n")
        digest, _, path = line.partition(b" ")
        total += 64 + block(len(path)) + block(len(digest))
print(total)
PY
)
note "peak memory, 100k create" "$(awk -v t="$tree_kib" -v o="$one_kib" -v r="$records_bytes" 'BEGIN {
  above = (t - o) / 1024 - r / 1048576
  printf "%.1f MiB peak, %.1f MiB for a 1-file tree, records ~%.1f MiB: %.1f MiB above the records (target <= 64: %s)",
         t / 1024, o / 1024, r / 1048576, above, (above <= 64 ? "met" : "not met") }')"

# --- 100,000 small files, cold ------------------------------------------------
say "100k files, cold"
measure cold cold "$cold_runs" \
  create "'$cli' create tree '$work/cold.sha256'" \
  verify "'$cli' verify tree orvalen.sha256" \
  floor "find tree -type f -print0 | xargs -0 -P32 -n500 cat" \
  hashdeep "hashdeep -c sha256 -r -j8 tree" \
  audit "hashdeep -c sha256 -r -j8 -a -k hashdeep.known tree" \
  listing "find tree -type f"
floor=$(median cold floor)
row "100k cold, create" "$(median cold create)" "32 x cat floor" "$floor" within 1.3
row "100k cold, create" "$(median cold create)" "hashdeep -j8" "$(median cold hashdeep)" faster 1.3
row "100k cold, verify" "$(median cold verify)" "32 x cat floor" "$floor" within 1.3
row "100k cold, verify" "$(median cold verify)" "hashdeep -j8 -a -k" "$(median cold audit)" faster 1.3
note "100k cold, listing only" "find tree -type f: $(median cold listing) s"

# --- one 1 GiB file, cold -------------------------------------------------------
say "1 GiB file, cold"
measure bigcold cold "$cold_runs" \
  digest "'$cli' digest big.bin" \
  dd "dd if=big.bin of=/dev/null bs=1M"
dd_cold=$(median bigcold dd)
digest_warm=$(median big digest)
if [ "$dd_cold" = failed ] || [ "$digest_warm" = failed ]; then
  bound=failed
else
  bound=$(slower "$dd_cold" "$digest_warm")
fi
row "1 GiB cold, digest" "$(median bigcold digest)" "max(dd cold, warm)" "$bound" within 1.15
note "" "(dd bs=1M cold $dd_cold s, digest warm $digest_warm s)"

# --- Ctrl-C in the middle of a 30 GiB file --------------------------------------
# From SIGINT, sent 2 s after the start, to the process's end. A slow answer
# is waited for at most 120 s. Fast answers are measured three times and the
# slowest counts.
interrupt() {  # prints "seconds exit-status", or "early status" / "timeout"
  python3 - "$@" <<'PY'
import signal, subprocess, sys, time
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
time.sleep(2)
if child.poll() is not None:
    print("early", child.returncode)
    sys.exit()
sent = time.monotonic()
child.send_signal(signal.SIGINT)
try:
    status = child.wait(timeout=120)
    print("%.3f %d" % (time.monotonic() - sent, status))
except subprocess.TimeoutExpired:
    child.kill()
    child.wait()
    print("timeout")
PY
}
cancel_row() {  # label, command...
  local label=$1 worst=0 result seconds status i outcome=
  shift
  for i in 1 2 3; do
    result=$(interrupt "$@")
    read -r seconds status <<< "$result"
    case "$seconds" in
      early) outcome="finished within 2 s (exit $status): nothing to interrupt"; break ;;
      timeout) outcome="still running 120 s after SIGINT (killed)"; break ;;
    esac
    [ "$status" -ne 130 ] && outcome="exit status $status after SIGINT (expected 130); "
    worst=$(slower "$worst" "$seconds")
    # A slow answer is not repeated: it would cost minutes.
    awk -v s="$seconds" 'BEGIN { exit !(s > 5) }' && break
  done
  case "$outcome" in
    *killed*|*nothing*) note "$label" "$outcome" ;;
    *) note "$label" "${outcome:-exit 130, }$worst s from SIGINT to exit, slowest of $i (target <= 1 s: $(awk -v s="$worst" 'BEGIN { print (s <= 1 ? "met" : "not met") }'))" ;;
  esac
}
say "Ctrl-C in a 30 GiB sparse file"
mkdir -p "$work/sums"
printf 'e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 huge.bin\r\n' > "$work/sums/old.sha256"
cp "$work/sums/old.sha256" "$work/old.copy"
cancel_row "Ctrl-C, create of 30 GiB file" "$cli" create sparse "$work/sums/old.sha256"
if cmp -s "$work/sums/old.sha256" "$work/old.copy" && [ "$(ls -A "$work/sums")" = old.sha256 ]; then
  note "" "the existing checksums file is byte-identical, no file left beside it"
else
  note "" "the existing checksums file CHANGED or a file was left beside it: $(ls -A "$work/sums" | tr '\n' ' ')"
fi
cancel_row "Ctrl-C, digest of 30 GiB file" "$cli" digest sparse/huge.bin

echo
echo "summary ($((SECONDS - started)) s of measuring):"
printf '%s\n' "${table[@]}"
