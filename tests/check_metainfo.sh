#!/usr/bin/env bash
# The AppStream metainfo, validated where the install rules put it: beside the
# desktop file that it names as its launchable.
# Usage: check_metainfo.sh <cmake> <build folder>
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
"$1" --install "$2" --prefix "$root/usr" >/dev/null
appstreamcli validate-tree --no-net "$root"
