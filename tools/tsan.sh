#!/usr/bin/env bash
# Builds the hash and core layers and their tests with ThreadSanitizer in a
# folder of their own and runs those tests; any data race or lock-order
# report fails the run. Only these two layers: the scan's worker threads
# live there, and the rest of the suite would make CI long for nothing.
#   tools/tsan.sh [BUILD_DIR]   (default: build-tsan)
#
# Qt is not instrumented: the tool sees std::thread, std::mutex,
# std::condition_variable and atomics, but not a hand-over through
# QThread::wait, QThreadPool::waitForDone, QFuture or a contended QMutex,
# which it reports as races. tools/tsan.supp holds the few Qt-internal
# reports Qt Test itself causes.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-tsan}
tests=(tst_hashvectors tst_hashwrapper tst_hashfile tst_filereader tst_treelisting tst_scanreport tst_scanpipeline tst_storedrecords tst_checksumfile tst_checksumwriter tst_folderwalk tst_compare tst_verifysession
       tst_treescan tst_streamverify tst_update tst_slices)
jobs=$(nproc 2>/dev/null || echo 2)

# A build type of its own, so that no Release or Debug flags mix in.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=ThreadSanitizer \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -g -O1" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DORVALEN_BUILD_TESTS=ON -DORVALEN_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" -j"$jobs" --target "${tests[@]}"

pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tools/tsan.supp ${TSAN_OPTIONS:-}"
cd "$build"

# Run as root, the permission cases fork a child that becomes "nobody" and
# scans there. This sanitizer cannot follow a child of a multi-threaded
# process (Qt Test's watchdog) that starts threads of its own ("dup thread"),
# so the tests run as nobody from the start and those cases need no fork.
as=()
if [ "$(id -u)" -eq 0 ]; then
  if runuser -u nobody -- test -x "tests/${tests[0]}"; then
    mkdir -p Testing
    chown -R nobody Testing
    as=(runuser -u nobody --)
  else
    echo "tsan.sh: nobody cannot reach $PWD; running as root," \
         "where a scan with workers in a forked child cannot be followed" >&2
  fi
fi
"${as[@]}" ctest --output-on-failure -j"$jobs" -R "$pattern"
