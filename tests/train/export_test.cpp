#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "nnue/net.h"
#include "train/network.h"
#include "train/positions.h"
#include "train/trainer.h"

using namespace train;

// Weights anywhere up to the trainer's clip, written and read back by the
// engine's loader: it accepts them, and every integer is the float's
// rounding at its scale, in the file's order.
TEST(TrainExport, EngineLoadsWhatTheTrainerWrites) {
  for (nnue::activation act : {nnue::SCRELU, nnue::CRELU}) {
    floatNet net;
    initNet(net, 256, act, 5);
    splitMix rng{9};
    for (float& p : net.params) p = 3.0f * rng.symmetric();
    net.params[net.b2Offset()] = -1.2345f;
    clipWeights(net);
    const std::string path = testing::TempDir() + "export_test.nnue";
    std::string error;
    ASSERT_TRUE(writeNetFile(net, path, error)) << error;
    auto loaded = std::make_unique<nnue::network>();
    ASSERT_EQ(nnue::loadNetFile(path, *loaded), "");
    std::remove(path.c_str());
    EXPECT_EQ(loaded->activation, u32(act));
    const float* p = net.params.data();
    for (std::size_t i = 0; i < net.b1Offset(); ++i) ASSERT_EQ(loaded->featureWeights[i], std::lround(double(p[i]) * nnue::QA)) << i;
    for (int i = 0; i < net.hidden; ++i)
      ASSERT_EQ(loaded->featureBias[i], std::lround(double(p[net.b1Offset() + i]) * nnue::QA)) << i;
    for (int i = 0; i < 2 * net.hidden; ++i)
      ASSERT_EQ(loaded->outputWeights[i], std::lround(double(p[net.w2Offset() + i]) * nnue::QB)) << i;
    EXPECT_EQ(loaded->outputBias[0], std::lround(-1.2345 * nnue::QA * nnue::QB));
  }
}

// A briefly trained net: the engine's integer score of each held-out
// position stays within a few centipawns of the trainer's float score on
// average (the rounding of the weights, the output's above all, is what
// remains). The same net with its weights moved onto the integer grid
// first: then only the integer sums' truncation is left, under 1 cp.
TEST(TrainExport, QuantisedEngineAgreesWithTheFloatNet) {
  const std::vector<sample> training = randomGamePositions(300, 3), sampleSet = randomGamePositions(40, 4);
  struct kind {
    nnue::activation act;
    int buckets;
    bool mirrored;
    const char* name;
  };
  for (const kind& k : {kind{nnue::SCRELU, 1, false, "screlu"}, kind{nnue::CRELU, 1, false, "crelu"},
                        kind{nnue::SCRELU, nnue::OUTPUT_BUCKETS, false, "screlu, 8 output layers"},
                        kind{nnue::SCRELU, nnue::OUTPUT_BUCKETS, true, "screlu, 8 output layers, mirrored"}}) {
    const nnue::activation act = k.act;
    const char* name = k.name;
    trainOptions o;
    o.hidden = 256;
    o.act = act;
    o.buckets = k.buckets;
    o.mirrored = k.mirrored;
    o.batch = 512;
    o.lr = 3e-3f;
    trainer t(o, training, sampleSet);
    for (int e = 0; e < 2; ++e) t.runEpoch();
    const std::vector<unsigned char> file = netFileBytes(t.net);
    const quantisationGap gap = measureGap(t.net, file, sampleSet, sampleSet.size());
    ASSERT_EQ(gap.error, "");
    ASSERT_EQ(gap.positions, sampleSet.size());
    double spread = 0;
    for (const sample& s : sampleSet) spread += std::abs(netOutput(t.net, s)) * nnue::SCALE / double(sampleSet.size());
    std::printf("%s: mean |score| %.0f cp, gap mean %.2f cp, largest %.1f cp\n", name, spread, gap.mean, gap.largest);
    EXPECT_GT(spread, 100) << name;  // the net says something, so the gap means something
    EXPECT_LT(gap.mean, 10.0) << name;

    floatNet onGrid = t.net;
    float* p = onGrid.params.data();
    for (std::size_t i = 0; i < onGrid.w2Offset(); ++i) p[i] = float(std::lround(double(p[i]) * nnue::QA)) / nnue::QA;
    for (std::size_t i = onGrid.w2Offset(); i < onGrid.b2Offset(); ++i)
      p[i] = float(std::lround(double(p[i]) * nnue::QB)) / nnue::QB;
    for (std::size_t i = onGrid.b2Offset(); i < onGrid.size(); ++i)
      p[i] = float(std::round(double(p[i]) * nnue::QA * nnue::QB) / (nnue::QA * nnue::QB));
    const quantisationGap exact = measureGap(onGrid, file, sampleSet, sampleSet.size());
    EXPECT_LT(exact.largest, 1.1) << name;
  }
}

// Output weights that all round the same way put the quantised net's scores
// off the float net's by the same amount everywhere; the fitted bias takes
// that offset out, in each output layer.
TEST(TrainExport, FittedBiasTakesOutTheRoundingOffset) {
  const std::vector<sample> training = randomGamePositions(300, 3), sampleSet = randomGamePositions(40, 4);
  for (int buckets : {1, nnue::OUTPUT_BUCKETS}) {
    trainOptions o;
    o.hidden = 64;
    o.buckets = buckets;
    o.batch = 512;
    o.lr = 3e-3f;
    trainer t(o, training, sampleSet);
    for (int e = 0; e < 2; ++e) t.runEpoch();
    floatNet net = t.net;
    float* p = net.params.data();
    for (std::size_t i = net.w2Offset(); i < net.b2Offset(); ++i)
      p[i] = (std::floor(p[i] * nnue::QB) + 0.45f) / nnue::QB;  // each rounds down by 0.45 of a step
    // Fitted and measured on the same positions: what is left is the
    // integer sums' truncation.
    const quantisationGap rounded = measureGap(net, netFileBytes(net), training, training.size());
    const quantisationGap fitted =
        measureGap(net, netFileBytes(net, fitOutputBias(net, training, training.size())), training, training.size());
    ASSERT_EQ(fitted.error, "");
    EXPECT_GT(rounded.offset, 3.0) << buckets;
    EXPECT_LT(std::abs(fitted.offset), 1.0) << buckets;
    EXPECT_LT(fitted.mean, rounded.mean) << buckets;
  }
}
