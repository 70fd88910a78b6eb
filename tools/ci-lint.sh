#!/usr/bin/env bash
# Runs the lint target (clazy, see tools/lint.sh) over the Qt 5 build in
# build/, and over the Qt 6 build in build-qt6/ when tools/ci-qt6.sh has
# made one: some checks only fire against one Qt's headers.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/ensure-packages.sh clazy

if [ ! -f build/CMakeCache.txt ]; then
  tools/ensure-packages.sh g++ make cmake qtbase5-dev qttools5-dev-tools qttools5-dev \
    python3-cryptography-vectors
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
fi
jobs=$(nproc 2>/dev/null || echo 2)
for dir in build build-qt6; do
  [ -f "$dir/CMakeCache.txt" ] || continue
  # Configuring again writes compile_commands.json into a build folder made
  # before the lint target existed.
  cmake "$dir" > /dev/null
  cmake --build "$dir" -j"$jobs" --target lint
done
