#!/usr/bin/env bash
# Installs what is missing, builds, and then starts the application (run) or
# runs every test (test). Usage: tools/build.sh run|test
set -euo pipefail

mode=${1:-run}
case "$mode" in
  run|test) ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."

packages=(g++ make cmake qtbase5-dev qttools5-dev-tools qttools5-dev)
if [ "$mode" = test ]; then
  packages+=(python3-cryptography-vectors xvfb xauth xdotool fonts-dejavu-core
             groff-base bash-completion appstream desktop-file-utils
             exfat-fuse exfatprogs systemd zsh fish python3-prometheus-client
             libfuse3-dev pkg-config e2fsprogs liburing-dev)
  tests=ON
else
  # Qt's own texts (file dialogs, Cancel) in German and Russian.
  packages+=(qttranslations5-l10n)
  tests=OFF
fi

tools/ensure-packages.sh "${packages[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=$tests -DORVALEN_BUILD_BENCH=$tests
cmake --build build -j"$jobs"

if [ "$mode" = run ]; then
  # The translations lie beside the executable and are looked for in the
  # working directory.
  cd build
  exec ./orvalen
fi

cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs"
