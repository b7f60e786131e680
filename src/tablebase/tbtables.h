#pragma once
// Tablebase files: the registry of known tables, the POSIX file layer, the
// index tables and the per-table decoders. Files are untrusted: every section
// a decoder will read is checked against the mapping when a table is loaded,
// and the data-dependent reads are bounds-checked while decoding.

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "tablebase/tbposition.h"

constexpr int TBPIECES = 6;  // most pieces in one table, kings included
constexpr int TBMAX_PIECE = 254;
constexpr int TBMAX_PAWN = 256;
constexpr int HSHMAX = 5;
constexpr int TB_HASH_BUCKETS = 1024;
constexpr int DTZ_ENTRIES = 64;

constexpr u32 WDL_MAGIC = 0x5d23e871;
constexpr u32 DTZ_MAGIC = 0xa50c66d7;

// ---- unaligned reads from the mapping ----------------------------------------
inline u16 readLe16(const u8* p) {
  u16 v;
  std::memcpy(&v, p, 2);
  return v;  // x86-64 is little-endian
}
inline u32 readLe32(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}
inline u32 readBe32(const u8* p) { return __builtin_bswap32(readLe32(p)); }

// ---- decoders ---------------------------------------------------------------
struct valueDecoder {
  const u8* indexTable = nullptr;  // 6 bytes per entry
  const u8* sizeTable = nullptr;   // u16 per block
  const u8* data = nullptr;        // the compressed blocks
  const u8* offsets = nullptr;     // u16 per code length, from minLen
  const u8* symPat = nullptr;      // 3 bytes per symbol
  std::unique_ptr<u8[]> symLen;    // per symbol, computed at set-up
  u64 indexEntries = 0;
  u64 blocks = 0;      // real + extra
  u64 realBlocks = 0;  // blocks present in the data section
  u32 symCount = 0;
  u8 blockExp = 0;
  u8 indexBits = 0;  // 0: constant sub-table
  u8 minLen = 0;     // for a constant sub-table the constant value
  u8 maxLen = 0;
  u64 base[33] = {};  // by code length - minLen
};

// Factors, piece codes and group sizes of one side to move of one file.
struct tbSideData {
  u64 factor[TBPIECES] = {};
  u8 pieces[TBPIECES] = {};
  u8 groups[TBPIECES] = {};
  u64 tableSize = 0;
};

struct tbFileData {
  std::unique_ptr<valueDecoder> decoder[2];  // WDL: per side (side 1 only when split); DTZ: [0]
  tbSideData side[2];
  u8 flags = 0;        // DTZ decoder flags
  u16 mapIndex[4] = {};  // DTZ value maps, offsets from the map area
};

// One table record; WDL records live in the registry, DTZ records in the cache.
struct tbTable {
  const u8* view = nullptr;
  size_t mapSize = 0;  // the mapping "handle": what munmap needs
  u64 key = 0;
  std::atomic<u8> ready{0};
  u8 pieceCount = 0;
  u8 symmetric = 0;
  u8 hasPawns = 0;
  u8 encType = 0;          // pawnless: 0 or 2
  u8 leadCount[2] = {};    // pawns: leading colour's count, then the other's
  u8 codeCount[16] = {};   // pieces of each table code as named (White = 1..6)
  const u8* maps = nullptr;  // DTZ value map area
  tbFileData file[4];        // pawnless tables use file[0]
};

// ---- index tables -------------------------------------------------------------
namespace tbidx {
struct tables {
  u32 binomial[5][64];
  u32 pawnLeadOffset[5][24];
  u32 pawnLeadCount[5][4];
  i8 diagonalSide[64];
  u8 diagonalMirror[64];
  u8 diagonalIndex[64];
  u8 lowerIndex[64];
  u8 triangleIndex[64];
  i16 kingPairIndex[10][64];
  u8 leadPosition[64];
  u8 pawnOrder[64];
};
const tables& get();
}  // namespace tbidx

inline constexpr u8 fileFold[8] = {0, 1, 2, 3, 3, 2, 1, 0};
inline constexpr u32 leadFactor[3] = {31332, 0, 462};

// ---- registry -------------------------------------------------------------------
struct tbHashSlot {
  std::atomic<u64> key{0};
  tbTable* table = nullptr;
};

// The tables found, and the material-key hash that finds them.
struct tbRegistry {
  tbHashSlot materialHash[TB_HASH_BUCKETS][HSHMAX];
  tbTable pieceTables[TBMAX_PIECE];
  tbTable pawnTables[TBMAX_PAWN];
  int pieceCount = 0, pawnCount = 0;
};
extern tbRegistry tablebaseRegistry;

u64 materialKey(const tbPosition& pos, bool mirrored);
std::string tableName(const tbPosition& pos, bool mirrored);
// Material key of piece counts as named: counts[colour][type], type 1 pawn .. 5 queen.
u64 materialKeyOfCounts(const int counts[2][7], bool mirrored);

void addTable(const std::string& name);
// The hash slot holding `key`, or null.
tbHashSlot* findTableSlot(u64 key);

// File layer: the view of the whole file (read-only), or null when no search
// directory holds it; mapSize receives the length to unmap.
const u8* mapTableFile(const std::string& name, const char* suffix, size_t& mapSize);
void unmapTableFile(const u8* view, size_t mapSize);
// True when one of the search directories holds the file.
bool tableFileExists(const std::string& name, const char* suffix);

// Releases a record's mapping and decoders (keeps its registry fields).
void releaseTable(tbTable& t);

// Hands a message to the sinks of setTbMessageSinks: a line for the GUI, or
// text for standard error.
void tbNotice(const std::string& line);
void tbError(const std::string& text);

// ---- decoding -------------------------------------------------------------------
// Fill `t` from its mapped file. False for a missing or corrupted file; the
// caller then treats the table as absent.
bool loadWdlTable(tbTable& t, const std::string& name);
bool loadDtzTable(tbTable& t);
// The stored byte at idx; -1 when the data is out of bounds (corrupted file).
int decodeValue(const valueDecoder& d, u64 idx);
// Index of the squares p[0..n-1] (may be reordered / mirrored in place); -1
// when the squares do not form an encodable placement.
i64 pieceIndex(const tbSideData& sd, u8 encType, int n, int p[TBPIECES]);
i64 pawnIndex(const tbSideData& sd, const u8 leadCount[2], int n, int p[TBPIECES]);

// DTZ cache of the probing code, emptied by initTablebases.
void clearDtzCache();
