#include "train/trainer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <xmmintrin.h>

namespace train {

namespace {

// Denormal floats are flushed to zero: a weight or moment drifting towards
// zero would otherwise slow the arithmetic around it a hundredfold.
void flushDenormals() { _mm_setcsr(_mm_getcsr() | 0x8040); }

}  // namespace

workerPool::workerPool(int n) {
  for (int i = 1; i < n; ++i) threads.emplace_back([this, i] { loop(i); });
}

workerPool::~workerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  wake.notify_all();
  for (auto& t : threads) t.join();
}

void workerPool::run(const std::function<void(int)>& fn) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    job = &fn;
    running = int(threads.size());
    ++generation;
  }
  wake.notify_all();
  // The calling thread's own setting is restored afterwards.
  const unsigned callerMode = _mm_getcsr();
  flushDenormals();
  fn(0);
  _mm_setcsr(callerMode);
  std::unique_lock<std::mutex> lock(mutex);
  done.wait(lock, [this] { return running == 0; });
  job = nullptr;
}

void workerPool::loop(int index) {
  flushDenormals();
  u64 seen = 0;
  for (;;) {
    const std::function<void(int)>* fn;
    {
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait(lock, [&] { return quit || generation != seen; });
      if (quit) return;
      seen = generation;
      fn = job;
    }
    (*fn)(index);
    std::lock_guard<std::mutex> lock(mutex);
    if (--running == 0) done.notify_one();
  }
}

namespace {

constexpr float BETA1 = 0.9f, BETA2 = 0.999f, EPSILON = 1e-8f;

// [lo, hi) of n items split into `parts` nearly equal slices.
std::size_t sliceStart(std::size_t n, int parts, int index) { return n * std::size_t(index) / std::size_t(parts); }

}  // namespace

trainer::trainer(const trainOptions& options, const std::vector<sample>& trainingSet,
                 const std::vector<sample>& validationSet)
    : opt(options), training(trainingSet), validation(validationSet), pool(std::max(1, options.threads)) {
  initNet(net, opt.hidden, opt.act, mixHash(opt.seed));
  clipWeights(net);
  grads.assign(pool.size(), std::vector<float>(net.size()));
  scratch.assign(pool.size(), std::vector<float>(4 * std::size_t(opt.hidden)));
  moment1.assign(net.size(), 0.0f);
  moment2.assign(net.size(), 0.0f);
  rng.state = mixHash(opt.seed ^ 0x5EED5EED5EEDull);
}

float trainer::learningRate(int epoch, u64 step) const {
  if (opt.cosine) {
    const double perEpoch = std::ceil(double(training.size()) / std::max(1, opt.batch));
    const double progress = double(step) / std::max(1.0, opt.epochs * perEpoch);
    const double factor = opt.lrGamma + (1 - opt.lrGamma) * 0.5 * (1 + std::cos(M_PI * std::min(1.0, progress)));
    return float(opt.lr * factor);
  }
  const int drop = opt.lrDrop > 0 ? opt.lrDrop : opt.epochs - opt.epochs / 4 + 1;
  return epoch >= drop ? opt.lr * opt.lrGamma : opt.lr;
}

void trainer::step(const u32* batch, std::size_t count, double& loss) {
  const int parts = pool.size();
  std::vector<double> losses(parts);
  const float gradScale = 1.0f / float(count);
  pool.run([&](int t) {
    float* g = grads[t].data();
    std::memset(g, 0, sizeof(float) * grads[t].size());
    const std::size_t lo = sliceStart(count, parts, t), hi = sliceStart(count, parts, t + 1);
    losses[t] = addGradient(net, training.data(), batch + lo, hi - lo, opt.loss, gradScale, g, scratch[t].data());
  });
  for (double l : losses) loss += l;

  ++steps;
  const float lr = learningRate(epochsDone + 1, steps);
  const float correction1 = 1.0f / (1.0f - std::pow(BETA1, float(steps)));
  const float correction2 = 1.0f / (1.0f - std::pow(BETA2, float(steps)));
  const std::size_t size = net.size();
  pool.run([&](int t) {
    float* p = net.params.data();
    float* m = moment1.data();
    float* v = moment2.data();
    // Each thread owns a slice of the parameters: sums the threads'
    // gradients there, in thread order, and updates them.
    const std::size_t lo = sliceStart(size, parts, t), hi = sliceStart(size, parts, t + 1);
    for (std::size_t i = lo; i < hi; ++i) {
      float g = grads[0][i];
      for (int u = 1; u < parts; ++u) g += grads[u][i];
      m[i] = BETA1 * m[i] + (1 - BETA1) * g;
      v[i] = BETA2 * v[i] + (1 - BETA2) * g * g;
      p[i] -= lr * (m[i] * correction1 / (std::sqrt(v[i] * correction2) + EPSILON));
    }
    // Decoupled weight decay on the weights (not the biases), then the clip.
    const float keep = 1.0f - lr * opt.weightDecay;
    const float outBound = outputBound(net.act, net.hidden);
    for (std::size_t i = lo; i < hi; ++i) {
      if (i < net.b1Offset())
        p[i] = std::clamp(p[i] * keep, -FEATURE_BOUND, FEATURE_BOUND);
      else if (i < net.w2Offset())
        p[i] = std::clamp(p[i], -FEATURE_BOUND, FEATURE_BOUND);
      else if (i < net.b2Offset())
        p[i] = std::clamp(p[i] * keep, -outBound, outBound);
    }
  });
}

epochReport trainer::runEpoch(const std::function<void(double)>& progress) {
  const auto start = std::chrono::steady_clock::now();
  const std::size_t n = training.size();
  // Reshuffled from the identity each epoch, so that the generator's state
  // alone decides the order.
  order.resize(n);
  std::iota(order.begin(), order.end(), 0u);
  for (std::size_t i = n; i > 1; --i) std::swap(order[i - 1], order[rng.below(u32(i))]);

  epochReport r;
  r.epoch = epochsDone + 1;
  r.lr = learningRate(r.epoch, steps);
  double loss = 0;
  const std::size_t batch = std::size_t(std::max(1, opt.batch));
  for (std::size_t at = 0; at < n; at += batch) {
    step(order.data() + at, std::min(batch, n - at), loss);
    if (progress) progress(double(std::min(n, at + batch)) / double(n));
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.positionsPerSecond = r.seconds > 0 ? double(n) / r.seconds : 0;
  r.trainLoss = n ? loss / double(n) : 0;
  r.validationLoss = meanLoss(validation);
  ++epochsDone;
  return r;
}

double trainer::meanLoss(const std::vector<sample>& samples) {
  if (samples.empty()) return 0;
  const int parts = pool.size();
  std::vector<double> losses(parts);
  pool.run([&](int t) {
    const std::size_t lo = sliceStart(samples.size(), parts, t), hi = sliceStart(samples.size(), parts, t + 1);
    losses[t] = sumLoss(net, samples.data() + lo, nullptr, hi - lo, opt.loss);
  });
  return std::accumulate(losses.begin(), losses.end(), 0.0) / double(samples.size());
}

// ---- checkpoints -------------------------------------------------------

namespace {

constexpr char CHECKPOINT_MAGIC[8] = {'D', 'R', 'V', 'T', 'R', 'A', 'I', 'N'};
constexpr u32 CHECKPOINT_VERSION = 1;

struct checkpointHeader {
  char magic[8];
  u32 version;
  u32 hidden;
  u32 activation;
  u32 epochsDone;
  u64 steps;
  u64 rngState;
  u64 fingerprint;
  u64 floats;  // parameters; the two moments follow with as many each
};

}  // namespace

u64 trainer::dataFingerprint() const {
  // Sizes and every 64th position of both sets: other data, or the same
  // data split or filtered otherwise, will not pass for the same.
  u64 h = mixHash(training.size() * 0x100000001ull + validation.size());
  for (const auto* set : {&training, &validation})
    for (std::size_t i = 0; i < set->size(); i += 64)
      h = mixHash(h ^ nnue::fnv1a(reinterpret_cast<const unsigned char*>(&(*set)[i]), sizeof(sample)));
  return h;
}

bool trainer::saveCheckpoint(const std::string& path, std::string& error) const {
  checkpointHeader h{};
  std::memcpy(h.magic, CHECKPOINT_MAGIC, sizeof h.magic);
  h.version = CHECKPOINT_VERSION;
  h.hidden = u32(net.hidden);
  h.activation = net.act;
  h.epochsDone = u32(epochsDone);
  h.steps = steps;
  h.rngState = rng.state;
  h.fingerprint = dataFingerprint();
  h.floats = net.size();
  const std::string part = path + ".part";
  FILE* f = std::fopen(part.c_str(), "wb");
  bool ok = f != nullptr;
  u32 sum = 2166136261u;
  auto write = [&](const void* data, std::size_t bytes) {
    const auto* b = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < bytes; ++i) sum = (sum ^ b[i]) * 16777619u;
    ok = ok && std::fwrite(data, 1, bytes, f) == bytes;
  };
  write(&h, sizeof h);
  write(net.params.data(), sizeof(float) * net.size());
  write(moment1.data(), sizeof(float) * net.size());
  write(moment2.data(), sizeof(float) * net.size());
  if (ok) ok = std::fwrite(&sum, 1, sizeof sum, f) == sizeof sum;
  if (f) ok = (std::fclose(f) == 0) && ok;
  ok = ok && std::rename(part.c_str(), path.c_str()) == 0;
  if (!ok) {
    error = "cannot write the checkpoint " + path;
    std::remove(part.c_str());
  }
  return ok;
}

bool trainer::loadCheckpoint(const std::string& path, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot read the checkpoint " + path;
    return false;
  }
  std::vector<unsigned char> bytes;
  unsigned char buffer[1 << 16];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(f);

  checkpointHeader h;
  const std::size_t floatBytes = sizeof(float) * net.size();
  if (bytes.size() < sizeof h || std::memcmp(bytes.data(), CHECKPOINT_MAGIC, 8) != 0) {
    error = path + " is not a checkpoint";
    return false;
  }
  std::memcpy(&h, bytes.data(), sizeof h);
  if (h.version != CHECKPOINT_VERSION) {
    error = path + ": checkpoint version " + std::to_string(h.version) + ", expected " + std::to_string(CHECKPOINT_VERSION);
    return false;
  }
  if (int(h.hidden) != net.hidden || h.activation != u32(net.act) || h.floats != net.size()) {
    error = path + ": hidden width " + std::to_string(h.hidden) + " and activation " +
            (h.activation == nnue::SCRELU ? "screlu" : "crelu") + " differ from this run's";
    return false;
  }
  if (bytes.size() != sizeof h + 3 * floatBytes + 4) {
    error = path + " is truncated";
    return false;
  }
  u32 stored;
  std::memcpy(&stored, bytes.data() + bytes.size() - 4, 4);
  if (nnue::fnv1a(bytes.data(), bytes.size() - 4) != stored) {
    error = path + ": checksum mismatch";
    return false;
  }
  if (h.fingerprint != dataFingerprint()) {
    error = path + " was made from other training data (or another split or filters)";
    return false;
  }
  const unsigned char* at = bytes.data() + sizeof h;
  std::memcpy(net.params.data(), at, floatBytes);
  std::memcpy(moment1.data(), at + floatBytes, floatBytes);
  std::memcpy(moment2.data(), at + 2 * floatBytes, floatBytes);
  epochsDone = int(h.epochsDone);
  steps = h.steps;
  rng.state = h.rngState;
  return true;
}

}  // namespace train
