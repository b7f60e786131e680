#include "datagen/record.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "board/attacks.h"
#include "movegen/setup.h"

namespace {

u16 get16(const u8* p) { return u16(p[0] | (p[1] << 8)); }
u32 get32(const u8* p) { return u32(get16(p)) | (u32(get16(p + 2)) << 16); }
u64 get64(const u8* p) { return u64(get32(p)) | (u64(get32(p + 4)) << 32); }
void put16(u8* p, u16 v) {
  p[0] = u8(v);
  p[1] = u8(v >> 8);
}
void put32(u8* p, u32 v) {
  put16(p, u16(v));
  put16(p + 2, u16(v >> 16));
}
void put64(u8* p, u64 v) {
  put32(p, u32(v));
  put32(p + 4, u32(v >> 32));
}

constexpr u8 CODE_CASTLE_ROOK = 12;  // + colour
constexpr u8 CODE_EP_PAWN = 14;

// A game longer than this is no game datagen writes (its ply cap is far
// lower): the reader stops there rather than buffer garbage without end.
constexpr std::size_t MAX_GAME_RECORDS = 4096;
constexpr std::size_t READ_CHUNK = std::size_t(RECORD_BYTES) * 4096;

constexpr int rankOf(int sq) { return sq >> 3; }
constexpr int fileOf(int sq) { return sq & 7; }
// The square a pawn of `colour` that advanced two squares to `sq` passed over.
constexpr int passedOver(int sq, int colour) { return colour == WHITE ? sq - 8 : sq + 8; }

bool attackedBy(const dataRecord& r, int sq, int by) {
  const u64 occ = r.pieceBB[0] | r.pieceBB[1];
  return (pawnAttackers[by][sq] & r.pieceBB[WHITE_PAWN + by]) || (knightAttacks[sq] & r.pieceBB[WHITE_KNIGHT + by]) ||
         (kingAttacks[sq] & r.pieceBB[WHITE_KING + by]) ||
         (bishopAttacks(sq, occ) & (r.pieceBB[WHITE_BISHOP + by] | r.pieceBB[WHITE_QUEEN + by])) ||
         (rookAttacks(sq, occ) & (r.pieceBB[WHITE_ROOK + by] | r.pieceBB[WHITE_QUEEN + by]));
}

bool reject(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

// The move must be one the pieces allow in kind: the mover is ours, a
// promotion is a pawn's step to the last rank, en passant takes the pawn
// that just advanced, castling is the king onto its own castling rook.
bool moveFitsPieces(const dataRecord& r, std::string* why) {
  const u16 m = r.move;
  const int from = recordMoveFrom(m), to = recordMoveTo(m), kind = recordMoveKind(m);
  const int us = r.sideToMove;
  const int mover = r.pieceOn[from], target = r.pieceOn[to];
  if (kind != RECORD_PROMOTION && recordMovePromo(m) != 0) return reject(why, "move: promotion piece without a promotion");
  if (from == to) return reject(why, "move: from and to are one square");
  if (mover == 0 || colourOf(mover) != us) return reject(why, "move: no man of the side to move on its from-square");
  const int lastRank = us == WHITE ? 7 : 0;
  if (kind == RECORD_CASTLING) {
    if (mover != WHITE_KING + us || !(r.castleRooks & r.pieceBB[us] & bit(to)))
      return reject(why, "move: castling without the king and a castling rook");
    return true;
  }
  if (target != 0 && (colourOf(target) == us || typeOf(target) == KING))
    return reject(why, "move: lands on its own man or a king");
  const int fileStep = std::abs(fileOf(to) - fileOf(from));
  if (kind == RECORD_EN_PASSANT) {
    if (typeOf(mover) != PAWN || r.epPawn < 0 || to != passedOver(r.epPawn, us ^ 1) || target != 0 ||
        rankOf(from) != rankOf(r.epPawn) || std::abs(from - r.epPawn) != 1)
      return reject(why, "move: en passant without its pawns");
    return true;
  }
  if (kind == RECORD_PROMOTION) {
    if (typeOf(mover) != PAWN || rankOf(to) != lastRank || fileStep > 1)
      return reject(why, "move: promotion that is no pawn's step to the last rank");
    return true;
  }
  if (typeOf(mover) == PAWN && rankOf(to) == lastRank) return reject(why, "move: pawn to the last rank without a promotion");
  return true;
}

}  // namespace

void writeDataHeader(u8 out[DATA_HEADER_BYTES]) {
  std::memcpy(out, DATA_MAGIC, sizeof DATA_MAGIC);
  put32(out + 8, DATA_VERSION);
  put32(out + 12, RECORD_BYTES);
}

std::string checkDataHeader(const u8* h, std::size_t n) {
  if (n < sizeof DATA_MAGIC || std::memcmp(h, DATA_MAGIC, sizeof DATA_MAGIC) != 0)
    return "not a training data file (no DRVDATA1 header)";
  if (n < std::size_t(DATA_HEADER_BYTES)) return "header cut short (" + std::to_string(n) + " of 16 bytes)";
  const u32 version = get32(h + 8), size = get32(h + 12);
  if (version > DATA_VERSION)
    return "data version " + std::to_string(version) + " is newer than this program reads (" +
           std::to_string(DATA_VERSION) + ")";
  if (version != DATA_VERSION) return "unknown data version " + std::to_string(version);
  if (size != u32(RECORD_BYTES)) return "record size " + std::to_string(size) + ", expected 32";
  return {};
}

u16 toRecordMove(chessMove m, const board& b) {
  const int from = moveFrom(m) & 63, kind = moveKindOf(m), us = b.sideToMove;
  int to = moveTo(m) & 63;
  u16 recordKind = RECORD_NORMAL, promo = 0;
  if (isPromotion(kind)) {
    recordKind = RECORD_PROMOTION;
    promo = u16(kind / 2 - KNIGHT);
  } else if (kind == EN_PASSANT) {
    recordKind = RECORD_EN_PASSANT;
    to = passedOver(to, us ^ 1);
  } else if (kind == CASTLE_SHORT || kind == CASTLE_LONG) {
    recordKind = RECORD_CASTLING;
    to = b.castling.rookFrom[castleIndex(us, kind == CASTLE_SHORT)];
  }
  return u16(from | (to << 6) | (promo << 12) | (recordKind << 14));
}

chessMove fromRecordMove(u16 rm, const board& b) {
  const int from = recordMoveFrom(rm), kind = recordMoveKind(rm), us = b.sideToMove;
  int to = recordMoveTo(rm);
  const int piece = b.pieceOn[from];
  if (piece == 0 || colourOf(piece) != us) return 0;
  int engineKind = MOVE_NORMAL;
  switch (kind) {
    case RECORD_PROMOTION:
      engineKind = 2 * (KNIGHT + recordMovePromo(rm));
      break;
    case RECORD_EN_PASSANT:
      engineKind = EN_PASSANT;
      to = passedOver(to, us);  // the engine names the pawn taken
      break;
    case RECORD_CASTLING: {
      const bool isShort = to > from;
      engineKind = isShort ? CASTLE_SHORT : CASTLE_LONG;
      to = (us == WHITE ? 0 : 56) + (isShort ? 6 : 2);
      break;
    }
    default:
      if (typeOf(piece) == PAWN && std::abs(to - from) == 16) engineKind = DOUBLE_PUSH;
  }
  return makeChessMove(from, to, engineKind, piece);
}

void packRecord(const board& b, int fullMove, int scoreWhite, u16 move, int resultWhite, bool lastOfGame,
                u8 out[RECORD_BYTES]) {
  std::memset(out, 0, RECORD_BYTES);
  const u64 occ = occupancy(b);
  put64(out, occ);
  u64 castleRooks = 0;
  const u8 rights = b.plies[0].castleRights;
  for (int i = 0; i < 4; ++i)
    if (rights & (1 << i)) castleRooks |= bit(b.castling.rookFrom[i]);
  const int epPawn = b.plies[0].epSquare ? b.plies[0].epSquare : -1;
  int n = 0;
  for (u64 rest = occ; rest && n < 32; ++n) {
    const int sq = popLsb(rest);
    const int code = b.pieceOn[sq];
    u8 nibble = u8(typeOf(code) - 1 + 6 * colourOf(code));
    if (castleRooks & bit(sq)) nibble = u8(CODE_CASTLE_ROOK + colourOf(code));
    if (sq == epPawn) nibble = CODE_EP_PAWN;
    out[8 + n / 2] |= u8(nibble << (4 * (n & 1)));
  }
  out[24] = u8(std::min<int>(std::max<int>(b.halfMoves, 0), 127) | (b.sideToMove == BLACK ? 0x80 : 0));
  put16(out + 25, u16(std::clamp(fullMove, 0, 65535)));
  put16(out + 27, u16(i16(std::clamp(scoreWhite, -32767, 32767))));
  put16(out + 29, move);
  out[31] = u8((resultWhite & 3) | (lastOfGame ? LAST_OF_GAME : 0));
}

namespace {

// Everything of a record but its move.
bool decodePosition(const u8* rec, dataRecord& r, std::string* why) {
  const u64 occ = get64(rec);
  const int men = popCount(occ);
  if (men > 32) return reject(why, "more than 32 men");
  std::memset(r.pieceOn, 0, sizeof r.pieceOn);
  std::memset(r.pieceBB, 0, sizeof r.pieceBB);
  r.castleRooks = 0;
  r.epPawn = -1;
  r.sideToMove = rec[24] >> 7;
  int n = 0;
  for (u64 rest = occ; rest; ++n) {
    const int sq = popLsb(rest);
    const int nibble = (rec[8 + n / 2] >> (4 * (n & 1))) & 15;
    int code;
    if (nibble < 12) {
      code = pieceCode(nibble % 6 + 1, nibble / 6);
    } else if (nibble < CODE_EP_PAWN) {
      code = pieceCode(ROOK, nibble - CODE_CASTLE_ROOK);
      r.castleRooks |= bit(sq);
    } else if (nibble == CODE_EP_PAWN) {
      if (r.epPawn >= 0) return reject(why, "two en-passant pawns");
      if (rankOf(sq) != 3 && rankOf(sq) != 4) return reject(why, "en-passant pawn off ranks 4 and 5");
      code = pieceCode(PAWN, rankOf(sq) == 3 ? WHITE : BLACK);
      r.epPawn = sq;
    } else {
      return reject(why, "piece code 15");
    }
    r.pieceOn[sq] = u8(code);
    r.pieceBB[code] |= bit(sq);
    r.pieceBB[colourOf(code)] |= bit(sq);
  }
  for (int k = men; k < 32; ++k)
    if ((rec[8 + k / 2] >> (4 * (k & 1))) & 15) return reject(why, "codes beyond the men on the board");

  for (int c = WHITE; c <= BLACK; ++c) {
    if (popCount(r.pieceBB[WHITE_KING + c]) != 1) return reject(why, "not one king of each colour");
    if (popCount(r.pieceBB[c]) > 16) return reject(why, "more than 16 men of one colour");
    const u64 pawns = r.pieceBB[WHITE_PAWN + c];
    if (pawns & 0xFF000000000000FFull) return reject(why, "a pawn on the first or last rank");
    // Castling rooks: on their king's first rank, at most one on each side.
    const int king = lsb(r.pieceBB[WHITE_KING + c]);
    const int homeRank = c == WHITE ? 0 : 7;
    const u64 rooks = r.castleRooks & r.pieceBB[c];
    if (rooks && rankOf(king) != homeRank) return reject(why, "castling rook without its king on the first rank");
    int below = 0, above = 0;
    for (u64 rest = rooks; rest;) {
      const int sq = popLsb(rest);
      if (rankOf(sq) != homeRank) return reject(why, "castling rook off its first rank");
      (sq < king ? below : above)++;
    }
    if (below > 1 || above > 1) return reject(why, "two castling rooks on one side of the king");
  }
  if (r.epPawn >= 0) {
    const int colour = colourOf(r.pieceOn[r.epPawn]);
    if (colour == r.sideToMove) return reject(why, "en-passant pawn of the side to move");
    if (r.pieceOn[passedOver(r.epPawn, colour)] != 0) return reject(why, "en-passant pawn passed over an occupied square");
  }

  r.halfMoves = rec[24] & 0x7F;
  r.fullMove = get16(rec + 25);
  r.score = i16(get16(rec + 27));
  r.move = get16(rec + 29);
  const u8 last = rec[31];
  if (last & 0x7C) return reject(why, "reserved bits set in the result byte");
  r.result = last & 3;
  if (r.result > RESULT_WHITE_WINS) return reject(why, "result code 3");
  r.lastOfGame = (last & LAST_OF_GAME) != 0;
  return true;
}

}  // namespace

bool decodeRecord(const u8* rec, dataRecord& r, std::string* why) {
  return decodePosition(rec, r, why) && moveFitsPieces(r, why);
}

bool recordIsChess960(const dataRecord& r) {
  for (u64 rest = r.castleRooks; rest;) {
    const int sq = popLsb(rest);
    const int c = colourOf(r.pieceOn[sq]);
    const int home = c == WHITE ? 0 : 56;
    if (lsb(r.pieceBB[WHITE_KING + c]) != home + 4 || (fileOf(sq) != 0 && fileOf(sq) != 7)) return true;
  }
  return false;
}

std::string recordFen(const dataRecord& r) {
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const int code = r.pieceOn[rank * 8 + file];
      if (code == 0) {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += PIECE_LETTERS[code];
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  fen += r.sideToMove == WHITE ? " w " : " b ";
  std::string castling;
  const bool chess960 = recordIsChess960(r);
  for (int c = WHITE; c <= BLACK; ++c) {
    const int king = lsb(r.pieceBB[WHITE_KING + c]);
    // Short side first, as KQkq.
    for (int side = 0; side < 2; ++side)
      for (u64 rest = r.castleRooks & r.pieceBB[c]; rest;) {
        const int sq = popLsb(rest);
        if ((sq > king) != (side == 0)) continue;
        char letter = chess960 ? char('a' + fileOf(sq)) : (side == 0 ? 'k' : 'q');
        if (c == WHITE) letter = char(letter - 'a' + 'A');
        castling += letter;
      }
  }
  fen += castling.empty() ? "-" : castling;
  fen += ' ';
  if (r.epPawn >= 0) {
    const int target = passedOver(r.epPawn, colourOf(r.pieceOn[r.epPawn]));
    fen += char('a' + fileOf(target));
    fen += char('1' + rankOf(target));
  } else {
    fen += '-';
  }
  fen += ' ' + std::to_string(r.halfMoves) + ' ' + std::to_string(r.fullMove);
  return fen;
}

std::string boardFen(const board& b, int fullMove) {
  u8 rec[RECORD_BYTES];
  packRecord(b, fullMove, 0, 0, RESULT_DRAW, true, rec);
  dataRecord r;
  if (!decodePosition(rec, r, nullptr)) return {};
  return recordFen(r);
}

bool unpackRecord(const u8* rec, board& b, dataRecord* decoded, std::string* why) {
  dataRecord local;
  dataRecord& r = decoded ? *decoded : local;
  if (!decodeRecord(rec, r, why)) return false;
  if (attackedBy(r, lsb(r.pieceBB[WHITE_KING + (r.sideToMove ^ 1)]), r.sideToMove))
    return reject(why, "the side not to move is in check");
  if (!setFromFen(recordFen(r), b, recordIsChess960(r))) return reject(why, "position not set up");
  return true;
}

int scoreForMover(const dataRecord& r) { return r.sideToMove == WHITE ? r.score : -r.score; }

int resultForMover(const dataRecord& r) { return r.sideToMove == WHITE ? r.result : 2 - r.result; }

bool recordInCheck(const dataRecord& r) {
  return attackedBy(r, lsb(r.pieceBB[WHITE_KING + r.sideToMove]), r.sideToMove ^ 1);
}

bool recordMoveIsCapture(const dataRecord& r) {
  const int kind = recordMoveKind(r.move);
  if (kind == RECORD_EN_PASSANT) return true;
  return kind != RECORD_CASTLING && r.pieceOn[recordMoveTo(r.move)] != 0;
}

bool recordMoveIsPromotion(const dataRecord& r) { return recordMoveKind(r.move) == RECORD_PROMOTION; }

unsigned recordFilters(const dataRecord& r) {
  unsigned f = 0;
  if (recordInCheck(r)) f |= FILTER_IN_CHECK;
  if (recordMoveIsCapture(r) || recordMoveIsPromotion(r)) f |= FILTER_NOISY_MOVE;
  if (isDecidedScore(r.score)) f |= FILTER_DECIDED_SCORE;
  return f;
}

// ---- reader -------------------------------------------------------------------

dataReader::~dataReader() {
  if (file_) std::fclose(file_);
}

bool dataReader::fail(u64 offset, const std::string& why) {
  error_ = path_ + ": byte " + std::to_string(offset) + ": " + why;
  eof_ = true;
  bufferPos_ = bufferEnd_ = 0;
  return false;
}

bool dataReader::open(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (!stream) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    path_ = path;
    error_ = path + ": cannot open (" + std::strerror(errno) + ")";
    eof_ = true;
    return false;
  }
  return open(stream, path);
}

bool dataReader::open(std::FILE* stream, const std::string& name) {
  path_ = name;
  error_.clear();
  if (file_) std::fclose(file_);
  file_ = stream;
  if (!file_) {
    error_ = name + ": cannot open";
    eof_ = true;
    return false;
  }
  u8 header[DATA_HEADER_BYTES];
  const std::size_t n = std::fread(header, 1, sizeof header, file_);
  if (std::ferror(file_)) return fail(0, std::string("read error (") + std::strerror(errno) + ")");
  const std::string why = checkDataHeader(header, n);
  if (!why.empty()) return fail(0, why);
  buffer_.assign(READ_CHUNK, 0);
  bufferPos_ = bufferEnd_ = 0;
  eof_ = false;
  complete_ = DATA_HEADER_BYTES;
  tail_ = 0;
  pending_.clear();
  pendingPos_ = 0;
  return true;
}

bool dataReader::fill() {
  if (eof_ || !file_) return false;
  const std::size_t left = bufferEnd_ - bufferPos_;
  std::memmove(buffer_.data(), buffer_.data() + bufferPos_, left);
  bufferPos_ = 0;
  bufferEnd_ = left;
  const std::size_t got = std::fread(buffer_.data() + left, 1, buffer_.size() - left, file_);
  bufferEnd_ += got;
  if (got == 0) {
    if (std::ferror(file_)) return fail(complete_, std::string("read error (") + std::strerror(errno) + ")");
    eof_ = true;
    return false;
  }
  return true;
}

bool dataReader::nextGame(std::vector<dataRecord>& game) {
  game.clear();
  if (!error_.empty() || !file_) return false;
  u64 offset = complete_;
  for (;;) {
    if (bufferEnd_ - bufferPos_ < std::size_t(RECORD_BYTES)) {
      if (fill()) continue;
      if (!error_.empty()) return false;
      // The end: what is left belongs to a game that was never finished.
      tail_ = (offset - complete_) + (bufferEnd_ - bufferPos_);
      game.clear();
      return false;
    }
    dataRecord r;
    std::string why;
    if (!decodeRecord(buffer_.data() + bufferPos_, r, &why)) {
      game.clear();
      return fail(offset, why);
    }
    bufferPos_ += RECORD_BYTES;
    offset += RECORD_BYTES;
    game.push_back(r);
    if (r.lastOfGame) {
      complete_ = offset;
      return true;
    }
    if (game.size() >= MAX_GAME_RECORDS) {
      game.clear();
      return fail(offset - RECORD_BYTES, "a game of more than " + std::to_string(MAX_GAME_RECORDS) + " positions");
    }
  }
}

bool dataReader::next(dataRecord& r) {
  while (pendingPos_ >= pending_.size()) {
    pendingPos_ = 0;
    if (!nextGame(pending_)) return false;
  }
  r = pending_[pendingPos_++];
  return true;
}

dataFileSummary scanDataFile(const std::string& path) {
  dataFileSummary s;
  dataReader reader;
  if (!reader.open(path)) {
    s.error = reader.error();
    return s;
  }
  std::vector<dataRecord> game;
  while (reader.nextGame(game)) {
    ++s.games;
    s.positions += game.size();
  }
  s.error = reader.error();
  s.completeBytes = reader.completeBytes();
  s.tailBytes = reader.tailBytes();
  return s;
}
