#!/usr/bin/env bash
# Plays the engine at UCI_Elo E against Debian's stockfish at UCI_Elo E (both
# with UCI_LimitStrength) for each rating given, under the referee, and prints
# the referee's summary of every point.
#
#   bash bench/elo-calibration.sh [ENGINE] [TC] [GAMES] [ELO...]
#   bash bench/elo-calibration.sh build/dravlin 10+0.1 60 1400 1800 2200 2600
#
# Environment: BOOK (default ../shared/books/8moves_v3.epd), OUT (folder of
# the logs and PGNs, default elo-calibration), JOBS (referees at once, 1 or 2),
# BOOK_START (first opening index, default 0), ENGINE_OPTIONS (more NAME=VALUE
# settings for the engine, blank-separated: "UseNNUE=false" measures the
# hand-written evaluation's caps).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
engine="$(realpath "${1:-$here/build/dravlin}")"
tc="${2:-10+0.1}"
games="${3:-60}"
shift $(( $# < 3 ? $# : 3 ))
elos=("$@")
[ ${#elos[@]} -gt 0 ] || elos=(1400 1800 2200 2600)
book="${BOOK:-$here/../shared/books/8moves_v3.epd}"
out="${OUT:-elo-calibration}"
jobs="${JOBS:-1}"
referee="$here/../shared/tools/uci-referee"
stockfish="$(command -v stockfish || echo /usr/games/stockfish)"
mkdir -p "$out"

extra=()
for setting in ${ENGINE_OPTIONS:-}; do extra+=(--option-a "$setting"); done

point() {
  local elo="$1" name="$out/elo${1}_tc${tc}"
  python3 "$referee" --engine-a "$engine" --name-a "dravlin-$elo" \
      --option-a Hash=16 --option-a UCI_LimitStrength=true --option-a UCI_Elo="$elo" ${extra[@]+"${extra[@]}"} \
      --engine-b "$stockfish" --name-b "stockfish-$elo" \
      --option-b Hash=16 --option-b Threads=1 --option-b UCI_LimitStrength=true --option-b UCI_Elo="$elo" \
      --tc "$tc" --games "$games" --book "$book" --book-start "${BOOK_START:-0}" \
      --pgn "$name.pgn" > "$name.txt" 2>&1 || true
  echo "=== UCI_Elo $elo, tc $tc, $games games ($name.txt)"
  tail -n 12 "$name.txt"
}

running=0
for elo in "${elos[@]}"; do
  point "$elo" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
done
wait
