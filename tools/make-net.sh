#!/usr/bin/env bash
# Makes a net from nothing: self-play data, training, the quantised net file,
# each from the seeds and flags written below, so that a net can be made
# again. The values below are those of the committed default net, generation
# 2 (nets/README.md): trained on data searched by generation 1b and on
# generation 1b's own data. When DATA_NET does not exist yet, the script first
# makes it, and those data, by running itself with generation 1b's values
# (hand-written evaluation in the search). Every value
# can be overridden from the environment:
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
DATA=${DATA:-gen/gen2.bin}
DATA_POSITIONS=${DATA_POSITIONS:-20000000}
DATA_GAMES=${DATA_GAMES-}    # if not empty, the file is the first DATA_GAMES games instead
DATA_SEED=${DATA_SEED:-2}
DATA_THREADS=${DATA_THREADS:-2}
DATA_FLAGS=${DATA_FLAGS:---nodes 5000 --random-plies 8}   # any further datagen flags
DATA_NET=${DATA_NET-gen/gen1b.nnue}   # the net in the data's search; empty: hand-written
DATA_NET_POSITIONS=${DATA_NET_POSITIONS:-10000000}   # its own data, when it is made first
# ---- training (dravlin-train --help)
NET=${NET:-gen/dravlin.nnue}
# DATA_NET's own data, made beside it when it is made first (none without DATA_NET)
DATA_NET_DATA=${DATA_NET:+$(dirname "$DATA_NET")/selfplay-seed1.bin}
TRAIN_MORE_DATA=${TRAIN_MORE_DATA-$DATA_NET_DATA}   # more data files to train on beside DATA
TRAIN_SEED=${TRAIN_SEED:-1}
TRAIN_THREADS=${TRAIN_THREADS:-2}
HIDDEN=${HIDDEN:-128}
EPOCHS=${EPOCHS:-64}
LAMBDA=${LAMBDA:-1.0}
K=${K:-fit}            # the loss's score scale (centipawns), or "fit"
TRAIN_FLAGS=${TRAIN_FLAGS:---buckets 8 --mirror}   # e.g. --activation crelu --lr-drop 12 --val-fraction 0.05
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

if [ -n "$DATA_NET" ] && [ ! -f "$DATA_NET" ]; then
  say "first the net that searches the data: $DATA_NET, generation 1b's values"
  DATA=$DATA_NET_DATA DATA_POSITIONS=$DATA_NET_POSITIONS DATA_GAMES= DATA_SEED=1 \
    DATA_FLAGS="--nodes 5000 --random-plies 8" NET=$DATA_NET DATA_NET= TRAIN_MORE_DATA= \
    HIDDEN=64 EPOCHS=16 LAMBDA=0.75 K=fit TRAIN_FLAGS="--bias-positions 0" bash "$0" ||
    { say "making $DATA_NET failed"; exit 1; }
fi

# A missing file would only be named by the trainer hours later, after the data run; say now how it is made.
for f in $TRAIN_MORE_DATA; do
  [ -f "$f" ] || { say "$f is missing: it is DATA_NET's own data (made with it), or set TRAIN_MORE_DATA"; exit 1; }
done

# shellcheck disable=SC2086  # the flag lists are meant to split
if [ -n "$DATA_GAMES" ]; then size=(--games "$DATA_GAMES"); else size=(--positions "$DATA_POSITIONS"); fi
datagen=("$BUILD/dravlin" datagen --out "$DATA" "${size[@]}" --threads "$DATA_THREADS"
  --seed "$DATA_SEED" $DATA_FLAGS)
[ -n "$DATA_NET" ] && datagen+=(--net "$DATA_NET")
[ -f "$DATA" ] && datagen+=(--resume)
say "data: ${datagen[*]}"
logged ' left$' "${datagen[@]}" || { say "datagen failed"; exit 1; }

# shellcheck disable=SC2086
train=("$BUILD/dravlin-train" "$DATA" $TRAIN_MORE_DATA --out "$NET" --seed "$TRAIN_SEED" --threads "$TRAIN_THREADS"
  --hidden "$HIDDEN" --epochs "$EPOCHS" --lambda "$LAMBDA" --k "$K" $TRAIN_FLAGS)
[ -f "$NET.ckpt" ] && train+=(--resume)
say "train: ${train[*]}"
logged '^  epoch' "${train[@]}" || { say "training failed"; exit 1; }

say "net: $NET ($(stat -c %s "$NET") bytes, sha256 $(sha256sum "$NET" | cut -c1-16))"
say "the provenance for nets/README.md is in $log"
