#!/usr/bin/env bash
# Configures and builds both widths: build/i686 (the product, Quorvel.dll, with its tests) and
# build/x86_64 (the same code with its tests and the benchmark). Where this machine cannot run
# 32-bit programs the i686 tests could not run, so only the product is built for that width.
set -euo pipefail
cd "$(dirname "$0")/.."

i686_build=i686
if ! scripts/runs_32bit.sh; then
  i686_build=i686-product
fi
for preset in i686 x86_64; do
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
done
cmake --build --preset "$i686_build"
cmake --build --preset x86_64
