#include "train/network.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "movegen/setup.h"
#include "nnue/net.h"
#include "board/random.h"

namespace train {

namespace {

// The hot loops are inlined into the two entry points, of which the
// compiler makes an AVX2 copy beside the baseline one (without FMA, so the
// numbers are the same); the loader picks the copy the CPU can run.
// (Not under ThreadSanitizer: the copy is chosen by a resolver that runs
// before the sanitizer's run time is ready, and its instrumentation crashes.)
#define HOT inline __attribute__((always_inline))
#if defined(__x86_64__) && defined(__has_attribute) && !defined(__SANITIZE_THREAD__)
#if __has_attribute(target_clones)
#define CLONED __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef CLONED
#define CLONED
#endif

// Every loop over the hidden layer runs in blocks of this many floats (the
// width is a multiple of 16), so that the compiler vectorises the block
// without a remainder loop.
constexpr int BLOCK = 16;

// Both written with compares turned into 0 or 1, not as a choice: the
// compiler keeps a float choice as a branch (a compare may trap) and would
// not vectorise the loops around it. c is exactly clamp(a, 0, 1).
template <bool SQUARED>
HOT float activate(float a) {
  const float c = a * float((a > 0.0f) & (a < 1.0f)) + float(a >= 1.0f);
  return SQUARED ? c * c : c;
}

template <bool SQUARED>
HOT float slope(float a) {
  const float inside = float((a > 0.0f) & (a < 1.0f));
  return SQUARED ? 2.0f * a * inside : inside;
}

// The loops over the hidden layer, each over arrays the compiler knows to be
// distinct, so that it vectorises them.
HOT void addRow(float* __restrict dst, const float* __restrict src, int hidden) {
  for (int i = 0; i < hidden; ++i) dst[i] += src[i];
}

// One partial sum per lane of a block: the sum is not reordered, so it
// vectorises without fast-math and gives the same value on every build.
template <bool SQUARED>
HOT float outputSum(const float* __restrict acc, const float* __restrict w2, int hidden) {
  float part[BLOCK] = {};
  for (int i = 0; i < hidden; i += BLOCK)
    for (int j = 0; j < BLOCK; ++j) part[j] += activate<SQUARED>(acc[i + j]) * w2[i + j];
  float sum = 0;
  for (int j = 0; j < BLOCK; ++j) sum += part[j];
  return sum;
}

// The output weights' gradient and the accumulator's, for one view.
template <bool SQUARED>
HOT void outputBackward(float g, const float* __restrict acc, const float* __restrict w2, float* __restrict gw2,
                           float* __restrict dAcc, int hidden) {
  for (int i = 0; i < hidden; ++i) {
    gw2[i] += g * activate<SQUARED>(acc[i]);
    dAcc[i] = g * w2[i] * slope<SQUARED>(acc[i]);
  }
}

HOT void addBoth(float* __restrict dst, const float* __restrict a, const float* __restrict b, int hidden) {
  for (int i = 0; i < hidden; ++i) dst[i] += a[i] + b[i];
}

// Fills both accumulators of `s` and returns the output (of its bucket's layer).
template <bool SQUARED>
HOT float forward(const floatNet& net, const sample& s, float* __restrict accStm, float* __restrict accOther, int* fStm,
              int* fOther, int& count) {
  const int hidden = net.hidden;
  const int bucket = net.bucketOf(s);
  const float* w1 = net.params.data();
  const float* b1 = w1 + net.b1Offset();
  const float* w2 = w1 + net.w2Offset() + std::size_t(bucket) * 2 * hidden;
  count = sampleFeatures(s, fStm, fOther, net.mirrored);
  std::memcpy(accStm, b1, sizeof(float) * hidden);
  std::memcpy(accOther, b1, sizeof(float) * hidden);
  for (int k = 0; k < count; ++k) {
    addRow(accStm, w1 + std::size_t(fStm[k]) * hidden, hidden);
    addRow(accOther, w1 + std::size_t(fOther[k]) * hidden, hidden);
  }
  return w1[net.b2Offset() + bucket] +
         (outputSum<SQUARED>(accStm, w2, hidden) + outputSum<SQUARED>(accOther, w2 + hidden, hidden));
}

template <bool SQUARED>
HOT double gradientLoop(const floatNet& net, const sample* data, const u32* order, std::size_t count, const lossShape& shape,
                    float gradScale, float* grad, float* scratch) {
  const int hidden = net.hidden;
  float* gb1 = grad + net.b1Offset();
  float* accStm = scratch;
  float* accOther = scratch + hidden;
  float* dStm = scratch + 2 * hidden;
  float* dOther = scratch + 3 * hidden;
  int fStm[MAX_PIECES], fOther[MAX_PIECES];
  double loss = 0;
  for (std::size_t p = 0; p < count; ++p) {
    const sample& s = data[order ? order[p] : p];
    int n;
    const lossTerm term = positionLoss(forward<SQUARED>(net, s, accStm, accOther, fStm, fOther, n), s, shape);
    loss += double(term.error) * term.error;
    const float g = term.slope * gradScale;
    const std::size_t layer = std::size_t(net.bucketOf(s)) * 2 * hidden;
    const float* w2 = net.params.data() + net.w2Offset() + layer;
    float* gw2 = grad + net.w2Offset() + layer;
    grad[net.b2Offset() + std::size_t(net.bucketOf(s))] += g;
    outputBackward<SQUARED>(g, accStm, w2, gw2, dStm, hidden);
    outputBackward<SQUARED>(g, accOther, w2 + hidden, gw2 + hidden, dOther, hidden);
    addBoth(gb1, dStm, dOther, hidden);
    // Only the rows of the active features get a gradient. (A feature may
    // be active in both views; its row then takes both parts in turn.)
    for (int k = 0; k < n; ++k) {
      addRow(grad + std::size_t(fStm[k]) * hidden, dStm, hidden);
      addRow(grad + std::size_t(fOther[k]) * hidden, dOther, hidden);
    }
  }
  return loss;
}

template <bool SQUARED>
HOT double lossLoop(const floatNet& net, const sample* data, const u32* order, std::size_t count, const lossShape& shape) {
  std::unique_ptr<float[]> acc(new float[2 * std::size_t(net.hidden)]);
  int fStm[MAX_PIECES], fOther[MAX_PIECES];
  double loss = 0;
  for (std::size_t p = 0; p < count; ++p) {
    const sample& s = data[order ? order[p] : p];
    int n;
    const float err = positionLoss(forward<SQUARED>(net, s, acc.get(), acc.get() + net.hidden, fStm, fOther, n), s, shape).error;
    loss += double(err) * err;
  }
  return loss;
}

}  // namespace

void initNet(floatNet& net, int hidden, nnue::activation act, u64 seed, int buckets, bool mirrored) {
  net.hidden = hidden;
  net.act = act;
  net.buckets = buckets;
  net.mirrored = mirrored;
  net.params.assign(net.size(), 0.0f);
  splitMix rng{seed};
  // About 30 pieces add up in an accumulator: rows of this size put its
  // spread near 0.3, where the activation bends.
  for (std::size_t i = 0; i < net.b1Offset(); ++i) net.params[i] = 0.1f * rng.symmetric();
  const float outScale = 1.0f / std::sqrt(float(2 * hidden));
  for (std::size_t i = net.w2Offset(); i < net.b2Offset(); ++i) net.params[i] = outScale * rng.symmetric();
}

void clipWeights(floatNet& net) {
  float* p = net.params.data();
  for (std::size_t i = 0; i < net.w2Offset(); ++i) p[i] = std::clamp(p[i], -FEATURE_BOUND, FEATURE_BOUND);
  const float bound = outputBound(net.act, net.hidden);
  for (std::size_t i = net.w2Offset(); i < net.b2Offset(); ++i) p[i] = std::clamp(p[i], -bound, bound);
}

float netOutput(const floatNet& net, const sample& s) {
  std::unique_ptr<float[]> acc(new float[2 * std::size_t(net.hidden)]);
  int fStm[MAX_PIECES], fOther[MAX_PIECES], n;
  return net.act == nnue::SCRELU ? forward<true>(net, s, acc.get(), acc.get() + net.hidden, fStm, fOther, n)
                                 : forward<false>(net, s, acc.get(), acc.get() + net.hidden, fStm, fOther, n);
}

CLONED double addGradient(const floatNet& net, const sample* data, const u32* order, std::size_t count, const lossShape& shape,
                   float gradScale, float* grad, float* scratch) {
  return net.act == nnue::SCRELU ? gradientLoop<true>(net, data, order, count, shape, gradScale, grad, scratch)
                                 : gradientLoop<false>(net, data, order, count, shape, gradScale, grad, scratch);
}

CLONED double sumLoss(const floatNet& net, const sample* data, const u32* order, std::size_t count, const lossShape& shape) {
  return net.act == nnue::SCRELU ? lossLoop<true>(net, data, order, count, shape)
                                 : lossLoop<false>(net, data, order, count, shape);
}

namespace {

template <class T>
void put(std::vector<unsigned char>& out, T value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));  // the file is little-endian, as is x86-64
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

i16 quantise(float w, int scale) {
  return i16(std::clamp(std::lround(double(w) * scale), -32767l, 32767l));
}

}  // namespace

std::vector<unsigned char> netFileBytes(const floatNet& net, const std::vector<i32>& biasShift) {
  const int hidden = net.hidden;
  const float* p = net.params.data();
  std::vector<unsigned char> payload;
  payload.reserve(nnue::payloadSize(hidden, u32(net.buckets)));
  for (std::size_t i = 0; i < net.w2Offset(); ++i) put(payload, quantise(p[i], nnue::QA));
  for (std::size_t i = net.w2Offset(); i < net.b2Offset(); ++i) put(payload, quantise(p[i], nnue::QB));
  for (std::size_t i = net.b2Offset(); i < net.size(); ++i) {
    const std::size_t layer = i - net.b2Offset();
    const double b2 = std::round(double(p[i]) * nnue::QA * nnue::QB) + (layer < biasShift.size() ? biasShift[layer] : 0);
    put(payload, i32(std::clamp(b2, -2147483647.0, 2147483647.0)));
  }
  return nnue::netFileImage(hidden, net.act, payload, net.buckets, net.mirrored);
}

bool writeNetFile(const floatNet& net, const std::string& path, std::string& error, const std::vector<i32>& biasShift) {
  const std::vector<unsigned char> bytes = netFileBytes(net, biasShift);
  const std::string part = path + ".part";
  errno = 0;
  FILE* f = std::fopen(part.c_str(), "wb");
  int err = f ? 0 : errno;
  if (!err && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) err = errno ? errno : EIO;
  // A full disk may show only when the buffer is flushed, at the close.
  if (f && std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  if (!err && std::rename(part.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    error = "cannot write " + path + ": " + std::strerror(err);
    std::remove(part.c_str());
  }
  return !err;
}

quantisationGap measureGap(const floatNet& net, const std::vector<unsigned char>& file,
                           const std::vector<sample>& samples, std::size_t limit,
                           const std::function<void(double)>& progress) {
  quantisationGap gap;
  // The quantised network's output: the file read by the engine's loader
  // and run by the engine's integer forward pass.
  auto quantised = std::make_unique<nnue::network>();
  gap.error = nnue::loadNet(file.data(), file.size(), *quantised);
  if (!gap.error.empty()) return gap;
  auto b = std::make_unique<board>();
  const std::size_t n = std::min(limit, samples.size());
  double total = 0;
  for (std::size_t p = 0; p < n; ++p) {
    if (!setFromFen(sampleFen(samples[p]), *b)) {
      gap.error = "a position the board cannot take: " + sampleFen(samples[p]);
      return gap;
    }
    const int cp = nnue::evaluateFromScratch(*quantised, *b);
    const double signedGap = double(netOutput(net, samples[p])) * nnue::SCALE - cp, d = std::abs(signedGap);
    total += d;
    gap.offset += signedGap;
    gap.largest = std::max(gap.largest, d);
    if (progress && (p + 1) % 4096 == 0) progress(double(p + 1) / double(n));
  }
  gap.positions = n;
  gap.mean = n ? total / double(n) : 0;
  gap.offset = n ? gap.offset / double(n) : 0;
  return gap;
}

std::vector<i32> fitOutputBias(const floatNet& net, const std::vector<sample>& samples, std::size_t limit) {
  const std::vector<unsigned char> file = netFileBytes(net);
  auto quantised = std::make_unique<nnue::network>();
  if (!nnue::loadNet(file.data(), file.size(), *quantised).empty()) return {};
  std::vector<double> sum(std::size_t(net.buckets), 0.0);
  std::vector<std::size_t> count(std::size_t(net.buckets), 0);
  auto b = std::make_unique<board>();
  const std::size_t step = limit ? std::max<std::size_t>(1, samples.size() / limit) : samples.size() + 1;
  for (std::size_t p = 0; p < samples.size() && p / step < limit; p += step) {
    if (!setFromFen(sampleFen(samples[p]), *b)) continue;
    const int cp = nnue::evaluateFromScratch(*quantised, *b);
    const int layer = net.bucketOf(samples[p]);
    sum[std::size_t(layer)] += double(netOutput(net, samples[p])) * nnue::SCALE - cp;
    ++count[std::size_t(layer)];
  }
  std::vector<i32> shift(std::size_t(net.buckets), 0);
  // Centipawns to the bias's units: the engine scales by SCALE / (QA * QB).
  for (std::size_t l = 0; l < shift.size(); ++l)
    if (count[l]) shift[l] = i32(std::lround(sum[l] / double(count[l]) * nnue::QA * nnue::QB / nnue::SCALE));
  return shift;
}

float fitScoreScale(const std::vector<sample>& samples) {
  // A million positions pin k to well under 1%; the error is unimodal in k.
  const std::size_t step = std::max<std::size_t>(1, samples.size() / 1000000);
  auto error = [&](double k) {
    double sum = 0;
    for (std::size_t i = 0; i < samples.size(); i += step) {
      const double e = 1.0 / (1.0 + std::exp(-samples[i].score / k)) - 0.5 * samples[i].result;
      sum += e * e;
    }
    return sum;
  };
  // Golden-section search on log k over 10 .. 10000 centipawns.
  const double r = (std::sqrt(5.0) - 1) / 2;
  double lo = std::log(10.0), hi = std::log(10000.0);
  double a = hi - r * (hi - lo), b = lo + r * (hi - lo);
  double fa = error(std::exp(a)), fb = error(std::exp(b));
  while (hi - lo > 1e-3) {
    if (fa < fb) {
      hi = b, b = a, fb = fa, a = hi - r * (hi - lo), fa = error(std::exp(a));
    } else {
      lo = a, a = b, fa = fb, b = lo + r * (hi - lo), fb = error(std::exp(b));
    }
  }
  return float(std::exp((lo + hi) / 2));
}

}  // namespace train
