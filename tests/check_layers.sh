#!/usr/bin/env bash
# Every #include in src/ must point to the same layer or one below it, and the
# include graph must have no cycle. The layer order is written out once, here,
# from the bottom up; folders on one line may not include each other's later
# entries (the order within a line is the allowed direction).
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
LAYERS=(
  "board"
  "format nnue eval movegen tablebase"
  "train"
  "search"
  "engine"
  "datagen"
  "tuner uci"
)
declare -A rank
n=0
for line in "${LAYERS[@]}"; do
  for folder in $line; do rank[$folder]=$n; n=$((n + 1)); done
done

fail=0
pairs=$(mktemp)
trap 'rm -f "$pairs"' EXIT
cd "$src"
while IFS= read -r file; do
  from=${file%%/*}
  [ "$from" = "$file" ] && from=""   # main.cpp sits above every layer
  while IFS= read -r inc; do
    to=${inc%%/*}
    echo "$file $inc" >>"$pairs"
    [ -z "$from" ] && continue
    if [ -z "${rank[$to]+x}" ]; then
      echo "$file: includes \"$inc\" from a folder outside the layers"; fail=1
    elif [ "${rank[$to]}" -gt "${rank[$from]}" ]; then
      echo "$file: includes \"$inc\", a higher layer"; fail=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' -o -name '*.inc' | sed 's|^\./||' | sort)

if ! tsort "$pairs" >/dev/null 2>"$pairs.err"; then
  echo "include cycle:"; cat "$pairs.err"; fail=1
fi
rm -f "$pairs.err"
[ "$fail" -eq 0 ] && echo "includes point down: $(wc -l <"$pairs") includes checked"
exit "$fail"
