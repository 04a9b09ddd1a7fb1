#!/usr/bin/env bash
# Configures and builds both widths: build/i686 (the product, Quorvel.dll) and build/x86_64
# (the same code with its tests, run under wine64).
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in i686 x86_64; do
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset"
done
