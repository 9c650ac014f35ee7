#!/usr/bin/env bash
# Configures and builds into ${OMBRIX_BUILD:-build}; OMBRIX_SANITIZE=1 builds with ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${OMBRIX_BUILD:-build}
sanitize=OFF
[ "${OMBRIX_SANITIZE:-0}" = 1 ] && sanitize=ON
cmake -S . -B "$dir" -G Ninja -DOMBRIX_SANITIZE=$sanitize -DCMAKE_BUILD_TYPE=${OMBRIX_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$dir" -j"$(nproc)"
