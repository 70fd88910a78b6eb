#!/bin/bash
# Runs two builds of orvalen-cli through the same scenes on the same varied
# tree and compares everything they leave: standard output, standard error,
# exit statuses and the checksums files, byte for byte. For rearranging the
# code without changing what it does.
#   tools/same-outputs.sh OLD_CLI NEW_CLI
# Exit status 0 when both agree; the differences are shown otherwise.
set -u
old=$(realpath "$1"); new=$(realpath "$2")
work=$(mktemp -d /tmp/same-outputs.XXXXXX)
[ -n "${KEEP:-}" ] || trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT

# The tree is rebuilt at the same place for each build, with fixed times, so
# that paths in messages and the damage rule's verdicts are the same.
make_tree() {
    local t=$work/tree
    chmod -R u+rwx "$t" 2>/dev/null; rm -rf "$t" "$work/sums"
    mkdir -p "$t/a/b/c" "$t/photos/2024" "$t/.hidden" "$t/cache" "$t/odd" "$t/empty dir" "$work/sums"
    printf 'alpha\n' >"$t/a/one.txt"
    printf 'beta\n' >"$t/a/b/two.txt"
    printf '' >"$t/a/b/c/empty"
    head -c 1048577 /dev/zero | tr '\0' 'x' >"$t/photos/2024/big.raw"
    for i in $(seq 1 40); do printf 'file %d\n' "$i" >"$t/photos/2024/img_$i.jpg"; done
    printf 'hidden\n' >"$t/.hidden/secret"
    printf 'dot\n' >"$t/.dotfile"
    printf 'cache\n' >"$t/cache/c.tmp"
    printf 'keep\n' >"$t/cache/keep.tmp"
    printf 'tmp\n' >"$t/a/junk.tmp"
    printf 'space\n' >"$t/odd/with space"
    printf 'tab\n' >"$t/odd/with"$'\t'"tab"
    printf 'bs\n' >"$t/odd/back\\slash"
    printf 'latin1\n' >"$t/odd/caf"$'\xe9'
    printf 'utf8\n' >"$t/odd/café ünïcödé"
    printf 'ctl\n' >"$t/odd/ctl"$'\x01\x7f'
    printf 'star\n' >"$t/odd/*star?"
    ln -s ../a/one.txt "$t/odd/link"
    printf '*.tmp\n/cache/\n!keep.tmp\n# comment\n' >"$t/.orvalenignore"
    find "$t" -exec touch -h -d '2024-01-02 03:04:05' {} +
}

# Changes after a create: an edit, damage (content changed, old time kept),
# a move, a missing file and a new one.
change_tree() {
    local t=$work/tree
    printf 'alpha edited\n' >"$t/a/one.txt"
    touch -d '2030-01-01 00:00:00' "$t/a/one.txt"
    printf 'beta rot\n' >"$t/a/b/two.txt"
    touch -d '2024-01-02 03:04:05' "$t/a/b/two.txt"
    mv "$t/photos/2024/img_7.jpg" "$t/photos/img_7_moved.jpg"
    rm "$t/photos/2024/img_8.jpg"
    printf 'new\n' >"$t/photos/new.jpg"
    printf 'latin1 rot\n' >"$t/odd/caf"$'\xe9'
    touch -d '2024-01-02 03:04:05' "$t/odd/caf"$'\xe9'
}

run() {
    local out=$1 name=$2; shift 2
    (cd "$work" && "$cli" "$@" >"$out/$name.out" 2>"$out/$name.err"; echo $? >"$out/$name.rc")
    sed -i -E 's/"seconds":[0-9.e+-]+/"seconds":S/' "$out/$name.out"
    sed -i "s|$cli|CLI|g" "$out/$name.err"
}

scenes() {
    local cli=$1 out=$2
    mkdir -p "$out"
    make_tree
    local t=tree s=sums
    run "$out" create-j1 --jobs 1 create $t $s/j1.sums
    run "$out" create create $t $s/all.sums
    run "$out" create-json --format json create $t $s/json.sums
    run "$out" verify-clean verify $t $s/all.sums
    cp "$work/sums/all.sums" "$out/create.sums"; cp "$work/sums/j1.sums" "$out/create-j1.sums"
    cp "$work/sums/json.sums" "$out/create-json.sums"
    change_tree
    touch -d '2025-06-01 00:00:00' "$work/sums/"*.sums
    run "$out" verify-j1 --jobs 1 verify $t $s/j1.sums
    run "$out" verify verify $t $s/all.sums
    run "$out" verify-json --format json verify $t $s/all.sums
    run "$out" verify-damage --damage-only verify $t $s/all.sums
    run "$out" verify-damage-json --damage-only --format json verify $t $s/all.sums
    run "$out" verify-subset1 --subset 1/3 verify $t $s/all.sums
    run "$out" verify-subset2 --subset 2/3 --format json verify $t $s/all.sums
    run "$out" verify-quiet -q verify $t $s/all.sums
    run "$out" update-j1 --jobs 1 update $t $s/j1.sums
    run "$out" update-json --format json update $t $s/json.sums
    cp "$work/sums/j1.sums" "$out/update-j1.sums"; cp "$work/sums/json.sums" "$out/update-json.sums"
    run "$out" update-accept --accept $t/a/b/two.txt update $t $s/all.sums
    cp "$work/sums/all.sums" "$out/update-accept.sums"
    run "$out" verify-after-update verify $t $s/all.sums
    printf 'nl\n' >"$work/tree/odd/with"$'\n'"newline"
    run "$out" err-newline create $t $s/x.sums
    run "$out" digest digest $t/a/one.txt "$t/odd/with"$'\n'"newline" $t/odd/back\\slash $t/missing
    rm "$work/tree/odd/with"$'\n'"newline"
    run "$out" digest-md5 digest --algorithm md5 $t/a/one.txt
    (cd "$work" && sha256sum tree/a/one.txt tree/photos/2024/big.raw >sums/list && echo "0000000000000000000000000000000000000000000000000000000000000000  tree/a/b/two.txt" >>sums/list)
    run "$out" digest-check digest --check $s/list
    run "$out" err-nodir verify $t/nothing $s/all.sums
    run "$out" err-nofile verify $t $s/nothing.sums
    run "$out" err-notsums verify $t $t/a/one.txt
    run "$out" err-args create $t
    run "$out" err-command frobnicate $t $s/x
    run "$out" err-jobs --jobs 0 create $t $s/x.sums
    printf 'bad[\n' >>"$work/tree/.orvalenignore"
    run "$out" err-ignore create $t $s/x.sums
}

cli=$old scenes "$old" "$work/old"
cli=$new scenes "$new" "$work/new"
if diff -r "$work/old" "$work/new"; then
    echo "same outputs: $(ls "$work/old" | wc -l) files compared"
else
    exit 1
fi
