#include "format/record.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "datagen/selfplay.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "testutil.h"

namespace {

struct roundTripCounts {
  int positions = 0, castlingRights = 0, chess960Rights = 0, enPassant = 0, promotions = 0, castlings = 0,
      epCaptures = 0;
};

// Packs the position (with each of its legal moves as the move played, in
// turn), unpacks it and compares everything the record keeps.
void checkPosition(board& b, int fullMove, roundTripCounts& n) {
  ++n.positions;
  generateLegal(0, b.plies[0].listStart, b);
  std::vector<chessMove> moves(b.plies[0].listStart, b.plies[0].listEnd);
  if (moves.empty()) moves.push_back(0);
  testBoard back;
  const int score = (n.positions * 7919) % 3001 - 1500;
  for (chessMove m : moves) {
    const u16 rm = m ? toRecordMove(m, b) : u16(0);
    u8 rec[RECORD_BYTES];
    packRecord(b, fullMove, score, rm, n.positions % 3, true, rec);
    dataRecord r;
    std::string why;
    // A position without moves has no move to record; it is only decoded.
    if (!m) {
      decodeRecord(rec, r, &why);
      continue;
    }
    ASSERT_TRUE(unpackRecord(rec, *back, &r, &why)) << why << " " << recordFen(r);
    const std::string fen = recordFen(r);
    for (int sq = 0; sq < 64; ++sq) ASSERT_EQ(back->pieceOn[sq], b.pieceOn[sq]) << fen;
    ASSERT_EQ(back->sideToMove, b.sideToMove) << fen;
    ASSERT_EQ(back->plies[0].castleRights, b.plies[0].castleRights) << fen;
    for (int i = 0; i < 4; ++i)
      if (b.plies[0].castleRights & (1 << i)) {
        ASSERT_EQ(back->castling.rookFrom[i], b.castling.rookFrom[i]) << fen;
      }
    ASSERT_EQ(back->plies[0].epSquare, b.plies[0].epSquare) << fen;
    ASSERT_EQ(back->halfMoves, std::min<int>(b.halfMoves, 127)) << fen;
    ASSERT_EQ(r.fullMove, fullMove);
    ASSERT_EQ(back->hashKey, b.hashKey) << fen;
    ASSERT_EQ(r.score, score);
    ASSERT_EQ(r.result, n.positions % 3);
    ASSERT_TRUE(r.lastOfGame);
    ASSERT_EQ(recordInCheck(r), b.plies[0].inCheck != 0) << fen;
    // The move comes back as the same engine move on the unpacked board.
    ASSERT_TRUE(sameMove(fromRecordMove(rm, *back), m)) << fen << " " << rm;
    const int kind = moveKindOf(m);
    ASSERT_EQ(recordMoveIsCapture(r), kind == EN_PASSANT || (kind != CASTLE_SHORT && kind != CASTLE_LONG &&
                                                             b.pieceOn[moveTo(m)] != 0))
        << fen;
    ASSERT_EQ(recordMoveIsPromotion(r), isPromotion(kind));
    n.promotions += isPromotion(kind);
    n.castlings += kind == CASTLE_SHORT || kind == CASTLE_LONG;
    n.epCaptures += kind == EN_PASSANT;
  }
  n.castlingRights += b.plies[0].castleRights != 0;
  n.chess960Rights += b.plies[0].castleRights != 0 && b.castling.chess960;
  n.enPassant += b.plies[0].epSquare != 0;
}

// Every position of the tree below `b`, `depth` plies deep; each child is
// a copy with its move folded into ply 0, as a game's board is.
void walk(const board& b, int depth, int fullMove, roundTripCounts& n) {
  auto node = std::make_unique<board>(b);
  auto buffer = std::make_unique<chessMove[]>(MOVE_BUFFER_SIZE);
  node->plies[0].listStart = buffer.get();
  checkPosition(*node, fullMove, n);
  if (depth == 0 || ::testing::Test::HasFatalFailure()) return;
  generateLegal(0, buffer.get(), *node);
  const std::vector<chessMove> moves(node->plies[0].listStart, node->plies[0].listEnd);
  for (chessMove m : moves) {
    auto child = std::make_unique<board>(*node);
    makeMove(*child, 0, m);
    child->plies[0].castleRights = child->plies[1].castleRights;
    child->plies[0].epSquare = child->plies[1].epSquare;
    child->plies[0].inCheck = kingAttacked(*child, child->sideToMove) ? 1 : 0;
    walk(*child, depth - 1, fullMove + (b.sideToMove == BLACK), n);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace

// Thousands of positions from perft trees, standard and Chess960, with
// castling rights, en passant and promotions among them.
TEST(Record, PackUnpackRoundTrip) {
  struct start {
    const char* fen;
    bool chess960;
    int depth;
  };
  const start starts[] = {
      {START_FEN, false, 2},
      {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", false, 2},
      {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", false, 3},
      {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", false, 2},
      {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", false, 2},
      {"r3k2r/8/8/8/3pPp2/8/8/R3K1R1 b Qkq e3 131 70", false, 2},
      {"rb1q1nnr/2pkp1p1/6bp/p1Pp1P2/3P1PP1/P7/P3N2P/RBK1BN1R b HA - 2 10", true, 2},
      {"3knrnb/2p2ppp/5r2/ppqpPb2/1B6/PN1NPPPP/1PP5/2RB1KQR b Hf - 0 12", true, 2},
      {"rnbknb1r/1p1pp2p/8/p1p2pp1/P2P2Q1/2P1PP2/1P5P/RNBKNB1R b HAha - 0 11", true, 2},
      {"1r1kn1nb/2p3qp/3rppp1/pp1b4/P3p3/2P1PP2/1PNPQ1PP/BRK3RB w B - 1 15", true, 2},
  };
  roundTripCounts n;
  for (const start& s : starts) {
    testBoard tb(s.fen, s.chess960);
    walk(*tb, s.depth, tb->keyCount / 2 + 1, n);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(n.positions, 5000);
  EXPECT_GT(n.castlingRights, 500);
  EXPECT_GT(n.chess960Rights, 100);
  EXPECT_GT(n.enPassant, 50);
  EXPECT_GT(n.promotions, 100);
  EXPECT_GT(n.castlings, 50);
  EXPECT_GT(n.epCaptures, 5);
}
