#!/usr/bin/env bash
# Runs clazy's level 0 and level 1 checks over the project's own sources,
# compiled as the given build folder compiles them, and fails on any warning.
# Generated files (moc, rcc) are left out. Usage: tools/lint.sh BUILD_DIR
# (or: cmake --build BUILD_DIR --target lint, which first makes the moc files
# that the sources include).
#
# A warning that is no fault is suppressed at its line, with the reason
# beside it:  // clazy:exclude=<check>
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v clazy-standalone > /dev/null; then
  echo "lint: clazy-standalone not found (Debian package clazy)" >&2
  exit 2
fi
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build/compile_commands.json missing; configure with CMake first" >&2
  exit 2
fi

# hash/ uses no Qt, which is all clazy checks, and its kernels carry GCC's
# own scheduling options, which clang refuses.
files=()
while IFS= read -r file; do
  case $file in
    "$build"/*) ;;
    "$source"/hash/*) ;;
    "$source"/*) files+=("$file") ;;
  esac
done < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "lint: no source files in $build/compile_commands.json" >&2
  exit 2
fi

regex() { printf '%s' "$1" | sed 's/[][\.*^$+?(){}|]/\\&/g'; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
jobs=$(nproc 2>/dev/null || echo 2)
status=0
printf '%s\0' "${files[@]}" \
  | xargs -0 -n 4 -P "$jobs" clazy-standalone -p "$build" --checks=level0,level1 \
      --header-filter="^$(regex "$source")/" --ignore-dirs="^$(regex "$build")/" > "$log" 2>&1 \
  || status=$?

# A header's warning comes once for every file that includes it.
warnings=$(grep -E ': (warning|error):' "$log" | sort -u || true)
if [ $status -ne 0 ] || [ -n "$warnings" ]; then
  cat "$log"
  echo "lint: $(printf '%s' "$warnings" | grep -c . || true) clazy finding(s) in ${#files[@]} files" >&2
  exit 1
fi
echo "lint: clazy level 0 and 1, ${#files[@]} files, no warnings"
