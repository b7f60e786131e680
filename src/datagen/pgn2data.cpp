// "pgn2data": games a match runner played, as PGN, into the training data
// format. The score of a position is the one the mover's engine gave with
// its move, read from the move's comment ({+0.31/13 0.250s}, {-M5},
// {#3}); positions whose move carries no score (book moves) are left out.
// The result is the game's Result tag; games without one are skipped.

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "datagen/datagen.h"
#include "board/flags.h"
#include "format/record.h"
#include "datagen/selfplay.h"
#include "movegen/movetext.h"

namespace {

const char* const PGN2DATA_HELP =
    "usage: dravlin pgn2data IN.pgn OUT\n"
    "Turns PGN games (moves in SAN or UCI notation) into a training data file. Each\n"
    "move's score comes from its comment, as match runners write it ({+0.31/13 0.250s},\n"
    "{-M5}, {#3}: the mover's view); moves without one are left out. The result is the\n"
    "Result tag; games without a result, or with a move that cannot be played, are skipped.\n";

// One lexical item of PGN movetext.
struct pgnToken {
  enum kind { TAG, COMMENT, WORD, END } type = END;
  std::string text, value;  // a tag's name and value
  int line = 0;
};

class pgnLexer {
 public:
  explicit pgnLexer(std::istream& in) : in_(in) {}
  pgnToken next() {
    pgnToken t;
    for (;;) {
      const int c = get();
      if (c == EOF) return t;
      if (std::isspace(c)) continue;
      t.line = line_;
      if (c == '[') {
        t.type = pgnToken::TAG;
        std::string inside;
        for (int d = get(); d != EOF && d != ']' && d != '\n'; d = get()) {
          if (d == '"') {
            for (d = get(); d != EOF && d != '"' && d != '\n'; d = get()) {
              if (d == '\\') d = get();
              if (d != EOF) t.value += char(d);
            }
            continue;
          }
          inside += char(d);
        }
        std::istringstream words(inside);
        words >> t.text;
        return t;
      }
      if (c == '{') {
        t.type = pgnToken::COMMENT;
        for (int d = get(); d != EOF && d != '}'; d = get()) t.text += char(d);
        return t;
      }
      if (c == ';' || (c == '%' && column_ == 1)) {  // to the end of the line
        for (int d = get(); d != EOF && d != '\n'; d = get()) {
        }
        continue;
      }
      if (c == '(') {  // a variation, nested ones included
        int depth = 1;
        for (int d = get(); d != EOF && depth > 0; d = get()) {
          if (d == '(') ++depth;
          if (d == ')') --depth;
          if (d == '{')
            for (d = get(); d != EOF && d != '}'; d = get()) {
            }
        }
        continue;
      }
      t.type = pgnToken::WORD;
      t.text += char(c);
      for (int d = in_.peek(); d != EOF && !std::isspace(d) && !std::strchr("{}[]();", d); d = in_.peek())
        t.text += char(get());
      return t;
    }
  }

 private:
  int get() {
    const int c = in_.get();
    if (c == '\n') {
      ++line_;
      column_ = 0;
    } else {
      ++column_;
    }
    return c;
  }
  std::istream& in_;
  int line_ = 1;
  int column_ = 0;
};

// The square a move lands on (en passant: behind the pawn taken; castling:
// the king's square after it).
int landingSquare(chessMove m, int side) {
  const int kind = moveKindOf(m), to = moveTo(m);
  if (kind == EN_PASSANT) return side == WHITE ? to + 8 : to - 8;
  return to;
}

// A move in SAN ("Nbd7", "exd6", "O-O-O", "e8=Q+") among the legal ones.
chessMove sanMove(std::string san, const board& b, const std::vector<chessMove>& legal) {
  while (!san.empty() && std::strchr("+#!?", san.back())) san.pop_back();
  const int us = b.sideToMove;
  if (san == "O-O" || san == "0-0" || san == "O-O-O" || san == "0-0-0") {
    const int wanted = san.size() == 3 ? CASTLE_SHORT : CASTLE_LONG;
    for (chessMove m : legal)
      if (moveKindOf(m) == wanted) return m;
    return 0;
  }
  int promo = 0;
  const std::size_t eq = san.find('=');
  if (eq != std::string::npos && eq + 1 < san.size()) {
    promo = san[eq + 1];
    san.erase(eq);
  } else if (san.size() >= 3 && std::strchr("QRBN", san.back()) && std::isdigit(u8(san[san.size() - 2]))) {
    promo = san.back();
    san.pop_back();
  }
  int type = PAWN;
  std::size_t at = 0;
  if (!san.empty() && std::strchr("KQRBN", san[0])) {
    type = san[0] == 'K' ? KING : san[0] == 'Q' ? QUEEN : san[0] == 'R' ? ROOK : san[0] == 'B' ? BISHOP : KNIGHT;
    at = 1;
  }
  if (san.size() < at + 2) return 0;
  const char file = san[san.size() - 2], rank = san[san.size() - 1];
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return 0;
  const int dest = 8 * (rank - '1') + (file - 'a');
  int fromFile = -1, fromRank = -1;
  for (std::size_t i = at; i + 2 < san.size(); ++i) {
    const char c = san[i];
    if (c >= 'a' && c <= 'h') fromFile = c - 'a';
    if (c >= '1' && c <= '8') fromRank = c - '1';
  }
  const int promoKind = promo == 'Q' ? PROMOTE_QUEEN : promo == 'R' ? PROMOTE_ROOK : promo == 'B' ? PROMOTE_BISHOP
                        : promo == 'N' ? PROMOTE_KNIGHT : 0;
  chessMove found = 0;
  for (chessMove m : legal) {
    const int from = moveFrom(m), kind = moveKindOf(m);
    if (typeOf(b.pieceOn[from]) != type || kind == CASTLE_SHORT || kind == CASTLE_LONG) continue;
    if (landingSquare(m, us) != dest) continue;
    if ((fromFile >= 0 && (from & 7) != fromFile) || (fromRank >= 0 && (from >> 3) != fromRank)) continue;
    if (isPromotion(kind) ? kind != promoKind : promoKind != 0) continue;
    if (found) return 0;  // ambiguous
    found = m;
  }
  return found;
}

// A move text of either notation, or 0.
chessMove readMove(const std::string& text, gameBoard& g) {
  const std::vector<chessMove> legal = g.legalMoves();
  chessMove m;
  if (parseMoveText(text, *g.b, m))
    for (chessMove l : legal)
      if (sameMove(l, m)) return l;
  return sanMove(text, *g.b, legal);
}

// The score at the start of a comment, for the mover: "+0.31/13 0.25s",
// "-1.20", "+M5", "-M3", "#4", "#-2". False when it holds none.
bool commentScore(const std::string& comment, int& score) {
  std::size_t i = 0;
  while (i < comment.size() && std::isspace(u8(comment[i]))) ++i;
  const std::string s = comment.substr(i);
  if (s.empty()) return false;
  bool negative = false;
  std::size_t k = 0;
  if (s[k] == '+' || s[k] == '-') negative = s[k++] == '-';
  if (k < s.size() && (s[k] == 'M' || s[k] == '#')) {
    ++k;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) negative = s[k++] == '-';
    int moves = 0, digits = 0;
    while (k < s.size() && std::isdigit(u8(s[k])) && digits < 4) moves = 10 * moves + (s[k++] - '0'), ++digits;
    if (digits == 0) return false;
    moves = std::max(moves, 1);
    score = negative ? -(MATE_SCORE - 2 * moves) : MATE_SCORE - (2 * moves - 1);
    return true;
  }
  int digits = 0;
  double value = 0;
  while (k < s.size() && std::isdigit(u8(s[k])) && digits < 6) value = 10 * value + (s[k++] - '0'), ++digits;
  if (k < s.size() && s[k] == '.') {
    double scale = 0.1;
    for (++k; k < s.size() && std::isdigit(u8(s[k])); ++k, scale /= 10) value += (s[k] - '0') * scale, ++digits;
  }
  if (digits == 0) return false;
  if (k < s.size() && !std::strchr("/ ,", s[k])) return false;
  const int cp = int(std::lround(std::min(value * 100, double(DECIDED_SCORE - 1))));
  score = negative ? -cp : cp;
  return true;
}

bool isResult(const std::string& w) { return w == "1-0" || w == "0-1" || w == "1/2-1/2" || w == "*"; }

}  // namespace

int pgn2dataTool(const std::vector<std::string>& args, const textSink& out, const textSink& err) {
  std::vector<std::string> files;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out(PGN2DATA_HELP);
      return 0;
    }
    if (!a.empty() && a[0] == '-' && a.size() > 1) {
      err("pgn2data: unknown flag '" + a + "' (dravlin pgn2data --help)\n");
      return 2;
    }
    files.push_back(a);
  }
  if (files.size() != 2) {
    err("pgn2data: IN.pgn and OUT are needed (dravlin pgn2data --help)\n");
    return 2;
  }
  const std::string& inPath = files[0];
  const std::string& outPath = files[1];
  std::ifstream in(inPath, std::ios::binary);
  if (!in) {
    err("pgn2data: " + inPath + ": cannot open (" + std::strerror(errno) + ")\n");
    return 1;
  }
  struct stat st;
  if (::stat(outPath.c_str(), &st) == 0 && st.st_size > 0) {
    err("pgn2data: " + outPath + ": the file exists\n");
    return 1;
  }
  std::FILE* dataFile = std::fopen(outPath.c_str(), "wb");
  const std::vector<u8> header = dataHeader({{"tool", "pgn2data"}, {"source", inPath}});
  if (!dataFile || std::fwrite(header.data(), 1, header.size(), dataFile) != header.size()) {
    err("pgn2data: " + outPath + ": cannot write (" + std::strerror(errno) + ")\n");
    if (dataFile) std::fclose(dataFile);
    return 1;
  }

  pgnLexer lexer(in);
  gameBoard g;
  u64 games = 0, written = 0, positions = 0, skipped = 0;
  pgnToken t = lexer.next();
  // A large PGN takes minutes: a line every few seconds shows it is alive.
  const auto start = std::chrono::steady_clock::now();
  auto nextNote = start + std::chrono::seconds(5);
  while (t.type != pgnToken::END) {
    if (std::chrono::steady_clock::now() >= nextNote) {
      nextNote += std::chrono::seconds(5);
      err("pgn2data: " + std::to_string(games) + " games read, " + std::to_string(positions) + " positions written\n");
    }
    // Tags, then the movetext up to its result.
    std::string fen = START_FEN, result = "*", variant;
    const int firstLine = t.line;
    while (t.type == pgnToken::TAG) {
      if (t.text == "FEN") fen = t.value;
      if (t.text == "Result") result = t.value;
      if (t.text == "Variant") variant = t.value;
      t = lexer.next();
    }
    ++games;
    std::string problem;
    std::string lower;
    for (char c : variant) lower += char(std::tolower(u8(c)));
    const bool chess960 = lower.find("960") != std::string::npos || lower.find("fischer") != std::string::npos;
    if (!g.set(fen, chess960)) problem = "its FEN tag is no position";
    const int resultWhite = result == "1-0" ? RESULT_WHITE_WINS : result == "0-1" ? RESULT_BLACK_WINS
                            : result == "1/2-1/2" ? RESULT_DRAW : -1;
    if (resultWhite < 0 && problem.empty()) problem = "no result";
    std::vector<u8> records;
    bool pending = false, scored = false;
    auto settle = [&] {
      if (pending && !scored) records.resize(records.size() - RECORD_BYTES);
      pending = scored = false;
    };
    for (; t.type == pgnToken::WORD || t.type == pgnToken::COMMENT; t = lexer.next()) {
      if (t.type == pgnToken::COMMENT) {
        int score;
        if (pending && !scored && commentScore(t.text, score)) {
          // The mover's score, into White's view: the mover is the side
          // that stood to move in the pending record.
          u8* rec = &records[records.size() - RECORD_BYTES];
          const int white = (rec[24] & 0x80) ? -score : score;
          rec[27] = u8(u16(i16(white)));
          rec[28] = u8(u16(i16(white)) >> 8);
          scored = true;
        }
        continue;
      }
      std::string word = t.text;
      if (isResult(word)) {
        t = lexer.next();
        break;
      }
      // Move numbers ("12.", "12...", "12.e4") and annotations ("$1").
      std::size_t skip = 0;
      while (skip < word.size() && (std::isdigit(u8(word[skip])) || word[skip] == '.')) ++skip;
      if (skip > 0 && skip < word.size() && word[skip - 1] == '.') word = word.substr(skip);
      else if (skip == word.size() && word.back() == '.') continue;
      if (word.empty() || word[0] == '$') continue;
      if (!problem.empty()) continue;
      settle();
      const chessMove m = readMove(word, g);
      if (!m) {
        problem = "move '" + word + "' cannot be played";
        continue;
      }
      const std::size_t at = records.size();
      records.resize(at + RECORD_BYTES);
      packRecord(*g.b, g.fullMove, 0, toRecordMove(m, *g.b), resultWhite < 0 ? RESULT_DRAW : resultWhite, false,
                 &records[at]);
      pending = true;
      g.play(m);
    }
    settle();
    // Anything else up to the next tag belongs to no game.
    while (t.type != pgnToken::TAG && t.type != pgnToken::END) t = lexer.next();
    if (!problem.empty()) {
      ++skipped;
      err("pgn2data: " + inPath + ": game " + std::to_string(games) + " (line " + std::to_string(firstLine) +
          ") skipped: " + problem + "\n");
      continue;
    }
    if (records.empty()) continue;
    records.back() |= LAST_OF_GAME;
    if (std::fwrite(records.data(), 1, records.size(), dataFile) != records.size()) {
      err("pgn2data: " + outPath + ": write failed (" + std::strerror(errno) + ")\n");
      std::fclose(dataFile);
      return 1;
    }
    ++written;
    positions += records.size() / RECORD_BYTES;
  }
  if (std::fclose(dataFile) != 0) {
    err("pgn2data: " + outPath + ": write failed (" + std::strerror(errno) + ")\n");
    return 1;
  }
  out("pgn2data: " + std::to_string(games) + " games read, " + std::to_string(written) + " written with " +
      std::to_string(positions) + " positions to " + outPath + ", " + std::to_string(skipped) + " skipped\n");
  return 0;
}
