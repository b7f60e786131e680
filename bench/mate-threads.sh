#!/usr/bin/env bash
# "go mate N" with two threads, MultiPV 1, 2 and 3, with and without
# searchmoves, on three mates: every answer must come after a mate line (mate
# K, 1 <= K <= N, for line one, starting with the move played), and Debian's
# stockfish must find the side to move mated in N-1 or fewer after that move.
# Usage: bench/mate-threads.sh <engine> [runs per case, default 50]
# Prints one line per case (runs, wrong answers) and exits 1 on any wrong one.
set -uo pipefail
engine=${1:?usage: bench/mate-threads.sh <engine> [runs]}
runs=${2:-50}
sf=${STOCKFISH:-/usr/games/stockfish}

# fen | N | searchmoves: the mating move among tempting others
cases=(
  "6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - - 0 1|5|f2b2 h3g4 f2f1 g2g1"
  "r1b1kb1r/pppp1ppp/5q2/4n3/3KP3/2N3PN/PPP4P/R1BQ1B1R b kq - 0 1|4|f6b6 e5c6 f6d6 f8c5 f6f2"
  "r1bq2r1/b4pk1/p1pp1p2/1p2pP2/1P2P1PB/3P4/1PPQ2P1/R3K2R w - - 0 1|4|h4f6 d2h6 g4g5 d2g5"
)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkfifo "$tmp/in" "$tmp/out"
"$sf" <"$tmp/in" >"$tmp/out" &
exec 7>"$tmp/in" 8<"$tmp/out"
declare -A mated  # "fen move" -> stockfish's "mate" for the side to move after the move
stockfish_mate() {  # sets m
  local key="$1 $2" line
  if [ -z "${mated[$key]:-}" ]; then
    m=none
    printf 'position fen %s moves %s\ngo depth 16\n' "$1" "$2" >&7
    while read -r -t 60 line <&8; do
      [[ $line =~ score\ mate\ (-?[0-9]+) ]] && m=${BASH_REMATCH[1]}
      [[ $line =~ score\ cp ]] && m=none
      [[ $line == bestmove* ]] && break
    done
    mated[$key]=$m
  fi
  m=${mated[$key]}
}

failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r fen n moves <<<"$c"
  for pv in 1 2 3; do
    for restrict in "" " searchmoves $moves"; do
      coproc ENG { "$engine"; }
      printf 'setoption name Threads value 2\nsetoption name MultiPV value %s\nsetoption name Hash value 16\n' "$pv" >&"${ENG[1]}"
      bad=0
      for ((r = 0; r < runs; r++)); do
        printf 'ucinewgame\nposition fen %s\ngo mate %s%s\n' "$fen" "$n" "$restrict" >&"${ENG[1]}"
        shown="" best=""
        while read -r -t 30 line <&"${ENG[0]}"; do
          [[ $line == "info score "* && ( $line != *" multipv "* || $line == *" multipv 1 "* ) ]] && shown=$line
          [[ $line == bestmove* ]] && { best=$(awk '{print $2}' <<<"$line"); break; }
        done
        ok=1
        [[ $shown =~ ^info\ score\ mate\ ([0-9]+)\ .*\ pv\ ([a-h1-8qrbn]+) ]] || ok=0
        if ((ok)); then
          k=${BASH_REMATCH[1]}
          ((k >= 1 && k <= n)) && [ "${BASH_REMATCH[2]}" = "$best" ] || ok=0
        fi
        stockfish_mate "$fen" "$best"
        [[ $m =~ ^-?[0-9]+$ ]] && ((m <= 0 && -m <= n - 1)) || ok=0
        ((ok)) || { ((bad++)); echo "  wrong: bestmove $best after: $shown (stockfish: mate $m)"; }
      done
      echo "quit" >&"${ENG[1]}"
      wait "$ENG_PID" 2>/dev/null
      echo "mate $n, MultiPV $pv${restrict:+, searchmoves}: $runs runs, $bad wrong   ($fen)"
      ((failed += bad))
    done
  done
done
echo "quit" >&7
exit $((failed > 0))
