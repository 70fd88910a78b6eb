#!/usr/bin/env bash
# The desktop ends through exit() during a create, as Qt's X11 plugin ends it
# when the connection to the display breaks: no stack unwinds, yet the
# temporary checksums file must go, and the old checksums file stay.
# Usage: check_exit_during_create.sh <tst_stopsignals>
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ORVALEN_EXIT_TEST_DIR=$dir QT_QPA_PLATFORM=offscreen \
  "$1" exitDuringACreateLeavesNoTemporaryFile > "$dir/log" 2>&1
status=$?
if [ $status -ne 3 ]; then
  cat "$dir/log"
  echo "exit status $status, not the 3 the test's exit() gives" >&2
  exit 1
fi
left=$(cd "$dir" && ls -A | grep '^\.old\.sha256\.' || true)
if [ -n "$left" ]; then
  echo "left behind: $left" >&2
  exit 1
fi
if [ "$(cat "$dir/old.sha256")" != "old checksums file" ]; then
  echo "the old checksums file changed" >&2
  exit 1
fi
