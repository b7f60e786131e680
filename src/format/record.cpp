#include "format/record.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "board/attacks.h"

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
  put32(out + 8, 1);
  put32(out + 12, RECORD_BYTES);
}

std::vector<u8> dataHeader(const dataSettings& settings) {
  std::string text;
  for (const auto& [key, value] : settings) {
    std::string v = value;
    std::replace(v.begin(), v.end(), '\n', ' ');
    text += key + "=" + v + "\n";
  }
  if (text.size() > MAX_SETTINGS_BYTES) text.resize(MAX_SETTINGS_BYTES);
  std::vector<u8> h(20 + text.size());
  std::memcpy(h.data(), DATA_MAGIC, sizeof DATA_MAGIC);
  put32(h.data() + 8, DATA_VERSION);
  put32(h.data() + 12, RECORD_BYTES);
  put32(h.data() + 16, u32(text.size()));
  std::memcpy(h.data() + 20, text.data(), text.size());
  return h;
}

dataHeaderInfo readDataHeader(const u8* h, std::size_t n) {
  dataHeaderInfo info;
  auto cut = [&](std::size_t want) {
    info.cutShort = true;
    info.error = "header cut short (" + std::to_string(n) + " of " + std::to_string(want) + " bytes)";
    return info;
  };
  if (n < sizeof DATA_MAGIC && n > 0 && std::memcmp(h, DATA_MAGIC, n) == 0) return cut(DATA_HEADER_BYTES);
  if (n < sizeof DATA_MAGIC || std::memcmp(h, DATA_MAGIC, sizeof DATA_MAGIC) != 0) {
    info.error = "not a training data file (no DRVDATA1 header)";
    return info;
  }
  if (n < std::size_t(DATA_HEADER_BYTES)) return cut(DATA_HEADER_BYTES);
  info.version = get32(h + 8);
  const u32 size = get32(h + 12);
  if (info.version > DATA_VERSION) {
    info.error = "data version " + std::to_string(info.version) + " is newer than this program reads (" +
                 std::to_string(DATA_VERSION) + ")";
    return info;
  }
  if (info.version == 0) {
    info.error = "unknown data version 0";
    return info;
  }
  if (size != u32(RECORD_BYTES)) {
    info.error = "record size " + std::to_string(size) + ", expected 32";
    return info;
  }
  if (info.version == 1) {
    info.bytes = DATA_HEADER_BYTES;
    return info;
  }
  if (n < 20) return cut(20);
  const u32 length = get32(h + 16);
  if (length > MAX_SETTINGS_BYTES) {
    info.error = "settings of " + std::to_string(length) + " bytes, more than " + std::to_string(MAX_SETTINGS_BYTES);
    return info;
  }
  info.bytes = 20 + u64(length);
  if (n < info.bytes) return cut(std::size_t(info.bytes));
  const std::string text(reinterpret_cast<const char*>(h + 20), length);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0 || line.find('\0') != std::string::npos) {
      info.error = "settings: a line without key=value";
      info.settings.clear();
      return info;
    }
    info.settings.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    at = end + 1;
  }
  return info;
}

std::string settingsLine(const dataSettings& settings) {
  std::string line;
  for (const auto& [key, value] : settings) line += (line.empty() ? "" : " ") + key + "=" + value;
  return line;
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
  buffer_.assign(READ_CHUNK, 0);
  bufferPos_ = bufferEnd_ = 0;
  pos_ = 0;
  eof_ = false;
  complete_ = tail_ = 0;
  gamesRead_ = skippedGames_ = skippedBytes_ = 0;
  notes_.clear();
  parts_.clear();
  pending_.clear();
  pendingPos_ = 0;
  if (!file_) {
    error_ = name + ": cannot open";
    eof_ = true;
    return false;
  }
  ensure(20 + MAX_SETTINGS_BYTES);
  if (!error_.empty()) return false;
  const dataHeaderInfo h = readDataHeader(buffer_.data() + bufferPos_, available());
  if (!h.error.empty()) return fail(0, h.error);
  return takeHeader() == 1;
}

bool dataReader::ensure(std::size_t n) {
  while (available() < n) {
    if (eof_ || !file_) return false;
    if (bufferPos_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + bufferPos_, available());
      bufferEnd_ -= bufferPos_;
      bufferPos_ = 0;
    }
    const std::size_t got = std::fread(buffer_.data() + bufferEnd_, 1, buffer_.size() - bufferEnd_, file_);
    bufferEnd_ += got;
    if (got == 0) {
      if (std::ferror(file_)) fail(pos_, std::string("read error (") + std::strerror(errno) + ")");
      eof_ = true;
      return false;
    }
  }
  return true;
}

int dataReader::takeHeader() {
  if (available() < sizeof DATA_MAGIC || std::memcmp(buffer_.data() + bufferPos_, DATA_MAGIC, sizeof DATA_MAGIC) != 0)
    return 0;
  ensure(20 + MAX_SETTINGS_BYTES);
  const dataHeaderInfo h = readDataHeader(buffer_.data() + bufferPos_, available());
  // A header cut short by the end of a joined file is part of its unfinished tail.
  if (h.cutShort && pos_ > 0) return 0;
  if (!h.error.empty()) {
    fail(pos_, pos_ == 0 ? h.error : "another file's header: " + h.error);
    return -1;
  }
  part p;
  p.offset = pos_;
  p.version = h.version;
  p.settings = h.settings;
  parts_.push_back(std::move(p));
  consume(std::size_t(h.bytes));
  complete_ = pos_;
  return 1;
}

dataReader::after dataReader::damaged(u64 gameStart, std::size_t gameRecords, const std::string& why) {
  const u64 at = pos_;
  // Look for anything sound after it, a byte at a time (a lost or an
  // inserted byte shifts every record after it): another file's header, or
  // a record that decodes. Nothing: the unfinished end of a run. A crash
  // can leave zeros or torn bytes there; zeros never decode (no kings).
  dataRecord r;
  bool header = false, record = false;
  consume(1);
  while (ensure(sizeof DATA_MAGIC)) {
    const u8* p = buffer_.data() + bufferPos_;
    if (std::memcmp(p, DATA_MAGIC, sizeof DATA_MAGIC) == 0) {
      ensure(20 + MAX_SETTINGS_BYTES);
      if (readDataHeader(buffer_.data() + bufferPos_, available()).error.empty()) {
        header = true;
        break;
      }
    }
    if (ensure(RECORD_BYTES) && decodeRecord(buffer_.data() + bufferPos_, r)) {
      record = true;
      break;
    }
    consume(1);
  }
  if (!error_.empty()) return after::error;
  if (!header && !record) {
    ensure(RECORD_BYTES);
    tail_ = pos_ + available() - gameStart;
    consume(available());
    return after::tail;
  }
  if (header) {
    notes_.push_back(path_ + ": byte " + std::to_string(gameStart) + ": " + std::to_string(pos_ - gameStart) +
                     " bytes of an unfinished game before another file's header at byte " + std::to_string(pos_) +
                     ", left out");
    return after::resync;
  }
  const std::string where = "game " + std::to_string(gamesRead_ + skippedGames_ + 1) + " (from byte " +
                            std::to_string(gameStart) + ", its record " + std::to_string(gameRecords + 1) + "): " +
                            why + "; sound records follow from byte " + std::to_string(pos_);
  if (!skipDamaged_) {
    fail(at, where);
    return after::error;
  }
  // On to the end of the damaged game: its next closing record, or a header.
  for (;;) {
    if (!ensure(RECORD_BYTES)) break;
    if (std::memcmp(buffer_.data() + bufferPos_, DATA_MAGIC, sizeof DATA_MAGIC) == 0) break;
    const bool closes = decodeRecord(buffer_.data() + bufferPos_, r) && r.lastOfGame;
    consume(RECORD_BYTES);
    if (closes) break;
  }
  ++skippedGames_;
  skippedBytes_ += pos_ - gameStart;
  notes_.push_back(path_ + ": byte " + std::to_string(at) + ": " + where + "; skipped to byte " + std::to_string(pos_));
  complete_ = pos_;
  return after::resync;
}

bool dataReader::nextGame(std::vector<dataRecord>& game) {
  game.clear();
  if (!error_.empty() || !file_) return false;
  u64 gameStart = pos_;
  for (;;) {
    if (!ensure(RECORD_BYTES)) {
      if (!error_.empty()) return false;
      // The end: what is left belongs to a game that was never finished.
      tail_ = pos_ + available() - gameStart;
      consume(available());
      game.clear();
      return false;
    }
    const u8* p = buffer_.data() + bufferPos_;
    if (std::memcmp(p, DATA_MAGIC, sizeof DATA_MAGIC) == 0) {
      const u64 at = pos_;
      const int taken = takeHeader();
      if (taken < 0) return false;
      if (taken > 0) {
        if (!game.empty())
          notes_.push_back(path_ + ": byte " + std::to_string(gameStart) + ": " + std::to_string(at - gameStart) +
                           " bytes of an unfinished game before another file's header at byte " + std::to_string(at) +
                           ", left out");
        game.clear();
        gameStart = pos_;
        continue;
      }
    }
    dataRecord r;
    std::string why;
    bool sound = decodeRecord(p, r, &why);
    if (sound && game.size() >= MAX_GAME_RECORDS) {
      sound = false;
      why = "a game of more than " + std::to_string(MAX_GAME_RECORDS) + " positions";
    }
    if (!sound) {
      const std::size_t records = game.size();
      game.clear();
      const after next = damaged(gameStart, records, why);
      if (next != after::resync) return false;
      gameStart = pos_;
      continue;
    }
    consume(RECORD_BYTES);
    game.push_back(r);
    if (r.lastOfGame) {
      complete_ = pos_;
      ++gamesRead_;
      if (!parts_.empty()) {
        parts_.back().games++;
        parts_.back().positions += game.size();
      }
      return true;
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
  s.parts = reader.parts();
  return s;
}
