#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "train/network.h"
#include "board/random.h"
#include "train/trainer.h"
#include "train/positions.h"

using namespace train;

TEST(Train, GradientMatchesFiniteDifferences) {
  const std::vector<sample> positions = randomGamePositions(4, 7);
  const float h = 1e-3f;
  for (nnue::activation act : {nnue::SCRELU, nnue::CRELU}) {
    floatNet net;
    initNet(net, 16, act, 11);
    // Larger weights than at the start, so that the output layer and both
    // bends of the activation are in play.
    splitMix rng{3};
    for (float& p : net.params) p += 0.15f * rng.symmetric();
    // Positions none of whose accumulators lies within 2h of a bend (0 or
    // 1): a step of h across one would make the estimate meaningless there.
    std::vector<sample> few;
    for (const sample& s : positions) {
      int fStm[MAX_PIECES], fOther[MAX_PIECES];
      const int n = sampleFeatures(s, fStm, fOther);
      bool clear = true;
      for (int i = 0; i < 16; ++i) {
        double a = net.params[net.b1Offset() + i], o = a;
        for (int k = 0; k < n; ++k) {
          a += net.params[std::size_t(fStm[k]) * 16 + i];
          o += net.params[std::size_t(fOther[k]) * 16 + i];
        }
        for (double v : {a, o}) clear = clear && std::abs(v) > 2 * h && std::abs(v - 1) > 2 * h;
      }
      if (clear && few.size() < 8) few.push_back(s);
    }
    ASSERT_EQ(few.size(), 8u);
    const lossShape shape{0.6f, 250.0f};
    std::vector<float> grad(net.size()), scratch(4 * 16);
    addGradient(net, few.data(), nullptr, few.size(), shape, 1.0f, grad.data(), scratch.data());

    // Every output parameter and bias, and rows of features active in
    // either view.
    std::vector<std::size_t> checked;
    for (std::size_t i = net.b1Offset(); i < net.size(); ++i) checked.push_back(i);
    int fStm[MAX_PIECES], fOther[MAX_PIECES];
    for (const sample& s : few) {
      const int n = sampleFeatures(s, fStm, fOther);
      for (int k = 0; k < n; k += 5)
        for (int i = 0; i < 16; i += 3) {
          checked.push_back(std::size_t(fStm[k]) * 16 + i);
          checked.push_back(std::size_t(fOther[k]) * 16 + i);
        }
    }
    int compared = 0;
    for (std::size_t i : checked) {
      const float kept = net.params[i];
      net.params[i] = kept + h;
      const double up = sumLoss(net, few.data(), nullptr, few.size(), shape);
      net.params[i] = kept - h;
      const double down = sumLoss(net, few.data(), nullptr, few.size(), shape);
      net.params[i] = kept;
      const double estimate = (up - down) / (2 * h);
      if (std::abs(estimate) < 1e-4 && std::abs(grad[i]) < 1e-4) continue;
      ++compared;
      EXPECT_NEAR(grad[i], estimate, 0.02 * std::max(std::abs(estimate), double(std::abs(grad[i]))) + 2e-5)
          << "parameter " << i << (act == nnue::SCRELU ? " screlu" : " crelu");
    }
    EXPECT_GT(compared, 300);
  }
}

// Output weights on the side to move's half alone: a feature of the side to
// move's view (and not of the other's) moves the output and takes a
// gradient, one of the other view alone does neither. The engine reads the
// halves in this order; the two views swapped in both passes would still
// learn, so no loss can tell.
TEST(Train, TheSideToMovesHalfComesFirst) {
  const sample s = randomGamePositions(1, 3).at(5);
  int fStm[MAX_PIECES], fOther[MAX_PIECES];
  const int n = sampleFeatures(s, fStm, fOther);
  auto in = [n](const int* list, int f) { return std::find(list, list + n, f) != list + n; };
  int mine = -1, theirs = -1;
  for (int k = 0; k < n; ++k) {
    if (mine < 0 && !in(fOther, fStm[k])) mine = fStm[k];
    if (theirs < 0 && !in(fStm, fOther[k])) theirs = fOther[k];
  }
  ASSERT_TRUE(mine >= 0 && theirs >= 0);

  const int hidden = 16;
  floatNet net;
  initNet(net, hidden, nnue::SCRELU, 1);
  std::fill(net.params.begin(), net.params.end(), 0.0f);
  std::fill_n(net.params.begin() + net.b1Offset(), hidden, 0.5f);
  std::fill_n(net.params.begin() + net.w2Offset(), hidden, 1.0f);
  const float base = netOutput(net, s);
  auto withRow = [&](int feature) {
    floatNet bumped = net;
    std::fill_n(bumped.params.begin() + std::size_t(feature) * hidden, hidden, 0.25f);
    return netOutput(bumped, s);
  };
  EXPECT_GT(withRow(mine), base + 1.0f);
  EXPECT_EQ(withRow(theirs), base);

  std::vector<float> grad(net.size()), scratch(4 * hidden);
  addGradient(net, &s, nullptr, 1, lossShape{0.75f, 400.0f}, 1.0f, grad.data(), scratch.data());
  EXPECT_NE(grad[std::size_t(mine) * hidden], 0.0f);
  EXPECT_EQ(grad[std::size_t(theirs) * hidden], 0.0f);
}

// Results drawn so that sigmoid(score / 150) is their expectation: the fit
// must find 150, not a scale off by a factor (a score or result on the wrong
// side, or a result read as 0..1 instead of 0..2).
TEST(Train, FitsTheScoreScaleToTheResults) {
  std::vector<sample> positions(400000);
  splitMix rng{3};
  for (sample& s : positions) {
    s.score = i16(1200 * rng.symmetric());
    const double win = 1 / (1 + std::exp(-s.score / 150.0)), u = 0.5 * (rng.symmetric() + 1);
    const double draw = 0.8 * std::min(win, 1 - win);  // draws keep the expectation
    s.result = u < win - draw / 2 ? 2 : u < win + draw / 2 ? 1 : 0;
  }
  EXPECT_NEAR(fitScoreScale(positions), 150.0, 6.0);
}

// The net must learn the hand-written evaluation from the pieces alone. It
// learns from positions with White to move and is judged on positions with
// Black to move; with equal material their scores are the piece-square
// terms. Only if each view is flipped and recoloured right do those look
// like what it learnt. (A view left unflipped still brings the loss to about
// half its start, so the bar is a tenth.) Which half of the output weights
// the side to move's view meets, the float net cannot tell by learning:
// TheSideToMovesHalfComesFirst checks that.
TEST(Train, LearnsTheHandWrittenEvaluation) {
  const std::vector<sample> training = randomGamePositions(1500, 1, {WHITE, true});
  const std::vector<sample> heldOut = randomGamePositions(300, 2, {BLACK, true});
  trainOptions o;
  o.hidden = 32;
  o.loss.lambda = 1.0f;
  o.batch = 256;
  o.epochs = 12;
  o.lr = 5e-3f;
  o.threads = 2;
  trainer t(o, training, heldOut);
  const double before = t.meanLoss(heldOut);
  epochReport r;
  for (int e = 0; e < o.epochs; ++e) r = t.runEpoch();
  std::printf("%zu positions, held-out loss %.6f -> %.6f\n", training.size(), before, r.validationLoss);
  EXPECT_LT(r.validationLoss, 0.1 * before);
}

// Two epochs in one run, or one, a checkpoint, a new trainer and one more:
// the same weights to the bit.
TEST(Train, ResumedRunEqualsUnbrokenRun) {
  const std::vector<sample> training = randomGamePositions(60, 5), validation = randomGamePositions(10, 6);
  trainOptions o;
  o.hidden = 16;
  o.batch = 100;
  o.epochs = 2;
  o.cosine = true;
  const std::string path = testing::TempDir() + "resume_test.ckpt";
  trainer whole(o, training, validation);
  whole.runEpoch();
  whole.runEpoch();

  std::string error;
  {
    trainer first(o, training, validation);
    first.runEpoch();
    ASSERT_TRUE(first.saveCheckpoint(path, error)) << error;
  }
  trainer second(o, training, validation);
  ASSERT_TRUE(second.loadCheckpoint(path, error)) << error;
  EXPECT_EQ(second.epochsDone, 1);
  second.runEpoch();
  EXPECT_TRUE(second.net.params == whole.net.params);

  // Other data is refused.
  const std::vector<sample> other(training.begin() + 1, training.end());
  trainer stranger(o, other, validation);
  EXPECT_FALSE(stranger.loadCheckpoint(path, error));
  EXPECT_NE(error.find("other training data"), std::string::npos) << error;
  std::remove(path.c_str());
}

namespace {

// A checkpoint written after `epochs` epochs of a run with options `o`.
checkpointInfo checkpointAfter(const trainOptions& o, int epochs, const std::vector<sample>& training,
                               const std::vector<sample>& validation, const std::string& path) {
  trainer t(o, training, validation);
  for (int e = 0; e < epochs; ++e) t.runEpoch();
  std::string error;
  checkpointInfo info;
  EXPECT_TRUE(t.saveCheckpoint(path, error)) << error;
  EXPECT_TRUE(readCheckpointInfo(path, info, error)) << error;
  return info;
}

}  // namespace

// Every option travels in the checkpoint: a resume that gives none runs on
// the stored ones; one that gives another value is refused by name, with
// both values. The threads alone may change, said aloud.
TEST(Train, ResumedRunKeepsTheCheckpointsOptions) {
  const std::vector<sample> training = randomGamePositions(20, 5), validation = randomGamePositions(4, 6);
  trainOptions o;  // none of them the default
  o.hidden = 32;
  o.act = nnue::CRELU;
  o.epochs = 3;
  o.batch = 70;
  o.threads = 1;
  o.loss = {0.6f, 137.25f};
  o.kFitted = true;
  o.lr = 2e-3f;
  o.lrDrop = 2;
  o.lrGamma = 0.3f;
  o.cosine = true;
  o.weightDecay = 0.02f;
  o.seed = 7;
  const std::string path = testing::TempDir() + "options_test.ckpt";
  const checkpointInfo info = checkpointAfter(o, 1, training, validation, path);
  EXPECT_EQ(info.epochsDone, 1);

  const trainOptions cli;  // the defaults, as from a bare "--resume"
  trainOptions r;
  std::vector<std::string> notes;
  std::string error;
  ASSERT_TRUE(resumeOptions(cli, {}, info, 0, r, notes, error)) << error;
  EXPECT_EQ(r.hidden, 32);
  EXPECT_EQ(r.act, nnue::CRELU);
  EXPECT_EQ(r.epochs, 3);
  EXPECT_EQ(r.scheduleEpochs, 3);
  EXPECT_EQ(r.batch, 70);
  EXPECT_EQ(r.threads, 1);
  EXPECT_EQ(r.loss.lambda, 0.6f);
  EXPECT_EQ(r.loss.k, 137.25f);
  EXPECT_TRUE(r.kFitted);
  EXPECT_EQ(r.lr, 2e-3f);
  EXPECT_EQ(r.lrDrop, 2);
  EXPECT_EQ(r.lrGamma, 0.3f);
  EXPECT_TRUE(r.cosine);
  EXPECT_EQ(r.weightDecay, 0.02f);
  EXPECT_EQ(r.seed, 7u);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("--lr 0.002"), std::string::npos) << notes[0];
  // What was taken from the checkpoint is what the trainer accepts.
  trainer resumed(r, training, validation);
  EXPECT_TRUE(resumed.loadCheckpoint(path, error)) << error;

  // Given the same, or "--k fit" for a fitted K: accepted.
  trainOptions same = o;
  same.threads = 2;
  notes.clear();
  ASSERT_TRUE(resumeOptions(same, {"--lr", "--epochs", "--k", "--cosine", "--threads"}, info, 0, r, notes, error))
      << error;
  EXPECT_EQ(r.threads, 2);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find("not be bit-identical"), std::string::npos) << notes[1];

  auto refusal = [&](trainOptions changed, const std::string& flag) {
    std::string why;
    EXPECT_FALSE(resumeOptions(changed, {flag}, info, 0, r, notes, why)) << flag;
    return why;
  };
  trainOptions changed = o;
  changed.lr = 1e-3f;
  EXPECT_EQ(refusal(changed, "--lr"), "--lr 0.001 differs from the checkpoint's 0.002; a resumed run keeps its options");
  changed = o;
  changed.epochs = 6;
  EXPECT_NE(refusal(changed, "--epochs").find("--epochs 6 differs from the checkpoint's 3"), std::string::npos);
  changed = o;
  changed.loss.k = 137.0f;
  changed.kFitted = false;
  EXPECT_NE(refusal(changed, "--k").find("--k 137 differs from the checkpoint's 137.25"), std::string::npos);
  changed = o;
  changed.hidden = 64;
  EXPECT_NE(refusal(changed, "--hidden").find("--hidden 64 differs"), std::string::npos);

  // A trainer built from other options refuses the checkpoint itself.
  changed = r;
  changed.weightDecay = 0.01f;
  trainer other(changed, training, validation);
  EXPECT_FALSE(other.loadCheckpoint(path, error));
  EXPECT_NE(error.find("--weight-decay 0.02 differs"), std::string::npos) << error;
  std::remove(path.c_str());
}

// A 4-epoch run, step schedule: the last epoch runs at lr x gamma, and so
// must every epoch that --more-epochs adds (laid out over 8 epochs afresh,
// the drop would come at epoch 7 and epochs 5 and 6 run ten times faster).
// Cosine: past its end the rate stays at the floor.
TEST(Train, MoreEpochsKeepTheScheduleLastRate) {
  const std::vector<sample> training = randomGamePositions(20, 5), validation = randomGamePositions(4, 6);
  const std::string path = testing::TempDir() + "more_epochs_test.ckpt";
  trainOptions o;
  o.hidden = 16;
  o.batch = 100;
  o.epochs = 4;
  const float last = o.lr * o.lrGamma;
  const checkpointInfo info = checkpointAfter(o, 4, training, validation, path);
  trainOptions r;
  std::vector<std::string> notes;
  std::string error;
  ASSERT_TRUE(resumeOptions(trainOptions{}, {}, info, 4, r, notes, error)) << error;
  EXPECT_EQ(r.epochs, 8);
  EXPECT_NE(notes[0].find("8 epochs in all"), std::string::npos) << notes[0];
  {
    trainer t(r, training, validation);
    ASSERT_TRUE(t.loadCheckpoint(path, error)) << error;
    EXPECT_EQ(t.runEpoch().lr, last);
    // Resumed again from the extended run's checkpoint, the schedule is
    // still the first run's.
    ASSERT_TRUE(t.saveCheckpoint(path, error)) << error;
    checkpointInfo again;
    ASSERT_TRUE(readCheckpointInfo(path, again, error)) << error;
    EXPECT_EQ(again.options.epochs, 8);
    EXPECT_EQ(again.options.scheduleEpochs, 4);
    for (int e = 6; e <= 8; ++e) EXPECT_EQ(t.learningRate(e, 0), last) << e;
  }

  o.cosine = true;
  const checkpointInfo cosine = checkpointAfter(o, 4, training, validation, path);
  ASSERT_TRUE(resumeOptions(trainOptions{}, {}, cosine, 4, r, notes, error)) << error;
  trainer t(r, training, validation);
  const u64 perEpoch = (training.size() + 99) / 100;
  EXPECT_NEAR(t.learningRate(4, 4 * perEpoch), last, 1e-9);
  for (int e = 5; e <= 8; ++e) EXPECT_NEAR(t.learningRate(e, e * perEpoch), last, 1e-9) << e;
  std::remove(path.c_str());
}

// Outputs that cannot be written are found before anything is read, and
// every such error carries the system's reason.
TEST(Train, UnwritableOutputsAreRefusedWithTheReason) {
  const std::string dir = testing::TempDir();
  const std::string missing = dir + "no-such-dir/x.nnue", good = dir + "paths_test.nnue";
  const std::string noEntry = std::strerror(ENOENT);
  std::string error;
  EXPECT_FALSE(checkOutputPaths(missing, "", false, error));
  EXPECT_EQ(error, "cannot write " + missing + ": " + noEntry);
  EXPECT_FALSE(checkOutputPaths(good, missing, false, error));
  EXPECT_EQ(error, "cannot write the checkpoint " + missing + ": " + noEntry);
  EXPECT_FALSE(checkOutputPaths(dir, "", false, error));  // a directory where the net should go
  EXPECT_NE(error.find(std::strerror(EISDIR)), std::string::npos) << error;

  // Writable: true, and nothing is left behind.
  ASSERT_TRUE(checkOutputPaths(good, good + ".ckpt", true, error)) << error;
  for (const std::string& p : {good, good + ".part", good + ".ckpt.part", epochNetPath(good, 1) + ".part"})
    EXPECT_FALSE(std::ifstream(p).good()) << p;

  floatNet net;
  initNet(net, 16, nnue::SCRELU, 1);
  EXPECT_FALSE(writeNetFile(net, missing, error));
  EXPECT_EQ(error, "cannot write " + missing + ": " + noEntry);
  const std::vector<sample> training = randomGamePositions(2, 5);
  trainOptions o;
  o.hidden = 16;
  trainer t(o, training, training);
  EXPECT_FALSE(t.saveCheckpoint(missing, error));
  EXPECT_EQ(error, "cannot write the checkpoint " + missing + ": " + noEntry);
}
