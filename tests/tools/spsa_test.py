#!/usr/bin/env python3
"""tools/spsa.py against a stand-in referee whose games favour the side whose
value lies nearer a target: the run must walk toward it, continue a stopped
run exactly where it stood, and walk the book."""

import json
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import spsa  # noqa: E402

DRIVER = os.path.join(HERE, "..", "..", "tools", "spsa.py")
TARGETS = {"Up": 80, "Down": 20}

# Wins both games of a pair when its values lie nearer the targets in sum,
# loses both when farther; logs the opening it was given. At opening 4 the
# minus side loses on time, which the exit status (plus side only) does not tell.
REFEREE = textwrap.dedent(f"""\
    import sys
    args = sys.argv[1:]
    values = {{"a": {{}}, "b": {{}}}}
    for i, w in enumerate(args):
        if w in ("--option-a", "--option-b"):
            name, _, v = args[i + 1].partition("=")
            values[w[-1]][name] = v
    targets = {TARGETS!r}
    dist = {{s: sum(abs(int(v) - targets[n]) for n, v in values[s].items() if n in targets) for s in "ab"}}
    games = int(args[args.index("--games") + 1])
    with open(sys.argv[0] + ".log", "a") as log:
        log.write(args[args.index("--book-start") + 1] + "\\n")
    w, l = (games, 0) if dist["a"] < dist["b"] else (0, games) if dist["a"] > dist["b"] else (0, 0)
    print(f"A: wins {{w}}, draws {{games - w - l}}, losses {{l}}")
    print("plus: illegal moves 0, time losses 0, crashes/hangs 0; moves 80")
    lost = 1 if args[args.index("--book-start") + 1] == "4" else 0
    print(f"minus: illegal moves 0, time losses {{lost}}, crashes/hangs 0; moves 80")
""")

PARAMS = "Up, int, 50, 0, 100, 5, 0.05\nDown, int, 50, 0, 100, 5, 0.05\n"


class Driver(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        d = self.dir.name
        self.referee = os.path.join(d, "referee.py")
        with open(self.referee, "w") as f:
            f.write(REFEREE)
        self.params = os.path.join(d, "params.txt")
        with open(self.params, "w") as f:
            f.write("noise before the lines\n" + PARAMS)
        # A stand-in tune build: its "spsa" lists the values the driver may tune.
        self.engine = os.path.join(d, "engine")
        with open(self.engine, "w") as f:
            f.write(f"#!{sys.executable}\nprint({PARAMS!r})\n")
        os.chmod(self.engine, 0o755)
        self.book = os.path.join(d, "book.epd")
        with open(self.book, "w") as f:
            f.write("\n".join(["8/8/8/8/8/8/8/K6k w - -"] * 50) + "\n")

    def tearDown(self):
        self.dir.cleanup()

    def run_driver(self, state, *extra, params=None):
        cmd = [sys.executable, DRIVER, "--engine", self.engine, *(["--params", params] if params else []),
               "--referee", self.referee, "--book", self.book, "--state", state, "--nodes", "1000",
               "--iterations", "40", "--pairs", "2", *extra]
        return subprocess.run(cmd, capture_output=True, text=True, timeout=300)

    def run_to_state(self, state, *extra):
        done = self.run_driver(state, *extra)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(state) as f:
            return json.load(f)

    def test_a_value_the_engine_lacks_is_refused(self):
        typo = os.path.join(self.dir.name, "typo.txt")
        with open(typo, "w") as f:
            f.write(PARAMS + "Upp, int, 50, 0, 100, 5, 0.05\n")
        state = os.path.join(self.dir.name, "typo.json")
        done = self.run_driver(state, params=typo)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("Upp", done.stderr)
        self.assertFalse(os.path.exists(state))

    def test_skip_leaves_out_the_engines_values_by_prefix(self):
        state = self.run_to_state(os.path.join(self.dir.name, "skip.json"), "--skip", "Do", "--max-rounds", "1")
        self.assertEqual([p["name"] for p in state["params"]], ["Up"])
        self.assertEqual(list(state["theta"]), ["Up"])

    def test_walks_toward_the_better_values_and_resumes_exactly(self):
        whole = self.run_to_state(os.path.join(self.dir.name, "whole.json"), "--params", self.params)
        self.assertEqual(whole["iteration"], 40)
        self.assertEqual(whole["games"], 40 * 4)
        self.assertGreater(whole["theta"]["Up"], 65)
        self.assertLess(whole["theta"]["Down"], 35)
        with open(os.path.join(self.dir.name, "whole.json.final.txt")) as f:
            final = f.read()
        self.assertIn("games: 160", final)
        self.assertIn("1000 nodes a move", final)
        self.assertIn(f"Up, {round(whole['theta']['Up'])}, 50, 0, 100, 5, 0.05", final)
        # Opening 4 comes round twice (iterations 2 and 27); both faults are counted and kept.
        self.assertEqual(whole["faults"], 2)
        with open(os.path.join(self.dir.name, "whole.json.faults.log")) as f:
            kept = f.read()
        self.assertIn("=== iteration 27: 1 fault(s)", kept)
        self.assertIn("minus: illegal moves 0, time losses 1", kept)

        # Stopped after three rounds, then the same command again.
        parts = os.path.join(self.dir.name, "parts.json")
        first = self.run_to_state(parts, "--max-rounds", "3")
        self.assertEqual(first["iteration"], 6)
        self.assertFalse(os.path.exists(parts + ".final.txt"))
        resumed = self.run_to_state(parts)
        self.assertEqual(resumed["theta"], whole["theta"])
        self.assertEqual(resumed["history"], whole["history"])

        # Each iteration takes the next two openings: 80 pairs over a book of
        # 50, the second pass starting again at its top.
        with open(self.referee + ".log") as f:
            starts = [int(s) for s in f.read().split()]
        self.assertEqual(sorted(set(starts)), list(range(0, 50, 2)))

    def test_schedule_ends_at_c_end_and_r_end(self):
        cfg = {"iterations": 500, "A": 50, "alpha": 0.602, "gamma": 0.101}
        p = spsa.parse_spsa_lines("RfpMargin, int, 65, 30, 130, 5, 0.002")[0]
        self.assertEqual((p["name"], p["start"], p["min"], p["max"]), ("RfpMargin", 65, 30, 130))
        c_last = spsa.c_at(p, 499, cfg)
        self.assertAlmostEqual(c_last, 5)
        self.assertAlmostEqual(spsa.a_at(p, 499, cfg) / c_last ** 2, 0.002)
        self.assertGreater(spsa.c_at(p, 0, cfg), c_last)
        self.assertGreater(spsa.a_at(p, 0, cfg), spsa.a_at(p, 499, cfg))


if __name__ == "__main__":
    unittest.main()
