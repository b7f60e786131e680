#include <string>

#include "board/attacks.h"
#include "board/board.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "movegen/movetext.h"
#include "movegen/setup.h"
#include "uci/commands.h"
#include "uci/go.h"
#include "uci/options.h"
#include "uci/output.h"

namespace {

// Is the text a legal move of the position? The legal list goes into the
// command thread's move buffer at ply 0, which nothing else uses meanwhile.
bool legalMoveOf(const std::string& text, board& b, chessMove& out) {
  if (!parseMoveText(text, b, out)) return false;
  chessMove* const first = b.plies[0].listStart;
  generateLegal(0, first, b);
  for (const chessMove* m = first; m != b.plies[0].listEnd; ++m)
    if (sameMove(*m, out)) return true;
  return false;
}

}  // namespace

// position startpos [moves ...] | position fen <fields> [moves ...]
// A move text that is not a legal move of the position reached so far ends
// the move list: it and the moves after it are not played, and an info line
// says so, since the GUI's position now differs from ours. Move texts are
// counted from 1.
void positionCommand(std::istringstream& words) {
  std::string word;
  words >> word;
  std::string fen;
  const bool startpos = word == "startpos";
  if (startpos) {
    fen = START_FEN;
    words >> word;  // normally "moves"; skipped whatever it is
  } else if (word == "fen") {
    while (words >> word && word != "moves") fen += word + " ";
  } else {
    return;
  }
  if (!setFromFen(fen, currentBoard, game.chess960)) return;

  board& b = currentBoard;
  int played = 0;
  while (words >> word) {
    chessMove m;
    if (!legalMoveOf(word, b, m)) {
      outLine("info string illegal move " + word + " at index " + std::to_string(played + 1) +
              " ignored, and the moves after it");
      break;
    }
    trimKeyHistory(b, 1);  // room for the key the move adds
    makeMove(b, 0, m);
    b.plies[0].castleRights = b.plies[1].castleRights;
    b.plies[0].epSquare = b.plies[1].epSquare;
    ++played;
  }

  b.hashKey = computeHashKey(b);
  b.plies[0].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
  if (startpos)
    game.plyCount = played;
  else
    game.plyCount = b.keyCount > 1 ? b.keyCount + played : UNKNOWN_GAME_PLY;
}
