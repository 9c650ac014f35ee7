#!/usr/bin/env bash
# One command from a fresh machine to pictures: install what is missing, build only the library,
# its decoder and the script runner, then run the gallery (examples/gallery.gml) into build/gallery/.
# scripts/test.sh builds everything else (tests, fuzzers, benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${OMBRIX_BUILD:-build}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${OMBRIX_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$dir" -j"$(nproc)" --target ombrix ombrix_decoder ombrix_runner
mkdir -p build/gallery
"$dir/ombrix" --library "$dir/libombrix.so" examples/gallery.gml >build/gallery/index.html
rm -f test_out.png  # the gallery's test() call writes it into the current directory
echo
echo "Gallery: $PWD/build/gallery/index.html"
for sheet in build/gallery/*.png; do
  echo "  $PWD/$sheet"
done
