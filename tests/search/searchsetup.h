#pragma once
// A board ready to be searched from a test: the control a search reads, a
// small table, its own move buffer and zeroed move-pair history tables.

#include <cstring>
#include <memory>
#include <string>

#include "board/board.h"
#include "board/clock.h"
#include "search/limits.h"
#include "search/search.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"
#include "testutil.h"

constexpr int PAIR_TABLE = 768 * 768;

struct searchSetup {
  testBoard tb;
  searchControl control;
  std::unique_ptr<i16[]> pair2 = std::make_unique<i16[]>(PAIR_TABLE);  // value-initialised: zero
  std::unique_ptr<i16[]> pair1 = std::make_unique<i16[]>(PAIR_TABLE);

  explicit searchSetup(const std::string& fen = START_FEN) : tb(fen) {
    if (hashTable.bucketCount() != 4 * 16384) hashTable.resize(4, 1);
    hashTable.clear(1);
    hashTable.newSearch();
    control.infinite.store(true);
    tbInfo.largest = 0;
    board& b = *tb;
    b.pairHistory2 = pair2.get();
    b.pairHistory1 = pair1.get();
    b.control = &control;
    b.nodesToClockCheck = CLOCK_CHECK_NODES;
  }
  board& operator*() { return *tb; }
  board* operator->() { return tb.b.get(); }

  // Iterative deepening at the root with the full window; the last score.
  int deepen(int maxDepth) {
    int score = 0;
    for (int d = 1; d <= maxDepth; ++d) score = alphaBeta(0, d, -32767, 32767, *tb);
    return score;
  }
};

// The parts of a board that describe the position; a search must give them
// back unchanged.
struct positionImage {
  u8 pieceOn[64];
  u64 pieceBB[14];
  u64 hashKey;
  u8 sideToMove;
  combEval material[2], pstSum[2];
  i16 phase, keyCount, halfMoves;
  u64 keyHistory[KEY_HISTORY_SIZE];

  explicit positionImage(const board& b) {
    std::memset(static_cast<void*>(this), 0, sizeof *this);  // padding too: compared bytewise
    std::memcpy(pieceOn, b.pieceOn, sizeof pieceOn);
    std::memcpy(pieceBB, b.pieceBB, sizeof pieceBB);
    hashKey = b.hashKey;
    sideToMove = b.sideToMove;
    std::memcpy(material, b.material, sizeof material);
    std::memcpy(pstSum, b.pstSum, sizeof pstSum);
    phase = b.phase;
    keyCount = b.keyCount;
    halfMoves = b.halfMoves;
    // Entries past keyCount are scratch space for the search path.
    int n = keyCount < 0 ? 0 : keyCount > KEY_HISTORY_SIZE ? KEY_HISTORY_SIZE : keyCount;
    std::memcpy(keyHistory, b.keyHistory, sizeof(u64) * n);
  }
  bool operator==(const positionImage& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};
