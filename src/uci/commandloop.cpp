#include "uci/commandloop.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/board.h"
#include "board/decimal.h"
#include "datagen/datagen.h"
#include "engine/report.h"
#include "engine/threads.h"
#include "eval/eval.h"
#include "movegen/perft.h"
#include "movegen/perftfile.h"
#include "movegen/setup.h"
#include "nnue/net.h"
#include "search/tt.h"
#include "tuner/texel.h"
#include "uci/about.h"
#include "uci/commands.h"
#include "uci/go.h"
#include "uci/options.h"
#include "uci/output.h"
#include "uci/tune.h"

#ifndef DRAVLIN_PERFT_FILE
#define DRAVLIN_PERFT_FILE "data/perft.txt"
#endif

namespace {

// The depth of the last "perft", used again when none is given.
int perftDepth = 6;

constexpr const char* AUTHOR = "Quellmark";

// Reads the perft depth; a missing or unreadable word keeps the previous one.
void perftCommand(std::istringstream& words) {
  std::string word;
  i64 depth;
  // Deeper than the ply records reach would walk off the board's arrays.
  if (words >> word && readDecimalIn(word, INT64_MIN, INT64_MAX, depth))
    perftDepth = int(std::clamp<i64>(depth, 0, 64));
  outText(boardDiagram(currentBoard));
  const perftTiming t = perftTimed(u32(perftDepth), currentBoard);
  const double seconds = double(t.elapsedNs) / 1e9;
  std::ostringstream line1;
  line1 << t.elapsedNs << " ns and " << seconds << " in seconds";
  outLine(line1.str());
  std::ostringstream line2;
  line2 << "Perft results for depth: " << perftDepth << "  " << t.nodes << "  Nodes per sec: "
        << double(t.nodes) / seconds << "\n";
  outText(line2.str());
}

// The static evaluation of the current position, by the hand-written terms
// and by the network ("UseNNUE" aside), both from White's view.
void evalCommand() {
  board& b = currentBoard;
  const int sign = b.sideToMove == WHITE ? 1 : -1;
  outLine("hand-written evaluation: " + std::to_string(sign * evaluate(b)) + " cp (White's view)");
  std::string problem, name;
  const nnue::network* net = nextNet(game.nets, problem, name);
  if (net)
    outLine("network evaluation: " + std::to_string(sign * nnue::evaluateFromScratch(*net, b)) +
            " cp (White's view, net " + name + ")");
  else
    outLine("network evaluation: none (" + problem + ")");
}

void helpCommand() {
  outText(
      "supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' "
      "'isready'\n");
  outLine(
      "other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the current "
      "board");
}

std::vector<std::string> restOf(std::istringstream& words) {
  std::vector<std::string> list;
  std::string w;
  while (words >> w) list.push_back(w);
  return list;
}

// Openings for a match runner: the search they need gets a small table of
// its own and prints no lines; the table comes back at its size, cleared.
void genfensCommand(std::istringstream& words) {
  searchThreads.stopSearchAndWait();
  const i32 savedHash = hashTable.megabytes();
  hashTable.resize(GENFENS_HASH_MB, 1);
  // Judged by the evaluation the engine plays with, as datagen --net judges
  // its openings with that net.
  std::string problem, name;
  const nnue::network* net = game.nets.use ? nextNet(game.nets, problem, name) : nullptr;
  if (game.nets.use && !net) {
    installOutputSinks();
    resizeHash(savedHash);
    outLine("info string genfens: " + problem);
    return;
  }
  setReportSink([](const std::string&) {});
  std::string error;
  const bool done = genfens(restOf(words), net, outText, error);
  installOutputSinks();
  resizeHash(savedHash);
  if (!done) outLine("info string genfens: " + error);
}

// The tools at the prompt: their flags are the rest of the line. Their games
// run in processes of their own, so the engine's state stays as it was.
void dataToolCommand(const std::string& name, std::istringstream& words) {
  searchThreads.stopSearchAndWait();
  runDataTool(name, restOf(words), outText, errText);
}

}  // namespace

void rtestCommand() {
  searchThreads.stopSearchAndWait();  // it resizes the table under the search threads
  perftFileCheck(DRAVLIN_PERFT_FILE, outText, [] { resizeHash(128); }, game.chess960);
}

void engineStartup() {
  installOutputSinks();
  outLine(ENGINE_TITLE);
  outLine(std::string("by ") + AUTHOR);
  outLine("");
  outLine("enter 'help' to see the commands");
  initAttackTables();
  initKeys();
  resizeHash(DEFAULT_HASH_MB);
  setFromFen(START_FEN, currentBoard);
  resizeThreads(DEFAULT_THREADS);
  setupOutputBuffering();
}

void engineShutdown() {
  searchThreads.resize(0);
  hashTable.release();
}

bool dispatchCommand(const std::string& line) {
  std::istringstream words(line);
  std::string cmd;
  words >> cmd;
  if (cmd == "quit") {
    stopCommand();
    return false;
  } else if (cmd == "stop") {
    stopCommand();
  } else if (cmd == "position") {
    positionCommand(words);
  } else if (cmd == "go") {
    goCommand(words);
  } else if (cmd == "ponderhit") {
    ponderhitCommand();
  } else if (cmd == "ucinewgame") {
    ucinewgameCommand();
  } else if (cmd == "uci") {
    uciCommand();
  } else if (cmd == "setoption") {
    setoptionCommand(words);
  } else if (cmd == "isready") {
    outLine("readyok");
  } else if (cmd == "rtest") {
    rtestCommand();
  } else if (cmd == "perft") {
    perftCommand(words);
  } else if (cmd == "texel") {
    searchThreads.stopSearchAndWait();  // it rebuilds the attack tables and the table
    resizeHash(hashTable.megabytes());
    texelCommand();
  } else if (cmd == "eval") {
    evalCommand();
  } else if (cmd == "showboard") {
    outText(boardDiagram(currentBoard));
  } else if (cmd == "evil") {
    // accepted, does nothing
  } else if (cmd == "help") {
    helpCommand();
  } else if (cmd == "bench") { benchCommand(words);
  } else if (cmd == "genfens") {
    genfensCommand(words);
#ifdef DRAVLIN_TUNE
  } else if (cmd == "spsa") {
    spsaCommand();
#endif
  } else if (isDataTool(cmd)) {
    dataToolCommand(cmd, words);
  } else {
    outText("Unknown command\n");
  }
  return true;
}

int runEngine(int argc, char** argv) {
  // Answered like any command-line tool: no banner, no engine start-up.
  if (argc > 1 && aboutArgument(argv[1])) return 0;
  // A tool of its own takes the other arguments as its flags; no banner, no
  // engine start-up beyond the tables.
  if (argc > 1 && isDataTool(argv[1])) {
    installOutputSinks();
    initAttackTables();
    initKeys();
    return runDataTool(argv[1], std::vector<std::string>(argv + 2, argv + argc), outText, errText);
  }
  engineStartup();
  // Arguments with a blank in them are lines of their own, run in order
  // (dravlin "genfens 8 seed 5 book None" quit); words alone are joined into
  // one line (dravlin perft 5).
  const bool asLines = std::any_of(argv + 1, argv + argc, [](const char* a) {
    return std::string(a).find_first_of(" \t") != std::string::npos;
  });
  if (argc > 1 && asLines) {
    for (int i = 1; i < argc; ++i)
      if (!dispatchCommand(argv[i])) break;
  } else if (argc > 1) {
    std::string line;
    for (int i = 1; i < argc; ++i) line += std::string(argv[i]) + " ";
    dispatchCommand(line);
  } else {
    std::string line;
    for (;;) {
      // End of input, or an unreadable stream, counts as "quit".
      if (!std::getline(std::cin, line)) line = "quit";
      if (!dispatchCommand(line)) break;
    }
  }
  engineShutdown();
  return 0;
}
