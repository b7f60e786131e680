// WDL and DTZ answers checked against values derived independently: a
// retrograde solution of KQvK and KRvK, and the minimax relation between a
// position and its children under the engine's own move generator.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "board/attacks.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "tbtestutil.h"

namespace {

// ---- retrograde solution of K + heavy piece against K --------------------------
// Value per (white king, piece, black king, side to move): plies to mate from
// the side to move's view (+ win, - loss), or 0 for a draw / illegal placement.
struct kxkSolver {
  bool queen;
  std::vector<int> value, pending;
  std::vector<bool> legal, decided, mated;

  static int index(int wk, int x, int bk, int stm) { return ((wk * 64 + x) * 64 + bk) * 2 + stm; }

  u64 pieceAttacks(int x, u64 occ) const { return queen ? queenAttacks(x, occ) : rookAttacks(x, occ); }

  bool placementOk(int wk, int x, int bk) const {
    return wk != x && wk != bk && x != bk && !(kingAttacks[wk] & bit(bk));
  }
  bool blackInCheck(int wk, int x, int bk) const { return pieceAttacks(x, bit(wk) | bit(bk)) & bit(bk); }

  explicit kxkSolver(bool q) : queen(q) {
    const int N = 64 * 64 * 64 * 2;
    value.assign(N, 0);
    pending.assign(N, 0);
    legal.assign(N, false);
    decided.assign(N, false);
    mated.assign(N, false);
    std::deque<int> queue;
    for (int wk = 0; wk < 64; ++wk)
      for (int x = 0; x < 64; ++x)
        for (int bk = 0; bk < 64; ++bk) {
          if (!placementOk(wk, x, bk)) continue;
          const bool check = blackInCheck(wk, x, bk);
          legal[index(wk, x, bk, 0)] = !check;  // White to move: Black may not be in check
          const int b = index(wk, x, bk, 1);
          legal[b] = true;
          // Black's moves: king steps not next to the white king and not
          // attacked by the piece (x-rays through the vacated square).
          int moves = 0;
          u64 steps = kingAttacks[bk] & ~kingAttacks[wk] & ~bit(wk);
          while (steps) {
            const int t = popLsb(steps);
            if (t != x && (pieceAttacks(x, bit(wk)) & bit(t))) continue;
            ++moves;
          }
          pending[b] = moves;
          if (moves == 0) {
            decided[b] = true;
            if (check) {
              mated[b] = true;  // lost in 0 plies
              queue.push_back(b);
            }
          }
        }
    // Breadth-first by un-moves, so each position is reached first at its shortest distance.
    while (!queue.empty()) {
      const int s = queue.front();
      queue.pop_front();
      const int stm = s & 1, bk = (s >> 1) & 63, x = (s >> 7) & 63, wk = s >> 13;
      const int plies = value[s] < 0 ? -value[s] : value[s];
      if (stm == 1) {
        // Black to move and lost: every White move into it wins one ply sooner.
        auto reach = [&](int pwk, int px) {
          const int w = index(pwk, px, bk, 0);
          if (!legal[w] || decided[w]) return;
          decided[w] = true;
          value[w] = plies + 1;
          queue.push_back(w);
        };
        u64 from = kingAttacks[wk] & ~bit(x) & ~bit(bk) & ~kingAttacks[bk];
        while (from) reach(popLsb(from), x);
        u64 fromX = pieceAttacks(x, bit(wk) | bit(bk)) & ~bit(wk) & ~bit(bk);
        while (fromX) reach(wk, popLsb(fromX));
      } else {
        // White to move and winning: Black positions whose every move loses.
        u64 from = kingAttacks[bk] & ~bit(wk) & ~bit(x) & ~kingAttacks[wk];
        while (from) {
          const int b = index(wk, x, popLsb(from), 1);
          if (!legal[b] || decided[b]) continue;
          if (--pending[b] == 0) {
            decided[b] = true;
            value[b] = -(plies + 1);
            queue.push_back(b);
          }
        }
      }
    }
  }
};

tbPosition kxk(bool queen, int wk, int x, int bk, bool whiteToMove) {
  tbPosition p{};
  p.white = bit(wk) | bit(x);
  p.black = bit(bk);
  p.kings = bit(wk) | bit(bk);
  (queen ? p.queens : p.rooks) = bit(x);
  p.turn = whiteToMove;
  return p;
}

void checkAgainstSolver(bool queen) {
  const kxkSolver solver(queen);
  int checked = 0;
  // Every White king square and piece square, with a stride over the black
  // king that still visits every square for some combination.
  for (int wk = 0; wk < 64; ++wk)
    for (int x = 0; x < 64; ++x)
      for (int bk = (wk + x) % 3; bk < 64; bk += 3)
        for (int stm = 0; stm < 2; ++stm) {
          const int i = kxkSolver::index(wk, x, bk, stm);
          if (!solver.legal[i]) continue;
          const tbPosition p = kxk(queen, wk, x, bk, stm == 0);
          const int expect = solver.value[i];
          const int wantWdl = expect > 0 ? 2 : (expect < 0 || solver.mated[i]) ? -2 : 0;
          int success;
          const int wdl = probeWdl(p, success);
          ASSERT_NE(success, 0);
          ASSERT_EQ(wdl, wantWdl) << "wk " << wk << " x " << x << " bk " << bk << " stm " << stm;
          if (expect != 0) {
            const int dtz = probeDtz(p, success);
            ASSERT_NE(success, 0);
            ASSERT_EQ(dtz, expect) << "wk " << wk << " x " << x << " bk " << bk << " stm " << stm;
          }
          ++checked;
        }
  EXPECT_GT(checked, 50000);
}

TEST(TbProbe, QueenAgainstKingMatchesRetrogradeSolution) {
  REQUIRE_SYZYGY();
  checkAgainstSolver(true);
}

TEST(TbProbe, RookAgainstKingMatchesRetrogradeSolution) {
  REQUIRE_SYZYGY();
  checkAgainstSolver(false);
}

// ---- minimax consistency under the engine's move generator ---------------------
int sign(int wdl) { return wdl > 0 ? 1 : wdl < 0 ? -1 : 0; }

// The value of the position at `ply` must be the best of its children's
// values negated; a position without moves is lost when in check, else drawn.
// Also checks that the DTZ-chosen move keeps the position's exact result.
void checkConsistency(board& b, u8 ply) {
  tbPosition pos;
  ASSERT_TRUE(tbPositionFromBoard(b, ply, 0, pos));
  const int wdl = wdlOf(pos);
  chessMove* list = b.plies[ply].listStart;
  generateLegal(ply, list, b);
  chessMove* end = b.plies[ply].listEnd;
  int best = end == list ? (b.plies[ply].inCheck ? -1 : 0) : -1;
  for (chessMove* m = list; m < end; ++m) {
    makeMove(b, ply, *m);
    tbPosition child;
    ASSERT_TRUE(tbPositionFromBoard(b, u8(ply + 1), 0, child));
    best = std::max(best, -sign(wdlOf(child)));
    unmakeMove(b, ply, *m);
  }
  ASSERT_EQ(sign(wdl), best);

  int dtz = 0;
  const tbMove m = rootBestMove(pos, dtz);
  ASSERT_NE(m, 0);
  if (end == list) return;
  ASSERT_EQ(sign(dtz), sign(wdl));
  tbPosition child;
  ASSERT_TRUE(tbDoMove(child, pos, m));
  if (wdl >= 0)
    EXPECT_EQ(wdlOf(child), -wdl);
  else
    EXPECT_GT(wdlOf(child), 0);
}

const char* const MATERIALS[] = {
    "KQvK",   "KRvK",   "KBvK",   "KNvK",   "KPvK",   "KQvKQ",  "KQvKR",  "KQvKB",  "KQvKN",  "KQvKP",
    "KRvKR",  "KRvKB",  "KRvKN",  "KRvKP",  "KBvKB",  "KBvKN",  "KBvKP",  "KNvKN",  "KNvKP",  "KPvKP",
    "KQQvK",  "KQRvK",  "KQBvK",  "KQNvK",  "KQPvK",  "KRRvK",  "KRBvK",  "KRNvK",  "KRPvK",  "KBBvK",
    "KBNvK",  "KBPvK",  "KNNvK",  "KNPvK",  "KPPvK",  "KQRvKR", "KNNvKP", "KBBvKN", "KRBvKR"};

TEST(TbProbe, ValuesAgreeWithChildrenAcrossMaterials) {
  REQUIRE_SYZYGY();
  std::mt19937 rng(20240611);
  for (const char* material : MATERIALS) {
    int tested = 0;
    for (int attempt = 0; tested < 24 && attempt < 400; ++attempt) {
      char grid[64] = {};
      placeRandom(grid, material, attempt & 1, rng);
      const std::string fen = fenFromGrid(grid, (attempt >> 1) & 1);
      testBoard b(fen);
      tbPosition pos;
      if (!tbPositionFromBoard(*b, 0, 0, pos)) continue;
      SCOPED_TRACE(fen);
      checkConsistency(*b, 0);
      if (HasFatalFailure()) return;
      ++tested;
    }
    EXPECT_EQ(tested, 24) << material;
  }
}

TEST(TbProbe, PawnOnEveryFileAndEnPassant) {
  REQUIRE_SYZYGY();
  std::mt19937 rng(77);
  // KPvK with the pawn on every file, either colour, both sides to move.
  for (int file = 0; file < 8; ++file)
    for (int n = 0; n < 12; ++n) {
      char grid[64] = {};
      grid[8 * (1 + int(rng() % 6)) + file] = (n & 1) ? 'p' : 'P';
      placeRandom(grid, "KvK", false, rng);
      const std::string fen = fenFromGrid(grid, n & 2);
      testBoard b(fen);
      tbPosition pos;
      if (!tbPositionFromBoard(*b, 0, 0, pos)) continue;
      SCOPED_TRACE(fen);
      checkConsistency(*b, 0);
      if (HasFatalFailure()) return;
    }

  // En passant available: the pawn that just stepped two squares stands
  // next to an enemy pawn (either colour to capture), kings anywhere.
  int withEp = 0;
  for (int n = 0; n < 200 && withEp < 40; ++n) {
    const bool white = n & 1;
    const int file = int(rng() % 8), other = file == 0 ? 1 : file == 7 ? 6 : file + ((rng() & 1) ? 1 : -1);
    const int rank = white ? 4 : 3;
    char grid[64] = {};
    grid[8 * rank + file] = white ? 'p' : 'P';
    grid[8 * rank + other] = white ? 'P' : 'p';
    grid[8 * (white ? 5 : 2) + file] = '.';  // keep the passed squares free
    grid[8 * (white ? 6 : 1) + file] = '.';
    placeRandom(grid, "KvK", false, rng);
    grid[8 * (white ? 5 : 2) + file] = grid[8 * (white ? 6 : 1) + file] = 0;
    std::string fen = fenFromGrid(grid, white);
    fen.replace(fen.find(" - - "), 5, std::string(" - ") + char('a' + file) + (white ? "6" : "3") + " ");
    testBoard b(fen);
    tbPosition pos;
    if (!tbPositionFromBoard(*b, 0, 0, pos)) continue;
    ASSERT_NE(pos.ep, 0) << fen;
    SCOPED_TRACE(fen);
    checkConsistency(*b, 0);
    if (HasFatalFailure()) return;
    ++withEp;
  }
  EXPECT_EQ(withEp, 40);
}

}  // namespace
