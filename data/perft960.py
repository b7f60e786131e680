#!/usr/bin/env python3
"""Writes data/perft960.txt: Chess960 perft reference counts (FEN;depth;count),
every position in Shredder-FEN and in X-FEN, counted by Debian's stockfish
(apt-get install stockfish) with UCI_Chess960 on. Start positions come from
the 960 and DFRC books, positions from play from seeded random playouts that
favour castling, and a few hand-made positions for the corner cases.

  python3 data/perft960.py BOOKS_DIR > data/perft960.txt
"""
import random
import subprocess
import sys

SF = "/usr/games/stockfish"
LEAF_BUDGET = 1_500_000  # deepest depth whose count stays below this

EDGE = [
    "1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1",      # short castling leaves the king on g1
    "1k3r2/8/8/8/8/8/8/1K3R2 w Ff - 0 1",        # short castling leaves the rook on f1
    "5kr1/8/8/8/8/8/8/5KR1 w Gg - 0 1",          # the king lands on its rook's square
    "2rk4/8/8/8/8/8/8/2RK4 b Cc - 0 1",          # long: king and rook change places
    "4k3/8/8/8/8/8/8/qR1K4 w B - 0 1",           # rook on b1, enemy queen on a1
    "4k3/8/8/8/8/8/8/NR1K4 w B - 0 1",           # rook on b1, own knight on a1
    "3k4/8/8/8/8/8/8/R2K4 w A - 0 1",            # castling gives check
    "1r2k1r1/8/8/8/8/8/7b/1R2K1R1 b GBgb - 0 1", # a rook can be taken on its square
    "1r2k3/8/8/8/8/8/8/RR2K3 w Bb - 0 1",        # inner rook of two on one side
    "r3k3/8/8/8/8/8/8/RR2K3 w Aa - 0 1",         # outer rook of two on one side
    "r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1",      # the standard squares
    "rn2k1r1/ppp1pp1p/3p2p1/5bn1/P7/2N2B2/1PPPPP2/2BNK1RR w Gkq - 4 11",
]


class Oracle:
    def __init__(self):
        self.p = subprocess.Popen([SF], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.send("uci")
        self.wait("uciok")
        self.send("setoption name UCI_Chess960 value true")

    def send(self, line):
        self.p.stdin.write(line + "\n")

    def wait(self, prefix):
        lines = []
        while True:
            line = self.p.stdout.readline().strip()
            lines.append(line)
            if line.startswith(prefix):
                return lines

    def perft(self, fen, depth, moves=()):
        self.send("position fen " + fen + (" moves " + " ".join(moves) if moves else ""))
        self.send("go perft %d" % depth)
        lines = self.wait("Nodes searched")
        divide = [l.split(":")[0] for l in lines if ":" in l and not l.startswith("Nodes")]
        return int(lines[-1].split()[-1]), divide

    def fen(self, fen, moves):
        self.send("position fen " + fen + " moves " + " ".join(moves))
        self.send("d")
        for l in self.wait("Checkers"):
            if l.startswith("Fen: "):
                return l[5:]


def xfen(fen):
    """Shredder-FEN castling letters -> X-FEN (K/Q for the outermost rook)."""
    f = fen.split()
    ranks = f[0].split("/")

    def row(r):
        out = ""
        for ch in r:
            out += "." * int(ch) if ch.isdigit() else ch
        return out

    out = ""
    for ch in f[2]:
        if ch == "-":
            out += ch
            continue
        white = ch.isupper()
        r = row(ranks[7] if white else ranks[0])
        king, rook = ("K", "R") if white else ("k", "r")
        kf, rf = r.index(king), ord(ch.lower()) - ord("a")
        side = range(rf + 1, 8) if rf > kf else range(0, rf)
        outer = not any(r[i] == rook for i in side)
        letter = ("K" if rf > kf else "Q") if outer else ch.upper()
        out += letter if white else letter.lower()
    f[2] = out
    return " ".join(f)



def main():
    books = sys.argv[1]
    rnd = random.Random(960)
    starts = [l.split(";")[0].strip() for l in open(books + "/chess960.epd") if l.strip()]
    dfrc = [l.split(";")[0].strip() for l in open(books + "/dfrc-sample.epd") if l.strip()]
    sf = Oracle()

    def full(fen):
        parts = fen.split()
        return " ".join(parts[:4] + ["0", "1"]) if len(parts) == 4 else fen

    chosen = [full(s) for s in rnd.sample(starts, 45)] + [full(s) for s in rnd.sample(dfrc, 15)]
    played = []
    tries = 0
    while len(played) < 60 and tries < 400:
        tries += 1
        start = full(rnd.choice(starts + dfrc))
        moves = []
        for _ in range(rnd.randint(6, 40)):
            _, legal = sf.perft(start, 1, moves)
            if not legal:
                break
            # King moves along the first rank by more than a file are castling
            # (king takes rook); take one when offered, most of the time.
            castles = [m for m in legal if m[1] == m[3] and m[1] in "18" and abs(ord(m[0]) - ord(m[2])) >= 2]
            pick = rnd.choice(castles) if castles and rnd.random() < 0.4 else rnd.choice(legal)
            moves.append(pick)
        fen = sf.fen(start, moves)
        if fen.split()[2] == "-" and rnd.random() < 0.8:
            continue  # keep mostly positions where castling still matters
        played.append(fen)

    lines = []
    for fen in chosen + played + EDGE:
        for form in (fen, xfen(fen)):
            depth, count = 1, 0
            while depth < 6:
                c, _ = sf.perft(form, depth + 1)
                if c > LEAF_BUDGET:
                    break
                depth, count = depth + 1, c
            if depth == 1:
                count, _ = sf.perft(form, 1)
            lines.append("%s;%d;%d" % (form, depth, count))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
