#include <gtest/gtest.h>

#include <random>
#include <set>

#include "board/attacks.h"
#include "testutil.h"

namespace {

u64 squares(std::initializer_list<const char*> names) {
  u64 r = 0;
  for (const char* n : names) r |= bit(8 * (n[1] - '1') + (n[0] - 'a'));
  return r;
}

int sq(const char* n) { return 8 * (n[1] - '1') + (n[0] - 'a'); }

// Slider attacks by plain stepping, independent of the magic tables.
u64 slowSlider(int s, u64 occ, bool diagonal) {
  static const int rook[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  static const int bishop[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  const int(*dirs)[2] = diagonal ? bishop : rook;
  u64 r = 0;
  for (int d = 0; d < 4; ++d)
    for (int f = (s & 7) + dirs[d][0], k = (s >> 3) + dirs[d][1]; f >= 0 && f < 8 && k >= 0 && k < 8;
         f += dirs[d][0], k += dirs[d][1]) {
      r |= bit(8 * k + f);
      if (occ & bit(8 * k + f)) break;
    }
  return r;
}

}  // namespace

TEST(AttackTables, MagicLookupsMatchSteppedAttacksOnRandomOccupancies) {
  ensureTables();
  std::mt19937_64 rng(12345);
  for (int s = 0; s < 64; ++s) {
    EXPECT_EQ(rookAttacks(s, 0), orthogonalRays[s]);
    EXPECT_EQ(bishopAttacks(s, 0), diagonalRays[s]);
    for (int i = 0; i < 300; ++i) {
      u64 occ = rng() & rng();  // sparse and dense mixes
      if (i & 1) occ &= rng();
      ASSERT_EQ(rookAttacks(s, occ), slowSlider(s, occ, false)) << "rook square " << s;
      ASSERT_EQ(bishopAttacks(s, occ), slowSlider(s, occ, true)) << "bishop square " << s;
    }
  }
}

TEST(AttackTables, MagicsAreSparseAndPacked) {
  ensureTables();
  size_t rookWords = 0, bishopWords = 0;
  for (int s = 0; s < 64; ++s) {
    EXPECT_EQ(popCount(rookMagics[s].magic), 9);
    EXPECT_EQ(popCount(bishopMagics[s].magic), 9);
    EXPECT_EQ(rookMagics[s].shift, u64(64 - popCount(rookMagics[s].mask)));
    rookWords += size_t(1) << popCount(rookMagics[s].mask);
    bishopWords += size_t(1) << popCount(bishopMagics[s].mask);
    if (s > 0) {
      EXPECT_EQ(rookMagics[s].attacks, rookMagics[s - 1].attacks + (1 << popCount(rookMagics[s - 1].mask)));
    }
  }
  EXPECT_EQ(rookWords, 102400u);
  EXPECT_EQ(bishopWords, 5248u);
  // Relevant occupancy leaves out the board edge in the ray's direction.
  EXPECT_EQ(rookMagics[0].mask, squares({"a2", "a3", "a4", "a5", "a6", "a7", "b1", "c1", "d1", "e1", "f1", "g1"}));
  EXPECT_EQ(bishopMagics[sq("d4")].mask, squares({"c3", "b2", "e5", "f6", "g7", "c5", "b6", "e3", "f2"}));
}

TEST(AttackTables, StepAttacksDoNotWrap) {
  ensureTables();
  EXPECT_EQ(knightAttacks[sq("a1")], squares({"b3", "c2"}));
  EXPECT_EQ(knightAttacks[sq("h1")], squares({"g3", "f2"}));
  EXPECT_EQ(knightAttacks[sq("a8")], squares({"b6", "c7"}));
  EXPECT_EQ(knightAttacks[sq("d4")], squares({"c2", "e2", "b3", "f3", "b5", "f5", "c6", "e6"}));
  EXPECT_EQ(kingAttacks[sq("h8")], squares({"g8", "g7", "h7"}));
  EXPECT_EQ(kingAttacks[sq("a4")], squares({"a3", "b3", "b4", "b5", "a5"}));
  const u64 fileA = 0x0101010101010101ULL, fileH = fileA << 7;
  for (int s = 0; s < 64; ++s) {
    if ((s & 7) == 7) {
      EXPECT_EQ(knightAttacks[s] & fileA, 0u) << s;
      EXPECT_EQ(kingAttacks[s] & fileA, 0u) << s;
    }
    if ((s & 7) == 0) {
      EXPECT_EQ(knightAttacks[s] & fileH, 0u) << s;
      EXPECT_EQ(kingAttacks[s] & fileH, 0u) << s;
    }
    for (int t = 0; t < 64; ++t) {  // both relations are symmetric
      EXPECT_EQ(bool(knightAttacks[s] & bit(t)), bool(knightAttacks[t] & bit(s)));
      EXPECT_EQ(bool(kingAttacks[s] & bit(t)), bool(kingAttacks[t] & bit(s)));
    }
  }
}

TEST(AttackTables, PawnAttackersAndEnPassantNeighbours) {
  ensureTables();
  EXPECT_EQ(pawnAttackers[WHITE][sq("e4")], squares({"d3", "f3"}));
  EXPECT_EQ(pawnAttackers[BLACK][sq("e4")], squares({"d5", "f5"}));
  EXPECT_EQ(pawnAttackers[WHITE][sq("a2")], 0u);
  EXPECT_EQ(pawnAttackers[WHITE][sq("a3")], squares({"b2"}));
  EXPECT_EQ(pawnAttackers[WHITE][sq("h3")], squares({"g2"}));
  EXPECT_EQ(pawnAttackers[BLACK][sq("h6")], squares({"g7"}));
  EXPECT_EQ(pawnAttackers[BLACK][sq("c7")], 0u);
  EXPECT_EQ(epNeighbours[sq("a4")], squares({"b4"}));
  EXPECT_EQ(epNeighbours[sq("e5")], squares({"d5", "f5"}));
  EXPECT_EQ(epNeighbours[sq("h5")], squares({"g5"}));
  EXPECT_EQ(epNeighbours[sq("e3")], 0u);
  EXPECT_EQ(epNeighbours[sq("e6")], 0u);
}

TEST(AttackTables, BetweenLineThroughAndPassedMasks) {
  ensureTables();
  EXPECT_EQ(between[sq("a1")][sq("h8")], squares({"b2", "c3", "d4", "e5", "f6", "g7"}));
  EXPECT_EQ(between[sq("h8")][sq("a1")], between[sq("a1")][sq("h8")]);
  EXPECT_EQ(between[sq("a1")][sq("b3")], 0u);
  EXPECT_EQ(between[sq("e1")][sq("e2")], 0u);
  EXPECT_EQ(between[sq("e4")][sq("e4")], 0u);
  EXPECT_EQ(between[sq("a4")][sq("h4")], squares({"b4", "c4", "d4", "e4", "f4", "g4"}));
  EXPECT_EQ(between[sq("h1")][sq("a8")], squares({"g2", "f3", "e4", "d5", "c6", "b7"}));
  EXPECT_EQ(lineThrough[sq("c3")][sq("e5")], squares({"a1", "b2", "c3", "d4", "e5", "f6", "g7", "h8"}));
  EXPECT_EQ(lineThrough[sq("b2")][sq("b7")], 0x0202020202020202ULL);
  EXPECT_EQ(lineThrough[sq("a1")][sq("b3")], 0u);
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b) {
      ASSERT_EQ(between[a][b] & ~lineThrough[a][b], 0u);
      if (lineThrough[a][b]) {
        ASSERT_TRUE(lineThrough[a][b] & bit(a) && lineThrough[a][b] & bit(b));
      }
    }
  EXPECT_EQ(passedMask[WHITE][sq("e4")],
            squares({"d5", "e5", "f5", "d6", "e6", "f6", "d7", "e7", "f7", "d8", "e8", "f8"}));
  EXPECT_EQ(passedMask[BLACK][sq("e4")], squares({"d3", "e3", "f3", "d2", "e2", "f2", "d1", "e1", "f1"}));
  EXPECT_EQ(passedMask[WHITE][sq("a7")], squares({"a8", "b8"}));
  EXPECT_EQ(passedMask[WHITE][sq("e1")], 0u);
  EXPECT_EQ(passedMask[BLACK][sq("e8")], 0u);
}

TEST(ZobristKeys, FixedDistinctAndInTheirSlots) {
  ensureTables();
  EXPECT_EQ(zobrist.piece[2][0], 0xacfeaf947971818aULL);
  EXPECT_EQ(zobrist.piece[2][1], 0x1e1a986bcee58e3bULL);
  EXPECT_EQ(zobrist.piece[2][2], 0xd1dd9bbc7b8c8d68ULL);
  std::set<u64> all;
  for (int c = 0; c < 14; ++c)
    for (int s = 0; s < 64; ++s) {
      if (c < 2) {
        EXPECT_EQ(zobrist.piece[c][s], 0u);
      } else {
        all.insert(zobrist.piece[c][s]);
      }
    }
  for (u64 k : zobrist.castle) all.insert(k);
  for (u64 k : zobrist.ep) all.insert(k);
  all.insert(zobrist.side);
  EXPECT_EQ(all.size(), 793u);
  EXPECT_EQ(all.count(0), 0u);
  // Well mixed: every bit position is set in roughly half of the keys.
  for (int b = 0; b < 64; ++b) {
    int ones = 0;
    for (u64 k : all) ones += (k >> b) & 1;
    EXPECT_GT(ones, 300) << b;
    EXPECT_LT(ones, 493) << b;
  }
}

TEST(ZobristKeys, StartPositionKeyFromScratch) {
  testBoard tb;
  u64 expected = zobrist.castle[15];
  for (int s = 0; s < 64; ++s)
    if (tb->pieceOn[s]) expected ^= zobrist.piece[tb->pieceOn[s]][s];
  EXPECT_EQ(tb->hashKey, expected);
  EXPECT_EQ(computeHashKey(*tb), expected);
  testBoard black("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  u64 k = zobrist.castle[15] ^ zobrist.side ^ zobrist.ep[4];
  for (int s = 0; s < 64; ++s)
    if (black->pieceOn[s]) k ^= zobrist.piece[black->pieceOn[s]][s];
  EXPECT_EQ(black->hashKey, k);
}
