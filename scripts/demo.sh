#!/usr/bin/env bash
# One command from a fresh machine to the demo: install, build, run examples/demo.gml.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
build/ombrix examples/demo.gml
