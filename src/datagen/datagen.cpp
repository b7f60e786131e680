// "datagen": self-play games into a training data file.
//
// Games are played by worker processes, one search thread and one small
// table each: the search keeps its table and its control in process-wide
// objects, and a process of its own gives every game those objects to
// itself. The parent hands out game indices, collects the finished games
// and writes them in index order, each with one write, so the file is the
// same whatever the number of workers and a run ended at any moment keeps
// every game it wrote whole.

#include "datagen/datagen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "board/decimal.h"
#include "board/flags.h"
#include "format/record.h"
#include "datagen/selfplay.h"
#include "engine/report.h"
#include "nnue/net.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"

namespace {

#ifndef DRAVLIN_COMMIT
#define DRAVLIN_COMMIT "unknown"
#endif

constexpr int DATAGEN_HASH_MB = 8;
constexpr i64 PROGRESS_MS = 5000;
// The file is synced at a game boundary this often: a machine crash then
// costs at most this much of the run, not everything since the last flush.
constexpr i64 SYNC_MS = 60000;

struct datagenFlags {
  std::string out, book, syzygy, net;
  u64 games = 0, positions = 0;
  int threads = 1;
  int hashMb = DATAGEN_HASH_MB;
  bool resume = false, force = false;
  genSettings s;
};

const char* const DATAGEN_HELP =
    "usage: dravlin datagen --out FILE (--games N | --positions N) [flags]\n"
    "Self-play games into a training data file (format: see docs/training-data.md).\n"
    "  --out FILE            the data file; an existing one needs --resume\n"
    "  --games N             stop after N games in the file\n"
    "  --positions N         stop after the game that brings the file to N positions\n"
    "  --resume              continue FILE after its last complete game, with the flags it\n"
    "                        was made with (recorded in the file)\n"
    "  --force               resume even with other flags (the new ones are recorded too)\n"
    "  --threads T           games played side by side, one worker process each (1..256, default 1)\n"
    "  --nodes N             soft node limit per move: no new iteration once passed (default 5000)\n"
    "  --hard-nodes N        hard node limit per move, once an iteration is done (default 20 x --nodes)\n"
    "  --seed S              game i depends only on S, i and the flags (default 1)\n"
    "  --random-plies R      random legal moves that open each game (0..100, default 8)\n"
    "  --book EPD            start each game from a random line of the book (FEN or EPD a line)\n"
    "  --syzygy PATH         tablebases: a position they hold ends the game with their result\n"
    "  --hash MB             table of each worker, cleared before each game (1..1024, default 8)\n"
    "  --net FILE            evaluate with this net file ('<embedded>': the built-in net); default:\n"
    "                        the hand-written evaluation\n"
    "  --opening-nodes N     the search that judges an opening (default 1000 nodes)...\n"
    "  --opening-score S     ...draws it again when it scores beyond +-S (default 1000)\n"
    "  --win-score S         adjudicated win: one side's score at least S (default 2500)...\n"
    "  --win-plies P         ...for P plies in a row (0 = never; default 4)\n"
    "  --draw-score S        adjudicated draw: |score| at most S (default 10)...\n"
    "  --draw-plies P        ...for P plies in a row (0 = never; default 12)...\n"
    "  --draw-from-move M    ...all after move M (default 40)\n"
    "  --max-plies P         a game that reaches P plies is a draw (default 400)\n"
    "An opening is drawn again when the game is already over, the tablebases hold it, or its\n"
    "search scores it beyond the bound. Progress goes to standard error every 5 s.\n";

// ---- files and pipes -----------------------------------------------------------------

bool writeAll(int fd, const void* data, std::size_t n, std::string& why) {
  const u8* p = static_cast<const u8*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      why = w < 0 ? std::strerror(errno) : "nothing written";
      return false;
    }
    p += w;
    n -= std::size_t(w);
  }
  return true;
}

bool readAll(int fd, void* data, std::size_t n) {
  u8* p = static_cast<u8*>(data);
  while (n > 0) {
    const ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= std::size_t(r);
  }
  return true;
}

struct outputFile {
  int fd = -1;
  u64 size = 0;
  u64 games = 0, positions = 0;  // already in the file
  u64 cutBytes = 0;              // an unfinished game cut by --resume
  std::vector<std::string> notes;  // what --resume found and did, a line each
};

// What decides the games a run writes, recorded in the file's header.
// `commit` and the file names only inform: the games depend on the net's and
// the book's contents, not on where they lie.
dataSettings runSettings(const datagenFlags& f, const std::string& netSum, const std::string& bookSum) {
  const genSettings& s = f.s;
  return {{"tool", "datagen"},
          {"commit", DRAVLIN_COMMIT},
          {"seed", std::to_string(s.seed)},
          {"nodes", std::to_string(s.softNodes)},
          {"hard-nodes", std::to_string(s.hardNodes)},
          {"random-plies", std::to_string(s.randomPlies)},
          {"opening-nodes", std::to_string(s.openingNodes)},
          {"opening-score", std::to_string(s.openingBound)},
          {"book", bookSum},
          {"book-file", f.book.empty() ? "none" : f.book},
          {"syzygy", f.syzygy.empty() ? "none" : f.syzygy},
          {"hash", std::to_string(f.hashMb)},
          {"net", netSum},
          {"net-file", f.net.empty() ? "none" : f.net},
          {"win-score", std::to_string(s.rules.winScore)},
          {"win-plies", std::to_string(s.rules.winPlies)},
          {"draw-score", std::to_string(s.rules.drawScore)},
          {"draw-plies", std::to_string(s.rules.drawPlies)},
          {"draw-from-move", std::to_string(s.rules.drawFromMove)},
          {"max-plies", std::to_string(s.rules.maxPlies)}};
}

bool informativeSetting(const std::string& key) {
  return key == "tool" || key == "commit" || key == "book-file" || key == "net-file";
}

std::string valueOf(const dataSettings& settings, const std::string& key) {
  for (const auto& [k, v] : settings)
    if (k == key) return v;
  return "(none)";
}

// "--seed 5 (now 99), --nodes 300 (now 2000)": the settings that differ.
std::string settingsDifference(const dataSettings& recorded, const dataSettings& now) {
  std::string diff;
  for (const auto& [key, value] : now) {
    if (informativeSetting(key)) continue;
    const std::string was = valueOf(recorded, key);
    if (was != value) diff += (diff.empty() ? "" : ", ") + std::string("--") + key + " " + was + " (now " + value + ")";
  }
  for (const auto& [key, value] : recorded)
    if (!informativeSetting(key) && valueOf(now, key) == "(none)")
      diff += (diff.empty() ? "" : ", ") + key + " " + value + " (unknown to this program)";
  return diff;
}

bool writeHeader(int fd, const dataSettings& settings, u64& size, std::string& why) {
  const std::vector<u8> header = dataHeader(settings);
  if (!writeAll(fd, header.data(), header.size(), why)) return false;
  size += header.size();
  return true;
}

bool openOutput(const datagenFlags& f, const dataSettings& settings, outputFile& o, std::string& error) {
  struct stat st;
  const bool exists = ::stat(f.out.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    error = f.out + ": not a regular file";
    return false;
  }
  // A run killed while it wrote its first header left no game: it starts again.
  bool headerOnly = false;
  if (exists && st.st_size > 0 && f.resume) {
    std::vector<u8> found(20 + MAX_SETTINGS_BYTES);
    std::FILE* in = std::fopen(f.out.c_str(), "rb");
    const std::size_t n = in ? std::fread(found.data(), 1, found.size(), in) : 0;
    if (in) std::fclose(in);
    headerOnly = readDataHeader(found.data(), n).cutShort;
  }
  std::string why;
  if (exists && st.st_size > 0 && f.resume && !headerOnly) {
    const dataFileSummary sum = scanDataFile(f.out);
    if (!sum.error.empty()) {
      error = sum.error + " (the file is damaged there: datastat shows what it holds)";
      return false;
    }
    const dataReader::part& last = sum.parts.back();
    std::string refusal;
    bool newHeader = false;
    if (last.version < 2) {
      refusal = f.out + ": a version-1 file records no flags; --force continues it with these (then recorded)";
      newHeader = true;
    } else if (const std::string diff = settingsDifference(last.settings, settings); !diff.empty()) {
      refusal = f.out + ": made with other flags: " + diff + "; give the same flags, or --force to continue it with "
                "these (recorded in the file beside the old ones)";
      newHeader = true;
    } else if (valueOf(last.settings, "commit") != valueOf(settings, "commit")) {
      o.notes.push_back(f.out + ": begun by commit " + valueOf(last.settings, "commit") + ", continued by " +
                        valueOf(settings, "commit") + " (recorded in the file)");
      newHeader = true;
    }
    if (!refusal.empty() && !f.force) {
      error = refusal;
      return false;
    }
    if (!refusal.empty()) o.notes.push_back(refusal.substr(0, refusal.find(';')) + "; continued under --force");
    o.fd = ::open(f.out.c_str(), O_WRONLY | O_CLOEXEC);
    if (o.fd < 0 || (sum.tailBytes > 0 && ::ftruncate(o.fd, off_t(sum.completeBytes)) != 0) ||
        ::lseek(o.fd, off_t(sum.completeBytes), SEEK_SET) < 0) {
      error = f.out + ": cannot write (" + std::strerror(errno) + ")";
      return false;
    }
    o.size = sum.completeBytes;
    o.games = sum.games;
    o.positions = sum.positions;
    o.cutBytes = sum.tailBytes;
    if (newHeader && !writeHeader(o.fd, settings, o.size, why)) {
      error = f.out + ": cannot write (" + why + ")";
      return false;
    }
    return true;
  }
  if (exists && st.st_size > 0 && !headerOnly) {
    error = f.out + ": the file exists; --resume continues it";
    return false;
  }
  o.fd = ::open(f.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (o.fd < 0) {
    error = f.out + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  if (!writeHeader(o.fd, settings, o.size, why)) {
    error = f.out + ": cannot write (" + why + ")";
    return false;
  }
  return true;
}

std::string checksumText(u32 sum) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", sum);
  return text;
}

// The FNV-1a hash of a file's bytes, or empty when it cannot be read.
std::string fileChecksum(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return checksumText(nnue::fnv1a(bytes.data(), bytes.size()));
}

// ---- the worker processes -------------------------------------------------------------

struct readyMessage {
  i32 tablebases = 0;  // tables found under --syzygy
  i32 hashMb = 0;      // the table the worker got
};

struct gameMessage {
  u64 index = 0;
  u64 nodes = 0;
  u64 searchCpuNs = 0;
  u32 positions = 0;  // records that follow, or the length of the error text
  u32 redraws = 0;
  u8 end = 0;
  u8 result = 0;
  u8 failed = 0;
};

[[noreturn]] void workerMain(int commands, int results, const datagenFlags& f, const openingBook& book) {
  // The search's own lines and the tablebases' notices are nobody's business here.
  setReportSink([](const std::string&) {});
  setTbMessageSinks([](const std::string&) {}, [](const std::string&) {});
  readyMessage ready;
  if (!f.syzygy.empty())
    ready.tablebases = initTablebases(f.syzygy).value_or(0);
  else
    tbInfo.largest = 0;  // tables the engine had loaded stay out of the games
  hashTable.resize(f.hashMb, 1);
  ready.hashMb = hashTable.megabytes();
  std::string why;
  if (!writeAll(results, &ready, sizeof ready, why)) _exit(1);
  gameSearcher searcher;
  playedGame game;
  for (;;) {
    u64 index;
    if (!readAll(commands, &index, sizeof index)) _exit(0);
    gameMessage m;
    m.index = index;
    std::string error;
    if (playGame(f.s, book, index, searcher, game, error)) {
      m.nodes = game.nodes;
      m.searchCpuNs = game.searchCpuNs;
      m.positions = game.positions;
      m.redraws = game.redraws;
      m.end = game.end;
      m.result = u8(game.resultWhite);
      if (!writeAll(results, &m, sizeof m, why) || !writeAll(results, game.records.data(), game.records.size(), why))
        _exit(1);
    } else {
      m.failed = 1;
      m.positions = u32(error.size());
      if (!writeAll(results, &m, sizeof m, why) || !writeAll(results, error.data(), error.size(), why)) _exit(1);
    }
  }
}

struct workerProcess {
  pid_t pid = -1;
  int commands = -1;  // parent -> worker: game indices
  int results = -1;   // worker -> parent: finished games
  bool busy = false;
};

void stopWorkers(std::vector<workerProcess>& workers) {
  for (workerProcess& w : workers) {
    if (w.commands >= 0) ::close(w.commands);
    if (w.pid > 0) ::kill(w.pid, SIGKILL);
  }
  for (workerProcess& w : workers) {
    if (w.pid > 0) ::waitpid(w.pid, nullptr, 0);
    if (w.results >= 0) ::close(w.results);
    w = workerProcess{};
  }
}

bool startWorkers(const datagenFlags& f, const openingBook& book, int dataFd, std::vector<workerProcess>& workers,
                  std::string& error) {
  const pid_t parent = ::getpid();
  for (int t = 0; t < f.threads; ++t) {
    int commands[2], results[2];
    if (::pipe2(commands, O_CLOEXEC) != 0) {
      error = std::string("cannot make a pipe (") + std::strerror(errno) + ")";
      return false;
    }
    if (::pipe2(results, O_CLOEXEC) != 0) {
      error = std::string("cannot make a pipe (") + std::strerror(errno) + ")";
      ::close(commands[0]);
      ::close(commands[1]);
      return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
      error = std::string("cannot start a worker process (") + std::strerror(errno) + ")";
      for (int fd : {commands[0], commands[1], results[0], results[1]}) ::close(fd);
      return false;
    }
    if (pid == 0) {
      // A worker dies with its parent, whatever ends the parent.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) _exit(1);
      ::signal(SIGPIPE, SIG_DFL);
      ::close(commands[1]);
      ::close(results[0]);
      ::close(dataFd);
      for (const workerProcess& w : workers) {
        ::close(w.commands);
        ::close(w.results);
      }
      workerMain(commands[0], results[1], f, book);
    }
    ::close(commands[0]);
    ::close(results[1]);
    workerProcess w;
    w.pid = pid;
    w.commands = commands[1];
    w.results = results[0];
    workers.push_back(w);
  }
  for (workerProcess& w : workers) {
    readyMessage ready;
    if (!readAll(w.results, &ready, sizeof ready)) {
      error = "a worker process failed to start";
      return false;
    }
    if (!f.syzygy.empty() && ready.tablebases <= 0) {
      error = "--syzygy " + f.syzygy + ": no tablebase files found";
      return false;
    }
  }
  return true;
}

// ---- progress -------------------------------------------------------------------------------

struct runStats {
  u64 games = 0, positions = 0, nodes = 0, redraws = 0;
  u64 searchCpuNs = 0;  // of the games written
  double cpuSeconds = -1;  // parent and workers, when the workers have ended
  u64 results[3] = {0, 0, 0};
  u64 ends[END_KINDS] = {};
};

std::string duration(double seconds) {
  const u64 s = u64(std::max(0.0, seconds) + 0.5);
  char text[48];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lluh%02llum", (unsigned long long)(s / 3600), (unsigned long long)(s / 60 % 60));
  else if (s >= 60)
    std::snprintf(text, sizeof text, "%llum%02llus", (unsigned long long)(s / 60), (unsigned long long)(s % 60));
  else
    std::snprintf(text, sizeof text, "%llus", (unsigned long long)s);
  return text;
}

std::string percent(u64 part, u64 whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return text;
}

std::string progressLine(const datagenFlags& f, const outputFile& o, const runStats& run, double seconds) {
  const u64 games = o.games + run.games, positions = o.positions + run.positions;
  const double rate = seconds > 0 ? double(run.positions) / seconds : 0.0;
  std::ostringstream line;
  line << "datagen: " << games << " games, " << positions << " positions, " << u64(rate + 0.5) << " positions/s, W "
       << percent(run.results[RESULT_WHITE_WINS], run.games) << " D " << percent(run.results[RESULT_DRAW], run.games)
       << " L " << percent(run.results[RESULT_BLACK_WINS], run.games);
  double left = -1;
  if (f.positions && run.positions > 0)
    left = double(f.positions > positions ? f.positions - positions : 0) / rate;
  if (f.games && run.games > 0) {
    const double byGames = double(f.games > games ? f.games - games : 0) * seconds / double(run.games);
    left = left < 0 ? byGames : std::min(left, byGames);
  }
  if (left >= 0) line << ", " << duration(left) << " left";
  return line.str() + "\n";
}

std::string summary(const datagenFlags& f, const outputFile& o, const runStats& run, double seconds) {
  std::ostringstream s;
  const double rate = seconds > 0 ? double(run.positions) / seconds : 0.0;
  s << "datagen: " << run.games << " games and " << run.positions << " positions written in " << duration(seconds)
    << " (" << u64(rate + 0.5) << " positions/s, " << u64(rate / f.threads + 0.5) << " per thread)\n";
  s << "results, White's view: W " << run.results[RESULT_WHITE_WINS] << " D " << run.results[RESULT_DRAW] << " L "
    << run.results[RESULT_BLACK_WINS] << " (" << percent(run.results[RESULT_WHITE_WINS], run.games) << " / "
    << percent(run.results[RESULT_DRAW], run.games) << " / " << percent(run.results[RESULT_BLACK_WINS], run.games)
    << ")\n";
  s << "endings:";
  for (int e = END_MATE; e < END_KINDS; ++e) s << (e == END_MATE ? " " : ", ") << gameEndName(gameEnd(e)) << " " << run.ends[e];
  s << "\n";
  if (run.games)
    s << "per game: " << run.positions / run.games << " positions; per position: " << run.nodes / std::max<u64>(1, run.positions)
      << " nodes; openings drawn again: " << run.redraws << "\n";
  // Where the CPU time went: the searches, against everything else (the
  // parent's collecting and writing, the workers' game driving, packing,
  // table clearing, and the games the target made surplus).
  if (run.cpuSeconds > 0) {
    const double searching = double(run.searchCpuNs) / 1e9;
    char line[200];
    std::snprintf(line, sizeof line,
                  "CPU time %.1f s (%.0f positions a CPU second): %.1f%% in the search, %.1f%% outside it\n",
                  run.cpuSeconds, double(run.positions) / run.cpuSeconds, 100.0 * searching / run.cpuSeconds,
                  100.0 - 100.0 * searching / run.cpuSeconds);
    s << line;
  }
  const u64 positions = o.positions + run.positions;
  s << f.out << ": " << o.games + run.games << " games, " << positions << " positions, " << o.size << " bytes ("
    << RECORD_BYTES << " bytes a position, " << RECORD_BYTES << " MB per million positions)\n";
  return s.str();
}

// ---- flags ------------------------------------------------------------------------------------

int parseDatagenFlags(const std::vector<std::string>& args, datagenFlags& f, bool& help, std::string& error) {
  flagReader r("datagen", args);
  bool hardGiven = false;
  while (!r.done()) {
    const std::string flag = r.flag();
    i64 n = 0;
    bool ok = true;
    if (flag == "--help" || flag == "-h") {
      help = true;
      return 0;
    } else if (flag == "--out") {
      ok = r.text(f.out);
    } else if (flag == "--games") {
      ok = r.number(1, INT64_MAX, n);
      f.games = u64(n);
    } else if (flag == "--positions") {
      ok = r.number(1, INT64_MAX, n);
      f.positions = u64(n);
    } else if (flag == "--resume") {
      f.resume = true;
    } else if (flag == "--force") {
      f.force = true;
    } else if (flag == "--opening-nodes") {
      ok = r.number(1, 100000000, n);
      f.s.openingNodes = u64(n);
    } else if (flag == "--opening-score") {
      ok = r.number(1, MATE_SCORE, n);
      f.s.openingBound = int(n);
    } else if (flag == "--threads") {
      ok = r.number(1, 256, n);
      f.threads = int(n);
    } else if (flag == "--nodes") {
      ok = r.number(1, 100000000, n);
      f.s.softNodes = u64(n);
    } else if (flag == "--hard-nodes") {
      ok = r.number(1, 2000000000, n);
      f.s.hardNodes = u64(n);
      hardGiven = true;
    } else if (flag == "--seed") {
      ok = r.number(0, INT64_MAX, n);
      f.s.seed = u64(n);
    } else if (flag == "--random-plies") {
      ok = r.number(0, 100, n);
      f.s.randomPlies = int(n);
    } else if (flag == "--book") {
      ok = r.text(f.book);
    } else if (flag == "--syzygy") {
      ok = r.text(f.syzygy);
    } else if (flag == "--net") {
      ok = r.text(f.net);
    } else if (flag == "--hash") {
      ok = r.number(1, 1024, n);
      f.hashMb = int(n);
    } else if (flag == "--win-score") {
      ok = r.number(1, MATE_SCORE, n);
      f.s.rules.winScore = int(n);
    } else if (flag == "--win-plies") {
      ok = r.number(0, 1000, n);
      f.s.rules.winPlies = int(n);
    } else if (flag == "--draw-score") {
      ok = r.number(0, 1000, n);
      f.s.rules.drawScore = int(n);
    } else if (flag == "--draw-plies") {
      ok = r.number(0, 1000, n);
      f.s.rules.drawPlies = int(n);
    } else if (flag == "--draw-from-move") {
      ok = r.number(0, 1000, n);
      f.s.rules.drawFromMove = int(n);
    } else if (flag == "--max-plies") {
      ok = r.number(1, 4000, n);
      f.s.rules.maxPlies = int(n);
    } else {
      ok = r.unknown();
    }
    if (!ok) {
      error = r.error();
      return 2;
    }
  }
  if (!hardGiven) f.s.hardNodes = 20 * f.s.softNodes;
  if (f.out.empty()) {
    error = "datagen: --out FILE is needed (dravlin datagen --help)";
  } else if (f.games == 0 && f.positions == 0) {
    error = "datagen: --games N or --positions N is needed";
  } else if (f.s.hardNodes < f.s.softNodes) {
    error = "datagen: --hard-nodes " + std::to_string(f.s.hardNodes) + " is below --nodes " + std::to_string(f.s.softNodes);
  } else if (f.s.rules.maxPlies <= f.s.randomPlies) {
    error = "datagen: --max-plies " + std::to_string(f.s.rules.maxPlies) + " leaves no ply after --random-plies " +
            std::to_string(f.s.randomPlies);
  }
  return error.empty() ? 0 : 2;
}

double cpuSeconds(int who) {
  rusage u;
  if (::getrusage(who, &u) != 0) return 0;
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool targetReached(const datagenFlags& f, u64 games, u64 positions) {
  return (f.games && games >= f.games) || (f.positions && positions >= f.positions);
}

}  // namespace

int datagenTool(const std::vector<std::string>& args, const textSink& out, const textSink& err) {
  datagenFlags f;
  bool help = false;
  std::string error;
  if (const int status = parseDatagenFlags(args, f, help, error)) {
    err(error + "\n");
    return status;
  }
  if (help) {
    out(DATAGEN_HELP);
    return 0;
  }
  // Loaded before the workers start, which share it.
  std::unique_ptr<nnue::network> net;
  std::string netSum = "none", bookSum = "none";
  if (!f.net.empty()) {
    net = std::make_unique<nnue::network>();
    u32 sum = 0;
    error = nnue::loadNetByName(f.net, *net, &sum);
    if (!error.empty()) {
      err("datagen: --net " + f.net + ": " + error + "\n");
      return 1;
    }
    netSum = checksumText(sum);
    f.s.net = net.get();
  }
  openingBook book;
  if (!f.book.empty()) {
    if (!book.load(f.book, error)) {
      err("datagen: --book " + error + "\n");
      return 1;
    }
    bookSum = fileChecksum(f.book);
  }
  outputFile o;
  if (!openOutput(f, runSettings(f, netSum, bookSum), o, error)) {
    err("datagen: " + error + "\n");
    return 1;
  }
  if (o.cutBytes)
    err("datagen: " + f.out + ": " + std::to_string(o.cutBytes) +
        " bytes after the last complete game cut (an unfinished game, or what a crash left)\n");
  for (const std::string& note : o.notes) err("datagen: " + note + "\n");
  if (f.resume && o.games)
    err("datagen: " + f.out + ": resuming after " + std::to_string(o.games) + " games, " + std::to_string(o.positions) +
        " positions\n");
  runStats run;
  const double cpuBefore = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
  const auto start = std::chrono::steady_clock::now();
  auto secondsSince = [&start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  if (targetReached(f, o.games, o.positions)) {
    ::close(o.fd);
    out(summary(f, o, run, secondsSince()));
    return 0;
  }

  // A worker that died leaves a pipe that refuses writes; that is an error
  // to report, not a signal to die of.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  std::vector<workerProcess> workers;
  int status = 0;
  if (!startWorkers(f, book, o.fd, workers, error)) {
    err("datagen: " + error + "\n");
    status = 1;
  }

  u64 nextIndex = o.games, nextWrite = o.games;
  bool assigning = status == 0;
  std::map<u64, std::pair<gameMessage, std::vector<u8>>> finished;
  auto assign = [&](workerProcess& w) {
    if (!assigning || (f.games && nextIndex >= f.games)) return;
    std::string why;
    if (writeAll(w.commands, &nextIndex, sizeof nextIndex, why)) {
      ++nextIndex;
      w.busy = true;
    }
  };
  for (workerProcess& w : workers) assign(w);
  i64 nextProgressMs = PROGRESS_MS, nextSyncMs = SYNC_MS;

  while (status == 0) {
    std::vector<pollfd> fds;
    std::vector<workerProcess*> polled;
    for (workerProcess& w : workers)
      if (w.busy) {
        fds.push_back(pollfd{w.results, POLLIN, 0});
        polled.push_back(&w);
      }
    if (fds.empty()) break;
    const i64 nowMsRun = i64(secondsSince() * 1000);
    const int timeout = int(std::clamp<i64>(nextProgressMs - nowMsRun, 0, 1000));
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) {
      err(std::string("datagen: poll failed (") + std::strerror(errno) + ")\n");
      status = 1;
      break;
    }
    if (secondsSince() * 1000 >= double(nextProgressMs)) {
      err(progressLine(f, o, run, secondsSince()));
      nextProgressMs += PROGRESS_MS;
    }
    for (std::size_t i = 0; i < fds.size() && status == 0; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      workerProcess& w = *polled[i];
      gameMessage m;
      std::vector<u8> body;
      bool got = readAll(w.results, &m, sizeof m);
      if (got) {
        body.resize(m.failed ? m.positions : std::size_t(m.positions) * RECORD_BYTES);
        got = readAll(w.results, body.data(), body.size());
      }
      if (!got) {
        err("datagen: a worker process ended unexpectedly\n");
        status = 1;
        break;
      }
      if (m.failed) {
        err("datagen: " + std::string(body.begin(), body.end()) + "\n");
        status = 1;
        break;
      }
      w.busy = false;
      finished.emplace(m.index, std::make_pair(m, std::move(body)));
      // Games go out in index order, each with one write.
      while (assigning && status == 0) {
        const auto it = finished.find(nextWrite);
        if (it == finished.end()) break;
        const gameMessage& g = it->second.first;
        const std::vector<u8>& records = it->second.second;
        std::string why;
        if (!writeAll(o.fd, records.data(), records.size(), why)) {
          // Whatever part of the game got out is cut again; the complete games stay.
          if (::ftruncate(o.fd, off_t(o.size)) != 0) {
            // the reader leaves an unfinished game out anyway
          }
          err("datagen: " + f.out + ": write failed after " + std::to_string(o.games + run.games) + " games (" + why +
              "); the file keeps every complete game\n");
          status = 1;
          break;
        }
        o.size += records.size();
        ++run.games;
        run.positions += g.positions;
        run.nodes += g.nodes;
        run.searchCpuNs += g.searchCpuNs;
        run.redraws += g.redraws;
        run.results[std::min<int>(g.result, 2)]++;
        run.ends[std::min<int>(g.end, END_KINDS - 1)]++;
        finished.erase(it);
        ++nextWrite;
        if (targetReached(f, o.games + run.games, o.positions + run.positions)) assigning = false;
      }
      if (secondsSince() * 1000 >= double(nextSyncMs)) {
        ::fdatasync(o.fd);
        nextSyncMs = i64(secondsSince() * 1000) + SYNC_MS;
      }
      if (status == 0) assign(w);
    }
    if (!assigning) break;
  }
  // Games still being played when the target is reached are not wanted.
  stopWorkers(workers);
  run.cpuSeconds = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
  ::sigaction(SIGPIPE, &previous, nullptr);
  ::fdatasync(o.fd);
  ::close(o.fd);
  if (status == 0 || run.games > 0) out(summary(f, o, run, secondsSince()));
  return status;
}

bool isDataTool(const std::string& name) { return name == "datagen" || name == "datastat" || name == "pgn2data"; }

int runDataTool(const std::string& name, const std::vector<std::string>& args, const textSink& out,
                const textSink& err) {
  if (name == "datagen") return datagenTool(args, out, err);
  if (name == "datastat") return datastatTool(args, out, err);
  return pgn2dataTool(args, out, err);
}
