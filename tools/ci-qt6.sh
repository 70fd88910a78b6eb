#!/usr/bin/env bash
# Builds the Qt 6 variant in build-qt6 and runs all its tests, then shows
# that it writes, byte for byte, the checksums file the Qt 5 build in build/
# writes for a tree with names beyond ASCII, and that each build verifies
# the other's file.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/ensure-packages.sh g++ make cmake qt6-base-dev qt6-tools-dev qt6-tools-dev-tools \
  qt6-l10n-tools libgl-dev python3-cryptography-vectors fonts-dejavu-core

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-qt6 -DCMAKE_BUILD_TYPE=Release -DORVALEN_QT=6 \
  -DORVALEN_BUILD_TESTS=ON -DORVALEN_BUILD_BENCH=OFF
cmake --build build-qt6 -j"$jobs"
(cd build-qt6 && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

# The Qt 5 program as tools/build.sh builds it; configured here only when
# that has not run.
if [ ! -f build/CMakeCache.txt ]; then
  tools/ensure-packages.sh qtbase5-dev qttools5-dev-tools qttools5-dev
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=OFF -DORVALEN_BUILD_BENCH=OFF
fi
cmake --build build -j"$jobs" --target orvalen-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
# Names whose order ignoring case depends on lower-casing beyond ASCII, in
# several scripts, precomposed and decomposed, and beyond the BMP.
names=(
  "apple.txt" "Äpfel.txt" "äpfel-2.txt" "Zebra.TXT" "straße" "ßeta" "émile"
  "$(printf 'e\xcc\x81mile-decomposed')" "Ωmega" "naïve café" "MIXED case" "mixed Case2"
  "Ärger/ファイル.txt" "Ärger/日本語/Москва.txt" "zebra/😀 smile.txt" "zebra/🎵 Note"
  "Émile/İstanbul" "Émile/istanbul-2" "папка/Файл" "папка/файл2" "Ελληνικά/Σίσυφος"
)
for name in "${names[@]}"; do
  mkdir -p "$tree/$(dirname "$name")"
  printf '%s\n' "$name" > "$tree/$name"
done

for locale in C.UTF-8 C; do
  for qt in 5 6; do
    [ $qt = 5 ] && dir=build || dir=build-qt6
    LC_ALL=$locale "$dir/orvalen-cli" -q create "$tree" "$work/qt$qt.sha256" > /dev/null
  done
  cmp "$work/qt5.sha256" "$work/qt6.sha256"
  LC_ALL=$locale build/orvalen-cli -q verify "$tree" "$work/qt6.sha256"
  LC_ALL=$locale build-qt6/orvalen-cli -q verify "$tree" "$work/qt5.sha256"
  echo "LC_ALL=$locale: Qt 5 and Qt 6 wrote the same checksums file" \
    "($(wc -l < "$work/qt5.sha256") lines, sha256 $(sha256sum < "$work/qt5.sha256" | cut -c1-64))"
done
