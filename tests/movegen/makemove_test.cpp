#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "eval/eval.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "movegen/movetext.h"
#include "testutil.h"

namespace {

int sq(const char* n) { return 8 * (n[1] - '1') + (n[0] - 'a'); }

// The part of a board that make + unmake must give back unchanged when the
// move was made from `ply`: everything up to the key history, the keys of
// the game so far and the ply records up to `ply`. Later key slots and ply
// records are scratch space of the subtree.
struct snapshot {
  std::vector<unsigned char> head, keys, plies;
  snapshot(const board& b, int ply) {
    const auto* p = reinterpret_cast<const unsigned char*>(&b);
    head.assign(p, p + offsetof(board, keyHistory));
    keys.assign(reinterpret_cast<const unsigned char*>(b.keyHistory),
                reinterpret_cast<const unsigned char*>(b.keyHistory + b.keyCount));
    plies.assign(reinterpret_cast<const unsigned char*>(b.plies),
                 reinterpret_cast<const unsigned char*>(b.plies + ply + 1));
  }
  bool operator==(const snapshot&) const = default;
};

// The key and the evaluation sums from scratch, computed on a copy that
// carries the ply's castling rights and en-passant square as its root.
void expectFromScratch(const board& b, int ply, board& scratch) {
  std::memcpy(&scratch, &b, offsetof(board, keyHistory));
  scratch.plies[0].castleRights = b.plies[ply].castleRights;
  scratch.plies[0].epSquare = b.plies[ply].epSquare;
  ASSERT_EQ(b.hashKey, computeHashKey(scratch));
  ASSERT_EQ(b.keyHistory[b.keyCount - 1], b.hashKey);
  evalFromScratch(scratch);
  ASSERT_EQ(b.material[0], scratch.material[0]);
  ASSERT_EQ(b.material[1], scratch.material[1]);
  ASSERT_EQ(b.pstSum[0], scratch.pstSum[0]);
  ASSERT_EQ(b.pstSum[1], scratch.pstSum[1]);
  ASSERT_EQ(b.phase, scratch.phase);
  u64 colour[2] = {0, 0};
  for (int s = 0; s < 64; ++s) {
    int code = b.pieceOn[s];
    ASSERT_TRUE(code == 0 || (code >= 2 && code <= 13));
    for (int c = 2; c < 14; ++c) ASSERT_EQ(bool(b.pieceBB[c] & bit(s)), code == c) << s;
    if (code) colour[code & 1] |= bit(s);
  }
  ASSERT_EQ(b.pieceBB[0], colour[0]);
  ASSERT_EQ(b.pieceBB[1], colour[1]);
}

// Perft that makes every move down to the leaves and checks the board after
// each make and each unmake; it also checks countLegal against the list,
// and the check flag and the key foretold before each make.
u64 checkingPerft(board& b, int ply, int depth, board& scratch) {
  chessMove* start = b.plies[ply].listStart;
  unsigned counted = countLegal(u8(ply), start, b);
  generateLegal(u8(ply), start, b);
  chessMove* end = b.plies[ply].listEnd;
  EXPECT_EQ(counted, unsigned(end - start));
  if (depth == 1) return counted;
  const snapshot before(b, ply);
  checkTest checks;
  prepareCheckTest(b, checks);
  u64 nodes = 0;
  for (chessMove* m = start; m != end; ++m) {
    const bool predictedCheck = givesCheck(b, *m);
    EXPECT_EQ(givesCheck(b, checks, *m), predictedCheck);
    const u64 predictedKey = keyAfter(b, u8(ply), *m);
    makeMove(b, u8(ply), *m);
    EXPECT_EQ(predictedKey, b.hashKey);
    EXPECT_EQ(predictedCheck, kingAttacked(b, b.sideToMove));
    expectFromScratch(b, ply + 1, scratch);
    if (testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << "after " << moveText(*m, b.sideToMove ^ 1) << " at ply " << ply;
      return 0;
    }
    nodes += checkingPerft(b, ply + 1, depth - 1, scratch);
    unmakeMove(b, u8(ply), *m);
    if (!(snapshot(b, ply) == before)) {
      ADD_FAILURE() << "unmake of " << moveText(*m, b.sideToMove) << " at ply " << ply;
      return 0;
    }
  }
  return nodes;
}

chessMove moveFrom(board& b, const char* text) {
  chessMove m = 0;
  EXPECT_TRUE(parseMoveText(text, b, m)) << text;
  return m;
}

}  // namespace

TEST(MakeMove, WholeTreesRestoreTheBoardAndKeepKeysAndSums) {
  struct treeCase {
    const char* fen;
    int depth;
    u64 nodes;
  } cases[] = {
      {START_FEN, 4, 197281},
      {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 3, 97862},
      {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 4, 43238},
      {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3, 9467},
      {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1", 3, 9483},
      {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 3, 62379},
  };
  auto scratch = std::make_unique<board>();
  for (const treeCase& c : cases) {
    testBoard tb(c.fen);
    EXPECT_EQ(checkingPerft(*tb, 0, c.depth, *scratch), c.nodes) << c.fen;
  }
  // Set-ups the rules never reach stay consistent too: the side not to move
  // in check (its king can be taken), no kings at all, two kings of a colour.
  // Then the rarer ways of giving check: en passant by the landing pawn and
  // by clearing a rank, castling by the rook, each side; uncovering a rook
  // by a knight, or not, by a pawn that stays on the rook's line; uncovering
  // a rook or a bishop by a king step, each side.
  for (const char* fen :
       {"4k3/8/8/8/8/8/8/4RK2 w - - 0 1", "8/1p6/8/8/8/8/6P1/R6r w - - 0 1", "4k3/8/8/8/8/2b5/8/K3K2R w K - 0 1",
        "8/2k5/8/3pP3/8/8/8/4K3 w - d6 0 2", "8/8/8/R2pP2k/8/8/8/4K3 w - d6 0 2", "5k2/8/8/8/8/8/8/4K2R w K - 0 1",
        "3k4/8/8/8/8/8/8/R3K3 w Q - 0 1", "r3k3/8/8/8/8/8/8/3K4 b q - 0 1", "4k2r/8/8/8/8/8/8/5K2 b k - 0 1",
        "4k3/8/8/8/8/4P3/8/4R2K w - - 0 1", "4k3/8/8/8/4N3/8/8/4R2K w - - 0 1", "4k3/8/8/8/4K3/8/8/4R3 w - - 0 1",
        "7k/8/8/8/3K4/8/8/B7 w - - 0 1", "4r3/8/8/4k3/8/8/8/4K3 b - - 0 1"}) {
    testBoard tb(fen);
    checkingPerft(*tb, 0, 3, *scratch);
  }
  // Chess960 castling: the king or the rook stays where it is, the two trade
  // squares, a rook on b1 beside a piece on a1, castling with check, a rook
  // taken on its square; DFRC back ranks.
  for (const char* fen :
       {"1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1", "1k3r2/8/8/8/8/8/8/1K3R2 w Ff - 0 1",
        "5kr1/8/8/8/8/8/8/5KR1 w Gg - 0 1", "2rk4/8/8/8/8/8/8/4K2R b Kc - 0 1", "4k3/8/8/8/8/8/8/qR1K4 w B - 0 1",
        "4k3/8/8/8/8/8/8/NR1K4 w B - 0 1", "3k4/8/8/8/8/8/8/R2K4 w A - 0 1",
        "1r2k1r1/8/8/8/8/8/7b/1R2K1R1 b GBgb - 0 1",
        "rkrbqnbn/pppppppp/8/8/8/8/PPPPPPPP/BNRBNKRQ w GCca - 0 1"}) {
    testBoard tb(fen, true);
    checkingPerft(*tb, 0, 3, *scratch);
  }
}

TEST(MakeMove, EnPassantCastlingRightsAndKeys) {
  // exd6 en passant: d5 and e5 empty, d6 holds the pawn, d5's pawn is gone.
  testBoard ep("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 3");
  board& b = *ep;
  const combEval blackMaterial = b.material[BLACK];
  makeMove(b, 0, moveFrom(b, "e5d6"));
  EXPECT_EQ(b.pieceOn[sq("d5")], 0);
  EXPECT_EQ(b.pieceOn[sq("e5")], 0);
  EXPECT_EQ(b.pieceOn[sq("d6")], WHITE_PAWN);
  EXPECT_EQ(b.plies[1].captured, BLACK_PAWN);
  EXPECT_EQ(b.material[BLACK], subEval(blackMaterial, materialValue[0]));

  // A rook taking on a8 removes Black's long right (and White's, whose rook
  // left a1); a king step removes both of White's rights at once.
  testBoard corners("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  const chessMove rookTakes = moveFrom(*corners, "a1a8");
  makeMove(*corners, 0, rookTakes);
  EXPECT_EQ(corners->plies[1].castleRights, CASTLE_WK | CASTLE_BK);
  unmakeMove(*corners, 0, rookTakes);
  makeMove(*corners, 0, moveFrom(*corners, "e1f1"));
  EXPECT_EQ(corners->plies[1].castleRights, CASTLE_BK | CASTLE_BQ);

  // 1. e4 stores the pawn's square, not the one it passed (the key then
  // holds the e-file's en-passant key: the tree test checks it from scratch).
  testBoard start;
  makeMove(*start, 0, moveFrom(*start, "e2e4"));
  EXPECT_EQ(start->plies[1].epSquare, sq("e4"));
  EXPECT_EQ(start->keyHistory[1], start->hashKey);
}

TEST(MakeMove, PromotionCaptureAndHalfMoveClock) {
  testBoard tb("3r3k/4P3/8/8/8/8/8/R3K3 w Q - 7 40");
  board& b = *tb;
  const combEval usBefore = b.material[WHITE], themBefore = b.material[BLACK];
  const i16 phaseBefore = b.phase;
  const chessMove promotion = moveFrom(b, "e7d8n");
  EXPECT_EQ(moveKindOf(promotion), PROMOTE_KNIGHT);
  makeMove(b, 0, promotion);
  EXPECT_EQ(b.pieceOn[sq("d8")], WHITE_KNIGHT);
  EXPECT_EQ(b.material[BLACK], subEval(themBefore, materialValue[3]));
  EXPECT_EQ(b.material[WHITE], addEval(usBefore, subEval(materialValue[1], materialValue[0])));
  EXPECT_EQ(b.phase, phaseBefore - phaseWeight[3] + phaseWeight[1]);
  EXPECT_EQ(b.halfMoves, 0);  // capture and pawn move
  unmakeMove(b, 0, promotion);
  EXPECT_EQ(b.pieceOn[sq("e7")], WHITE_PAWN);
  EXPECT_EQ(b.pieceOn[sq("d8")], BLACK_ROOK);
  EXPECT_EQ(b.halfMoves, 7);

  // Castling and quiet piece moves count up; a pawn step resets.
  makeMove(b, 0, moveFrom(b, "e1c1"));
  EXPECT_EQ(b.halfMoves, 8);
  EXPECT_EQ(b.pieceOn[sq("d1")], WHITE_ROOK);
  makeMove(b, 1, moveFrom(b, "h8g8"));
  EXPECT_EQ(b.halfMoves, 9);
  makeMove(b, 2, moveFrom(b, "e7e8q"));
  EXPECT_EQ(b.halfMoves, 0);
}

TEST(MakeMove, NullMoveFlipsSideAndEnPassantKey) {
  testBoard tb;
  board& b = *tb;
  makeMove(b, 0, moveFrom(b, "e2e4"));
  const u64 key = b.hashKey;
  const i16 keys = b.keyCount;
  b.plies[1].hashMove = 1234;
  makeNullMove(b, 1);
  EXPECT_EQ(b.sideToMove, WHITE);
  EXPECT_EQ(b.hashKey, key ^ zobrist.side ^ zobrist.ep[4]);
  EXPECT_EQ(b.plies[2].epSquare, 0);
  EXPECT_EQ(b.plies[2].captured, 0);
  EXPECT_EQ(b.plies[2].hashMove, 1234u);
  EXPECT_EQ(b.plies[2].listStart, b.plies[1].listStart);
  EXPECT_EQ(b.keyCount, keys);
  unmakeNullMove(b, 1, key);
  EXPECT_EQ(b.sideToMove, BLACK);
  EXPECT_EQ(b.hashKey, key);
}
