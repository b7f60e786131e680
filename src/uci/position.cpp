#include <cstring>
#include <string>

#include "board/attacks.h"
#include "board/board.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "movegen/movetext.h"
#include "uci/commands.h"
#include "uci/limits.h"
#include "uci/output.h"

namespace {

// Set-up starts keyCount at most at 513 and a search adds up to 128 keys.
// Before a move would take the history past this mark it slides down to its
// newest 512 keys: repetition detection looks back only halfMoves plies, and
// the half-move clock is far below 512 in any game that matters.
constexpr int KEY_SLIDE_MARK = KEY_HISTORY_SIZE - 130;
constexpr int KEYS_KEPT = 512;

void slideKeyHistory(board& b) {
  std::memmove(b.keyHistory, b.keyHistory + (b.keyCount - KEYS_KEPT), KEYS_KEPT * sizeof(u64));
  b.keyCount = KEYS_KEPT;
}

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
  if (!setFromFen(fen, currentBoard)) return;

  board& b = currentBoard;
  int played = 0;
  while (words >> word) {
    chessMove m;
    if (!legalMoveOf(word, b, m)) {
      outLine("info string illegal move " + word + " at index " + std::to_string(played + 1) +
              " ignored, and the moves after it");
      break;
    }
    if (b.keyCount >= KEY_SLIDE_MARK) slideKeyHistory(b);
    makeMove(b, 0, m);
    b.plies[0].castleRights = b.plies[1].castleRights;
    b.plies[0].epSquare = b.plies[1].epSquare;
    ++played;
  }

  b.hashKey = computeHashKey(b);
  b.plies[0].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
  if (startpos)
    gamePlyCount = played;
  else
    gamePlyCount = b.keyCount > 1 ? b.keyCount + played : 1024;
}
