#pragma once
// The "go" command's time allotment, exposed for tests and the bench, and the
// game state it reads besides the limits.

#include <memory>

#include "board/types.h"
#include "engine/strength.h"
#include "uci/network.h"
#include "uci/tuning.h"

// The game as the command thread sees it, and the options that shape the
// time budget and the reading of positions.
struct gameState {
  // Half-moves of the game so far, as "position" counted them
  // (UNKNOWN_GAME_PLY when a FEN position gives no usable count).
  i32 plyCount = 0;
  // Set by "ucinewgame"; the first "go" of a game then fixes incFactor.
  bool newGame = true;
  float incFactor = float(handTimeValues.incFactorBase / 1000.0);
  // "Ponder": the GUI may ponder, so the budget may be a little larger.
  bool ponder = false;
  // "MoveOverhead": milliseconds the hard budget leaves on the clock.
  i32 moveOverhead = 100;
  // "UCI_Chess960": "position" reads and castling is written as in Chess960.
  bool chess960 = false;
  // "UCI_LimitStrength" and "UCI_Elo": the next "go" plays at that rating.
  bool limitStrength = false;
  i32 elo = STRENGTH_ELO_DEFAULT;
  // "MultiPV" and "UCI_ShowWDL": what the next "go" shows.
  int multiPv = 1;
  bool showWdl = false;
  // "UseNNUE" and "EvalFile": the next "go" evaluates with this net, or not.
  netChoice nets;
#ifdef DRAVLIN_TUNE
  // "TuneNodes" (the tune build's): a "go" with clocks searches this many
  // nodes instead (0: off).
  u64 tuneNodes = 0;
#endif
};
extern gameState game;

// A position whose game length is unknown (a FEN without a usable count).
constexpr i32 UNKNOWN_GAME_PLY = 1024;

// Turns the limits of the search control, the side to move of currentBoard,
// the game state and the thread count into the soft and hard budgets and the
// elapsed-time scale (and incFactor at a game's first "go"), by the values of
// the network's evaluation or of the hand-written one.
void allotTime(bool network = false);

// Between searches: the net the network options as they are now (a net
// loaded meanwhile included) give the search about to start; null for the
// hand-written evaluation. A net that cannot be loaded is reported here.
std::shared_ptr<const nnue::network> takeNetForSearch();
