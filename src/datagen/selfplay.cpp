#include "datagen/selfplay.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "board/decimal.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "movegen/setup.h"
#include "search/search.h"
#include "tablebase/tbprobe.h"

namespace {

// A book whose lines keep failing is given up after this many draws.
constexpr int MAX_OPENING_DRAWS = 1000;

// What the engine needs of a position it plays from: one king each, no pawn
// on a first or last rank, the side not to move not in check.
bool soundPosition(const board& b) {
  if (popCount(b.pieceBB[WHITE_KING]) != 1 || popCount(b.pieceBB[BLACK_KING]) != 1) return false;
  if ((b.pieceBB[WHITE_PAWN] | b.pieceBB[BLACK_PAWN]) & 0xFF000000000000FFull) return false;
  return !kingAttacked(b, b.sideToMove ^ 1);
}

std::vector<std::string> splitWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

}  // namespace

bool unpackRecord(const u8* rec, board& b, dataRecord* decoded, std::string* why) {
  dataRecord local;
  dataRecord& r = decoded ? *decoded : local;
  if (!decodeRecord(rec, r, why)) return false;
  dataRecord otherSide = r;
  otherSide.sideToMove ^= 1;
  if (recordInCheck(otherSide)) {
    if (why) *why = "the side not to move is in check";
    return false;
  }
  if (!setFromFen(recordFen(r), b, recordIsChess960(r))) {
    if (why) *why = "position not set up";
    return false;
  }
  return true;
}

splitMix gameStream(u64 seed, u64 index) {
  splitMix mix(seed);
  const u64 a = mix.next();
  splitMix second(index ^ 0x6A09E667F3BCC909ull);
  return splitMix(a ^ second.next());
}

const char* gameEndName(gameEnd e) {
  static const char* const names[END_KINDS] = {"none",       "mate",           "stalemate",
                                               "repetition", "fifty moves",    "no mating material",
                                               "adjudicated win", "adjudicated draw", "tablebase",
                                               "ply cap"};
  return e < END_KINDS ? names[e] : "?";
}

gameEnd adjudicator::scored(int scoreWhite, int fullMove, int& resultWhite) {
  if (scoreWhite >= rules.winScore) {
    ++whiteRun;
    blackRun = 0;
  } else if (scoreWhite <= -rules.winScore) {
    ++blackRun;
    whiteRun = 0;
  } else {
    whiteRun = blackRun = 0;
  }
  if (rules.winPlies > 0 && (whiteRun >= rules.winPlies || blackRun >= rules.winPlies)) {
    resultWhite = whiteRun >= rules.winPlies ? RESULT_WHITE_WINS : RESULT_BLACK_WINS;
    return END_ADJUDICATED_WIN;
  }
  if (fullMove > rules.drawFromMove && std::abs(scoreWhite) <= rules.drawScore)
    ++drawRun;
  else
    drawRun = 0;
  if (rules.drawPlies > 0 && drawRun >= rules.drawPlies) {
    resultWhite = RESULT_DRAW;
    return END_ADJUDICATED_DRAW;
  }
  return END_NONE;
}

// ---- the game board -------------------------------------------------------------

gameBoard::gameBoard() : b(std::make_unique<board>()), buffer(std::make_unique<chessMove[]>(MOVE_BUFFER_SIZE)) {
  *b = board{};
  b->plies[0].listStart = buffer.get();
}

bool gameBoard::set(const std::string& fen, bool chess960Asked) {
  auto standard = std::make_unique<board>();
  auto chess960 = std::make_unique<board>();
  if (!setFromFen(fen, *standard, false) || !setFromFen(fen, *chess960, true)) return false;
  const bool use960 =
      chess960Asked || popCount(chess960->plies[0].castleRights) > popCount(standard->plies[0].castleRights);
  *b = use960 ? *chess960 : *standard;
  b->plies[0].listStart = buffer.get();
  const std::vector<std::string> fields = splitWords(fen);
  i64 full = 1;
  if (fields.size() < 6 || !readDecimalIn(fields[5], 1, 65535, full)) full = 1;
  fullMove = int(full);
  plies = 0;
  return true;
}

std::vector<chessMove> gameBoard::legalMoves() {
  generateLegal(0, buffer.get(), *b);
  return std::vector<chessMove>(b->plies[0].listStart, b->plies[0].listEnd);
}

void gameBoard::play(chessMove m) {
  board& x = *b;
  const int mover = x.sideToMove;
  trimKeyHistory(x, 1);  // room for the key the move adds
  makeMove(x, 0, m);
  x.plies[0].castleRights = x.plies[1].castleRights;
  x.plies[0].epSquare = x.plies[1].epSquare;
  x.plies[0].inCheck = kingAttacked(x, x.sideToMove) ? 1 : 0;
  ++plies;
  if (mover == BLACK) ++fullMove;
}

gameEnd endByRules(gameBoard& g, int& resultWhite) {
  board& b = *g.b;
  generateLegal(0, g.buffer.get(), b);
  if (b.plies[0].listEnd == b.plies[0].listStart) {
    if (b.plies[0].inCheck) {
      resultWhite = b.sideToMove == WHITE ? RESULT_BLACK_WINS : RESULT_WHITE_WINS;
      return END_MATE;
    }
    resultWhite = RESULT_DRAW;
    return END_STALEMATE;
  }
  resultWhite = RESULT_DRAW;
  if (b.halfMoves >= FIFTY_MOVE_PLIES) return END_FIFTY_MOVES;
  // The third time the position stands with the same side to move, since
  // the last capture or pawn move.
  int seen = 1;
  const int lowest = std::max(0, b.keyCount - 1 - b.halfMoves);
  for (int i = b.keyCount - 3; i >= lowest; i -= 2)
    if (b.keyHistory[i] == b.hashKey) ++seen;
  if (seen >= 3) return END_REPETITION;
  if (insufficientMaterial(b)) return END_MATERIAL;
  return END_NONE;
}

int tablebaseResult(gameBoard& g) {
  const board& b = *g.b;
  if (tbInfo.largest == 0 || b.plies[0].castleRights != 0 || popCount(occupancy(b)) > tbInfo.largest) return -1;
  tbPosition pos;
  if (!tbPositionFromBoard(b, 0, u8(std::min<int>(b.halfMoves, 255)), pos)) return -1;
  int success = 0;
  const int wdl = probeWdl(pos, success);
  if (!success) return -1;
  const int mover = wdl >= 2 ? 2 : wdl <= -2 ? 0 : 1;  // 0 loss, 1 draw, 2 win
  return b.sideToMove == WHITE ? mover : 2 - mover;
}

// ---- openings ---------------------------------------------------------------------

bool openingBook::load(const std::string& path, std::string& error) {
  fens.clear();
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  gameBoard g;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::vector<std::string> words = splitWords(line);
    if (words.empty() || words[0][0] == '#') continue;
    // EPD: placement, side, castling, en passant, then operations; a FEN
    // carries its two counters there.
    std::string fen;
    for (std::size_t i = 0; i < 4 && i < words.size(); ++i) fen += words[i] + ' ';
    i64 n;
    if (words.size() >= 6 && readDecimalIn(words[4], 0, 1000, n) && readDecimalIn(words[5], 1, 65535, n))
      fen += words[4] + ' ' + words[5];
    else
      fen += "0 1";
    if (words.size() < 2 || !g.set(fen) || !soundPosition(*g.b)) {
      error = path + ": line " + std::to_string(number) + ": not a playable position";
      return false;
    }
    fens.push_back(fen);
  }
  if (fens.empty()) {
    error = path + ": no positions";
    return false;
  }
  return true;
}

bool makeOpening(const genSettings& s, const openingBook& book, splitMix& rng, gameSearcher& searcher, gameBoard& g,
                 u32& redraws) {
  for (int attempt = 0; attempt < MAX_OPENING_DRAWS; ++attempt) {
    const std::string& fen = book.fens.empty() ? std::string(START_FEN) : book.fens[rng.below(book.fens.size())];
    bool over = !g.set(fen);
    for (int p = 0; p < s.randomPlies && !over; ++p) {
      const std::vector<chessMove> moves = g.legalMoves();
      if (moves.empty())
        over = true;
      else
        g.play(moves[rng.below(moves.size())]);
    }
    int result;
    if (!over && endByRules(g, result) == END_NONE && tablebaseResult(g) < 0) {
      const gameSearcher::result r = searcher.search(*g.b, s.openingNodes, 20 * s.openingNodes, s.net);
      if (std::abs(r.score) <= s.openingBound) return true;
    }
    ++redraws;
  }
  return false;
}

bool playGame(const genSettings& s, const openingBook& book, u64 index, gameSearcher& searcher, playedGame& out,
              std::string& error) {
  out = playedGame{};
  const u64 searchedBefore = searcher.searchCpuNs();
  splitMix rng = gameStream(s.seed, index);
  searcher.newGame();
  gameBoard g;
  if (!makeOpening(s, book, rng, searcher, g, out.redraws)) {
    error = "no playable opening for game " + std::to_string(index) + " in " + std::to_string(MAX_OPENING_DRAWS) +
            " tries";
    return false;
  }
  adjudicator adj{s.rules};
  std::vector<u8>& recs = out.records;
  for (;;) {
    int result = RESULT_DRAW;
    gameEnd end = endByRules(g, result);
    if (end == END_NONE) {
      const int tb = tablebaseResult(g);
      if (tb >= 0) {
        end = END_TABLEBASE;
        result = tb;
      }
    }
    if (end == END_NONE && g.plies >= s.rules.maxPlies) end = END_PLY_CAP;
    if (end == END_NONE) {
      const gameSearcher::result r = searcher.search(*g.b, s.softNodes, s.hardNodes, s.net);
      out.nodes += r.nodes;
      const int scoreWhite = g.b->sideToMove == WHITE ? r.score : -r.score;
      const std::size_t at = recs.size();
      recs.resize(at + RECORD_BYTES);
      packRecord(*g.b, g.fullMove, scoreWhite, toRecordMove(r.move, *g.b), RESULT_DRAW, false, &recs[at]);
      ++out.positions;
      end = adj.scored(scoreWhite, g.fullMove, result);
      if (end == END_NONE) g.play(r.move);
    }
    if (end != END_NONE) {
      out.end = end;
      out.resultWhite = result;
      break;
    }
  }
  if (recs.empty()) {
    error = "game " + std::to_string(index) + " ended before its first position (a ply cap within the random plies?)";
    return false;
  }
  for (std::size_t at = 0; at < recs.size(); at += RECORD_BYTES) recs[at + 31] = u8(out.resultWhite);
  recs[recs.size() - 1] |= LAST_OF_GAME;
  out.searchCpuNs = searcher.searchCpuNs() - searchedBefore;
  return true;
}
