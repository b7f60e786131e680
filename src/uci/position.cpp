#include <string>

#include "board/board.h"
#include "uci/commands.h"

// Moves after the position arrive with the move generator.
void positionCommand(std::istringstream& words) {
  std::string word;
  words >> word;
  std::string fen;
  if (word == "startpos") {
    fen = START_FEN;
    words >> word;
  } else if (word == "fen") {
    while (words >> word && word != "moves") fen += word + " ";
  } else {
    return;
  }
  setFromFen(fen, currentBoard);
}
