#!/usr/bin/env bash
# Data generation speed at the default flags: one worker, GAMES games (20 by
# default) into a scratch file, then datagen's own summary: positions per
# second per thread (wall clock), positions per CPU second (which a busy
# machine does not change) and the share of CPU time outside the search.
# Usage: bash bench/datagen-speed.sh [BINARY] [GAMES] [SEED]
set -euo pipefail
bin=${1:-build/dravlin}
games=${2:-20}
seed=${3:-1}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" datagen --out "$dir/speed.bin" --games "$games" --seed "$seed" --threads 1 2>/dev/null
