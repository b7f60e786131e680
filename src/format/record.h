#pragma once
// Training data files: positions from the engine's own games, each labelled
// with the search's score, the move played and the game's result.
//
// All little-endian. A file is a header followed by 32-byte records, one per
// position played after a game's random opening moves, in game order.
//
// Header, version 1: bytes 0-7 "DRVDATA1", 8-11 u32 version (1), 12-15 u32
// record size (32). Version 2 adds 16-19 u32 L and L bytes of text, the
// settings of the run that wrote the records after it: "key=value" lines
// (seed, node limits, the net's checksum, the commit...). Readers take a
// header found at a record boundary as the start of another file's records,
// so files joined with cat read as one, each part with its own settings.
//
// Record:
//   0-7    u64 occupancy (bit s = square s occupied; a1 = 0, b1 = 1, ..., h8 = 63)
//   8-23   32 four-bit codes, one per occupied square in increasing square
//          order, low nibble first; unused nibbles 0. Codes: 0..5 white pawn,
//          knight, bishop, rook, queen, king; 6..11 black pawn .. king; 12 a
//          white rook that holds a castling right, 13 a black one (Chess960
//          too: the right belongs to that rook); 14 the pawn that has just
//          advanced two squares (the engine's board then holds an en-passant
//          square; rank 4 a white pawn, rank 5 a black one).
//   24     bits 0-6 half-move clock (capped at 127), bit 7 side to move (1 = Black)
//   25-26  u16 full-move number
//   27-28  i16 search score in centipawns, FROM WHITE'S POINT OF VIEW; mates
//          keep the engine's encoding (|score| >= MATE_BAND), tablebase
//          results lie just below it
//   29-30  u16 move played: bits 0-5 from, 6-11 to, 12-13 promotion piece
//          (0 knight .. 3 queen), 14-15 kind (0 normal, 1 promotion, 2 en
//          passant, to = the landing square, 3 castling, to = the king's own rook)
//   31     bits 0-1 game result FROM WHITE'S POINT OF VIEW (0 Black won, 1
//          draw, 2 White won); bit 7 set on the last record of its game;
//          other bits zero
//
// Every position is kept with its move; the filters (in check, a capture or
// promotion played, a decided score) are the reader's. A game is written
// with one write of all its records, so a run cut short leaves at most one
// unfinished game at the end: a partial record, records not closed by the
// last-of-game bit, or (after a machine crash) a zero-filled or torn tail.
// Readers and --resume leave that tail out; a record that does not decode
// with sound records after it is damage, and an error.
//
// Scores and results are White's in the file; scoreForMover and
// resultForMover are the one place that turns them to the side to move.

#include <cstdio>
#include <string>
#include <vector>

#include "board/board.h"

constexpr char DATA_MAGIC[8] = {'D', 'R', 'V', 'D', 'A', 'T', 'A', '1'};
constexpr u32 DATA_VERSION = 2;      // the newest this program reads and writes
constexpr int DATA_HEADER_BYTES = 16;  // version 1's header; version 2's fixed part is 20
constexpr int RECORD_BYTES = 32;
constexpr u32 MAX_SETTINGS_BYTES = 16384;

// Results, from White's point of view.
enum : u8 { RESULT_BLACK_WINS = 0, RESULT_DRAW = 1, RESULT_WHITE_WINS = 2 };
constexpr u8 LAST_OF_GAME = 0x80;

// Record move kinds (bits 14-15).
enum : u16 { RECORD_NORMAL = 0, RECORD_PROMOTION = 1, RECORD_EN_PASSANT = 2, RECORD_CASTLING = 3 };
constexpr u16 recordMoveFrom(u16 m) { return m & 63; }
constexpr u16 recordMoveTo(u16 m) { return (m >> 6) & 63; }
constexpr u16 recordMovePromo(u16 m) { return (m >> 12) & 3; }  // 0 knight .. 3 queen
constexpr u16 recordMoveKind(u16 m) { return m >> 14; }

// A score at or beyond this is a mate or a tablebase result (which lies
// within 2000 below the mate band), not an evaluation.
constexpr int DECIDED_SCORE = MATE_BAND - 2000;

// One record, decoded and checked.
struct dataRecord {
  u8 pieceOn[64];      // engine piece codes, 0 = empty
  u64 pieceBB[14];     // [0] White's men, [1] Black's, [code] that piece
  u64 castleRooks;     // rooks that hold a castling right
  int epPawn;          // the pawn that may be taken en passant, or -1
  int sideToMove;      // WHITE or BLACK
  int halfMoves;       // 0..127
  int fullMove;
  int score;           // White's point of view
  u16 move;
  int result;          // White's point of view: RESULT_*
  bool lastOfGame;
};

// ---- header -----------------------------------------------------------------
// A run's settings, in the order written: ("seed", "1"), ("nodes", "5000")...
using dataSettings = std::vector<std::pair<std::string, std::string>>;
// A version-1 header (files written before settings were recorded).
void writeDataHeader(u8 out[DATA_HEADER_BYTES]);
// A version-2 header carrying `settings` (newlines in values become blanks).
std::vector<u8> dataHeader(const dataSettings& settings);

struct dataHeaderInfo {
  u32 version = 0;
  u64 bytes = 0;          // the whole header
  dataSettings settings;  // empty for version 1
  std::string error;      // empty when the header is one this program reads
  bool cutShort = false;  // the bytes end inside an otherwise good header
};
// Reads the header at the start of `n` bytes of `h`.
dataHeaderInfo readDataHeader(const u8* h, std::size_t n);
// "seed=1 nodes=5000 ..." on one line.
std::string settingsLine(const dataSettings& settings);

// ---- records -----------------------------------------------------------------
// The record move of engine move `m` of board `b` (before it is played).
u16 toRecordMove(chessMove m, const board& b);
// The engine move (moving piece's code in the top byte) of a record move on
// `b`, or 0 when it names no move of the pieces there. Not checked for legality.
chessMove fromRecordMove(u16 rm, const board& b);

// Packs the position at ply 0 of `b` (castling rights and en passant of
// plies[0]). `scoreWhite` is clamped to 16 bits.
void packRecord(const board& b, int fullMove, int scoreWhite, u16 move, int resultWhite, bool lastOfGame,
                u8 out[RECORD_BYTES]);
// Decodes and checks one record: codes, kings, pawn ranks, castling rooks,
// the en-passant pawn, the move's piece, the result and the reserved bits.
// False (and `why` says what is wrong) for a record this program never writes.
bool decodeRecord(const u8* rec, dataRecord& r, std::string* why = nullptr);
// The record's position as FEN; castling in KQkq form when the king and the
// rooks stand on their standard squares, else as the rooks' files (Shredder-FEN).
std::string recordFen(const dataRecord& r);
// The FEN of the position at ply 0 of `b`, written as recordFen writes it.
std::string boardFen(const board& b, int fullMove);
// Does the FEN need a Chess960 reading (castling rooks off the standard squares)?
bool recordIsChess960(const dataRecord& r);
// ---- the point of view --------------------------------------------------------
int scoreForMover(const dataRecord& r);
// 0 loss, 1 draw, 2 win for the side to move.
int resultForMover(const dataRecord& r);

// ---- filters (need the attack tables: initAttackTables) -----------------------
bool recordInCheck(const dataRecord& r);
// The move played takes a man (en passant included; castling is no capture).
bool recordMoveIsCapture(const dataRecord& r);
bool recordMoveIsPromotion(const dataRecord& r);
inline bool isDecidedScore(int score) { return score >= DECIDED_SCORE || score <= -DECIDED_SCORE; }
enum : unsigned { FILTER_IN_CHECK = 1, FILTER_NOISY_MOVE = 2, FILTER_DECIDED_SCORE = 4 };
// The filters that would drop the record (0: none).
unsigned recordFilters(const dataRecord& r);

// ---- reading ------------------------------------------------------------------
// Reads a data file game by game, a concatenation of files as one stream.
// A game is handed out only when all its records are sound and the last one
// closes it. What follows the last complete game and does not decode, with
// nothing sound after it, is the unfinished tail: left out, not an error
// (likewise before another file's header). A record that does not decode
// with sound records after it is damage: the reading ends with one error
// line naming the file, the byte, the game and the fault, unless damage is
// to be skipped, and then the reader goes on after the damaged game's end.
class dataReader {
 public:
  dataReader() = default;
  ~dataReader();
  dataReader(const dataReader&) = delete;
  dataReader& operator=(const dataReader&) = delete;

  // Opens the file and checks its header; false with error() set.
  bool open(const std::string& path);
  // The same over a stream opened elsewhere (the reader closes it); `name`
  // stands for the file in error lines.
  bool open(std::FILE* stream, const std::string& name);
  // Skip damaged games instead of stopping at the first.
  void skipDamaged(bool skip) { skipDamaged_ = skip; }
  // The next complete game; false at the end of the data or on an error.
  bool nextGame(std::vector<dataRecord>& game);
  // The next record, game by game underneath.
  bool next(dataRecord& r);
  // Empty after a clean end; else "FILE: byte N: game G (...): reason".
  const std::string& error() const { return error_; }
  // Bytes up to the end of the last complete game or header read.
  u64 completeBytes() const { return complete_; }
  // At the end: bytes after the last complete game (an unfinished game).
  u64 tailBytes() const { return tail_; }
  // Unfinished games left out before a joined file's header, and damage
  // skipped: one line each.
  const std::vector<std::string>& notes() const { return notes_; }
  u64 skippedGames() const { return skippedGames_; }
  u64 skippedBytes() const { return skippedBytes_; }

  // One part of the stream: a header and the records after it.
  struct part {
    u64 offset = 0;  // of its header
    u32 version = 0;
    dataSettings settings;
    u64 games = 0, positions = 0;
  };
  const std::vector<part>& parts() const { return parts_; }

 private:
  bool fail(u64 offset, const std::string& why);
  // At least `n` bytes in the buffer from bufferPos_, unless the file ends first.
  bool ensure(std::size_t n);
  std::size_t available() const { return bufferEnd_ - bufferPos_; }
  void consume(std::size_t n) {
    bufferPos_ += n;
    pos_ += n;
  }
  // A good header at the read position: read and taken as a new part.
  // 0: no header there; 1: taken; -1: a header this program cannot read (error set).
  int takeHeader();
  enum class after { tail, resync, error };
  // A record at pos_ (in the game that began at gameStart) did not decode.
  after damaged(u64 gameStart, std::size_t gameRecords, const std::string& why);

  std::FILE* file_ = nullptr;
  std::string path_;
  std::string error_;
  std::vector<u8> buffer_;
  std::size_t bufferPos_ = 0;
  std::size_t bufferEnd_ = 0;
  u64 pos_ = 0;  // file offset of buffer_[bufferPos_]
  bool eof_ = false;
  bool skipDamaged_ = false;
  u64 complete_ = 0;  // offset just past the last complete game or header
  u64 tail_ = 0;
  u64 gamesRead_ = 0;
  u64 skippedGames_ = 0, skippedBytes_ = 0;
  std::vector<std::string> notes_;
  std::vector<part> parts_;
  std::vector<dataRecord> pending_;
  std::size_t pendingPos_ = 0;
};

// Games, positions and the end of the last complete game of a file.
struct dataFileSummary {
  u64 games = 0;
  u64 positions = 0;
  u64 completeBytes = 0;
  u64 tailBytes = 0;
  std::vector<dataReader::part> parts;
  std::string error;  // empty when the file reads cleanly
};
dataFileSummary scanDataFile(const std::string& path);
