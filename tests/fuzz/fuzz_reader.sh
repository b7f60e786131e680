#!/usr/bin/env bash
# Fuzzes the training data reader with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer (needs clang). Usage:
#   bash tests/fuzz/fuzz_reader.sh [SECONDS] [SEED_FILE...]
# Seed files (data files, for example from a short datagen run) start the corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
shift || true
command -v clang++ >/dev/null || { echo "clang++ is missing: apt-get install clang"; exit 1; }
out="$root/build-fuzz"
mkdir -p "$out/corpus"
for seed in "$@"; do cp "$seed" "$out/corpus/"; done
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" "$root/tests/fuzz/record_fuzz.cc" "$root/src/format/record.cpp" \
  "$root"/src/board/*.cpp "$root"/src/movegen/*.cpp "$root"/src/eval/*.cpp \
  -o "$out/record_fuzz"
"$out/record_fuzz" -max_total_time="$seconds" -max_len=4096 "$out/corpus"
