#!/usr/bin/env bash
# Tablebase probe speed, single thread: WDL and DTZ probes per second over a
# fixed list of positions (3 to 5 pieces), and the time of the first probe of
# a table (file mapping and decoder set-up, median of 7 fresh registries).
# Usage: bench/tbbench.sh [build-dir] [tablebase-dir] [passes]
#   build-dir      a configured CMake build directory (default: build)
#   tablebase-dir  directory with the table files (default: ../shared/syzygy)
#   passes         passes over the position list for the WDL figure (default 40)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
tables=${2:-$here/../shared/syzygy}
passes=${3:-40}

cmake --build "$build" --target dravlin_core >/dev/null
"${CXX:-c++}" -O3 -DNDEBUG -std=c++20 -march=native -I"$here/src" "$here/bench/tbbench.cpp" \
  "$build/libdravlin_core.a" -lpthread -o "$build/tbbench"
"$build/tbbench" "$tables" "$passes"
