#!/usr/bin/env bash
# The benchmark: builds what it needs and prints, under Wine, what a patch run costs per file
# against the floor of its mandated moves and log writes, what the rundll32 host costs, and
# what string operations allocate. Figures only; nothing here passes or fails on a time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
# The benchmark has a build folder of its own (build/x86_64-bench): the test builds leave it out.
cmake --preset x86_64-bench >/dev/null
cmake --build --preset x86_64-bench >/dev/null

# Nothing here opens a window; without a display nothing can wait on one either.
unset DISPLAY
source scripts/wine_env.sh
trap stop_wineserver EXIT
start_wineserver

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
  "$(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo) memory," \
  "$(wine --version 2>/dev/null || "$WINE64" --version)"
echo
"$WINE64" build/x86_64-bench/bin/quorvel_bench.exe </dev/null
