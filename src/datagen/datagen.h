#pragma once
// The training-data tools. "datagen", "datastat" and "pgn2data" are
// command-line tools of their own (dravlin datagen --out FILE ...); "genfens"
// is a line of the command loop, for match runners that ask the engine for
// openings. Text goes to the sinks the protocol layer hands in.

#include <string>
#include <vector>

#include "board/sink.h"

namespace nnue {
struct network;
}

// Does `name` (a program's first argument) name one of the tools?
bool isDataTool(const std::string& name);
// Runs the tool `name` with its flags. The exit status: 0 done, 1 an error
// (one line on `err`), 2 flags that cannot be used (one line on `err`).
int runDataTool(const std::string& name, const std::vector<std::string>& args, const textSink& out,
                const textSink& err);

// "genfens N seed S book <None|FILE> [extra]": N lines "info string genfens
// <FEN>", openings made as datagen makes them; judged with `net` (null: the
// hand-written evaluation), as datagen --net judges its own. The caller gives the search a
// small table and a silent report sink for it. False (and `error`) for
// words it cannot use or a book it cannot read.
bool genfens(const std::vector<std::string>& words, const nnue::network* net, const textSink& out,
             std::string& error);
// The table size genfens wants (megabytes): each opening clears it.
constexpr int GENFENS_HASH_MB = 1;

int datagenTool(const std::vector<std::string>& args, const textSink& out, const textSink& err);
int datastatTool(const std::vector<std::string>& args, const textSink& out, const textSink& err);
int pgn2dataTool(const std::vector<std::string>& args, const textSink& out, const textSink& err);
