#!/usr/bin/env bash
# The systemd units as the install rules lay them out: systemd-analyze verify
# takes them without a word, systemd-analyze security rates the service as
# hardened, and the service's command line, run the way the service runs it,
# leaves the unit succeeded on an intact tree and failed on discrepancies and
# on errors.
# Usage: check_units.sh <cmake> <build folder>
# Exits with 77 (skipped) where systemd-analyze is not installed.
set -u
cmake=$1
build=$2
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }

root=$(mktemp -d) || exit 1
trap 'rm -rf "$root"' EXIT
for part in dist cli; do
    DESTDIR=$root "$cmake" --install "$build/$part" --prefix /usr >/dev/null || exit 1
done
units=$root/usr/lib/systemd/system
service=$units/orvalen-verify@.service
example=$root/usr/share/doc/orvalen/examples/photos.conf
for f in "$service" "$units/orvalen-verify@.timer" "$example"; do
    [ -f "$f" ] || { echo "not installed: ${f#"$root"}"; exit 1; }
done

failures=0
fail() { echo "$*"; failures=1; }

# The targets the units are ordered against come from the system's own
# units; the units under test are not overwritten by them.
cp -rn /usr/lib/systemd/system/. "$units/" 2>/dev/null
# A misspelt key or a bad value is only a warning with exit status 0.
report=$(systemd-analyze verify --root="$root" --man=no --recursive-errors=no \
             orvalen-verify@photos.service orvalen-verify@photos.timer 2>&1)
status=$?
[ $status -eq 0 ] && [ -z "$report" ] \
    || fail "systemd-analyze verify (exit $status): $report"

# systemd 252 rates the service's exposure 0.7 of 10; above 1.0 some of
# its hardening was lost.
if systemd-analyze security --help 2>/dev/null | grep -q -- --offline; then
    report=$(systemd-analyze security --offline=true --root="$root" --threshold=10 \
                 --no-pager orvalen-verify@photos.service 2>&1) \
        || fail "systemd-analyze security: $(echo "$report" | tail -n 1)"
fi

# The default options are the ones the example settings file documents.
default=$(sed -n 's/^Environment="OPTIONS=\(.*\)"$/\1/p' "$service")
[ -n "$default" ] || fail "the service sets no default OPTIONS"
grep -qxF "#OPTIONS=$default" "$example" \
    || fail "the example settings file does not document OPTIONS=$default"

mapfile -t execs < <(sed -n 's/^ExecStart=//p' "$service")
[ ${#execs[@]} -eq 1 ] || { echo "expected one ExecStart=, found ${#execs[@]}"; exit 1; }
exec_line=${execs[0]}
# "-" would ignore the exit status; the others change who runs it.
case $exec_line in
    [-@:+!]*) fail "ExecStart= has a prefix: $exec_line" ;;
esac
case $exec_line in
    *[\"\'\\]*) echo "ExecStart= quotes or escapes, which this test does not read: $exec_line"; exit 1 ;;
esac
successes=" 0 $(sed -n 's/^SuccessExitStatus=//p' "$service" | tr '\n' ' ') "

scratch=$root/scratch
mkdir -p "$scratch/my photos/private" || exit 1
echo "The quick brown fox jumps over the lazy dog" > "$scratch/my photos/fox.txt"
echo "kept from everyone else" > "$scratch/my photos/private/diary.txt"
# Only the service's capability reads these.
chmod 700 "$scratch/my photos/private"
chmod 600 "$scratch/my photos/private/diary.txt"
export SOURCE_DIR="$scratch/my photos"
export CHECKSUMS_FILE="$scratch/photos sums.sha256"
# Two words: one argument each only when split.
export OPTIONS="--jobs 1"
# The state folder, which systemd makes for the service's user.
mkdir "$scratch/state" || exit 1
export STATE_FILE="$scratch/state/photos.slice"
"$root/usr/bin/orvalen-cli" -q create "$SOURCE_DIR" "$CHECKSUMS_FILE" >/dev/null || exit 1
chmod 600 "$CHECKSUMS_FILE"

# systemd's rules for a command line without quotes: $NAME as a word of its
# own is the variable split at whitespace, ${NAME} is the variable as one
# argument.
command_line() {
    argv=()
    local word words split
    read -ra words <<<"$exec_line"
    for word in "${words[@]}"; do
        if [[ $word =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
            read -ra split <<<"${!BASH_REMATCH[1]}"
            argv+=("${split[@]}")
        elif [[ $word =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ ]]; then
            argv+=("${!BASH_REMATCH[1]}")
        elif [[ $word == *\$* ]]; then
            echo "ExecStart= uses a variable in a way this test does not read: $word"
            exit 1
        else
            argv+=("$word")
        fi
    done
    argv[0]=$root${argv[0]}
}
command_line

# The service's user owns nothing and holds only its ambient capabilities;
# nobody with the same capabilities stands in for it.
runner=()
if grep -qx 'DynamicUser=yes' "$service"; then
    caps=$(sed -n 's/^AmbientCapabilities=//p' "$service" | tr 'A-Z ' 'a-z\n' |
           sed -n 's/^cap_/+/p' | paste -sd, -)
    if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
        runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups
                --inh-caps="-all${caps:+,$caps}" --ambient-caps="-all${caps:+,$caps}"
                --bounding-set="-all${caps:+,$caps}" --no-new-privs)
    else
        echo "not root or no setpriv: the command runs with this test's privileges"
    fi
fi
[ ${#runner[@]} -eq 0 ] || chown nobody "$scratch/state" || exit 1

# expect <what> <succeeded|failed>
expect() {
    local what=$1 want=$2 status got
    (cd "$scratch" && "${runner[@]}" "${argv[@]}") >/dev/null 2>&1
    status=$?
    if [[ $successes == *" $status "* ]]; then got=succeeded; else got=failed; fi
    [ "$got" = "$want" ] || fail "$what: exit status $status leaves the service $got, expected $want"
}
expect "intact tree" succeeded
# With the default options each completed run reads the next slice.
OPTIONS=$default command_line
for slice in 1 2; do
    expect "intact tree, default options, run $slice" succeeded
    [ "$(cat "$STATE_FILE" 2>&1)" = "$slice/7" ] \
        || fail "after run $slice of the default options the state file holds: $(cat "$STATE_FILE" 2>&1)"
done
command_line
echo "The quick brown fox jumps over the lazy cat" > "$scratch/my photos/fox.txt"
expect "changed file" failed
rm "$CHECKSUMS_FILE"
expect "missing checksums file" failed
exit $failures
