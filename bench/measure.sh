# Sourced by the benchmark scripts: times commands beside their references.
# The caller sets $work (a folder for the results) and defines drop_caches.
# Needs GNU time at /usr/bin/time.

# measure CASE cold|warm RUNS NAME COMMAND [NAME COMMAND...]
# The commands (shell command lines, run from the current folder) take
# turns, RUNS rounds, so that a disturbance of the shared machine falls on
# all of them alike. Wall times go to $work/CASE.NAME, peak resident sets in
# KiB to $work/CASE.NAME.rss, user and system seconds to $work/CASE.NAME.cpu,
# "failed" in place of a time that has no meaning.
#
# A warm run comes right after an untimed run of the same command. On a
# virtual machine a core that stood idle wakes slowly for a while: after
# ten idle seconds rhash took 0.88 s where it took 0.75 s when run again
# at once, and a two-thread create 0.39 s against 0.34 s. Without this each
# command would be timed in whatever state the one before it left the
# cores, and a command that follows a long single-threaded one (rhash -c
# leaves a core idle for its whole run) would pay for it. Set WARM_REPEAT=0
# to time the rounds without it.
measure() {
  local case=$1 mode=$2 runs=$3 round i start end
  shift 3
  local -a pairs=("$@")
  for ((round = 0; round < runs; round++)); do
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do
      [ "$mode" = cold ] && drop_caches
      if [ "$mode" = warm ] && [ "${WARM_REPEAT:-1}" != 0 ]; then
        eval "${pairs[i + 1]}" > /dev/null 2>&1 || true
      fi
      start=$EPOCHREALTIME
      if eval "/usr/bin/time -f '%M %U %S' -o '$work/rss' ${pairs[i + 1]}" > /dev/null 2>> "$work/stderr"; then
        end=$EPOCHREALTIME
        awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }' >> "$work/$case.${pairs[i]}"
        tail -1 "$work/rss" | cut -d' ' -f1 >> "$work/$case.${pairs[i]}.rss"
        tail -1 "$work/rss" | cut -d' ' -f2,3 >> "$work/$case.${pairs[i]}.cpu"
      else
        echo "failed: ${pairs[i + 1]}" >&2
        tail -3 "$work/stderr" >&2
        echo failed >> "$work/$case.${pairs[i]}"
      fi
    done
  done
}

# The median of a case's runs, or "failed" when any of them failed.
median() {
  local file=$work/$1.$2
  if grep -q failed "$file"; then echo failed; return; fi
  sort -g "$file" | awk '{ v[NR] = $1 } END { printf "%.3f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The median of a case's user (FIELD 1) or system (FIELD 2) seconds.
median_cpu() {
  [ -s "$work/$1.$2.cpu" ] || { echo failed; return; }
  cut -d' ' -f"$3" "$work/$1.$2.cpu" | sort -g \
    | awk '{ v[NR] = $1 } END { printf "%.2f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The largest peak resident set of a case's runs, in MiB.
peak_mib() { sort -g "$work/$1.$2.rss" | tail -1 | awk '{ printf "%.1f\n", $1 / 1024 }'; }
