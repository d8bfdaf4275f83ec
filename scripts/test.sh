#!/usr/bin/env bash
# Sets up and runs every test: installs the packages, configures a build with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, builds it with
# warnings as errors, and runs ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=${HALVARD_TEST_BUILD_DIR:-build-asan}
# ccache (when installed) shares results between checkouts in different folders.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=true
jobs=$(nproc)
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHALVARD_SANITIZE=ON -DHALVARD_WERROR=ON -DHALVARD_TESTS=ON -DHALVARD_BENCH=ON
cmake --build "$build" --parallel "$jobs"

# Leak checking stays on; components unloaded with dlclose keep their symbols for
# the report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --parallel "$jobs" --timeout 600
