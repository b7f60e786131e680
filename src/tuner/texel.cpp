#include "tuner/texel.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "board/attacks.h"
#include "eval/eval.h"
#include "movegen/setup.h"

tunerState tuner;

namespace {

constexpr const char* TUNING_FILE = "lichess-good.epd";

textSink tunerSink;

void sayText(const std::string& text) {
  if (tunerSink) tunerSink(text);
}
void sayLine(const std::string& line) { sayText(line + "\n"); }

std::string formatDouble(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

}  // namespace

void setTunerSink(textSink sink) { tunerSink = std::move(sink); }

double winProbability(int whiteScore) {
  return 1.0 / (1.0 + std::pow(10.0, -TEXEL_K * whiteScore / TEXEL_DIVISOR));
}

// ---- tuning threads ---------------------------------------------------------

texelWorker::texelWorker(u64 i) : index(i) {
  resetThreadBoard(threadBoard);
  thread = std::thread(&texelWorker::loop, this);
  waitIdle();
}

texelWorker::~texelWorker() {
  // A thread still summing would overwrite the quit hand-over on its way back.
  waitIdle();
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
    busy = true;
  }
  wake.notify_all();
  if (thread.joinable()) thread.join();
}

void texelWorker::loop() {
  sayLine("Lets go");
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex);
    busy = false;
    wake.notify_all();
    wake.wait(lock, [this] { return busy; });
    if (quit) return;
    lock.unlock();
    sumErrors();
  }
}

void texelWorker::startWork() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    busy = true;
  }
  wake.notify_all();
}

void texelWorker::waitIdle() {
  std::unique_lock<std::mutex> lock(mutex);
  wake.wait(lock, [this] { return !busy; });
}

void texelWorker::sumErrors() {
  double sum = 0.0;
  for (const tuningEntry& e : entries) {
    // The loader only keeps text the FEN reader accepts.
    setFromFen(e.fen, threadBoard);
    int score = evaluate(threadBoard);
    if (threadBoard.sideToMove != WHITE) score = -score;
    double diff = e.result - winProbability(score);
    sum += diff * diff;
  }
  error = sum;
}

void startTuningThreads() {
  stopTuningThreads();
  while (tuner.pool.size() < TUNING_THREADS) tuner.pool.push_back(std::make_unique<texelWorker>(tuner.pool.size()));

  // Fixed contiguous shares; the last thread also takes the remainder.
  const size_t n = tuner.data.size();
  const size_t chunk = n / TUNING_THREADS;
  for (size_t i = 0; i < TUNING_THREADS; ++i) {
    size_t from = chunk * i;
    size_t to = i + 1 == TUNING_THREADS ? n : from + chunk;
    tuner.pool[i]->entries.assign(tuner.data.begin() + from, tuner.data.begin() + to);
  }
}

void stopTuningThreads() {
  for (auto& w : tuner.pool) w->waitIdle();
  while (!tuner.pool.empty()) tuner.pool.pop_back();
}

double meanError() {
  size_t n = 0;
  for (auto& w : tuner.pool) {
    n += w->entries.size();
    w->startWork();
  }
  double sum = 0.0;
  for (auto& w : tuner.pool) {
    w->waitIdle();
    sum += w->error;
  }
  return n ? sum / double(n) : 0.0;
}

// ---- loading ----------------------------------------------------------------

int loadTuningData(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    sayText("There seems to be a problem with the tuning file. tuning not executed\n");
    return 9;
  }
  auto scratch = std::make_unique<board>();
  u64 skipped = 0;
  std::string line;
  // Words are kept as spans of the line, so a huge line is not copied again.
  std::vector<std::pair<size_t, size_t>> words;
  while (std::getline(file, line)) {
    words.clear();
    for (size_t i = 0; i < line.size();) {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      size_t start = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      if (i > start) words.emplace_back(start, i - start);
    }
    auto word = [&](size_t k) { return std::string_view(line).substr(words[k].first, words[k].second); };

    size_t c9 = 0;
    while (c9 < words.size() && word(c9) != "c9") ++c9;
    // No label, or a label with no result after it: nothing to learn from.
    if (c9 + 1 >= words.size()) {
      if (!words.empty()) ++skipped;
      continue;
    }
    tuningEntry entry;
    for (size_t i = 0; i < c9; ++i) {
      entry.fen += word(i);
      entry.fen += ' ';
    }
    // The result sits in quotation marks; the opening one is skipped.
    std::string_view result = word(c9 + 1).substr(1, 3);
    entry.result = result == "1-0" ? 1.0 : result == "1/2" ? 0.5 : 0.0;

    *scratch = board{};
    if (!setFromFen(entry.fen, *scratch)) {
      ++skipped;
      continue;
    }
    tuner.data.push_back(std::move(entry));
  }
  if (skipped) sayLine("Skipped " + std::to_string(skipped) + " unusable lines of the tuning file");
  if (tuner.data.empty()) {
    sayText("There are no usable positions in the tuning file. tuning not executed\n");
    return 9;
  }
  return 0;
}

int loadTuningData() { return loadTuningData(TUNING_FILE); }

// ---- descent driver ---------------------------------------------------------

void printParams(const std::vector<tuningParam>& params) {
  for (const tuningParam& p : params) sayLine(p.name + " = " + std::to_string(*p.value) + ";");
}

void minimiseError(std::vector<tuningParam>& params, const std::function<double()>& error) {
  double best = error();
  sayLine("Starting error " + formatDouble(best));
  int pass = 0;
  bool improved;
  do {
    improved = false;
    for (tuningParam& p : params) {
      const int original = *p.value;
      bool kept = false;
      for (int step : {1, -1}) {
        *p.value = original + step;
        double e = error();
        if (e < best) {
          best = e;
          kept = true;
          break;
        }
      }
      if (kept)
        improved = true;
      else
        *p.value = original;
    }
    ++pass;
    sayLine("");
    sayLine(" Improving: " + std::to_string(pass));
  } while (improved);
  double e = error();
  sayLine("Ending error " + formatDouble(e) + " Minimum error " + formatDouble(best));
}

void minimiseError() { minimiseError(tuner.params, meanError); }

void texelCommand() {
  initAttackTables();
  initKeys();
  if (loadTuningData() != 0) return;
  startTuningThreads();
  sayLine("Starting texel tuning....");
  tuner.params.clear();
  printParams(tuner.params);
  minimiseError();
  printParams(tuner.params);
}
