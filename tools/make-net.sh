#!/usr/bin/env bash
# Makes a net from nothing: self-play data, training, the quantised net file,
# each from the seeds and flags written below, so that a net can be made
# again. The values below are those of the committed default net
# (nets/README.md). Every value can be overridden from the environment:
#   DATA_POSITIONS=2000000 EPOCHS=10 bash tools/make-net.sh
# The run writes NET, NET.ckpt, and NET.log: the commands and what they
# printed, the provenance for nets/README.md. An interrupted run continues
# where it stopped when started again with the same values (datagen and the
# trainer both resume); started with other values over the same files, both
# refuse with a line naming the difference (the file and the checkpoint
# record what made them).
set -euo pipefail
cd "$(dirname "$0")/.."

# ---- data: the engine's self-play (see docs/training-data.md)
DATA=${DATA:-gen/selfplay.bin}
DATA_POSITIONS=${DATA_POSITIONS:-10000000}
DATA_GAMES=${DATA_GAMES-}    # if not empty, the file is the first DATA_GAMES games instead
DATA_SEED=${DATA_SEED:-1}
DATA_THREADS=${DATA_THREADS:-2}
DATA_FLAGS=${DATA_FLAGS:---nodes 5000 --random-plies 8}   # any further datagen flags
# ---- training (dravlin-train --help)
NET=${NET:-gen/dravlin.nnue}
TRAIN_SEED=${TRAIN_SEED:-1}
TRAIN_THREADS=${TRAIN_THREADS:-2}
HIDDEN=${HIDDEN:-64}
EPOCHS=${EPOCHS:-16}
LAMBDA=${LAMBDA:-0.75}
K=${K:-fit}            # the loss's score scale (centipawns), or "fit"
# The committed net was written before the export fitted the output bias.
TRAIN_FLAGS=${TRAIN_FLAGS:---bias-positions 0}   # e.g. --activation crelu --lr-drop 12 --val-fraction 0.05
# ---- build
BUILD=${BUILD:-build}

log=$NET.log
mkdir -p "$(dirname "$DATA")" "$(dirname "$NET")"
say() { echo "$*" | tee -a "$log" >&2; }
# Runs a command with its output on the terminal and in the log, the
# progress lines (PATTERN) on the terminal only; returns its status.
logged() {
  local pattern=$1; shift
  set +e
  "$@" 2>&1 | tee >(grep --line-buffered -v -- "$pattern" >>"$log") >&2
  local status=${PIPESTATUS[0]}
  set -e
  return "$status"
}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target dravlin dravlin-train >/dev/null
say "== $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git describe --always --dirty 2>/dev/null || echo unknown)"

# shellcheck disable=SC2086  # the flag lists are meant to split
if [ -n "$DATA_GAMES" ]; then size=(--games "$DATA_GAMES"); else size=(--positions "$DATA_POSITIONS"); fi
datagen=("$BUILD/dravlin" datagen --out "$DATA" "${size[@]}" --threads "$DATA_THREADS"
  --seed "$DATA_SEED" $DATA_FLAGS)
[ -f "$DATA" ] && datagen+=(--resume)
say "data: ${datagen[*]}"
logged ' left$' "${datagen[@]}" || { say "datagen failed"; exit 1; }

# shellcheck disable=SC2086
train=("$BUILD/dravlin-train" "$DATA" --out "$NET" --seed "$TRAIN_SEED" --threads "$TRAIN_THREADS"
  --hidden "$HIDDEN" --epochs "$EPOCHS" --lambda "$LAMBDA" --k "$K" $TRAIN_FLAGS)
[ -f "$NET.ckpt" ] && train+=(--resume)
say "train: ${train[*]}"
logged '^  epoch' "${train[@]}" || { say "training failed"; exit 1; }

say "net: $NET ($(stat -c %s "$NET") bytes, sha256 $(sha256sum "$NET" | cut -c1-16))"
say "the provenance for nets/README.md is in $log"
