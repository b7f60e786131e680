#include "uci/about.h"

#include "uci/output.h"

// Set by the build for this file alone, so a new commit recompiles only it.
#ifndef DRAVLIN_COMMIT
#define DRAVLIN_COMMIT "unknown"
#endif
#ifndef DRAVLIN_BUILD_KIND
#define DRAVLIN_BUILD_KIND "unknown target"
#endif

namespace {

#if defined(__clang__)
constexpr const char COMPILER[] = "clang++ " __clang_version__;
#elif defined(__GNUC__)
constexpr const char COMPILER[] = "g++ " __VERSION__;
#else
constexpr const char COMPILER[] = "unknown compiler";
#endif

}  // namespace

std::string versionLine() {
  return std::string(ENGINE_TITLE) + " (commit " + DRAVLIN_COMMIT + ", " + COMPILER + ", " + DRAVLIN_BUILD_KIND +
         ")";
}

std::string usageText() {
  return "Usage: dravlin                  UCI chess engine: reads commands from standard input\n"
         "       dravlin COMMAND [ARG]... runs one command line, then exits\n"
         "                                (dravlin bench, dravlin perft 5, dravlin showboard)\n"
         "       dravlin \"LINE\" \"LINE\"...  an argument with a blank in it: each one line\n"
         "                                (dravlin \"genfens 8 seed 5 book None\" quit)\n"
         "       dravlin datagen|datastat|pgn2data FLAGS...\n"
         "                                training-data tools (dravlin datagen --help)\n"
         "       dravlin --help | -h      this text\n"
         "       dravlin --version        version, commit and compiler\n"
         "\n"
         "UCI commands: uci isready ucinewgame position go stop ponderhit setoption quit\n"
         "  go wtime btime winc binc movestogo depth nodes mate movetime infinite ponder\n"
         "Other commands: help, showboard, eval, perft [depth], rtest, bench [nnue] [depth],\n"
         "  texel, genfens N seed S book None|FILE, datagen, datastat, pgn2data\n"
         "\n"
         "The full description is README.md and docs/ in the source tree; \"make install\"\n"
         "puts a copy in share/doc/dravlin/ under its prefix (/usr/local by default).\n";
}

bool aboutArgument(const std::string& arg) {
  if (arg == "--help" || arg == "-h") {
    outText(usageText());
    return true;
  }
  if (arg == "--version") {
    outLine(versionLine());
    return true;
  }
  return false;
}
