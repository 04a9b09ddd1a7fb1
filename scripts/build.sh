#!/usr/bin/env bash
# Configures and builds both widths: build/i686 (the product, Quorvel.dll, with its tests) and
# build/x86_64 (the same code with its tests; scripts/bench.sh builds the benchmark). Where this
# machine cannot run 32-bit programs the i686 tests could not run, so only the product is built
# for that width.
set -euo pipefail
cd "$(dirname "$0")/.."

i686_build=i686
if ! scripts/runs_32bit.sh; then
  i686_build=i686-product
fi
# Configured again when the presets changed: a build folder keeps its old cache otherwise.
# QUORVEL_SIGN=ON in the environment signs both DLLs after their link (scripts/sign.sh, with
# QUORVEL_SIGN_PFX and QUORVEL_SIGN_PASSWORD); QUORVEL_SIGN=OFF stops signing.
for preset in i686 x86_64; do
  stamp="build/$preset/presets.stamp"
  if [ ! -f "build/$preset/build.ninja" ] || [ ! "$stamp" -nt CMakePresets.json ]; then
    cmake --preset "$preset" >/dev/null
    touch "$stamp"
  fi
  if [ -n "${QUORVEL_SIGN:-}" ]; then
    cmake --preset "$preset" -DQUORVEL_SIGN="$QUORVEL_SIGN" >/dev/null
  fi
done
cmake --build --preset "$i686_build"
cmake --build --preset x86_64
