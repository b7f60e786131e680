#pragma once
// Shared helpers for the test suite.

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "board/attacks.h"
#include "board/board.h"
#include "movegen/setup.h"
#include "uci/output.h"

// Start-up tables, built once per test process, and the engine's writers
// behind the lower layers' sinks, as at start-up.
inline void ensureTables() {
  static std::once_flag once;
  std::call_once(once, [] {
    initAttackTables();
    initKeys();
    installOutputSinks();
  });
}

// A heap board set from FEN, with its ply-0 list in its own move buffer.
struct testBoard {
  std::unique_ptr<board> b = std::make_unique<board>();
  std::unique_ptr<chessMove[]> buffer = std::make_unique<chessMove[]>(MOVE_BUFFER_SIZE);
  explicit testBoard(const std::string& fen = START_FEN, bool chess960 = false) {
    ensureTables();
    *b = board{};
    b->plies[0].listStart = buffer.get();
    setFromFen(fen, *b, chess960);
  }
  board& operator*() { return *b; }
  board* operator->() { return b.get(); }
};

// Runs the engine binary with `input` on stdin (and optional arguments) and
// returns everything it printed on stdout.
inline std::string runEngineWith(const std::string& input, const std::string& args = "") {
  std::string cmd = std::string("printf '%s' '") + input + "' | " DRAVLIN_BINARY " " + args + " 2>/dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  pclose(p);
  return out;
}
