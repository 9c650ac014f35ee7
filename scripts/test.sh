#!/usr/bin/env bash
# One command from a fresh machine to a tested build: install, build, run the whole suite.
# OMBRIX_BUILD picks the build directory; OMBRIX_SANITIZE=1 builds and tests under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
dir=${OMBRIX_BUILD:-build}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:suppressions=$PWD/tests/asan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
