#!/usr/bin/env bash
# Perft speed of the engine against Debian's stockfish on the same positions,
# single thread: perft 6 from the start position and perft 5 from Kiwipete.
# Usage: bench/perft.sh <engine-binary> [runs]   (best of `runs`, default 3)
# Needs /usr/games/stockfish (apt-get install -y stockfish); without it only
# the engine's figures are printed.
set -euo pipefail

engine=${1:?usage: bench/perft.sh <engine-binary> [runs]}
runs=${2:-3}
stockfish=${STOCKFISH:-/usr/games/stockfish}

positions=(
  "startpos|6|position startpos"
  "kiwipete|5|position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"
)

# Our engine times its own perft and prints "Perft results for depth: D  N  Nodes per sec: R".
engine_run() {
  local setup=$1 depth=$2
  printf '%s\nperft %s\nquit\n' "$setup" "$depth" | "$engine" |
    awk '/^Perft results for depth:/ { print $6, $10 }'
}

# Stockfish prints only the node count. A depth-1 perft runs first; the time
# between its "Nodes searched" line and that of the real run, both stamped as
# they arrive, is the time of the perft itself (start-up and network loading
# stay outside).
stockfish_run() {
  local setup=$1 depth=$2
  printf 'setoption name Threads value 1\n%s\ngo perft 1\ngo perft %s\nquit\n' "$setup" "$depth" |
    "$stockfish" 2>/dev/null |
    while IFS= read -r line; do
      case $line in "Nodes searched:"*) printf '%s %s\n' "${EPOCHREALTIME/[.,]/}" "${line#Nodes searched: }" ;; esac
    done |
    awk 'NR == 1 { t1 = $1 } NR == 2 { printf "%s %d\n", $2, ($1 - t1) * 1000 }'
}

have_stockfish=0
[ -x "$stockfish" ] && have_stockfish=1

# Runs of the two programs alternate, so that a load that comes and goes on
# the machine touches both alike; the best run of each counts.
for entry in "${positions[@]}"; do
  IFS='|' read -r name depth setup <<<"$entry"
  best_nps=0 nodes=0 best_ns=0 sf_nodes=0
  for _ in $(seq "$runs"); do
    read -r nodes nps < <(engine_run "$setup" "$depth")
    best_nps=$(awk -v a="$best_nps" -v b="$nps" 'BEGIN { print (b > a) ? b : a }')
    if [ "$have_stockfish" -eq 1 ]; then
      read -r sf_nodes t < <(stockfish_run "$setup" "$depth")
      if [ "$best_ns" -eq 0 ] || [ "$t" -lt "$best_ns" ]; then best_ns=$t; fi
    fi
  done
  printf '%-9s perft %s  dravlin:   %12s nodes  %8.1f Mnps\n' "$name" "$depth" "$nodes" \
    "$(awk -v r="$best_nps" 'BEGIN { print r / 1e6 }')"
  if [ "$have_stockfish" -eq 1 ]; then
    sf_nps=$(awk -v n="$sf_nodes" -v t="$best_ns" 'BEGIN { print (t > 0) ? n / (t / 1e9) : 0 }')
    printf '%-9s perft %s  stockfish: %12s nodes  %8.1f Mnps\n' "$name" "$depth" "$sf_nodes" \
      "$(awk -v r="$sf_nps" 'BEGIN { print r / 1e6 }')"
    printf '%-9s perft %s  ratio dravlin/stockfish: %.2f\n' "$name" "$depth" \
      "$(awk -v a="$best_nps" -v b="$sf_nps" 'BEGIN { print (b > 0) ? a / b : 0 }')"
    if [ "$nodes" != "$sf_nodes" ]; then echo "WARNING: node counts differ" >&2; fi
  fi
done
