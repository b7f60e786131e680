#!/usr/bin/env bash
# Strength of a net: the engine with UseNNUE true against the same binary with
# it false (or against another engine), under ../shared/tools/uci-referee with
# the UHO book, one thread and Hash 16 on each side. Runs PARALLEL referees
# side by side (each plays its games one at a time, so each uses about one
# core), each from its own part of the book, and adds up their results.
# Usage: bench/net-match.sh ENGINE NET TC GAMES [OPPONENT] [OUTDIR]
#   NET: a net file, or "embedded"; OPPONENT: another engine's command (default:
#   ENGINE with UseNNUE false). PARALLEL=2, BOOK_START=0, REFEREE, BOOK from the
#   environment; OPPONENT_NET=FILE|embedded plays ENGINE against itself with
#   that net instead, to compare two nets. ENGINE_OPTIONS: more NAME=VALUE
#   settings for both sides, blank-separated; with the tune build,
#   "TuneNodes=10000" gates nets at fixed nodes (the clock only a safety net).
#   CHUNK=G plays the games in parts of G (a multiple of 2 * PARALLEL), each in
#   OUTDIR/part-K; the same command again skips the parts whose games were all
#   played, so a long match resumes after an interruption with at most one part lost.
set -euo pipefail
engine=${1:?usage: bench/net-match.sh ENGINE NET TC GAMES [OPPONENT] [OUTDIR]}
net=${2:?net file or embedded}
tc=${3:?time control, e.g. 5+0.05}
games=${4:?number of games}
opponent=${5:-}
out=${6:-net-match-$(date +%Y%m%d-%H%M%S)}
here=$(cd "$(dirname "$0")/.." && pwd)
referee=${REFEREE:-$here/../shared/tools/uci-referee}
book=${BOOK:-$here/../shared/books/UHO_4060_v3_first5000.epd}
parallel=${PARALLEL:-2}
start=${BOOK_START:-0}
mkdir -p "$out"

netopts=(--option-a UseNNUE=true --option-a Hash=16)
[ "$net" != embedded ] && netopts+=(--option-a "EvalFile=$(realpath "$net")")
if [ -n "${OPPONENT_NET:-}" ]; then
  oppopts=(--engine-b "$engine" --option-b Hash=16 --option-b UseNNUE=true --name-b "other net")
  [ "$OPPONENT_NET" != embedded ] && oppopts+=(--option-b "EvalFile=$(realpath "$OPPONENT_NET")")
elif [ -n "$opponent" ]; then
  oppopts=(--engine-b "$opponent" --option-b Hash=16)
else
  oppopts=(--engine-b "$engine" --option-b Hash=16 --option-b UseNNUE=false --name-b "hand-written")
fi

for setting in ${ENGINE_OPTIONS:-}; do netopts+=(--option-a "$setting"); oppopts+=(--option-b "$setting"); done

chunk=${CHUNK:-0}
if [ "$chunk" -gt 0 ] && (( chunk % (2 * parallel) )); then
  echo "CHUNK=$chunk is not a multiple of 2 * PARALLEL ($((2 * parallel)))" >&2; exit 2
fi

# PARALLEL referees playing GAMES from opening START, into DIR.
play() {  # DIR GAMES START
  local dir=$1 games=$2 start=$3 per i p status=0 pids=()
  per=$(( (games + parallel - 1) / parallel ))
  per=$(( per + per % 2 ))  # each opening is played twice, once with each colour
  mkdir -p "$dir"
  for i in $(seq 0 $((parallel - 1))); do
    "$referee" --engine-a "$engine" "${netopts[@]}" --name-a network "${oppopts[@]}" --tc "$tc" --games "$per" \
      --book "$book" --book-start $((start + i * per / 2)) --pgn "$dir/games-$i.pgn" > "$dir/referee-$i.txt" 2>&1 &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || status=1; done
  return $status
}

# A part is whole when each of its referees played all its games.
whole() {  # DIR
  local i
  for i in $(seq 0 $((parallel - 1))); do
    [ "$(grep -cE '^game [0-9]+:' "$1/referee-$i.txt" 2>/dev/null)" = $((chunk / parallel)) ] || return 1
  done
}

status=0
if [ "$chunk" -gt 0 ]; then
  for ((k = 0; k * chunk < games; k++)); do
    whole "$out/part-$k" && continue
    rm -rf "$out/part-$k"
    play "$out/part-$k" "$chunk" $((start + k * chunk / 2)) || status=1
  done
else
  play "$out" "$games" "$start" || status=1
fi

# The sum of the runs, with the referee's own Elo formula (logistic model,
# trinomial variance of the score).
python3 - "$out" <<'PY'
import glob, math, re, sys
w = d = l = 0
faults = []
for f in sorted(glob.glob(sys.argv[1] + "/referee-*.txt") + glob.glob(sys.argv[1] + "/part-*/referee-*.txt")):
    text = open(f).read()
    m = re.search(r"A: wins (\d+), draws (\d+), losses (\d+)", text)
    if not m:
        print(f"{f}: no summary"); continue
    w += int(m[1]); d += int(m[2]); l += int(m[3])
    faults += re.findall(r"^(.+?): illegal moves (\d+), time losses (\d+), crashes/hangs (\d+)", text, re.M)
n = w + d + l
s = (w + d / 2) / n
margin = 1.959964 * math.sqrt((w * (1 - s) ** 2 + d * (0.5 - s) ** 2 + l * s ** 2) / n / n)
elo = lambda p: 400 * math.log10(p / (1 - p)) if 0 < p < 1 else math.copysign(math.inf, p - 0.5)
print(f"games {n}: network wins {w}, draws {d}, losses {l}; score {100 * s:.1f}%")
print(f"Elo network - opponent: {elo(s):+.1f} +/- {(elo(min(s + margin, 1)) - elo(max(s - margin, 0))) / 2:.1f} (95%)")
tot = {}
for name, i, t, c in faults:
    a = tot.setdefault(name, [0, 0, 0]); a[0] += int(i); a[1] += int(t); a[2] += int(c)
for name, (i, t, c) in tot.items():
    print(f"{name}: illegal moves {i}, time losses {t}, crashes/hangs {c}")
PY
exit $status
