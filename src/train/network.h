#pragma once
// The float network the trainer optimises, its loss and gradient, and its
// export to the engine's quantised file.

#include <cmath>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "format/netfile.h"
#include "train/sample.h"

namespace train {

// The largest feature weight or bias: 1.98 * QA still fits an i16 row and
// 33 of them (32 pieces and the bias) an i16 accumulator.
constexpr float FEATURE_BOUND = 1.98f;

// The largest output weight, in float: the engine's integer limit for the
// activation and width, at the output scale.
constexpr float outputBound(nnue::activation act, int hidden) {
  return float(nnue::outputWeightLimit(act, hidden)) / nnue::QB;
}

// All parameters in one array: feature weights (row f at f * hidden), feature
// biases, output weights (one layer of 2 * hidden per bucket, each with the
// side to move's half first), output biases (one per bucket). Gradients and
// optimiser moments use the same layout.
struct floatNet {
  int hidden = 0;
  nnue::activation act = nnue::SCRELU;
  int buckets = 1;
  bool mirrored = false;  // inputs flipped by each view's king (nnue::kingFlip)
  std::vector<float> params;

  std::size_t b1Offset() const { return std::size_t(nnue::INPUTS) * hidden; }
  std::size_t w2Offset() const { return b1Offset() + hidden; }
  std::size_t b2Offset() const { return w2Offset() + 2 * std::size_t(hidden) * std::size_t(buckets); }
  std::size_t size() const { return b2Offset() + std::size_t(buckets); }
  // The output layer of a sample.
  int bucketOf(const sample& s) const { return nnue::outputBucket(popCount(s.occupied), buckets); }
};

// Small random weights from `seed`, zero biases; `buckets` output layers.
void initNet(floatNet& net, int hidden, nnue::activation act, u64 seed, int buckets = 1, bool mirrored = false);
// Keeps every weight within what the quantised file can hold.
void clipWeights(floatNet& net);

// The network's output for `s` in units of SCALE centipawns (side to move's view).
float netOutput(const floatNet& net, const sample& s);

inline float sigmoid(float x) { return 1.0f / (1.0f + std::exp(-x)); }

// What the loss compares: sigmoid(output / k) against the target
// lambda * sigmoid(score / k) + (1 - lambda) * result, output and score in
// centipawns. A k that fits the data's scores to its results keeps the two
// parts of the target on one scale, and so the net on the scores' scale.
struct lossShape {
  float lambda = 0.75f;
  float k = 0;  // centipawns; until given (--k) it is fitted to the data: the one default
};

// One position's error (its loss is the square) and the loss's slope
// d(error^2)/d(output), the output in units of SCALE centipawns: the one
// place the loss is written.
struct lossTerm {
  float error, slope;
};
inline lossTerm positionLoss(float output, const sample& s, const lossShape& shape) {
  const float toLogit = float(nnue::SCALE) / shape.k;
  const float sig = sigmoid(output * toLogit);
  const float err = sig - (shape.lambda * sigmoid(float(s.score) / shape.k) + (1.0f - shape.lambda) * 0.5f * float(s.result));
  return {err, 2.0f * err * sig * (1.0f - sig) * toLogit};
}


// The k for which sigmoid(score / k) predicts the results best (least
// squares), over the given positions.
float fitScoreScale(const std::vector<sample>& samples);

// Adds to `grad` (size net.size()) the gradient of gradScale * (sum of the
// squared errors of the positions data[order[0..count)]) and returns the
// unscaled sum of squared errors. `scratch` is the caller's, of at least
// 4 * hidden floats; nothing else is written.
double addGradient(const floatNet& net, const sample* data, const u32* order, std::size_t count, const lossShape& shape,
                   float gradScale, float* grad, float* scratch);
// The sum of squared errors alone.
double sumLoss(const floatNet& net, const sample* data, const u32* order, std::size_t count, const lossShape& shape);

// The net file: header and quantised payload as the engine loads it, each
// output layer's bias moved by `biasShift` (file units, QA * QB; empty: none).
std::vector<unsigned char> netFileBytes(const floatNet& net, const std::vector<i32>& biasShift = {});
// Writes the net file; false with `error` set, the system's reason
// included, when it cannot.
bool writeNetFile(const floatNet& net, const std::string& path, std::string& error,
                  const std::vector<i32>& biasShift = {});

// Rounding the output weights leaves the quantised net's scores off the
// float net's by an amount that is nearly the same in every position (the
// rounding errors weighted by activations that vary little): tens of
// centipawns for the side to move, which the search reads as a tempo
// bonus or penalty. This is the shift of each output layer's bias, in file
// units, that makes the mean score of the quantised net equal the float
// net's over up to `limit` of `samples`, taken evenly across them. A layer
// with no sample keeps its bias. Empty for a net the engine refuses.
std::vector<i32> fitOutputBias(const floatNet& net, const std::vector<sample>& samples, std::size_t limit);

// The gap between the float output and the quantised engine's, in
// centipawns, over the first `limit` of `samples`; `error` names a net the
// engine refuses. `progress` (may be empty) hears the fraction done now
// and then: millions of positions take minutes.
struct quantisationGap {
  double mean = 0, largest = 0;
  double offset = 0;  // the mean of float minus engine, signed
  std::size_t positions = 0;
  std::string error;
};
quantisationGap measureGap(const floatNet& net, const std::vector<unsigned char>& file, const std::vector<sample>& samples,
                           std::size_t limit, const std::function<void(double)>& progress = {});

}  // namespace train
