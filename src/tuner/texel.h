#pragma once
// The "texel" command: measure how well the static evaluation predicts game
// results over a file of labelled positions, with the work spread over a
// fixed pool of tuning threads.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/board.h"
#include "board/sink.h"

constexpr int TUNING_THREADS = 24;
constexpr double TEXEL_K = 1.83;
constexpr double TEXEL_DIVISOR = 400.0;

struct tuningEntry {
  std::string fen;  // FEN words of the line, each followed by one blank
  double result;    // from White's view: 1 won, 0.5 drawn, 0 lost
};

class texelWorker {
 public:
  explicit texelWorker(u64 index);
  ~texelWorker();
  texelWorker(const texelWorker&) = delete;
  texelWorker& operator=(const texelWorker&) = delete;

  // Sum of squared errors over `entries`, stored in `error`.
  void sumErrors();

  // Hand-over with the command thread.
  void startWork();
  void waitIdle();

  u64 index;
  std::vector<tuningEntry> entries;
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
  bool quit = false;  // guarded by mutex
  bool busy = true;   // guarded by mutex
  double error = 0.0;
  board threadBoard{};

 private:
  void loop();
};

// A tunable evaluation weight: the descent driver nudges *value by one.
struct tuningParam {
  std::string name;
  int* value;
};

// The tuner's state between commands.
struct tunerState {
  // Every labelled position read so far, in file order; each "texel" appends.
  std::vector<tuningEntry> data;
  std::vector<std::unique_ptr<texelWorker>> pool;
  std::vector<tuningParam> params;
};
extern tunerState tuner;

// Expected score of White for a White-view evaluation.
double winProbability(int whiteScore);

// Reads "lichess-good.epd" from the working directory (or `path`) and
// appends its labelled positions. 0 on success, 9 when nothing can be used.
int loadTuningData();
int loadTuningData(const std::string& path);

// (Re)builds the pool and hands every thread its contiguous share.
void startTuningThreads();
// Ends and joins every tuning thread.
void stopTuningThreads();

// Mean squared error over all of tuner.data, using every tuning thread.
double meanError();

// Coordinate descent over `params` against `error`, printing its report.
void minimiseError(std::vector<tuningParam>& params, const std::function<double()>& error);
void minimiseError();

// The parameter list as source text; nothing for an empty list.
void printParams(const std::vector<tuningParam>& params);

// Where the tuner's report goes (its threads say "Lets go" too); the protocol
// layer installs it at start-up, and until then nothing is said.
void setTunerSink(textSink sink);

// The "texel" command, once the caller has stopped the search and renewed the
// table: rebuilds the attack tables and keys, loads the file and tunes.
void texelCommand();
