#!/usr/bin/env bash
# Search speed: the engine's `bench` nodes per second against Debian's
# ethereal-chess `bench`, and optionally against a second build of the engine
# (the build before a change), all run in turn in one call.
# Usage: bench/nps.sh <engine-binary> [baseline-engine-binary] [runs]
#   runs: runs of each program (default 5, at least 3). Prints the median
#   nodes per second of each program and the ratios of the medians, and the
#   median of the two builds' ratios taken run by run.
# Needs /usr/games/ethereal-chess (apt-get install -y ethereal-chess; another
# path with ETHEREAL=...); without it only the engine builds are compared.
set -euo pipefail

engine=${1:?usage: bench/nps.sh <engine-binary> [baseline-engine-binary] [runs]}
baseline=${2:-}
runs=${3:-5}
ethereal=${ETHEREAL:-/usr/games/ethereal-chess}
if [ "$runs" -lt 3 ]; then runs=3; fi

# The engine prints "<nodes> nodes <nps> nps" last; its timing covers the
# searches only, not the start-up.
engine_run() {
  "$1" bench 2>/dev/null | awk '/ nodes [0-9]+ nps$/ { n = $1; r = $3 } END { print n + 0, r + 0 }'
}

# Ethereal prints "Nodes : N" and "NPS   : R" after its bench.
ethereal_run() {
  "$ethereal" bench 2>/dev/null | awk '/^Nodes *:/ { n = $3 } /^NPS *:/ { r = $3 } END { print n + 0, r + 0 }'
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

have_ethereal=0
[ -x "$ethereal" ] && have_ethereal=1
[ -n "$baseline" ] && [ ! -x "$baseline" ] && { echo "no such program: $baseline" >&2; exit 2; }

a_nps=() b_nps=() e_nps=() pair_ratios=()
a_nodes="" b_nodes="" e_nodes=""
run_engine() { read -r a_nodes r < <(engine_run "$engine"); a_nps+=("$r"); }
run_baseline() { if [ -n "$baseline" ]; then read -r b_nodes r < <(engine_run "$baseline"); b_nps+=("$r"); fi; }
run_ethereal() { if [ "$have_ethereal" -eq 1 ]; then read -r e_nodes r < <(ethereal_run); e_nps+=("$r"); fi; }
# The programs take turns, so a load that comes and goes on the machine
# touches all of them alike; the order turns round every run, so that none
# always follows the same one.
for i in $(seq "$runs"); do
  case $((i % 3)) in
    1) run_engine; run_baseline; run_ethereal ;;
    2) run_baseline; run_ethereal; run_engine ;;
    0) run_ethereal; run_engine; run_baseline ;;
  esac
  [ -n "$baseline" ] && pair_ratios+=("$(awk -v a="${a_nps[-1]}" -v b="${b_nps[-1]}" 'BEGIN { print a / b }')")
  printf 'run %d/%d: engine %s nps%s%s\n' "$i" "$runs" "${a_nps[-1]}" "${baseline:+, baseline ${b_nps[-1]:-} nps}" \
    "$([ "$have_ethereal" -eq 1 ] && echo ", ethereal ${e_nps[-1]} nps")" >&2
done

a_med=$(printf '%s\n' "${a_nps[@]}" | median)
printf '%-10s %10s nodes  median %10.0f nps  (%s)\n' engine "$a_nodes" "$a_med" "$engine"
if [ -n "$baseline" ]; then
  b_med=$(printf '%s\n' "${b_nps[@]}" | median)
  printf '%-10s %10s nodes  median %10.0f nps  (%s)\n' baseline "$b_nodes" "$b_med" "$baseline"
fi
if [ "$have_ethereal" -eq 1 ]; then
  e_med=$(printf '%s\n' "${e_nps[@]}" | median)
  printf '%-10s %10s nodes  median %10.0f nps  (%s)\n' ethereal "$e_nodes" "$e_med" "$ethereal"
fi
if [ -n "$baseline" ]; then
  awk -v a="$a_med" -v b="$b_med" 'BEGIN { printf "ratio engine/baseline: %.3f\n", a / b }'
  printf 'median of the per-run ratios engine/baseline: %.3f\n' "$(printf '%s\n' "${pair_ratios[@]}" | median)"
  if [ "$a_nodes" != "$b_nodes" ]; then echo "WARNING: the two builds count different nodes" >&2; fi
fi
if [ "$have_ethereal" -eq 1 ]; then
  awk -v a="$a_med" -v e="$e_med" 'BEGIN { printf "ratio engine/ethereal: %.3f\n", a / e }'
  [ -n "$baseline" ] && awk -v a="$b_med" -v e="$e_med" 'BEGIN { printf "ratio baseline/ethereal: %.3f\n", a / e }'
fi
exit 0
