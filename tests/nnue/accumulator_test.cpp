#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "nnue/accumulator.h"
#include "nnue/embedded.h"
#include "netfile.h"
#include "testutil.h"

namespace {

struct startPosition {
  const char* fen;
  bool chess960;
};

// Castling of every shape (standard; Chess960 with the king or the rook
// staying put, with king and rook changing places, the king landing on its
// rook's square), en passant, promotions with and without a capture.
const startPosition STARTS[] = {
    {START_FEN, false},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", false},
    {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", false},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", false},
    {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3", false},
    {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1", false},
    {"4k3/pppppppp/8/1P1P1P1P/8/8/8/4K3 b - - 0 1", false},
    {"4k3/8/8/8/p1p1p1p1/8/PPPPPPPP/4K3 w - - 0 1", false},
    {"1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1", true},
    {"rk4r1/pppppppp/8/8/8/8/PPPPPPPP/RK4R1 w GAga - 0 1", true},
    {"2r1kr2/pppppppp/8/8/8/8/PPPPPPPP/2R1KR2 w FCfc - 0 1", true},
    {"4rkr1/8/8/8/8/8/8/4RKR1 w GEge - 0 1", true},
    {"qrnbnkbr/pppppppp/8/8/8/8/PPPPPPPP/QRNBNKBR w HBhb - 0 1", true},
};

// What the walk has made, so that the test knows it covered every kind.
struct coverage {
  int castles = 0, castles960 = 0, enPassant = 0, promotions = 0, capturePromotions = 0, nullMoves = 0,
      captures = 0, walkBacks = 0, kingCrossings = 0;
};

class walk {
 public:
  walk(const nnue::network& net, u64 seed) : net_(net), seed_(seed) {}

  // Random lines from one start: down by a legal move (or a null move, as the
  // search makes them: not in check, not twice in a row), up by unmaking; the
  // network evaluated at random plies only, so that evaluation often has to
  // bring several plies up to date at once.
  void run(const startPosition& start, int steps, coverage& seen) {
    testBoard tb(start.fen, start.chess960);
    board& b = *tb;
    b.plies[0].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
    nnue::attach(b, *stack_, &net_);
    std::vector<chessMove> line;  // 0 for a null move
    std::vector<u64> nullKeys;
    check(b, 0);
    for (int step = 0; step < steps; ++step) {
      const int ply = int(line.size());
      if (ply < 60 && (ply == 0 || next() % 4 != 0)) {
        generateLegal(u8(ply), b.plies[ply].listStart, b);
        const int count = int(b.plies[ply].listEnd - b.plies[ply].listStart);
        const bool canPass = !b.plies[ply].inCheck && (ply == 0 || line.back() != 0);
        if (canPass && next() % 10 == 0) {
          nullKeys.push_back(b.hashKey);
          makeNullMove(b, u8(ply));
          line.push_back(0);
          ++seen.nullMoves;
        } else if (count > 0) {
          const chessMove m = b.plies[ply].listStart[next() % count];
          const int kind = moveKindOf(m);
          const bool capture = b.pieceOn[moveTo(m)] != 0 && kind < CASTLE_SHORT;
          seen.castles += kind >= CASTLE_SHORT;
          seen.castles960 += kind >= CASTLE_SHORT && start.chess960;
          seen.enPassant += kind == EN_PASSANT;
          seen.promotions += isPromotion(kind);
          seen.capturePromotions += isPromotion(kind) && capture;
          seen.captures += capture;
          const int mover = b.sideToMove, kingBefore = kingSquare(b, mover);
          makeMove(b, u8(ply), m);
          seen.kingCrossings += ((kingBefore & 7) >= 4) != ((kingSquare(b, mover) & 7) >= 4);
          line.push_back(m);
        } else if (ply > 0) {
          up(b, line, nullKeys);
        }
      } else {
        up(b, line, nullKeys);
      }
      const int now = int(line.size());
      if (next() % 3 == 0) {
        seen.walkBacks += now > 0 && !stack_->plies[now].computed[WHITE] && !stack_->plies[now - 1].computed[WHITE];
        check(b, now);
      }
      if (::testing::Test::HasFatalFailure()) return;
    }
  }

 private:
  void up(board& b, std::vector<chessMove>& line, std::vector<u64>& nullKeys) {
    const int ply = int(line.size()) - 1;
    if (line.back() == 0) {
      unmakeNullMove(b, u8(ply), nullKeys.back());
      nullKeys.pop_back();
    } else {
      unmakeMove(b, u8(ply), line.back());
    }
    line.pop_back();
  }

  // The accumulators the search would use at `ply` equal those computed from
  // the pieces, and so does the score.
  void check(board& b, int ply) {
    const int score = nnue::evaluate(b, ply);
    alignas(64) i16 fresh[nnue::MAX_HIDDEN];
    for (int view = WHITE; view <= BLACK; ++view) {
      nnue::refreshView(net_, b, view, fresh);
      ASSERT_EQ(std::memcmp(fresh, stack_->plies[ply].values[view], sizeof(i16) * std::size_t(net_.hidden)), 0)
          << "view " << view << " at ply " << ply << "\n" << boardDiagram(b);
    }
    ASSERT_EQ(score, nnue::evaluateFromScratch(net_, b));
  }

  u64 next() {
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 7;
    seed_ ^= seed_ << 17;
    return seed_;
  }

  const nnue::network& net_;
  u64 seed_;
  std::unique_ptr<nnue::accumulatorStack> stack_ = std::make_unique<nnue::accumulatorStack>();
};

}  // namespace

// The embedded net, then one of each other width for a few games.
TEST(Accumulators, IncrementalEqualsFromScratchAlongRandomLines) {
  auto net = std::make_unique<nnue::network>();
  const nnue::embeddedBytes e = nnue::embeddedNet();
  ASSERT_EQ(nnue::loadNet(e.data, e.size, *net), "");
  coverage seen;
  walk w(*net, 0x9E3779B97F4A7C15ull);
  for (int game = 0; game < 30; ++game)
    for (const startPosition& start : STARTS) {
      w.run(start, 200, seen);
      if (HasFatalFailure()) return;
    }
  const int embeddedWidth = net->hidden;
  // Every other width, a net with output buckets (version 2), and mirrored
  // nets (version 3), whose views are built afresh when their king crosses.
  struct kind {
    int hidden, buckets;
    bool mirrored;
  };
  coverage mirroredSeen;
  for (const kind k : {kind{32, 1, false}, kind{64, 1, false}, kind{128, 1, false}, kind{256, 1, false},
                       kind{512, 1, false}, kind{128, nnue::OUTPUT_BUCKETS, false}, kind{64, 1, true},
                       kind{128, nnue::OUTPUT_BUCKETS, true}}) {
    if (k.hidden == embeddedWidth && k.buckets == 1 && !k.mirrored) continue;
    const testnet::bytes file = testnet::randomNet(k.hidden, nnue::SCRELU, u64(k.hidden + k.mirrored), k.buckets, k.mirrored);
    ASSERT_EQ(file[8], k.mirrored ? 3 : k.buckets == 1 ? 1 : 2);
    ASSERT_EQ(nnue::loadNet(file.data(), file.size(), *net), "");
    coverage other;
    walk wide(*net, u64(k.hidden) * 7919 + k.mirrored);
    for (int game = 0; game < (k.mirrored ? 6 : 2); ++game)
      for (const startPosition& start : STARTS) {
        wide.run(start, 200, k.mirrored ? mirroredSeen : other);
        if (HasFatalFailure()) return;
      }
  }
  EXPECT_GT(mirroredSeen.kingCrossings, 20);
  EXPECT_GT(seen.castles, 0);
  EXPECT_GT(seen.castles960, 0);
  EXPECT_GT(seen.enPassant, 0);
  EXPECT_GT(seen.promotions, 0);
  EXPECT_GT(seen.capturePromotions, 0);
  EXPECT_GT(seen.nullMoves, 0);
  EXPECT_GT(seen.captures, 0);
  EXPECT_GT(seen.walkBacks, 0);
  std::printf("covered: %d castlings (%d in Chess960), %d en passant, %d promotions (%d capturing), %d null moves, "
              "%d captures, %d evaluations over two plies or more\n",
              seen.castles, seen.castles960, seen.enPassant, seen.promotions, seen.capturePromotions, seen.nullMoves,
              seen.captures, seen.walkBacks);
}
