#pragma once
// Helpers shared by the tablebase tests.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "tablebase/tbprobe.h"
#include "testutil.h"

inline bool syzygyDirPresent() {
  struct stat st;
  return ::stat(DRAVLIN_SYZYGY_DIR "/KQvK.rtbw", &st) == 0;
}

// (Re)loads the registry from `path` unless it is the one loaded already (or
// always, with `force`); returns the number of tables found, -1 when no
// directory was named (or nothing was loaded).
inline int useTablebases(const std::string& path, bool force = false) {
  static std::string current = "\x01";
  ensureTables();
  if (path == current && !force) return -1;
  const std::optional<int> found = initTablebases(path);
  current = path;
  return found.value_or(-1);
}

#define REQUIRE_SYZYGY()                                                                         \
  do {                                                                                           \
    if (!syzygyDirPresent()) GTEST_SKIP() << "no tablebase files in " DRAVLIN_SYZYGY_DIR;        \
    useTablebases(DRAVLIN_SYZYGY_DIR);                                                           \
  } while (0)

inline tbPosition tbFromFen(const std::string& fen, u8 rule50 = 0) {
  testBoard b(fen);
  tbPosition p{};
  EXPECT_TRUE(tbPositionFromBoard(*b, 0, rule50, p)) << fen;
  return p;
}

inline int wdlOf(const tbPosition& p) {
  int success = 0;
  int v = probeWdl(p, success);
  EXPECT_NE(success, 0);
  return v;
}

inline int dtzOf(const tbPosition& p) {
  int success = 0;
  int v = probeDtz(p, success);
  EXPECT_NE(success, 0);
  return v;
}

inline std::string fenFromGrid(const char grid[64], bool whiteToMove) {
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const char c = grid[8 * rank + file];
      if (!c) {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  return fen + (whiteToMove ? " w - - 0 1" : " b - - 0 1");
}

// Puts `material` ("KRPvKR"; colours swapped when `swapColours`) on random
// free squares of `grid`, pawns off the first and last ranks.
inline void placeRandom(char grid[64], const std::string& material, bool swapColours, std::mt19937& rng) {
  int colour = swapColours ? 1 : 0;
  for (char ch : material) {
    if (ch == 'v') {
      colour ^= 1;
      continue;
    }
    for (;;) {
      const int sq = int(rng() % 64);
      if (grid[sq] || (ch == 'P' && (sq < 8 || sq >= 56))) continue;
      grid[sq] = colour ? char(ch - 'A' + 'a') : ch;
      break;
    }
  }
}
