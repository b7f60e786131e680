#include "train/trainer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <sys/stat.h>
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
  if (opt.scheduleEpochs <= 0) opt.scheduleEpochs = opt.epochs;
  // K not given: fitted to the training data, the one default.
  if (!(opt.loss.k > 0)) {
    opt.loss.k = fitScoreScale(training);
    opt.kFitted = true;
  }
  initNet(net, opt.hidden, opt.act, mixHash(opt.seed), opt.buckets, opt.mirrored);
  clipWeights(net);
  grads.assign(pool.size(), std::vector<float>(net.size()));
  scratch.assign(pool.size(), std::vector<float>(4 * std::size_t(opt.hidden)));
  moment1.assign(net.size(), 0.0f);
  moment2.assign(net.size(), 0.0f);
  rng.state = mixHash(opt.seed ^ 0x5EED5EED5EEDull);
}

int dropEpoch(const trainOptions& o) {
  const int laid = o.scheduleEpochs > 0 ? o.scheduleEpochs : o.epochs;
  return o.lrDrop > 0 ? o.lrDrop : laid - laid / 4 + 1;
}

float trainer::learningRate(int epoch, u64 step) const {
  // Past the epochs the schedule was laid out over, its last rate holds:
  // an extended run must not climb back up.
  const int laid = std::max(1, opt.scheduleEpochs);
  if (opt.cosine) {
    const double perEpoch = std::ceil(double(training.size()) / std::max(1, opt.batch));
    const double progress = double(step) / std::max(1.0, laid * perEpoch);
    const double factor = opt.lrGamma + (1 - opt.lrGamma) * 0.5 * (1 + std::cos(M_PI * std::min(1.0, progress)));
    return float(opt.lr * factor);
  }
  return std::min(epoch, laid) >= dropEpoch(opt) ? opt.lr * opt.lrGamma : opt.lr;
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
// 2: the run's options follow the state.
constexpr u32 CHECKPOINT_VERSION = 2;

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
  u32 epochs, scheduleEpochs, batch, threads;
  i32 lrDrop;
  u32 flags;  // COSINE, K_FITTED, MIRRORED
  float lambda, k, lr, lrGamma, weightDecay;
  u32 buckets;  // 0 in the first checkpoints of this version: one
  u64 seed;
};
static_assert(sizeof(checkpointHeader) == 112, "no padding: the header is written as it lies in memory");
constexpr u32 COSINE = 1, K_FITTED = 2, MIRRORED = 4;

trainOptions headerOptions(const checkpointHeader& h) {
  trainOptions o;
  o.hidden = int(h.hidden);
  o.act = nnue::activation(h.activation);
  o.buckets = h.buckets ? int(h.buckets) : 1;
  o.epochs = int(h.epochs);
  o.scheduleEpochs = int(h.scheduleEpochs);
  o.batch = int(h.batch);
  o.threads = int(h.threads);
  o.lrDrop = h.lrDrop;
  o.cosine = h.flags & COSINE;
  o.kFitted = h.flags & K_FITTED;
  o.mirrored = h.flags & MIRRORED;
  o.loss.lambda = h.lambda;
  o.loss.k = h.k;
  o.lr = h.lr;
  o.lrGamma = h.lrGamma;
  o.weightDecay = h.weightDecay;
  o.seed = h.seed;
  return o;
}

// Reads and checks the magic and version; the size is the caller's to check.
bool parseHeader(const unsigned char* bytes, std::size_t size, const std::string& path, checkpointHeader& h,
                 std::string& error) {
  if (size < 12 || std::memcmp(bytes, CHECKPOINT_MAGIC, 8) != 0) {
    error = path + " is not a checkpoint";
    return false;
  }
  u32 version;
  std::memcpy(&version, bytes + 8, 4);
  if (version == 1) {
    error = path + " is a version 1 checkpoint, which holds none of the run's options; this trainer resumes version " +
            std::to_string(CHECKPOINT_VERSION) + " only (start the run afresh)";
    return false;
  }
  if (version != CHECKPOINT_VERSION) {
    error = path + ": checkpoint version " + std::to_string(version) + ", expected " + std::to_string(CHECKPOINT_VERSION);
    return false;
  }
  if (size < sizeof h) {
    error = path + " is truncated";
    return false;
  }
  std::memcpy(&h, bytes, sizeof h);
  return true;
}

std::string systemError(const std::string& what, int err) { return what + ": " + std::strerror(err); }

// Shortest text that reads back as the same float: two options print
// alike exactly when they are equal.
std::string floatText(float v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// The options a checkpoint holds, in the order they are listed, as text.
struct optionField {
  const char* flag;
  std::string (*text)(const trainOptions&);
};
const optionField OPTION_FIELDS[] = {
    {"--hidden", [](const trainOptions& o) { return std::to_string(o.hidden); }},
    {"--activation", [](const trainOptions& o) { return std::string(o.act == nnue::SCRELU ? "screlu" : "crelu"); }},
    {"--buckets", [](const trainOptions& o) { return std::to_string(o.buckets); }},
    {"--mirror", [](const trainOptions& o) { return std::string(o.mirrored ? "mirrored" : "unmirrored"); }},
    {"--epochs", [](const trainOptions& o) { return std::to_string(o.epochs); }},
    {"--batch", [](const trainOptions& o) { return std::to_string(o.batch); }},
    {"--lambda", [](const trainOptions& o) { return floatText(o.loss.lambda); }},
    {"--k", [](const trainOptions& o) { return floatText(o.loss.k); }},
    {"--lr", [](const trainOptions& o) { return floatText(o.lr); }},
    {"--cosine", [](const trainOptions& o) { return std::string(o.cosine ? "cosine" : "step"); }},
    {"--lr-drop", [](const trainOptions& o) { return std::to_string(dropEpoch(o)); }},
    {"--lr-gamma", [](const trainOptions& o) { return floatText(o.lrGamma); }},
    {"--weight-decay", [](const trainOptions& o) { return floatText(o.weightDecay); }},
    {"--seed", [](const trainOptions& o) { return std::to_string(o.seed); }},
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
  checkpointHeader h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.magic, CHECKPOINT_MAGIC, sizeof h.magic);
  h.version = CHECKPOINT_VERSION;
  h.hidden = u32(net.hidden);
  h.activation = net.act;
  h.buckets = u32(net.buckets);
  h.epochsDone = u32(epochsDone);
  h.steps = steps;
  h.rngState = rng.state;
  h.fingerprint = dataFingerprint();
  h.floats = net.size();
  h.epochs = u32(opt.epochs);
  h.scheduleEpochs = u32(opt.scheduleEpochs);
  h.batch = u32(opt.batch);
  h.threads = u32(opt.threads);
  h.lrDrop = opt.lrDrop;
  h.flags = (opt.cosine ? COSINE : 0) | (opt.kFitted ? K_FITTED : 0) | (opt.mirrored ? MIRRORED : 0);
  h.lambda = opt.loss.lambda;
  h.k = opt.loss.k;
  h.lr = opt.lr;
  h.lrGamma = opt.lrGamma;
  h.weightDecay = opt.weightDecay;
  h.seed = opt.seed;
  const std::string part = path + ".part";
  errno = 0;
  FILE* f = std::fopen(part.c_str(), "wb");
  int err = f ? 0 : errno;
  u32 sum = 2166136261u;
  auto write = [&](const void* data, std::size_t bytes) {
    const auto* b = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < bytes; ++i) sum = (sum ^ b[i]) * 16777619u;
    if (!err && std::fwrite(data, 1, bytes, f) != bytes) err = errno ? errno : EIO;
  };
  write(&h, sizeof h);
  write(net.params.data(), sizeof(float) * net.size());
  write(moment1.data(), sizeof(float) * net.size());
  write(moment2.data(), sizeof(float) * net.size());
  if (!err && std::fwrite(&sum, 1, sizeof sum, f) != sizeof sum) err = errno ? errno : EIO;
  // A full disk may show only when the buffer is flushed, at the close.
  if (f && std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  if (!err && std::rename(part.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    error = systemError("cannot write the checkpoint " + path, err);
    std::remove(part.c_str());
  }
  return !err;
}

bool readCheckpointInfo(const std::string& path, checkpointInfo& info, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = systemError("cannot read the checkpoint " + path, errno);
    return false;
  }
  unsigned char bytes[sizeof(checkpointHeader)];
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  checkpointHeader h;
  if (!parseHeader(bytes, got, path, h, error)) return false;
  info.options = headerOptions(h);
  info.epochsDone = int(h.epochsDone);
  info.path = path;
  return true;
}

bool trainer::loadCheckpoint(const std::string& path, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = systemError("cannot read the checkpoint " + path, errno);
    return false;
  }
  std::vector<unsigned char> bytes;
  unsigned char buffer[1 << 16];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(f);

  checkpointHeader h;
  const std::size_t floatBytes = sizeof(float) * net.size();
  if (!parseHeader(bytes.data(), bytes.size(), path, h, error)) return false;
  if (int(h.hidden) != net.hidden || h.activation != u32(net.act) || h.floats != net.size()) {
    error = path + ": hidden width " + std::to_string(h.hidden) + " and activation " +
            (h.activation == nnue::SCRELU ? "screlu" : "crelu") + " differ from this run's";
    return false;
  }
  // The caller takes its options from the checkpoint (resumeOptions); this
  // only guards against one that did not. The epochs may grow, the
  // threads change.
  const trainOptions stored = headerOptions(h);
  for (const optionField& field : OPTION_FIELDS) {
    if (std::string(field.flag) == "--epochs") continue;
    if (field.text(stored) != field.text(opt)) {
      error = path + ": the checkpoint's " + field.flag + " " + field.text(stored) + " differs from this run's " +
              field.text(opt);
      return false;
    }
  }
  if (stored.scheduleEpochs != opt.scheduleEpochs) {
    error = path + ": the checkpoint's schedule is laid out over " + std::to_string(stored.scheduleEpochs) +
            " epochs, this run's over " + std::to_string(opt.scheduleEpochs);
    return false;
  }
  if (bytes.size() != sizeof h + 3 * floatBytes + 4) {
    error = path + " is truncated";
    return false;
  }
  u32 sum;
  std::memcpy(&sum, bytes.data() + bytes.size() - 4, 4);
  if (nnue::fnv1a(bytes.data(), bytes.size() - 4) != sum) {
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

// ---- a resumed run's options -------------------------------------------

bool resumeOptions(const trainOptions& cli, const std::set<std::string>& given, const checkpointInfo& stored,
                   int moreEpochs, trainOptions& out, std::vector<std::string>& notes, std::string& error) {
  const trainOptions& s = stored.options;
  const std::string keeps = "; a resumed run keeps its options";
  std::string taken;
  for (const optionField& field : OPTION_FIELDS) {
    const std::string flag = field.flag;
    const std::string mine = field.text(s);
    if (!given.count(flag)) {
      // Listed as flags that would give the same run; the step
      // schedule's switch is its absence, and cosine has no drop.
      if (flag == "--cosine" || flag == "--mirror")
        taken += (flag == "--cosine" ? s.cosine : s.mirrored) ? " " + flag : "";
      else if (!(flag == "--lr-drop" && s.cosine))
        taken += " " + flag + " " + mine + (flag == "--k" && s.kFitted ? " (fitted)" : "");
      continue;
    }
    if (flag == "--k" && cli.kFitted) {
      if (!s.kFitted) {
        error = "--k fit differs from the checkpoint's given " + mine + keeps;
        return false;
      }
      continue;
    }
    if (flag == "--cosine") {
      if (!s.cosine) {
        error = "--cosine differs from the checkpoint's step schedule" + keeps;
        return false;
      }
      continue;
    }
    if (flag == "--mirror") {
      if (!s.mirrored) {
        error = "--mirror differs from the checkpoint's unmirrored inputs" + keeps;
        return false;
      }
      continue;
    }
    if (field.text(cli) != mine) {
      error = flag + " " + field.text(cli) + " differs from the checkpoint's " + mine + keeps +
              (flag == "--epochs" ? " (--more-epochs N trains longer)" : "");
      return false;
    }
  }

  trainOptions run = s;  // `out` may be `cli`, still needed here
  if (given.count("--threads"))
    run.threads = cli.threads;
  else
    taken += " --threads " + std::to_string(s.threads);
  std::string line = stored.path.empty() ? "resuming" : "resuming from " + stored.path;
  line += " after epoch " + std::to_string(stored.epochsDone) + " of " + std::to_string(s.epochs);
  line += taken.empty() ? "; every option as given" : "; from the checkpoint:" + taken;
  if (moreEpochs > 0) {
    run.epochs = s.epochs + moreEpochs;
    const bool dropped = s.cosine || std::max(1, s.scheduleEpochs) >= dropEpoch(s);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", double(dropped ? s.lr * s.lrGamma : s.lr));
    line += "; --more-epochs " + std::to_string(moreEpochs) + ": " + std::to_string(run.epochs) + " epochs in all, " +
            "those beyond " + std::to_string(s.scheduleEpochs) + " at the schedule's last rate " + rate;
  }
  notes.push_back(line);
  if (run.threads != s.threads)
    notes.push_back("--threads " + std::to_string(run.threads) + " where the checkpoint's run had " +
                    std::to_string(s.threads) + ": the net will not be bit-identical to an unbroken run's");
  out = run;
  return true;
}

// ---- output paths ------------------------------------------------------

namespace {

// Creates and removes path.part, the file every writer goes through.
bool probeWritable(const std::string& what, const std::string& path, std::string& error) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = systemError("cannot write " + what + path, EISDIR);
    return false;
  }
  const std::string probe = path + ".part";
  errno = 0;
  FILE* f = std::fopen(probe.c_str(), "wb");
  if (!f) {
    error = systemError("cannot write " + what + path, errno ? errno : EIO);
    return false;
  }
  std::fclose(f);
  std::remove(probe.c_str());
  return true;
}

}  // namespace

std::string epochNetPath(const std::string& out, int epoch) {
  const auto dot = out.rfind('.'), slash = out.rfind('/');
  const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (extension ? out.substr(0, dot) : out) + "-e" + std::to_string(epoch) + ".nnue";
}

bool checkOutputPaths(const std::string& out, const std::string& checkpoint, bool saveEpochs, std::string& error) {
  return probeWritable("", out, error) && (checkpoint.empty() || probeWritable("the checkpoint ", checkpoint, error)) &&
         (!saveEpochs || probeWritable("the per-epoch nets: ", epochNetPath(out, 1), error));
}

}  // namespace train
