#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "engine/strength.h"
#include "textmatch.h"
#include "enginedriver.h"
#include "movegen/makemove.h"
#include "movegen/movetext.h"
#include "testutil.h"

namespace {

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

const rx::pattern BESTMOVE(R"(bestmove [a-h][1-8][a-h][1-8][nbrq]?( ponder [a-h][1-8][a-h][1-8][nbrq]?)?)");

struct Play : ::testing::Test {
  engineProcess e;
  void SetUp() override { ASSERT_TRUE(e.skipBanner()); }
  // A clean exit also shows that no sanitizer stopped the engine.
  void TearDown() override {
    e.send("quit");
    EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
  }

  // Sends `command`; the lines up to "bestmove", which must be well formed.
  std::vector<std::string> answer(const std::string& command, int timeoutMs = 20000) {
    e.send(command);
    auto lines = e.readUntil("bestmove", scaledMs(timeoutMs));
    if (!lines) return {"<no bestmove after " + command + ">"};
    EXPECT_TRUE(rx::match(lines->back(), BESTMOVE)) << command << ": " << lines->back();
    return *lines;
  }
  // Exact depths and counts below are those of the hand-written evaluation.
  void handWritten() {
    e.send("setoption name UseNNUE value false");
    ASSERT_TRUE(e.readUntil("info string UseNNUE set to : 0", scaledMs(10000)));
  }
  void expectNoBestmoveFor(int ms) {
    for (const auto& l : e.drain(ms)) EXPECT_FALSE(startsWith(l, "bestmove")) << l;
  }
};

}  // namespace

TEST_F(Play, InfoLinesStartAtDepthTen) {
  // Shallower searches show one score line, for their last depth, before the move.
  for (const char* go : {"go depth 1", "go depth 5"}) {
    const auto shallow = answer(go);
    ASSERT_EQ(shallow.size(), 2u) << go;
    EXPECT_TRUE(rx::match(shallow[0], rx::pattern(std::string("info score cp -?\\d+ depth ") + (go + 9) +
                                                  " seldepth .* pv( [a-h][1-8][a-h][1-8][nbrq]?)+ ")))
        << shallow[0];
  }
  auto lines = answer("go depth 11", 60000);
  ASSERT_EQ(lines.size(), 3u);
  const rx::pattern info(
      R"(info score cp -?\d+ depth (\d+) seldepth \d+ nodes \d+ nps \d+ time \d+ tbhits 0 pv( [a-h][1-8][a-h][1-8][nbrq]?)+ )");
  rx::groups m;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(rx::match(lines[i], m, info)) << lines[i];
    EXPECT_EQ(m[1], std::to_string(10 + i));
  }
}

TEST_F(Play, MateReports) {
  e.send("position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
  EXPECT_EQ(answer("go wtime 10000 btime 10000"), (std::vector<std::string>{"info score mate 0", "bestmove a1a1"}));
  // Qb8+ Rxb8 Rxb8#: the proven mate ends the search long before the clock would.
  e.send("position fen r5k1/5ppp/8/8/8/8/1Q3PPP/1R4K1 w - - 0 1");
  auto lines = answer("go wtime 600000 btime 600000");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate 2 depth ")) << lines[lines.size() - 2];
  EXPECT_TRUE(startsWith(lines.back(), "bestmove b2b8")) << lines.back();
  // The mated side, with its single legal move.
  e.send("position fen k7/2K5/8/8/8/8/8/1R6 b - - 0 1");
  lines = answer("go depth 8");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate -1 depth ")) << lines[lines.size() - 2];
  EXPECT_TRUE(startsWith(lines.back(), "bestmove a8a7")) << lines.back();
}

namespace {

// What a line says apart from its speed and time.
std::string withoutTiming(const std::string& line) {
  return rx::replace(line, rx::pattern(" nps \\d+ time \\d+"), "");
}

struct scoreLine {
  int score = 0, depth = 0, multiPv = 0;
  std::string first;
};
std::optional<scoreLine> readScoreLine(const std::string& l) {
  static const rx::pattern line(
      R"(info score (cp|mate) (-?\d+) depth (\d+) seldepth \d+ multipv (\d+) nodes \d+ nps \d+ time \d+ tbhits \d+ pv ([a-h][1-8][a-h][1-8][nbrq]?) .*)");
  rx::groups m;
  if (!rx::match(l, m, line)) return std::nullopt;
  const int v = std::stoi(m[2]);
  return scoreLine{m[1] == "cp" ? v : (v > 0 ? 32000 - v : -32000 - v), std::stoi(m[3]), std::stoi(m[4]), m[5]};
}

}  // namespace

TEST_F(Play, MultiPvLinesAreDistinctBestFirstAndLineOneIsPlayed) {
  e.send("setoption name Hash value 16");
  ASSERT_TRUE(e.readUntil("info string", scaledMs(10000)));
  const auto fresh = answer("go depth 11", 60000);

  e.send("setoption name MultiPV value 3");
  ASSERT_TRUE(e.readUntil("info string MultiPV", scaledMs(10000)));
  const auto three = answer("go depth 11", 60000);
  ASSERT_EQ(three.size(), 7u);
  for (int depth = 10; depth <= 11; ++depth) {
    std::vector<std::string> firsts;
    for (int k = 0; k < 3; ++k) {
      const auto l = readScoreLine(three[std::size_t(3 * (depth - 10) + k)]);
      ASSERT_TRUE(l) << three[std::size_t(3 * (depth - 10) + k)];
      EXPECT_EQ(l->depth, depth);
      EXPECT_EQ(l->multiPv, k + 1);
      if (k > 0) {
        EXPECT_LE(l->score, readScoreLine(three[std::size_t(3 * (depth - 10) + k - 1)])->score);
      }
      EXPECT_EQ(std::count(firsts.begin(), firsts.end(), l->first), 0) << l->first;
      firsts.push_back(l->first);
    }
  }
  EXPECT_TRUE(startsWith(three.back(), "bestmove " + readScoreLine(three[3])->first + " ")) << three.back();

  // Fewer allowed moves than lines: fewer lines. A root without moves has none.
  const auto two = answer("go depth 10 searchmoves a2a3 h2h3", 60000);
  ASSERT_EQ(two.size(), 3u);
  const auto a = readScoreLine(two[0]), b = readScoreLine(two[1]);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->first, b->first);
  EXPECT_TRUE(two[2] == "bestmove " + a->first || startsWith(two[2], "bestmove " + a->first + " ")) << two[2];
  e.send("position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
  EXPECT_EQ(answer("go depth 5"), (std::vector<std::string>{"info score mate 0", "bestmove a1a1"}));

  // Back at one line, with the table and histories cleared: the fresh
  // engine's search, line for line and node for node.
  e.send("position startpos");
  e.send("setoption name MultiPV value 1");
  e.send("setoption name Clear Hash");
  ASSERT_TRUE(e.readUntil("info string Hash cleared", scaledMs(10000)));
  const auto again = answer("go depth 11", 60000);
  ASSERT_EQ(again.size(), fresh.size());
  for (std::size_t i = 0; i < fresh.size(); ++i) EXPECT_EQ(withoutTiming(again[i]), withoutTiming(fresh[i]));
}

TEST_F(Play, MultiPvLinesAreSortedWhereTheSearchFindsThemOutOfOrder) {
  // Here later lines of an iteration, as the search finds them, score above
  // earlier ones (at depth 11 in the first position, 10 and 11 in the second).
  e.send("setoption name Hash value 16");
  ASSERT_TRUE(e.readUntil("info string", scaledMs(10000)));
  e.send("setoption name MultiPV value 3");
  ASSERT_TRUE(e.readUntil("info string MultiPV", scaledMs(10000)));
  for (const char* fen : {"8/8/8/4k3/8/8/4P3/4K3 w - - 0 60", "8/5pk1/6p1/8/8/6P1/5PK1/3R4 w - - 0 45"}) {
    e.send("ucinewgame");
    e.send(std::string("position fen ") + fen);
    const auto lines = answer("go depth 11", 30000);
    ASSERT_EQ(lines.size(), 7u) << fen;
    for (std::size_t i = 1; i < 6; ++i) {
      const auto before = readScoreLine(lines[i - 1]), l = readScoreLine(lines[i]);
      ASSERT_TRUE(before && l) << lines[i];
      if (l->multiPv > 1) {
        EXPECT_LE(l->score, before->score) << fen << "\n" << lines[i - 1] << "\n" << lines[i];
      }
    }
  }
}

TEST_F(Play, TwoThreadsShowAndPlayTheProvenMateWhicheverThreadFoundIt) {
  // With a mate limit, the thread that proves the mate stops the others; its
  // line must be the last line one shown, in the mate form, and its move the
  // one played, whether the root is searched whole, by lines or restricted.
  // The threads race: each case is searched afresh many times.
  e.send("setoption name Threads value 2");
  e.send("setoption name Hash value 16");
  struct mateCase {
    const char *fen, *go, *lines, *shown, *move;
  };
  const char* twoMoves = "6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - - 0 1";  // Rg1+ Kxg1 Rf1#
  const char* oneMove = "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4";  // Qxf7#
  const mateCase cases[] = {
      {twoMoves, "go mate 5", "2", "info score mate 2 ", "g2g1"},
      {twoMoves, "go mate 5 searchmoves f2b2 h3g4 f2f1 g2g1", "1", "info score mate 2 ", "g2g1"},
      {oneMove, "go mate 5", "1", "info score mate 1 ", "h5f7"},
      {oneMove, "go mate 5", "3", "info score mate 1 ", "h5f7"},
  };
  const rx::pattern centipawns(R"(info score cp (-?\d+) .*)");
  for (const mateCase& c : cases) {
    e.send(std::string("setoption name MultiPV value ") + c.lines);
    int wrong = 0;
    std::string firstWrong;
    for (int run = 0; run < 30; ++run) {
      e.send("ucinewgame");
      e.send(std::string("position fen ") + c.fen);
      const auto lines = answer(c.go);
      std::string lineOne;
      bool centipawnMate = false;
      for (const auto& l : lines) {
        rx::groups m;
        if (rx::match(l, m, centipawns)) centipawnMate = centipawnMate || std::abs(std::stoi(m[1])) >= 31872;
        const bool numbered = l.find(" multipv ") != std::string::npos;
        if (startsWith(l, "info score") && (!numbered || l.find(" multipv 1 ") != std::string::npos)) lineOne = l;
      }
      const bool right = !centipawnMate && startsWith(lineOne, c.shown) &&
                         lineOne.find(std::string(" pv ") + c.move + " ") != std::string::npos &&
                         startsWith(lines.back(), std::string("bestmove ") + c.move);
      if (!right && wrong++ == 0)
        for (const auto& l : lines) firstWrong += l + "\n";
    }
    EXPECT_EQ(wrong, 0) << c.go << ", MultiPV " << c.lines << ", " << c.fen << "; first wrong answer:\n" << firstWrong;
  }
}

TEST_F(Play, SearchmovesRestrictTheRootAndTheWordsAfterThemStillCount) {
  auto lines = answer("go searchmoves e2e4 depth 5");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[0], "info score cp ") && lines[0].find(" depth 5 ") != std::string::npos) << lines[0];
  EXPECT_TRUE(startsWith(lines[1], "bestmove e2e4")) << lines[1];

  lines = answer("go depth 10 searchmoves a2a3 h2h3", 60000);
  EXPECT_TRUE(startsWith(lines.back(), "bestmove a2a3") || startsWith(lines.back(), "bestmove h2h3")) << lines.back();

  // Texts that name no legal move are skipped; with none left, all moves count.
  lines = answer("go searchmoves zz9 e2e5 depth 3");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "info string searchmoves: zz9 is not a legal move here, skipped");
  EXPECT_EQ(lines[1], "info string searchmoves: e2e5 is not a legal move here, skipped");
  EXPECT_EQ(lines[2], "info string searchmoves names no legal move, all moves are searched");
  EXPECT_EQ(answer("go depth 2 searchmoves")[0], lines[2]);

  // Repeated moves, hundreds of texts, several threads.
  std::string many = "go depth 4 searchmoves";
  for (int i = 0; i < 150; ++i) many += " g1f3 b1c3";
  lines = answer(many);
  EXPECT_TRUE(startsWith(lines.back(), "bestmove g1f3") || startsWith(lines.back(), "bestmove b1c3")) << lines.back();
  e.send("setoption name Threads value 2");
  ASSERT_TRUE(e.readUntil("info string", scaledMs(10000)));
  EXPECT_TRUE(startsWith(answer("go movetime 300 searchmoves h2h4").back(), "bestmove h2h4"));
}

TEST_F(Play, ShowWdlPutsChancesRightAfterTheScore) {
  e.send("setoption name UCI_ShowWDL value true");
  ASSERT_TRUE(e.readUntil("info string UCI_ShowWDL", scaledMs(10000)));
  const auto lines = answer("go depth 6");
  rx::groups m;
  ASSERT_TRUE(rx::match(lines[0], m, rx::pattern(R"(info score cp -?\d+ wdl (\d+) (\d+) (\d+) depth 6 .*)")))
      << lines[0];
  EXPECT_EQ(std::stoi(m[1]) + std::stoi(m[2]) + std::stoi(m[3]), 1000);
  e.send("position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
  EXPECT_EQ(answer("go depth 5")[0], "info score mate 0 wdl 0 0 1000");
  // Qb8+ Rxb8 Rxb8#: a proven mate is a certain win.
  e.send("position fen r5k1/5ppp/8/8/8/8/1Q3PPP/1R4K1 w - - 0 1");
  EXPECT_TRUE(startsWith(answer("go depth 6")[0], "info score mate 2 wdl 1000 0 0 depth "));

  // No sequence of moves mates: a certain draw, on every line. Bishops on
  // squares of both colours can still mate (with help), so that one stays open.
  e.send("setoption name Threads value 2");
  ASSERT_TRUE(e.readUntil("info string Number", scaledMs(10000)));
  for (const char* dead : {"8/8/4k3/8/8/3K4/8/8 w - - 0 1", "8/8/4kb2/8/8/3KB3/8/8 b - - 0 1"}) {
    e.send(std::string("position fen ") + dead);
    const auto lines = answer("go depth 10");
    ASSERT_EQ(lines.size(), 2u) << dead;
    EXPECT_TRUE(startsWith(lines[0], "info score cp 0 wdl 0 1000 0 depth 10 ")) << lines[0];
  }
  e.send("position fen 8/8/4k1b1/8/8/3KB3/8/8 w - - 0 1");
  EXPECT_TRUE(rx::match(answer("go depth 10")[0], rx::pattern(R"(info score cp 0 wdl [1-9]\d* .*)")));
}

TEST_F(Play, InfiniteSearchAnswersAndEndsOnlyOnStop) {
  e.send("go infinite");
  e.send("isready");
  auto lines = e.readUntil("readyok", scaledMs(5000));
  ASSERT_TRUE(lines);
  for (const auto& l : *lines) EXPECT_TRUE(startsWith(l, "info") || l == "readyok") << l;
  expectNoBestmoveFor(500);
  answer("stop", 2000);
}

TEST_F(Play, OptionsSetDuringASearchWaitForTheNextGo) {
  // Every score line of a search with three lines and chances, whatever
  // "setoption" says meanwhile.
  const rx::pattern asStarted(R"(info score (cp|mate) -?\d+ wdl \d+ \d+ \d+ depth \d+ (seldepth \d+ )?multipv [123] .*)");
  e.send("setoption name Threads value 2");
  e.send("setoption name MultiPV value 3");
  e.send("setoption name UCI_ShowWDL value true");
  e.send("position fen 8/5pk1/6p1/8/8/6P1/5PK1/4R3 w - - 0 1");
  e.send("go infinite");
  ASSERT_TRUE(e.readUntil("info score", scaledMs(10000)));
  e.send("setoption name MultiPV value 1");
  e.send("setoption name UCI_ShowWDL value false");
  // Two more iterations' lines, then the stop.
  std::vector<std::string> lines;
  int scoreLines = 0;
  while (scoreLines < 6) {
    const auto line = e.readLine(scaledMs(10000));
    ASSERT_TRUE(line) << "no more lines";
    lines.push_back(*line);
    if (startsWith(*line, "info score")) ++scoreLines;
  }
  const auto rest = answer("stop", 2000);
  lines.insert(lines.end(), rest.begin(), rest.end());
  for (const auto& l : lines) {
    if (startsWith(l, "info score")) {
      EXPECT_TRUE(rx::match(l, asStarted)) << l;
    }
  }

  // Sent right behind "go", while the search is still starting.
  e.send("setoption name MultiPV value 3");
  e.send("setoption name UCI_ShowWDL value true");
  e.send("go depth 10");
  e.send("setoption name MultiPV value 1");
  e.send("setoption name UCI_ShowWDL value false");
  const auto behind = e.readUntil("bestmove", scaledMs(20000));
  ASSERT_TRUE(behind);
  std::vector<std::string> scores;
  for (const auto& l : *behind)
    if (startsWith(l, "info score")) scores.push_back(l);
  ASSERT_EQ(scores.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(rx::match(scores[std::size_t(k)], asStarted)) << scores[std::size_t(k)];
    EXPECT_NE(scores[std::size_t(k)].find(" multipv " + std::to_string(k + 1) + " "), std::string::npos);
  }
}

TEST_F(Play, ClearHashDuringAnalysisWaitsForItsEnd) {
  e.send("setoption name Hash value 16");
  ASSERT_TRUE(e.readUntil("info string", scaledMs(10000)));
  const auto fresh = answer("go depth 10", 60000);

  e.send("setoption name Threads value 2");
  e.send("go infinite");
  ASSERT_TRUE(e.readUntil("info score", scaledMs(10000)));  // the table is well filled
  e.send("setoption name Clear Hash");
  const auto said = e.readUntil("info string Hash", scaledMs(5000));
  ASSERT_TRUE(said);
  EXPECT_EQ(said->back(), "info string Hash will be cleared when the search ends");
  for (const auto& l : *said) EXPECT_FALSE(startsWith(l, "bestmove")) << l;
  expectNoBestmoveFor(300);
  answer("stop", 2000);

  // Cleared once it ended: one thread searches as the fresh engine did, node
  // for node (a new thread count starts with new histories, not a new table).
  e.send("setoption name Threads value 1");
  ASSERT_TRUE(e.readUntil("info string Number", scaledMs(10000)));
  const auto again = answer("go depth 10", 60000);
  ASSERT_EQ(again.size(), fresh.size());
  for (std::size_t i = 0; i < fresh.size(); ++i) EXPECT_EQ(withoutTiming(again[i]), withoutTiming(fresh[i]));
  e.send("setoption name Clear Hash");
  EXPECT_EQ(e.readLine(scaledMs(5000)), "info string Hash cleared");
}

namespace {

// The moves of each line's variation that follow a position already drawn:
// by the fifty-move rule, or by a repetition (a position seen before since
// the last capture or pawn move, in the game or the line), which is where
// the search scores the draw. `game` holds the moves after `fen`.
int movesPastADraw(const std::string& fen, const std::vector<std::string>& game, const std::vector<std::string>& lines) {
  int past = 0;
  for (const auto& l : lines) {
    const std::size_t at = l.find(" pv ");
    if (!startsWith(l, "info score") || at == std::string::npos) continue;
    testBoard b(fen);
    std::vector<u64> seen{b->hashKey};
    const auto play = [&](const std::string& text) {
      chessMove m;
      if (!parseMoveText(text, *b, m)) return false;
      makeMove(*b, 0, m);
      b->plies[0].castleRights = b->plies[1].castleRights;
      b->plies[0].epSquare = b->plies[1].epSquare;
      if (b->halfMoves == 0) seen.clear();
      seen.push_back(b->hashKey);
      return true;
    };
    for (const auto& m : game) EXPECT_TRUE(play(m)) << m;
    std::istringstream pv(l.substr(at + 4));
    std::string move;
    bool drawn = false;
    while (pv >> move) {
      if (drawn) ++past;
      EXPECT_TRUE(play(move)) << l;
      drawn = b->halfMoves >= 100 || std::count(seen.begin(), seen.end(), b->hashKey) > 1;
    }
  }
  return past;
}

}  // namespace

TEST_F(Play, PrintedLinesEndAtTheMoveThatMakesADraw) {
  // Qe8+ Kh7 Qh5+ Kg8: White, far behind, holds the draw by perpetual check.
  const std::string perpetual = "6k1/6p1/8/7Q/8/8/rq4PP/7K w - - 0 1";
  e.send("setoption name Threads value 2");
  e.send("position fen " + perpetual);
  auto lines = answer("go depth 14");
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return startsWith(l, "info score cp 0 depth 14 ") && l.find(" pv h5e8 g8h7 e8h5 h7g8 ") != std::string::npos;
  }));
  EXPECT_EQ(movesPastADraw(perpetual, {}, lines), 0);
  // The result of whichever thread, and several lines.
  lines = answer("go movetime 300");
  EXPECT_EQ(movesPastADraw(perpetual, {}, lines), 0);
  e.send("setoption name MultiPV value 2");
  lines = answer("go depth 12");
  EXPECT_EQ(movesPastADraw(perpetual, {}, lines), 0);

  // The game has been through the checks once already.
  const std::vector<std::string> game = {"h5e8", "g8h7", "e8h5", "h7g8"};
  e.send("setoption name MultiPV value 1");
  e.send("position fen " + perpetual + " moves h5e8 g8h7 e8h5 h7g8");
  lines = answer("go depth 12");
  EXPECT_EQ(movesPastADraw(perpetual, game, lines), 0);
}

TEST_F(Play, PonderingHoldsTheAnswerUntilPonderhitOrStop) {
  // Early ponderhit: the search goes on under its clock and ends by itself.
  e.send("position startpos moves e2e4");
  e.send("go ponder wtime 60000 btime 60000");
  expectNoBestmoveFor(300);
  answer("ponderhit", 10000);
  // Budget long used up: pondering still holds the answer; ponderhit releases it.
  e.send("go ponder wtime 200 btime 200");
  expectNoBestmoveFor(1000);
  answer("ponderhit", 2000);
  e.send("go ponder wtime 60000 btime 60000");
  answer("stop", 2000);
}

TEST_F(Play, TimedSearchesShowAScoreBeforeTheirMove) {
  // Match runners check for a score; the per-iteration lines start only at depth 10.
  const rx::pattern scored(
      R"(info score cp -?\d+ depth \d+ seldepth \d+ nodes \d+ nps \d+ time \d+ tbhits \d+ pv( [a-h][1-8][a-h][1-8][nbrq]?)+ )");
  e.send("ucinewgame");
  const std::pair<const char*, const char*> searches[] = {
      {"position fen 3r2k1/p5n1/1pq1p2p/2p3p1/2P1P1n1/1P1P2pP/PN1Q2K1/5R2 w - - 0 27", "go wtime 100"},
      {"position startpos moves e2e4", "go btime 100"},
      {"position startpos moves e2e4", "go wtime 100 winc 100 btime 100 binc 100"}};
  for (const auto& [position, go] : searches) {
    e.send(position);
    const auto lines = answer(go);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end() - 1, [&](const std::string& l) {
      return rx::match(l, scored);
    })) << go;
  }
}

TEST_F(Play, AnswersWithoutSearchStillWaitForPonderhitOrStop) {
  using lines = std::vector<std::string>;
  e.send("setoption name Threads value 3");  // helpers must not search a root without moves
  ASSERT_TRUE(e.readUntil("info string", scaledMs(10000)));
  const char* stalemate = "position fen k7/2Q5/1K6/8/8/8/8/8 b - - 0 1";
  const char* mated = "position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3";
  e.send(stalemate);
  EXPECT_EQ(answer("go wtime 1000 btime 1000"), (lines{"info score cp 0", "bestmove a1a1"}));
  e.send(mated);
  EXPECT_EQ(answer("go wtime 1000 btime 1000"), (lines{"info score mate 0", "bestmove a1a1"}));

  // The score comes at once, the move only on "ponderhit" or "stop", and then at once.
  e.send("go ponder wtime 1000 btime 1000");
  EXPECT_EQ(e.readLine(scaledMs(2000)), "info score mate 0");
  expectNoBestmoveFor(300);
  EXPECT_EQ(answer("ponderhit", 200), lines{"bestmove a1a1"});
  e.send(stalemate);
  e.send("go infinite");
  EXPECT_EQ(e.readLine(scaledMs(2000)), "info score cp 0");
  expectNoBestmoveFor(300);
  EXPECT_EQ(answer("stop", 200), lines{"bestmove a1a1"});

  // A ponder search that has reached its depth limit, or the depth of a
  // single legal move, just waits.
  for (const char* position : {"position startpos", "position fen 1r5k/8/8/8/8/8/8/K6r w - - 0 1"}) {
    e.send(position);
    e.send("go ponder depth 6 wtime 60000 btime 60000");
    expectNoBestmoveFor(1000);
    answer("ponderhit", 200);
  }

  struct stat table;
  if (stat(DRAVLIN_SYZYGY_DIR "/KQvK.rtbz", &table) != 0) GTEST_SKIP() << "no KQvK table in " DRAVLIN_SYZYGY_DIR;
  e.send("setoption name SyzygyPath value " DRAVLIN_SYZYGY_DIR);
  ASSERT_TRUE(e.readUntil("info string Syzygy", scaledMs(10000)));
  e.send("position fen 8/8/8/4k3/8/8/8/1Q2K3 w - - 0 1");
  e.send("go ponder wtime 10000 btime 10000");
  const auto tbLine = e.readLine(scaledMs(2000));
  EXPECT_TRUE(tbLine && rx::match(*tbLine, rx::pattern("info score cp 318.. depth 127 .*"))) << *tbLine;
  expectNoBestmoveFor(500);
  answer("ponderhit", 200);
}

TEST_F(Play, DeveloperCommandsEndARunningSearchFirst) {
  // Both rebuild tables that the search threads read.
  e.send("setoption name Threads value 2");
  e.send("go infinite");
  e.send("texel");
  e.send("go infinite");
  e.send("rtest");
  e.send("isready");
  const auto lines = e.readUntil("readyok", scaledMs(60000));
  ASSERT_TRUE(lines);
  std::vector<std::string> order;
  for (const auto& l : *lines)
    if (startsWith(l, "bestmove") || startsWith(l, "There seems") || startsWith(l, "Results of the perft"))
      order.push_back(l.substr(0, l.find(' ')));
  EXPECT_EQ(order, (std::vector<std::string>{"bestmove", "There", "bestmove", "Results"}));
}

TEST_F(Play, ThreadCountChangesBetweenSearches) {
  for (const char* n : {"1", "4", "2"}) {
    e.send(std::string("setoption name Threads value ") + n);
    auto confirm = e.readUntil("info string", scaledMs(10000));
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->back(), std::string("info string Number of threads set to : ") + n);
    answer("go movetime 300");
  }
}

TEST_F(Play, HostileInputKeepsTheEngineAnswering) {
  for (const char* go : {"go wtime -5 btime -5", "go wtime abc", "go movestogo 0 wtime 1000 btime 1000",
                         "go wtime 1000 btime 99999999999", "go wtime 2147483647 movetime 100",
                         "go depth -3 movetime 100", "go winc -1000 wtime 0", "go movetime 50 nodes -1 mate x",
                         "go movetime -20 wtime 500 btime 500"})
    answer(go, 10000);

  // Commands outside the protocol during a search: a table rebuild ends the
  // search first, and the new position is searched next.
  e.send("go infinite");
  e.send("position startpos moves e2e4");
  e.send("setoption name Hash value 8");
  auto lines = e.readUntil("info string Size", scaledMs(5000));
  ASSERT_TRUE(lines);
  ASSERT_GE(lines->size(), 2u);
  EXPECT_TRUE(startsWith((*lines)[lines->size() - 2], "bestmove"));
  EXPECT_TRUE(rx::match(answer("go depth 4").back(), rx::pattern("bestmove [a-h][78].*")));

  // A game record near the end of the key history.
  std::string moves = "position startpos moves";
  for (int i = 0; i < 227; ++i) moves += " g1f3 g8f6 f3g1 f6g8";
  e.send(moves);
  answer("go depth 6");
}

TEST_F(Play, NodeLimitCountsEveryThread) {
  e.send("setoption name Threads value 2");
  ASSERT_TRUE(e.readUntil("info string", scaledMs(10000)));
  // The default clocks alone would search for about 15 s.
  auto lines = answer("go nodes 300000", 8000);
  ASSERT_GE(lines.size(), 2u);
  rx::groups m;
  const std::string& last = lines[lines.size() - 2];
  ASSERT_TRUE(rx::search(last, m, rx::pattern(R"( nodes (\d+) )"))) << last;
  // Past the count by at most one poll interval of each thread. No lower
  // bound: when the boss's own result is chosen, its last line may be that of
  // an iteration that ended just before the other thread reached the limit.
  EXPECT_LE(std::stoull(m[1]), 300000u + 2 * 4096);
  // A reached limit still holds the answer of a ponder search.
  e.send("go ponder nodes 1000");
  expectNoBestmoveFor(300);
  answer("ponderhit", 2000);
}

TEST_F(Play, LimitedStrengthCapsTheSearchEvenWhilePonderingOrAnalysing) {
  // The nodes of the last line before "bestmove" (the search's whole count).
  auto nodesOf = [](const std::vector<std::string>& lines) -> unsigned long long {
    rx::groups m;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
      if (rx::search(*it, m, rx::pattern(R"( nodes (\d+) )"))) return std::stoull(m[1]);
    return 0;
  };
  e.send("setoption name Threads value 2");  // the limited search keeps to one
  e.send("setoption name UCI_LimitStrength value true");
  e.send("position startpos moves e2e4 e7e5 g1f3");
  unsigned long long capped[2] = {};
  const int ratings[2] = {2000, 1350};
  for (int i = 0; i < 2; ++i) {
    e.send("setoption name UCI_Elo value " + std::to_string(ratings[i]));
    e.send("ucinewgame");
    // The clock alone would allow about ten seconds.
    const auto start = std::chrono::steady_clock::now();
    capped[i] = nodesOf(answer("go wtime 600000 btime 600000"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(scaledMs(3000))) << ratings[i];
    // The search ends at its rating's cap, passed by no more than the last
    // few nodes between two looks at the count.
    const unsigned long long cap = nodeCapForElo(ratings[i], ratings[i] >= STRENGTH_NETWORK_ELO_MIN);
    EXPECT_GE(capped[i], cap) << ratings[i];
    EXPECT_LE(capped[i], cap + 64) << ratings[i];
  }
  // Below the network's weakest rating the search is the hand-written one,
  // line for line but the clock's fields.
  auto lastLine = [](const std::vector<std::string>& lines) {
    return rx::replace(lines.at(lines.size() - 2), rx::pattern(R"( (time|nps) \d+)"), "");
  };
  e.send("ucinewgame");
  const std::string withNet = lastLine(answer("go wtime 600000 btime 600000"));
  e.send("setoption name UseNNUE value false");
  e.send("ucinewgame");
  EXPECT_EQ(lastLine(answer("go wtime 600000 btime 600000")), withNet);
  e.send("setoption name UseNNUE value true");
  // Analysing and pondering stop at the same cap and hold the answer until
  // "stop" or "ponderhit"; a rating set meanwhile waits for the next "go".
  e.send("ucinewgame");
  e.send("go infinite");
  e.send("setoption name UCI_Elo value 2850");
  expectNoBestmoveFor(1500);
  EXPECT_EQ(nodesOf(answer("stop", 2000)), capped[1]);
  e.send("setoption name UCI_Elo value 1350");
  e.send("ucinewgame");
  e.send("go ponder wtime 600000 btime 600000");
  expectNoBestmoveFor(1500);
  EXPECT_EQ(nodesOf(answer("ponderhit", 1000)), capped[1]);
}

TEST_F(Play, MateLimitEndsAtTheFirstProof) {
  handWritten();
  // Mate in 8: proven at depth 12, before the depth covers its 15 plies.
  e.send("position fen 8/8/8/4k3/8/8/8/KQR5 w - - 0 1");
  auto lines = answer("go mate 8");
  // The proof is the last line: no iteration follows it.
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate 8 depth 12 ")) << lines[lines.size() - 2];
  // A longer mate than asked for leaves the search to its other limits; the
  // lines that carry it show it as a mate, never as centipawns.
  lines = answer("go mate 7");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(startsWith(lines[0], "info score mate 8 depth 10 nodes ")) << lines[0];
  EXPECT_TRUE(startsWith(lines[1], "info score mate 8 depth 11 ")) << lines[1];
}

TEST(PlayShutdown, QuitOrEndOfInputDuringAnEndlessSearchReportsAndExits) {
  for (bool byQuit : {true, false}) {
    engineProcess e;
    ASSERT_TRUE(e.skipBanner());
    e.send(byQuit ? "go infinite" : "go ponder");
    if (byQuit) e.send("quit");
    else e.closeInput();
    EXPECT_TRUE(e.readUntil("bestmove", scaledMs(5000)));
    EXPECT_EQ(e.waitExit(scaledMs(5000)), 0);
  }
}

TEST(Bench, NodeCountIsTheSameOnEveryRun) {
  std::string counts[2];
  for (auto& count : counts) {
    engineProcess e({"bench", "5"});
    auto lines = e.drain(scaledMs(60000));
    EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
    rx::groups m;
    ASSERT_FALSE(lines.empty());
    ASSERT_TRUE(rx::match(lines.back(), m, rx::pattern(R"((\d+) nodes \d+ nps)"))) << lines.back();
    count = m[1];
  }
  EXPECT_EQ(counts[0], counts[1]);
  EXPECT_NE(counts[0], "0");
}

// The search's signature: any change to what the search does moves it. A
// change that means to move it updates these numbers and the README with
// them. "dravlin bench" searches as the engine starts, with the network; at
// the prompt, "bench" follows "UseNNUE", and the hand-written count stays.
TEST(Bench, NodeCountAtTheDefaultDepth) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "too slow under the sanitizers; the Release build checks it";
#endif
  const rx::pattern countLine(R"((\d+) nodes \d+ nps)");
  engineProcess byArgument({"bench"});
  auto lines = byArgument.drain(60000);
  EXPECT_EQ(byArgument.waitExit(10000), 0);
  rx::groups m;
  ASSERT_FALSE(lines.empty());
  ASSERT_TRUE(rx::match(lines.back(), m, countLine)) << lines.back();
  EXPECT_EQ(m[1], "6403212");

  engineProcess atPrompt;
  atPrompt.send("setoption name UseNNUE value false");
  atPrompt.send("bench");
  atPrompt.send("quit");
  lines = atPrompt.drain(60000);
  EXPECT_EQ(atPrompt.waitExit(10000), 0);
  ASSERT_FALSE(lines.empty());
  ASSERT_TRUE(rx::match(lines.back(), m, countLine)) << lines.back();
  EXPECT_EQ(m[1], "6007231");
}
