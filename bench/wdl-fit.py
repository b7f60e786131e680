#!/usr/bin/env python3
"""Fits the win/draw/loss model to the positions of bench/wdl-data.sh.

    python3 bench/wdl-fit.py wdl-data/positions.csv

P(win) = 1 / (1 + exp((a - score) / s)), P(loss) the same with -score, the
rest a draw; a = A0 + A1 * m and s = S0 + S1 * m with m the material left
(clamped to 10..78) / 58. Games with an even number are fitted, those with an
odd number held out. Prints the constants and, for the held-out positions,
the Brier score and the log-loss of the model, of the model without the
material term, and of the naive prediction (the fitted games' frequencies of
win, draw and loss, whatever the score).
"""
import math
import sys


def load(path):
    rows = []
    for line in open(path):
        game, score, material, result = line.strip().split(',')
        m = min(max(int(material), 10), 78) / 58.0
        rows.append((int(game), float(score), m, float(result)))
    return rows


def chances(p, score, m):
    a0, a1, s0, s1 = p
    a, s = a0 + a1 * m, max(s0 + s1 * m, 1.0)
    w = 1.0 / (1.0 + math.exp(max(-50.0, min(50.0, (a - score) / s))))
    l = 1.0 / (1.0 + math.exp(max(-50.0, min(50.0, (a + score) / s))))
    d = max(1.0 - w - l, 1e-6)
    return w, d, l


def outcome(result):
    return (1.0, 0.0, 0.0) if result == 1.0 else (0.0, 0.0, 1.0) if result == 0.0 else (0.0, 1.0, 0.0)


def loss(p, rows):
    total = 0.0
    for _, score, m, result in rows:
        w, d, l = chances(p, score, m)
        probs = (w, d, l)
        total -= sum(o * math.log(max(q, 1e-9)) for o, q in zip(outcome(result), probs))
    return total / len(rows)


def fit(rows, p, free):
    """Plain gradient descent with numerical gradients and a step that halves
    when a move does not help."""
    step = [20.0, 20.0, 10.0, 10.0]
    best = loss(p, rows)
    for _ in range(400):
        improved = False
        for i in free:
            for sign in (1, -1):
                q = list(p)
                q[i] += sign * step[i]
                v = loss(q, rows)
                if v < best:
                    p, best, improved = q, v, True
                    break
        if not improved:
            step = [x / 2 for x in step]
            if max(step[i] for i in free) < 0.05:
                break
    return p, best


def brier(predict, rows):
    return sum(sum((o - q) ** 2 for o, q in zip(outcome(r), predict(s, m))) for _, s, m, r in rows) / len(rows)


def logloss(predict, rows):
    return -sum(sum(o * math.log(max(q, 1e-9)) for o, q in zip(outcome(r), predict(s, m)))
                for _, s, m, r in rows) / len(rows)


def main():
    rows = load(sys.argv[1] if len(sys.argv) > 1 else 'wdl-data/positions.csv')
    train = [r for r in rows if r[0] % 2 == 0]
    test = [r for r in rows if r[0] % 2 == 1]
    flat, _ = fit(train, [150.0, 0.0, 80.0, 0.0], [0, 2])
    full, _ = fit(train, list(flat), [0, 1, 2, 3])
    n = len(train)
    freq = tuple(sum(1 for r in train if outcome(r[3])[k] == 1.0) / n for k in range(3))
    print('positions: %d fitted (%d games), %d held out (%d games)' % (
        len(train), len({r[0] for r in train}), len(test), len({r[0] for r in test})))
    print('constants: A0 %.1f A1 %.1f S0 %.1f S1 %.1f' % tuple(full))
    print('without material: A0 %.1f S0 %.1f' % (flat[0], flat[2]))
    print('%-22s %8s %8s' % ('held out', 'Brier', 'log-loss'))
    for name, predict in (('model', lambda s, m: chances(full, s, m)),
                          ('model, no material', lambda s, m: chances(flat, s, m)),
                          ('naive (frequencies)', lambda s, m: freq)):
        print('%-22s %8.4f %8.4f' % (name, brier(predict, test), logloss(predict, test)))


if __name__ == '__main__':
    main()
