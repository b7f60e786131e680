#!/usr/bin/env bash
# State a newcomer has to hunt for grows one global at a time: the core
# library may export at most LIMIT mutable variables (nm's B and D symbols,
# start-up tables included). New state belongs in an existing object (the
# search control, the thread pool, the table, the game state, a registry).
# Usage: mutable_symbols.sh LIBRARY
set -euo pipefail
LIMIT=25
library=${1:?usage: mutable_symbols.sh LIBRARY}
command -v nm >/dev/null || { echo "nm is missing: apt-get install binutils"; exit 1; }

listing=$(nm -C --defined-only "$library" 2>/dev/null || true)
# Objects compiled for link-time optimisation only may list no code: nothing
# to count then.
if ! grep -qE ' [Tt] ' <<<"$listing"; then
  echo "nm lists no code in $library (link-time optimisation?): skipped"
  exit 77
fi
# Names that start with "__" are the compiler's and the sanitizers' own
# (ASan's ODR indicators, one per global).
symbols=$(printf '%s\n' "$listing" | awk '($2 == "B" || $2 == "D") && $3 !~ /^__/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }' | sort -u)
count=$(printf '%s' "$symbols" | grep -c . || true)
if [ "$count" -gt "$LIMIT" ]; then
  echo "$count mutable variables exported, at most $LIMIT allowed:"
  printf '%s\n' "$symbols"
  exit 1
fi
echo "$count mutable variables exported (at most $LIMIT)"
