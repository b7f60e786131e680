#!/usr/bin/env python3
"""SPSA tuning of the network's search values (docs/tuning.md).

Plays the tune build against itself under the match referee: theta + c_k*delta
(engine A) against theta - c_k*delta (engine B), both with UseNNUE true, a few
opening pairs per iteration, and moves theta along the result. Several
iterations run side by side (--concurrency), each with its own perturbation,
all from the same theta. The schedule is OpenBench's: for each value, c_end is
its perturbation at the last iteration and r_end its learning rate there
(a_end = r_end * c_end^2), with

    c_k = c / (k + 1)^gamma          c = c_end * N^gamma
    a_k = a / (A + k + 1)^alpha      a = a_end * (A + N)^alpha

for iterations k = 0 .. N-1. The state is a JSON file written after every
round; the same command again continues where it stopped. Standard library
only.
"""

import argparse
import json
import math
import os
import random
import re
import shlex
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.path.normpath(os.path.join(HERE, "..", "..", "shared"))
DEFAULT_REFEREE = os.path.join(SHARED, "tools", "uci-referee")
DEFAULT_BOOK = os.path.join(SHARED, "books", "UHO_4060_v3_first5000.epd")

SPSA_LINE = re.compile(
    r"^\s*(\w+),\s*int,\s*(-?[\d.]+),\s*(-?[\d.]+),\s*(-?[\d.]+),\s*([\d.]+),\s*([\d.]+)\s*$")
RESULT_LINE = re.compile(r"A: wins (\d+), draws (\d+), losses (\d+)")
# The referee's count per side; its exit status speaks for the plus side only.
FAULT_LINE = re.compile(r"^(?:plus|minus): illegal moves (\d+), time losses (\d+), crashes/hangs (\d+)", re.M)
STATE_VERSION = 1


def parse_spsa_lines(text):
    """OpenBench's SPSA input: name, int, default, min, max, c_end, r_end."""
    params = []
    for line in text.splitlines():
        m = SPSA_LINE.match(line)
        if m:
            name, start, lo, hi, c_end, r_end = m.groups()
            params.append({"name": name, "start": float(start), "min": float(lo), "max": float(hi),
                           "c_end": float(c_end), "r_end": float(r_end)})
    return params


def engine_params(engine):
    """The values the tune build offers, from its "spsa" command."""
    out = subprocess.run(shlex.split(engine) + ["spsa"], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL, timeout=60).stdout
    params = parse_spsa_lines(out)
    if not params:
        sys.exit(f"{engine} printed no SPSA lines: is it a tune build (cmake -DDRAVLIN_TUNE=ON, make tune)?")
    return params


def schedule(param, iterations, big_a, alpha, gamma):
    """The constants c and a of one value's schedule."""
    c = param["c_end"] * iterations ** gamma
    a_end = param["r_end"] * param["c_end"] ** 2
    a = a_end * (big_a + iterations) ** alpha
    return c, a


def c_at(param, k, cfg):
    c, _ = schedule(param, cfg["iterations"], cfg["A"], cfg["alpha"], cfg["gamma"])
    return c / (k + 1) ** cfg["gamma"]


def a_at(param, k, cfg):
    _, a = schedule(param, cfg["iterations"], cfg["A"], cfg["alpha"], cfg["gamma"])
    return a / (cfg["A"] + k + 1) ** cfg["alpha"]


def perturbation(seed, k, names):
    """The signs of iteration k: the same for a seed whenever it is asked."""
    rng = random.Random(f"{seed}:{k}")
    return {n: rng.choice((-1, 1)) for n in names}


def clamp(v, p):
    return min(max(v, p["min"]), p["max"])


def book_size(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return sum(1 for line in f if line.strip())


def referee_command(cfg, k, plus, minus):
    cmd = [sys.executable, cfg["referee"], "--engine-a", cfg["engine"], "--engine-b", cfg["engine"],
           "--name-a", "plus", "--name-b", "minus", "--games", str(2 * cfg["pairs"]),
           "--book", cfg["book"], "--book-start", str((cfg["book_start"] + k * cfg["pairs"]) % cfg["book_openings"])]
    fixed = ["UseNNUE=true", f"Hash={cfg['hash']}"] + cfg["options"]
    if cfg["nodes"]:
        fixed.append(f"TuneNodes={cfg['nodes']}")
    for side, values in (("a", plus), ("b", minus)):
        for o in fixed:
            cmd += [f"--option-{side}", o]
        for name, v in values.items():
            cmd += [f"--option-{side}", f"{name}={v}"]
    # At fixed nodes the clock only guards against a hung engine.
    cmd += ["--tc", cfg["tc"] if not cfg["nodes"] else "600+1"]
    return cmd


def new_state(cfg, params):
    return {"version": STATE_VERSION, "config": cfg, "params": params,
            "theta": {p["name"]: p["start"] for p in params},
            "iteration": 0, "games": 0, "wins": 0, "draws": 0, "losses": 0, "faults": 0,
            "seconds": 0.0, "history": []}


def save_state(path, state):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(state, f, indent=1)
    os.replace(tmp, path)


def write_final(path, state):
    cfg, params = state["config"], state["params"]
    n = cfg["iterations"]
    lines = [
        "# SPSA run of the network's search values (tools/spsa.py)",
        f"# engine: {cfg['engine']}",
        f"# iterations: {state['iteration']} of {n}, games: {state['games']} "
        f"(+{state['wins']} ={state['draws']} -{state['losses']} for the plus side; {state['faults']} referee faults)",
        f"# games: " + (f"{cfg['nodes']} nodes a move" if cfg["nodes"] else f"time control {cfg['tc']}")
        + f", {cfg['pairs']} opening pair(s) an iteration, {cfg['concurrency']} referees side by side",
        f"# book: {cfg['book']} from opening {cfg['book_start']}",
        f"# schedule: A {cfg['A']:g}, alpha {cfg['alpha']:g}, gamma {cfg['gamma']:g}, seed {cfg['seed']}",
        f"# time: {state['seconds'] / 3600:.2f} hours",
        "# name, value, start, min, max, c_end, r_end, c at the start, a at the start",
    ]
    for p in params:
        lines.append(f"{p['name']}, {round(state['theta'][p['name']])}, {p['start']:g}, {p['min']:g}, {p['max']:g}, "
                     f"{p['c_end']:g}, {p['r_end']:g}, {c_at(p, 0, cfg):.4g}, {a_at(p, 0, cfg):.4g}")
    lines.append("# as options: " + " ".join(f"{p['name']}={round(state['theta'][p['name']])}" for p in params))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def run_round(cfg, params, state, count, fault_log):
    """Plays `count` iterations side by side from the current theta; returns their results.
    A round with an illegal move, time loss or crash on either side keeps the referee's
    whole output in `fault_log`, so that the fault can be looked into."""
    k0 = state["iteration"]
    jobs = []
    for k in range(k0, k0 + count):
        delta = perturbation(cfg["seed"], k, [p["name"] for p in params])
        plus, minus = {}, {}
        for p in params:
            step = c_at(p, k, cfg) * delta[p["name"]]
            theta = state["theta"][p["name"]]
            plus[p["name"]] = round(clamp(theta + step, p))
            minus[p["name"]] = round(clamp(theta - step, p))
        cmd = referee_command(cfg, k, plus, minus)
        jobs.append((k, delta, subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                                stdin=subprocess.DEVNULL, text=True)))
    results = []
    for k, delta, proc in jobs:
        out, _ = proc.communicate()
        m = RESULT_LINE.search(out)
        if proc.returncode == 2 or not m:
            for other in jobs:
                if other[2].poll() is None:
                    other[2].kill()
            sys.exit(f"the referee failed (exit {proc.returncode}):\n{out[-2000:]}")
        w, d, l = map(int, m.groups())
        faults = sum(int(n) for side in FAULT_LINE.findall(out) for n in side)
        if proc.returncode == 1:
            faults = max(faults, 1)
        if faults:
            with open(fault_log, "a") as f:
                f.write(f"=== iteration {k}: {faults} fault(s)\n{out}\n")
            print(f"iteration {k}: {faults} referee fault(s), output kept in {fault_log}", flush=True)
        results.append((k, delta, w, d, l, faults))
    return results


def apply_results(cfg, params, state, results):
    for k, delta, w, d, l, fault in results:
        for p in params:
            step = a_at(p, k, cfg) / c_at(p, k, cfg) * (w - l) * delta[p["name"]]
            state["theta"][p["name"]] = clamp(state["theta"][p["name"]] + step, p)
        state["games"] += w + d + l
        state["wins"] += w
        state["draws"] += d
        state["losses"] += l
        state["faults"] += fault
        state["history"].append([k, w, d, l])
    state["iteration"] += len(results)


def progress(state, session_seconds, session_iterations):
    cfg = state["config"]
    left = cfg["iterations"] - state["iteration"]
    eta = session_seconds / session_iterations * left if session_iterations else 0
    values = " ".join(f"{n}={v:.1f}" for n, v in state["theta"].items())
    print(f"iteration {state['iteration']}/{cfg['iterations']}  games {state['games']} "
          f"(+{state['wins']} ={state['draws']} -{state['losses']})  "
          f"left {eta / 3600:.1f} h\n  {values}", flush=True)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--engine", help="the tune build (default: build-tune/dravlin next to this folder)")
    ap.add_argument("--state", help="the state file (JSON); the run continues from it when it exists")
    ap.add_argument("--params", help="a file of SPSA lines to tune (default: all the engine's, by its 'spsa')")
    ap.add_argument("--skip", action="append", default=[], metavar="PREFIX",
                    help="leave out the values whose names begin so (repeatable; e.g. Time at fixed nodes)")
    ap.add_argument("--iterations", type=int, default=20000, help="N, the schedule's length (20000)")
    ap.add_argument("--pairs", type=int, default=2, help="opening pairs (two games each) an iteration (2)")
    ap.add_argument("--concurrency", type=int, default=2, help="referees side by side (2)")
    group = ap.add_mutually_exclusive_group()
    group.add_argument("--nodes", type=int, default=0, help="fixed nodes a move (TuneNodes)")
    group.add_argument("--tc", default="", help="time control BASE+INC instead (e.g. 5+0.05)")
    ap.add_argument("--book", default=DEFAULT_BOOK)
    ap.add_argument("--book-start", type=int, default=0, help="index of the first opening (0)")
    ap.add_argument("--referee", default=DEFAULT_REFEREE)
    ap.add_argument("--option", action="append", default=[], metavar="NAME=VALUE",
                    help="an option for both sides, repeatable (EvalFile=...)")
    ap.add_argument("--hash", type=int, default=16, help="Hash of each engine, MB (16)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--A", type=float, default=None, help="the schedule's A (default: N / 10)")
    ap.add_argument("--alpha", type=float, default=0.602)
    ap.add_argument("--gamma", type=float, default=0.101)
    ap.add_argument("--max-rounds", type=int, default=0, help="stop after this many rounds of this session")
    ap.add_argument("--final", help="where the final values go (default: the state file + .final.txt)")
    ap.add_argument("--report", action="store_true", help="write the final values from the state now, and stop")
    ap.add_argument("--dry-run", action="store_true",
                    help="a smoke test: 4 iterations at 2000 nodes into a scratch state file")
    args = ap.parse_args(argv)

    if args.dry_run:
        args.iterations, args.nodes, args.tc, args.pairs = 4, 2000, "", 1
        if not args.state:
            args.state = os.path.join(tempfile.mkdtemp(prefix="spsa-dry-"), "state.json")
    if not args.state:
        ap.error("--state FILE is needed")
    final_path = args.final or args.state + ".final.txt"

    if os.path.exists(args.state):
        with open(args.state) as f:
            state = json.load(f)
        if state.get("version") != STATE_VERSION:
            sys.exit(f"{args.state}: a state file of another version")
        print(f"continuing {args.state} at iteration {state['iteration']}", flush=True)
    else:
        if args.report:
            sys.exit(f"{args.state}: no such state file")
        engine = os.path.abspath(args.engine or os.path.join(HERE, "..", "build-tune", "dravlin"))
        if args.params:
            with open(args.params) as f:
                params = parse_spsa_lines(f.read())
            if not params:
                sys.exit(f"{args.params} holds no SPSA lines")
            # A name the engine does not know would be set to nothing, silently: a tune of noise.
            known = {p["name"] for p in engine_params(engine)}
            unknown = [p["name"] for p in params if p["name"] not in known]
            if unknown:
                sys.exit(f"{args.params}: not values of {engine}: {', '.join(unknown)}")
        else:
            params = engine_params(engine)
        params = [p for p in params if not any(p["name"].startswith(s) for s in args.skip)]
        if not params:
            sys.exit("--skip left no value to tune")
        if not args.nodes and not args.tc:
            args.tc = "5+0.05"
        cfg = {"engine": engine, "iterations": args.iterations, "pairs": args.pairs,
               "concurrency": args.concurrency, "nodes": args.nodes, "tc": args.tc,
               "book": os.path.abspath(args.book), "book_start": args.book_start,
               "book_openings": book_size(args.book), "referee": args.referee, "options": args.option,
               "hash": args.hash, "seed": args.seed,
               "A": args.A if args.A is not None else args.iterations / 10,
               "alpha": args.alpha, "gamma": args.gamma}
        state = new_state(cfg, params)
        save_state(args.state, state)
    cfg, params = state["config"], state["params"]

    if args.report:
        write_final(final_path, state)
        print(f"final values: {final_path}")
        return 0

    started = time.monotonic()
    rounds = done = 0
    while state["iteration"] < cfg["iterations"] and (args.max_rounds == 0 or rounds < args.max_rounds):
        t0 = time.monotonic()
        count = min(cfg["concurrency"], cfg["iterations"] - state["iteration"])
        apply_results(cfg, params, state, run_round(cfg, params, state, count, args.state + ".faults.log"))
        state["seconds"] += time.monotonic() - t0
        save_state(args.state, state)
        rounds += 1
        done += count
        progress(state, time.monotonic() - started, done)
    if state["iteration"] >= cfg["iterations"]:
        write_final(final_path, state)
        print(f"done; final values: {final_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
