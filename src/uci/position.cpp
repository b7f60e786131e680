#include <cstring>
#include <string>

#include "board/attacks.h"
#include "board/board.h"
#include "movegen/makemove.h"
#include "movegen/movetext.h"
#include "uci/commands.h"
#include "uci/limits.h"

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

}  // namespace

// position startpos [moves ...] | position fen <fields> [moves ...]
// Move texts are trusted, but one that cannot name a move on the board (too
// short, off the board, an unknown promotion letter, no piece of the side to
// move on its from-square, or a capture of an own piece or a king) ends the
// move list: it and the moves after it are not played.
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
    if (!parseMoveText(word, b, m)) break;
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
