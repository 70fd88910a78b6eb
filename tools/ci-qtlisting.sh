#!/usr/bin/env bash
# Builds the engine with the Qt-only directory listing (the one systems
# without POSIX directory calls use) and runs the engine's tests against it,
# in build-qtlisting.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/ensure-packages.sh g++ make cmake qtbase5-dev qttools5-dev-tools qttools5-dev \
  python3-cryptography-vectors

tests=(tst_treelisting tst_scanreport tst_scanpipeline tst_storedrecords tst_checksumfile tst_checksumwriter tst_folderwalk tst_packedpaths tst_compare)
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-qtlisting -DCMAKE_BUILD_TYPE=Release -DORVALEN_QT_LISTING=ON \
  -DORVALEN_BUILD_TESTS=ON -DORVALEN_BUILD_BENCH=OFF
cmake --build build-qtlisting -j"$jobs" --target core "${tests[@]}"

cd build-qtlisting
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" -R "$pattern"
