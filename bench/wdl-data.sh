#!/bin/bash
# Data for the win/draw/loss model: self-play games under the referee, then
# positions sampled from them and scored by the engine at a fixed depth.
#
#   bash bench/wdl-data.sh [engine] [games] [outdir]
#
# Writes outdir/games.pgn and outdir/positions.csv with one line per position:
# game number, score (centipawns, side to move), material left (1 3 3 5 9),
# result for the side to move (1 win, 0.5 draw, 0 loss). Fit it with
# python3 bench/wdl-fit.py outdir/positions.csv.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
engine=${1:-$here/build/dravlin}
games=${2:-400}
out=${3:-wdl-data}
depth=${WDL_DEPTH:-10}
mkdir -p "$out"

if [ ! -s "$out/games.pgn" ]; then
  python3 "$here/../shared/tools/uci-referee" --engine-a "$engine" --engine-b "$engine" \
    --tc 1+0.01 --games "$games" --book "$here/../shared/books/8moves_v3.epd" --book-start 1000 \
    --option-a Hash=16 --option-b Hash=16 --pgn "$out/games.pgn" >"$out/referee.log"
fi

python3 - "$engine" "$out/games.pgn" "$depth" >"$out/positions.csv" <<'EOF'
import re, subprocess, sys

engine, pgn, depth = sys.argv[1], sys.argv[2], int(sys.argv[3])
VALUES = {'p': 1, 'n': 3, 'b': 3, 'r': 5, 'q': 9}

def games(text):
    for block in re.split(r'\n(?=\[Event )', text):
        fen = re.search(r'\[FEN "([^"]+)"\]', block)
        result = re.search(r'\[Result "([^"]+)"\]', block)
        if not fen or not result or result.group(1) not in ('1-0', '0-1', '1/2-1/2'):
            continue
        body = re.sub(r'\{[^}]*\}', ' ', block.split('\n\n', 1)[-1])
        moves = [w for w in body.split() if re.fullmatch(r'[a-h][1-8][a-h][1-8][nbrq]?', w)]
        yield fen.group(1), moves, result.group(1)

p = subprocess.Popen([engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
def send(line): p.stdin.write(line + '\n'); p.stdin.flush()
def until(prefix):
    lines = []
    while True:
        line = p.stdout.readline()
        if not line: raise SystemExit('engine ended')
        lines.append(line.rstrip('\n'))
        if line.startswith(prefix): return lines
send('setoption name Hash value 16')
send('isready'); until('readyok')

for n, (fen, moves, result) in enumerate(games(open(pgn).read())):
    white_to_move = fen.split()[1] == 'w'
    white_score = {'1-0': 1.0, '0-1': 0.0}.get(result, 0.5)
    # Every fourth ply from the fourth on: neighbours in a game say little new.
    for ply in range(4, len(moves), 4):
        send('ucinewgame')
        send('position fen ' + fen + ' moves ' + ' '.join(moves[:ply]))
        send('showboard')  # a 17-line diagram; its rank lines begin with '|'
        board = [p.stdout.readline() for _ in range(17)]
        material = sum(VALUES.get(c.lower(), 0) for line in board if line.startswith('|') for c in line if c.isalpha())
        send('go depth %d' % depth)
        lines = until('bestmove')
        scores = [l for l in lines if l.startswith('info score cp ')]
        if not scores:
            continue  # a mate: the model never sees those
        score = int(scores[-1].split()[3])
        mover_white = white_to_move == (ply % 2 == 0)
        print('%d,%d,%d,%.1f' % (n, score, material, white_score if mover_white else 1 - white_score))
send('quit')
EOF
echo "$(wc -l <"$out/positions.csv") positions in $out/positions.csv"
