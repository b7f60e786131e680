#pragma once
// The training loop: shuffled epochs of batches, the gradient summed over
// worker threads, AdamW with a learning-rate schedule, weight clipping after
// every step, and checkpoints that let a run resume exactly where it stopped.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "train/network.h"
#include "board/random.h"
#include "train/sample.h"

namespace train {

struct trainOptions {
  int hidden = 256;
  nnue::activation act = nnue::SCRELU;
  int buckets = 1;  // output layers: 1 or nnue::OUTPUT_BUCKETS
  bool mirrored = false;  // inputs flipped by each view's king (a version-3 net)
  int epochs = 20;
  int batch = 16384;
  int threads = 2;
  lossShape loss;
  bool kFitted = true;  // loss.k is fitted to the data (the default), not given
  float lr = 1e-3f;
  // Step schedule: from epoch lrDrop on (0: the last quarter) the rate is
  // lr * lrGamma. Cosine: it falls smoothly from lr to lr * lrGamma. Either
  // is laid out over scheduleEpochs (0: epochs); a run extended beyond them
  // stays at the schedule's last rate.
  int lrDrop = 0;
  float lrGamma = 0.1f;
  bool cosine = false;
  int scheduleEpochs = 0;
  float weightDecay = 0.01f;
  u64 seed = 1;
};

// The first epoch of the step schedule's lower rate.
int dropEpoch(const trainOptions& o);

// A checkpoint's header: the options of the run that wrote it and how far it got.
struct checkpointInfo {
  trainOptions options;
  int epochsDone = 0;
  std::string path;
};
bool readCheckpointInfo(const std::string& path, checkpointInfo& info, std::string& error);

// The options of a resumed run: the checkpoint's, extended by moreEpochs.
// `given` holds the options of the command line (`cli`) by flag ("--lr",
// ...); each must agree with the checkpoint, or `error` names the first
// that does not. The threads alone may differ. `notes` gets the lines to
// print: what was taken from the checkpoint, the new total, other threads.
bool resumeOptions(const trainOptions& cli, const std::set<std::string>& given, const checkpointInfo& stored,
                   int moreEpochs, trainOptions& out, std::vector<std::string>& notes, std::string& error);

// Whether the run can write its files (the net, the checkpoint unless
// empty, the per-epoch nets of saveEpochs), checked before hours of
// training depend on it; `error` carries the system's reason.
bool checkOutputPaths(const std::string& out, const std::string& checkpoint, bool saveEpochs, std::string& error);
// The net file written after epoch `epoch` under saveEpochs.
std::string epochNetPath(const std::string& out, int epoch);

// Runs fn(0) .. fn(n - 1) at once, fn(0) on the calling thread.
class workerPool {
 public:
  explicit workerPool(int n);
  ~workerPool();
  workerPool(const workerPool&) = delete;
  workerPool& operator=(const workerPool&) = delete;
  void run(const std::function<void(int)>& fn);
  int size() const { return int(threads.size()) + 1; }

 private:
  void loop(int index);
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::condition_variable wake, done;
  const std::function<void(int)>* job = nullptr;  // guarded by mutex
  u64 generation = 0;                              // guarded by mutex
  int running = 0;                                 // guarded by mutex
  bool quit = false;                               // guarded by mutex
};

struct epochReport {
  int epoch = 0;
  double trainLoss = 0, validationLoss = 0;  // mean squared error per position
  double seconds = 0;                        // training alone, without validation
  double positionsPerSecond = 0;
  float lr = 0;
};

class trainer {
 public:
  // The samples stay the caller's and must outlive the trainer.
  trainer(const trainOptions& options, const std::vector<sample>& training, const std::vector<sample>& validation);

  // One epoch; `progress` (may be empty) hears the fraction done after each batch.
  epochReport runEpoch(const std::function<void(double)>& progress = {});
  // Mean loss of the current net over a set of samples.
  double meanLoss(const std::vector<sample>& samples);

  // Checkpoint: the run's options, the float net, the optimiser's moments
  // and step, the epochs done and the shuffling state. Loading refuses
  // other options (but the threads and the epochs), another architecture
  // or other training data.
  bool saveCheckpoint(const std::string& path, std::string& error) const;
  bool loadCheckpoint(const std::string& path, std::string& error);

  // The rate of a step (counted from the run's start) in a (1-based) epoch.
  float learningRate(int epoch, u64 step) const;

  floatNet net;
  int epochsDone = 0;

 private:
  void step(const u32* batch, std::size_t count, double& loss);
  u64 dataFingerprint() const;

  trainOptions opt;
  const std::vector<sample>& training;
  const std::vector<sample>& validation;
  workerPool pool;
  std::vector<std::vector<float>> grads;    // one buffer per thread
  std::vector<std::vector<float>> scratch;  // one per thread
  std::vector<float> moment1, moment2;
  std::vector<u32> order;
  u64 steps = 0;
  splitMix rng;
};

}  // namespace train
