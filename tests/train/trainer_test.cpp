#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "train/network.h"
#include "train/random.h"
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
// terms. Only if each view is flipped and recoloured right, and the side to
// move's half comes first, do those look like what it learnt. (A view left
// unflipped still brings the loss to about half its start, so the bar is a
// tenth.)
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
