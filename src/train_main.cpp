// dravlin-train: trains the network on data files and writes the engine's
// quantised net file. Progress goes to standard error.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/flags.h"
#include "train/data.h"
#include "train/network.h"
#include "train/trainer.h"

namespace {

const char USAGE[] =
    "usage: dravlin-train [options] DATAFILE...\n"
    "  --out PATH           net file to write (default dravlin.nnue)\n"
    "  --checkpoint PATH    written after every epoch (default OUT.ckpt; 'none': never)\n"
    "  --resume             continue from the checkpoint with its options (same data; an option\n"
    "                       given must equal the checkpoint's, --threads excepted)\n"
    "  --more-epochs N      with --resume: N epochs beyond the checkpoint's run, at the\n"
    "                       schedule's last rate\n"
    "  --epochs N           total epochs of the run (default 20)\n"
    "  --batch N            positions per step (default 16384)\n"
    "  --threads N          (default 2)\n"
    "  --hidden H           hidden width: 32, 64, 128, 256 or 512 (default 256)\n"
    "  --activation A       screlu or crelu (default screlu)\n"
    "  --buckets B          output layers by the men on the board: 1 or 8 (default 1)\n"
    "  --mirror             each view sees the board flipped left to right while its king\n"
    "                       stands on files e-h (a version-3 net)\n"
    "  --lambda L           weight of the score against the result in the target (default 0.75)\n"
    "  --k K|fit            score scale of the loss, in centipawns (default fit: the one that\n"
    "                       best predicts the training positions' results)\n"
    "  --lr X               learning rate (default 0.001)\n"
    "  --lr-drop E          first epoch at lr * gamma (default: the last quarter)\n"
    "  --lr-gamma G         (default 0.1)\n"
    "  --cosine             cosine schedule from lr down to lr * gamma instead of the step\n"
    "  --weight-decay W     AdamW's decoupled decay (default 0.01)\n"
    "  --seed S             initial weights and shuffling (default 1)\n"
    "  --val-fraction F     share of the games held back for validation (default 0.05)\n"
    "  --val-seed S         which games those are (default 1)\n"
    "  --keep-check         keep positions in check\n"
    "  --keep-noisy         keep positions whose move played captures or promotes\n"
    "  --keep-decided       keep mate and tablebase scores\n"
    "  --max-positions N    read no more than N positions (default: all)\n"
    "  --max-opening-score S  leave out games whose first position scores beyond +-S\n"
    "  --skip-damaged       skip a damaged game in the data and go on (default: stop)\n"
    "  --save-epochs        also write OUT-eN.nnue after every epoch N\n"
    "  --gap-positions N    validation positions for the float/engine gap (default 100000)\n"
    "  --bias-positions N   training positions on which each output bias is fitted, so that\n"
    "                       the quantised net's mean score is the float net's (default 32768;\n"
    "                       0: the rounded biases, as nets were written before)\n";

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "dravlin-train: %s\n", message.c_str());
  std::exit(1);
}

// Flags that cannot be used: the status every tool gives them.
[[noreturn]] void badFlag(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::exit(FLAG_ERROR_STATUS);
}

std::string duration(double seconds) {
  const long s = std::lround(seconds);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, s / 60 % 60);
  else if (s >= 60)
    std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lds", s);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  train::trainOptions opt;
  train::loadOptions load;
  std::string out = "dravlin.nnue", checkpoint;
  bool resume = false, saveEpochs = false;
  int moreEpochs = 0;
  double gapPositions = 100000;
  double biasPositions = 32768;
  std::vector<std::string> files;
  // The training options the command line sets: a resumed run takes the
  // others from its checkpoint.
  std::set<std::string> given;
  const std::vector<std::string> args(argv + 1, argv + argc);
  flagReader r("dravlin-train", args, "dravlin-train --help");
  while (!r.done()) {
    const std::string a = r.flag();
    given.insert(a);
    double x = 0;
    i64 n = 0;
    std::string v;
    bool ok = true;
    if (a == "-h" || a == "--help") {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (a == "--out") {
      ok = r.text(out);
    } else if (a == "--checkpoint") {
      ok = r.text(checkpoint);
    } else if (a == "--resume") {
      resume = true;
    } else if (a == "--more-epochs") {
      ok = r.number(1, 100000, n);
      moreEpochs = int(n);
    } else if (a == "--epochs") {
      ok = r.number(0, 100000, n);
      opt.epochs = int(n);
    } else if (a == "--batch") {
      ok = r.number(1, 1 << 24, n);
      opt.batch = int(n);
    } else if (a == "--threads") {
      ok = r.number(1, 256, n);
      opt.threads = int(n);
    } else if (a == "--hidden") {
      ok = r.number(1, nnue::MAX_HIDDEN, n) && nnue::supportedWidth(n);
      if (!ok && r.error().empty()) badFlag("dravlin-train: --hidden is " + nnue::supportedWidthsText());
      opt.hidden = int(n);
    } else if (a == "--buckets") {
      ok = r.number(1, nnue::OUTPUT_BUCKETS, n);
      if (ok && n != 1 && n != nnue::OUTPUT_BUCKETS)
        badFlag("dravlin-train: --buckets is 1 or " + std::to_string(nnue::OUTPUT_BUCKETS));
      opt.buckets = int(n);
    } else if (a == "--activation") {
      ok = r.text(v);
      if (v == "screlu") opt.act = nnue::SCRELU;
      else if (v == "crelu") opt.act = nnue::CRELU;
      else if (ok) badFlag("dravlin-train: --activation is screlu or crelu, not '" + v + "'");
    } else if (a == "--lambda") {
      ok = r.real(0, 1, x);
      opt.loss.lambda = float(x);
    } else if (a == "--k") {
      ok = r.text(v);
      opt.kFitted = v == "fit";
      if (ok && !opt.kFitted) {
        // The word again, as a number.
        const std::vector<std::string> one = {"--k", v};
        flagReader k("dravlin-train", one);
        k.flag();
        ok = k.real(1, 100000, x);
        if (!ok) badFlag(k.error() + " (or 'fit')");
        opt.loss.k = float(x);
      }
    } else if (a == "--lr") {
      ok = r.real(0, 1, x);
      opt.lr = float(x);
    } else if (a == "--lr-drop") {
      ok = r.number(1, 100000, n);
      opt.lrDrop = int(n);
    } else if (a == "--lr-gamma") {
      ok = r.real(0, 1, x);
      opt.lrGamma = float(x);
    } else if (a == "--cosine") {
      opt.cosine = true;
    } else if (a == "--weight-decay") {
      ok = r.real(0, 1, x);
      opt.weightDecay = float(x);
    } else if (a == "--seed") {
      ok = r.number(0, INT64_MAX, n);
      opt.seed = u64(n);
    } else if (a == "--val-fraction") {
      ok = r.real(0, 0.9, load.validationFraction);
    } else if (a == "--val-seed") {
      ok = r.number(0, INT64_MAX, n);
      load.validationSeed = u64(n);
    } else if (a == "--mirror") {
      opt.mirrored = true;
    } else if (a == "--keep-check") {
      load.dropInCheck = false;
    } else if (a == "--keep-noisy") {
      load.dropNoisy = false;
    } else if (a == "--keep-decided") {
      load.dropDecided = false;
    } else if (a == "--max-positions") {
      ok = r.number(1, INT64_MAX, n);
      load.maxPositions = u64(n);
    } else if (a == "--max-opening-score") {
      ok = r.number(1, 32000, n);
      load.maxOpeningScore = int(n);
    } else if (a == "--skip-damaged") {
      load.skipDamaged = true;
    } else if (a == "--save-epochs") {
      saveEpochs = true;
    } else if (a == "--gap-positions") {
      ok = r.number(0, INT64_MAX, n);
      gapPositions = double(n);
    } else if (a == "--bias-positions") {
      ok = r.number(0, INT64_MAX, n);
      biasPositions = double(n);
    } else if (a.size() > 1 && a[0] == '-') {
      ok = r.unknown();
    } else {
      files.push_back(a);
    }
    if (!ok) badFlag(r.error());
  }
  if (files.empty()) {
    std::fputs(USAGE, stderr);
    return FLAG_ERROR_STATUS;
  }
  if (checkpoint.empty()) checkpoint = out + ".ckpt";
  if (checkpoint == "none") {
    if (resume) badFlag("dravlin-train: --resume needs a checkpoint");
    checkpoint.clear();
  }
  if (moreEpochs && !resume) badFlag("dravlin-train: --more-epochs continues a checkpoint's run: it needs --resume");

  // Before the data are read: a run must not find out at its end that it
  // cannot write its net.
  std::string error;
  if (!train::checkOutputPaths(out, checkpoint, saveEpochs, error)) fail(error);
  if (resume) {
    train::checkpointInfo stored;
    std::vector<std::string> notes;
    if (!train::readCheckpointInfo(checkpoint, stored, error) ||
        !train::resumeOptions(opt, given, stored, moreEpochs, opt, notes, error))
      fail(error);
    for (const std::string& n : notes) std::fprintf(stderr, "%s\n", n.c_str());
    if (stored.epochsDone >= opt.epochs)
      std::fprintf(stderr, "the checkpoint's run has done its %d epochs; --more-epochs N trains longer\n", opt.epochs);
  }

  initAttackTables();
  initKeys();

  // ---- data
  const auto loadStart = std::chrono::steady_clock::now();
  std::vector<train::sample> training, validation;
  train::loadStats stats;
  if (!train::loadTrainingData(files, load, training, validation, stats, error)) fail(error);
  for (const std::string& n : stats.notes) std::fprintf(stderr, "dravlin-train: %s\n", n.c_str());
  if (stats.skippedGames > 0)
    std::fprintf(stderr, "dravlin-train: skipped %llu damaged games (%llu bytes)\n",
                 (unsigned long long)stats.skippedGames, (unsigned long long)stats.skippedBytes);
  std::fprintf(stderr,
               "data: %llu games, %llu positions; dropped %llu in check, %llu noisy, %llu decided; "
               "training %zu positions, validation %zu positions from %llu games (%.1f s)\n",
               (unsigned long long)stats.games, (unsigned long long)stats.records, (unsigned long long)stats.inCheck,
               (unsigned long long)stats.noisy, (unsigned long long)stats.decided, training.size(), validation.size(),
               (unsigned long long)stats.validationGames,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count());
  if (stats.openingGames)
    std::fprintf(stderr, "dravlin-train: left out %llu games whose first position scores beyond +-%d\n",
                 (unsigned long long)stats.openingGames, load.maxOpeningScore);
  if (training.empty()) fail("no training positions");
  if (training.size() > 0xFFFFFFFFull) fail("more than 2^32 training positions");
  // Printed either way: far from --k, the result part of the target pulls the
  // net off the scores' scale. A resumed run keeps the checkpoint's.
  if (!resume) {
    const float fitted = train::fitScoreScale(training);
    if (opt.kFitted) opt.loss.k = fitted;
    std::fprintf(stderr, "k: %.0f fits the scores to the results; the loss uses %.0f\n", fitted, opt.loss.k);
  }

  // ---- training
  train::trainer t(opt, training, validation);
  if (resume && !t.loadCheckpoint(checkpoint, error)) fail(error);
  std::fprintf(stderr, "net: 768x2%s -> %d (%s) -> 1 (%d output layers); lambda %.2f, k %.0f, batch %d, %d threads, lr %g\n",
               opt.mirrored ? " mirrored" : "", opt.hidden, opt.act == nnue::SCRELU ? "screlu" : "crelu", opt.buckets, opt.loss.lambda, opt.loss.k, opt.batch, opt.threads, opt.lr);
  double epochSeconds = 0;
  int timed = 0, bestEpoch = 0;
  double bestValidation = 0;
  while (t.epochsDone < opt.epochs) {
    const auto start = std::chrono::steady_clock::now();
    auto lastNote = start;
    const int epoch = t.epochsDone + 1;
    train::epochReport r = t.runEpoch([&](double done) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastNote < std::chrono::seconds(15) || done >= 1) return;
      lastNote = now;
      const double spent = std::chrono::duration<double>(now - start).count();
      std::fprintf(stderr, "  epoch %d: %.0f%%, %.0f positions/s, %s to the epoch's end\n", epoch, 100 * done,
                   done * double(training.size()) / spent, duration(spent / done - spent).c_str());
    });
    epochSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++timed;
    if (!validation.empty() && (bestEpoch == 0 || r.validationLoss < bestValidation)) {
      bestEpoch = r.epoch;
      bestValidation = r.validationLoss;
    }
    char validationText[32] = "-";
    if (!validation.empty()) std::snprintf(validationText, sizeof validationText, "%.6f", r.validationLoss);
    std::fprintf(stderr, "epoch %d/%d  train %.6f  validation %s  lr %.2g  %.0f positions/s  %s  left %s\n", r.epoch,
                 opt.epochs, r.trainLoss, validationText, r.lr, r.positionsPerSecond, duration(r.seconds).c_str(),
                 duration(epochSeconds / timed * (opt.epochs - t.epochsDone)).c_str());
    if (!checkpoint.empty() && !t.saveCheckpoint(checkpoint, error)) fail(error);
    if (saveEpochs) {
      const std::vector<i32> shift = train::fitOutputBias(t.net, training, std::size_t(biasPositions));
      if (!train::writeNetFile(t.net, train::epochNetPath(out, r.epoch), error, shift)) fail(error);
    }
  }
  if (bestEpoch)
    std::fprintf(stderr, "lowest validation loss of this run %.6f, after epoch %d\n", bestValidation, bestEpoch);

  // ---- export
  const std::vector<i32> shift = train::fitOutputBias(t.net, training, std::size_t(biasPositions));
  if (!shift.empty() && biasPositions >= 1) {
    std::string moved;
    for (i32 v : shift) moved += (moved.empty() ? "" : " ") + std::to_string(std::lround(double(v) * nnue::SCALE / (nnue::QA * nnue::QB)));
    std::fprintf(stderr, "output bias%s moved by %s cp: the quantised net's mean score on %zu training positions is the float net's\n",
                 shift.size() > 1 ? "es" : "", moved.c_str(), std::min(training.size(), std::size_t(biasPositions)));
  }
  if (!train::writeNetFile(t.net, out, error, shift)) fail(error);
  std::fprintf(stderr, "wrote %s (hidden %d, %s, %d output layer%s%s)\n", out.c_str(), opt.hidden,
               opt.act == nnue::SCRELU ? "screlu" : "crelu", opt.buckets, opt.buckets == 1 ? "" : "s",
               opt.mirrored ? ", mirrored" : "");
  if (gapPositions < 1) return 0;
  const auto gapStart = std::chrono::steady_clock::now();
  auto gapNote = gapStart;
  const train::quantisationGap gap = train::measureGap(
      t.net, train::netFileBytes(t.net, shift), validation.empty() ? training : validation, std::size_t(gapPositions),
      [&](double done) {
        const auto now = std::chrono::steady_clock::now();
        if (now - gapNote < std::chrono::seconds(15) || done >= 1) return;
        gapNote = now;
        const double spent = std::chrono::duration<double>(now - gapStart).count();
        std::fprintf(stderr, "  float/engine gap: %.0f%%, %s to go\n", 100 * done, duration(spent / done - spent).c_str());
      });
  if (!gap.error.empty())
    std::fprintf(stderr, "float/engine gap not measured: the engine refuses the net: %s\n", gap.error.c_str());
  else
    std::fprintf(stderr, "float/engine gap over %zu %s positions: mean %.2f cp, largest %.1f cp, offset %+.2f cp\n",
                 gap.positions, validation.empty() ? "training" : "validation", gap.mean, gap.largest, gap.offset);
  return 0;
}
