#include <gtest/gtest.h>

#include "search/tuning.h"

// The hand-written set's tables are those the search was written with: a
// change of formula or units that moved one entry would move the bench count
// far from where a mistake could be traced.
TEST(SearchTuning, HandTablesKeepTheirEntries) {
  const auto& r = handSearch::t.reductions;
  const int ms[7] = {4, 5, 8, 16, 32, 64, 255};
  const int d8[7] = {1, 1, 2, 3, 4, 6, 13}, d32[7] = {2, 2, 4, 6, 9, 13, 27}, d127[7] = {4, 5, 8, 12, 18, 26, 54};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(r[8][ms[i]], d8[i]);
    EXPECT_EQ(r[32][ms[i]], d32[i]);
    EXPECT_EQ(r[127][ms[i]], d127[i]);
  }
  EXPECT_EQ(r[0][3], 1);
  EXPECT_EQ(r[127][2], 0);
  const int row10[8] = {0, 0, 0, 1, 1, 1, 1, 2};
  for (int n = 0; n < 8; ++n) EXPECT_EQ(r[10][n], row10[n]);

  // Late-move counts by depth 1..7, not improving, then improving.
  const int still[7] = {2, 3, 5, 7, 10, 14, 19}, rising[7] = {4, 6, 8, 11, 15, 20, 27};
  for (int d = 1; d <= LATE_MOVE_MAX_DEPTH; ++d) {
    EXPECT_EQ(handSearch::t.lateMoveCount[d], still[d - 1]) << d;
    EXPECT_EQ(handSearch::t.lateMoveCount[d + LATE_MOVE_MAX_DEPTH + 1], rising[d - 1]) << d;
  }
}

// The tables follow the values: a wider divisor reduces less, a base rounds
// the root up, and counts never go below zero.
TEST(SearchTuning, TablesFollowTheValues) {
  searchValues v;
  v.reductionDivisor = 220;
  searchTables t = makeSearchTables(v);
  EXPECT_EQ(t.reductions[32][64], 9);  // sqrt(62 * 32 / 22) = 9.49
  v.reductionBase = 60;
  t = makeSearchTables(v);
  EXPECT_EQ(t.reductions[32][64], 10);
  EXPECT_EQ(t.reductions[32][3], 1);  // the first moves keep their fixed rows
  v.reductionBase = -100;
  t = makeSearchTables(v);
  EXPECT_EQ(t.reductions[8][4], 0);
  v.lateMoveBase = -500;
  t = makeSearchTables(v);
  EXPECT_EQ(t.lateMoveCount[1], 0);
  EXPECT_EQ(t.lateMoveCount[7], 12);  // (-500 + 35 * 49) / 100
}
