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
runner=("$dir/ombrix" --library "$dir/libombrix.so")
"${runner[@]}" examples/gallery.gml build/gallery >build/gallery/index.html
"${runner[@]}" examples/first.gml
"${runner[@]}" examples/rows.gml
echo
echo "The gallery: $PWD/build/gallery/index.html (open it in a browser), with the sheets"
for sheet in build/gallery/*.png; do
  echo "  $PWD/$sheet"
done
echo "The README's examples: $PWD/build/first.png and $PWD/build/rows.png"
