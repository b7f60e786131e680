#include "uci/commandloop.h"

#include <iostream>
#include <sstream>
#include <string>

#include "board/attacks.h"
#include "board/board.h"
#include "engine/threads.h"
#include "movegen/perft.h"
#include "movegen/perftfile.h"
#include "search/tt.h"
#include "tuner/texel.h"
#include "uci/about.h"
#include "uci/commands.h"
#include "uci/limits.h"
#include "uci/options.h"
#include "uci/output.h"

int perftDepth = 6;

namespace {

constexpr const char* AUTHOR = "Quellmark";

// Reads the perft depth; a missing or unreadable word keeps the previous one.
void perftCommand(std::istringstream& words) {
  std::string word;
  if (words >> word) {
    std::istringstream number(word);
    long long depth;
    if (number >> depth) {
      // Deeper than the ply records reach would walk off the board's arrays.
      if (depth < 0) depth = 0;
      if (depth > 64) depth = 64;
      perftDepth = int(depth);
    }
  }
  perftTimed(u32(perftDepth), "current");
}

void helpCommand() {
  outText(
      "supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' "
      "'isready'\n");
  outLine(
      "other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the current "
      "board");
}

}  // namespace

void engineStartup() {
  outLine(ENGINE_TITLE);
  outLine(std::string("by ") + AUTHOR);
  outLine("");
  outLine("enter 'help' to see the commands");
  initAttackTables();
  initKeys();
  hashResize(hashMegabytes);
  setFromFen(START_FEN, currentBoard);
  resizePool(threadCount);
  setupOutputBuffering();
}

void engineShutdown() {
  resizePool(0);
  hashRelease();
}

bool dispatchCommand(const std::string& line) {
  std::istringstream words(line);
  std::string cmd;
  words >> cmd;
  if (cmd == "quit") {
    stopFlag.store(1, std::memory_order_relaxed);
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
    stopSearchAndWait();  // it resizes the table under the search threads
    perftFileCheck();
  } else if (cmd == "perft") {
    perftCommand(words);
  } else if (cmd == "texel") {
    stopSearchAndWait();  // it rebuilds the attack tables and the table
    texelCommand();
  } else if (cmd == "showboard") {
    outText(boardDiagram(currentBoard));
  } else if (cmd == "evil") {
    // accepted, does nothing
  } else if (cmd == "help") {
    helpCommand();
  } else if (cmd == "bench") { benchCommand(words);
  } else {
    outText("Unknown command\n");
  }
  return true;
}

int runEngine(int argc, char** argv) {
  // Answered like any command-line tool: no banner, no engine start-up.
  if (argc > 1 && aboutArgument(argv[1])) return 0;
  engineStartup();
  if (argc > 1) {
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
