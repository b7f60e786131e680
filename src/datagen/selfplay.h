#pragma once
// One self-play game for the training data: random opening moves, then the
// search's best move for both sides until the rules or an adjudication end
// the game. Everything depends only on the seed, the game's index and the
// settings: node limits, never the clock; the table cleared before each game.

#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/random.h"
#include "engine/fixedsearch.h"
#include "format/record.h"

namespace nnue {
struct network;
}

// Sets `b` (with its evaluation sums) to the record's position; `b`'s
// plies[0].listStart is left as it was. False for an invalid record, or
// one whose side not to move stands in check.
bool unpackRecord(const u8* rec, board& b, dataRecord* decoded = nullptr, std::string* why = nullptr);

// The stream of game `index` of a run with `seed`.
splitMix gameStream(u64 seed, u64 index);

// When a game ends before the rules end it. Scores are White's.
struct adjudicationRules {
  int winScore = 2500;    // one side's score at or beyond this...
  int winPlies = 4;       // ...for this many plies in a row: a win
  int drawScore = 10;     // |score| at most this...
  int drawPlies = 12;     // ...for this many plies in a row...
  int drawFromMove = 40;  // ...all of them after this move: a draw
  int maxPlies = 400;     // plies from the game's start (random ones included): a draw
};

enum gameEnd : u8 {
  END_NONE = 0,
  END_MATE,
  END_STALEMATE,
  END_REPETITION,
  END_FIFTY_MOVES,
  END_MATERIAL,
  END_ADJUDICATED_WIN,
  END_ADJUDICATED_DRAW,
  END_TABLEBASE,
  END_PLY_CAP,
  END_KINDS
};
// "mate", "stalemate", ... for the summary.
const char* gameEndName(gameEnd e);

// The win and draw runs of scores, one search score per ply.
struct adjudicator {
  adjudicationRules rules;
  int whiteRun = 0, blackRun = 0, drawRun = 0;
  // After the position with full-move number `fullMove` was scored: the end
  // it calls for (END_NONE, END_ADJUDICATED_WIN or _DRAW) and its result.
  gameEnd scored(int scoreWhite, int fullMove, int& resultWhite);
};

// A game's board and its move buffer; moves are played at ply 0.
struct gameBoard {
  gameBoard();
  // Reads Chess960 castling when asked to, or when the standard reading
  // would drop rights.
  bool set(const std::string& fen, bool chess960 = false);
  // The legal moves, in the generator's order.
  std::vector<chessMove> legalMoves();
  void play(chessMove m);
  // Full-move number and plies played since set().
  int fullMove = 1;
  int plies = 0;
  std::unique_ptr<board> b;
  std::unique_ptr<chessMove[]> buffer;
};

// Does the position end the game by the rules (mate, stalemate, threefold
// repetition, fifty moves, no mating material)? `resultWhite` receives the
// result when it does.
gameEnd endByRules(gameBoard& g, int& resultWhite);
// The tablebases' result (White's view) of a position they hold (no
// castling rights, few enough men), or -1. A cursed win or blessed loss is a draw.
int tablebaseResult(gameBoard& g);

// The games' searches: to a number of nodes, on the worker's own thread.
using gameSearcher = fixedSearcher;

struct genSettings {
  // The net the searches evaluate with; null: the hand-written evaluation.
  const nnue::network* net = nullptr;
  u64 seed = 1;
  int randomPlies = 8;
  u64 softNodes = 5000;
  u64 hardNodes = 100000;  // 20 x softNodes unless given
  // Openings: dropped when a search of this many nodes scores beyond the bound.
  u64 openingNodes = 1000;
  int openingBound = 1000;
  adjudicationRules rules;
};

// Book positions, one FEN (or EPD) a line; checked when read. Empty: the
// start position.
struct openingBook {
  std::vector<std::string> fens;
  // Reads the file; false with one error line naming the file and line.
  bool load(const std::string& path, std::string& error);
};

// Makes game `index`'s opening into `g`: a book line (or the start
// position) and the random plies, drawn again while the game is already
// over, decided by the tablebases, or scored beyond the bound. False after
// too many draws (a book whose lines all fail). `redraws` counts the
// openings dropped.
bool makeOpening(const genSettings& s, const openingBook& book, splitMix& rng, gameSearcher& searcher, gameBoard& g,
                 u32& redraws);

// One finished game: its records (closed by the last-of-game bit) and how it went.
struct playedGame {
  std::vector<u8> records;
  u32 positions = 0;
  gameEnd end = END_NONE;
  int resultWhite = RESULT_DRAW;
  u32 redraws = 0;
  u64 nodes = 0;
  u64 searchCpuNs = 0;  // CPU time of the game's searches
};
// Plays game `index`; false (and `error`) when no opening could be made.
bool playGame(const genSettings& s, const openingBook& book, u64 index, gameSearcher& searcher, playedGame& out,
              std::string& error);
