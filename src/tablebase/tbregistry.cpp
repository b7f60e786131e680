// Discovery of the table files, the registry of material keys and the file
// layer (open, fstat, mmap of the whole file).

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "tablebase/tbprobe.h"
#include "tablebase/tbtables.h"

tbSearchInfo tbInfo;

tbRegistry tablebaseRegistry;

namespace {

std::vector<std::string> searchDirs;
textSink noticeSink, errorSink;

// Multipliers by [colour][type], type 1 pawn .. 5 queen.
constexpr u64 KEY_MULTIPLIER[2][6] = {
    {0, 0xec0ade190c0f6003ull, 0xd2fb81862830191full, 0xaadc1a2be446234dull, 0x985deb9fc49333f9ull,
     0xa3ec1abc71e90863ull},
    {0, 0xa24f0f571bb202e7ull, 0xbaeb854cd3259441ull, 0xd5a4c95928f2fbe3ull, 0xfd7866b439b94495ull,
     0xd6e4e47d24962951ull}};

// Returns an open descriptor of the first regular file found, or -1. A FIFO,
// device or directory under a table's name is no table and is not even
// opened (opening a FIFO without a writer would wait forever); the open does
// not block and the descriptor is checked again, in case the name changed
// meanwhile.
int openTableFile(const std::string& name, const char* suffix) {
  for (const std::string& dir : searchDirs) {
    std::string path = dir + "/" + name + suffix;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    ::close(fd);
  }
  return -1;
}

[[noreturn]] void fatal(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
  std::exit(1);
}

// Material counts [colour][type] of a table name such as "KRPvKR".
void countPieces(const std::string& name, int counts[2][7]) {
  for (int c = 0; c < 2; ++c)
    for (int t = 0; t < 7; ++t) counts[c][t] = 0;
  int colour = 0;
  for (char ch : name) {
    switch (ch) {
      case 'v': colour = 1; break;
      case 'K': counts[colour][6]++; break;
      case 'Q': counts[colour][5]++; break;
      case 'R': counts[colour][4]++; break;
      case 'B': counts[colour][3]++; break;
      case 'N': counts[colour][2]++; break;
      case 'P': counts[colour][1]++; break;
      default: break;
    }
  }
}

void hashInsert(u64 key, tbTable* t) {
  for (tbHashSlot& s : tablebaseRegistry.materialHash[key >> 54]) {
    if (!s.table) {
      s.key.store(key, std::memory_order_relaxed);
      s.table = t;
      return;
    }
  }
  fatal("HSHMAX too low!\n");
}

void clearRegistry() {
  tablebaseRegistry.pieceCount = tablebaseRegistry.pawnCount = 0;
  tbInfo.largest = 0;
  for (auto& bucket : tablebaseRegistry.materialHash)
    for (tbHashSlot& s : bucket) {
      s.key.store(0, std::memory_order_relaxed);
      s.table = nullptr;
    }
  clearDtzCache();
}

}  // namespace

u64 materialKeyOfCounts(const int counts[2][7], bool mirrored) {
  u64 key = 0;
  for (int c = 0; c < 2; ++c)
    for (int t = 1; t <= 5; ++t) key += u64(counts[c][t]) * KEY_MULTIPLIER[mirrored ? c ^ 1 : c][t];
  return key;
}

u64 materialKey(const tbPosition& pos, bool mirrored) {
  int counts[2][7] = {};
  const u64 colours[2] = {pos.white, pos.black};
  const u64 types[7] = {0, pos.pawns, pos.knights, pos.bishops, pos.rooks, pos.queens, pos.kings};
  for (int c = 0; c < 2; ++c)
    for (int t = 1; t <= 5; ++t) counts[c][t] = popCount(colours[c] & types[t]);
  return materialKeyOfCounts(counts, mirrored);
}

std::string tableName(const tbPosition& pos, bool mirrored) {
  static const char LETTERS[] = "KQRBNP";
  const u64 sets[6] = {pos.kings, pos.queens, pos.rooks, pos.bishops, pos.knights, pos.pawns};
  std::string name;
  for (int side = 0; side < 2; ++side) {
    if (side) name += 'v';
    const u64 colour = ((side == 0) != mirrored) ? pos.white : pos.black;
    for (int t = 0; t < 6; ++t) name.append(size_t(popCount(sets[t] & colour)), LETTERS[t]);
  }
  return name;
}

bool tableFileExists(const std::string& name, const char* suffix) {
  int fd = openTableFile(name, suffix);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

namespace {

// A file that is there but cannot be mapped (address space exhausted under a
// memory limit, a file system without mmap): the table counts as missing and
// the game goes on; the user learns why the tables answer less.
const u8* cannotMap(const std::string& name, const char* suffix, int err) {
  tbNotice("info string cannot map " + name + suffix + " (" + std::strerror(err) + "), table not used\n");
  return nullptr;
}

}  // namespace

const u8* mapTableFile(const std::string& name, const char* suffix, size_t& mapSize) {
  mapSize = 0;
  int fd = openTableFile(name, suffix);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return cannotMap(name, suffix, err);
  }
  if (st.st_size <= 0) {
    // Nothing to map; the loader reports the table as corrupted.
    ::close(fd);
    static const u8 empty = 0;
    return &empty;
  }
  void* view = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  const int err = errno;
  ::close(fd);  // the mapping stays valid without the descriptor
  if (view == MAP_FAILED) return cannotMap(name, suffix, err);
  mapSize = size_t(st.st_size);
  return static_cast<const u8*>(view);
}

void unmapTableFile(const u8* view, size_t mapSize) {
  if (!view || mapSize == 0) return;
  if (::munmap(const_cast<u8*>(view), mapSize) != 0) tbError("unmap failed, error code " + std::to_string(errno));
}

void setTbMessageSinks(textSink notice, textSink error) {
  noticeSink = std::move(notice);
  errorSink = std::move(error);
}

void tbNotice(const std::string& line) {
  if (noticeSink) noticeSink(line);
}

void tbError(const std::string& text) {
  if (errorSink) errorSink(text);
}

void releaseTable(tbTable& t) {
  unmapTableFile(t.view, t.mapSize);
  t.view = nullptr;
  t.mapSize = 0;
  t.maps = nullptr;
  for (tbFileData& f : t.file) {
    f.decoder[0].reset();
    f.decoder[1].reset();
  }
  t.ready.store(0, std::memory_order_relaxed);
}

tbHashSlot* findTableSlot(u64 key) {
  for (tbHashSlot& s : tablebaseRegistry.materialHash[key >> 54])
    if (s.key.load(std::memory_order_relaxed) == key && s.table) return &s;
  return nullptr;
}

void addTable(const std::string& name) {
  if (!tableFileExists(name, ".rtbw")) return;

  int counts[2][7];
  countPieces(name, counts);
  const u64 key = materialKeyOfCounts(counts, false);
  const u64 mirroredKey = materialKeyOfCounts(counts, true);
  const bool hasPawns = counts[0][1] + counts[1][1] > 0;

  tbTable* t;
  if (hasPawns) {
    if (tablebaseRegistry.pawnCount >= TBMAX_PAWN) fatal("TBMAX_PAWN limit too low!\n");
    t = &tablebaseRegistry.pawnTables[tablebaseRegistry.pawnCount++];
  } else {
    if (tablebaseRegistry.pieceCount >= TBMAX_PIECE) fatal("TBMAX_PIECE limit too low!\n");
    t = &tablebaseRegistry.pieceTables[tablebaseRegistry.pieceCount++];
  }
  releaseTable(*t);
  t->key = key;
  int total = 0;
  for (int c = 0; c < 2; ++c)
    for (int ty = 1; ty <= 6; ++ty) {
      total += counts[c][ty];
      t->codeCount[8 * c + ty] = u8(counts[c][ty]);
    }
  t->pieceCount = u8(total);
  t->symmetric = key == mirroredKey;
  t->hasPawns = hasPawns;
  t->encType = 0;
  t->leadCount[0] = t->leadCount[1] = 0;
  tbInfo.largest = std::max(tbInfo.largest, total);

  if (!hasPawns) {
    int unique = 0;
    for (int c = 0; c < 2; ++c)
      for (int ty = 1; ty <= 6; ++ty) unique += counts[c][ty] == 1;
    t->encType = unique >= 3 ? 0 : 2;
  } else {
    int lead = counts[0][1], other = counts[1][1];
    if (other > 0 && (lead == 0 || other < lead)) std::swap(lead, other);
    t->leadCount[0] = u8(lead);
    t->leadCount[1] = u8(other);
  }

  hashInsert(key, t);
  if (mirroredKey != key) hashInsert(mirroredKey, t);
}

std::optional<int> initTablebases(const std::string& paths) {
  static bool initialised = false;
  if (initialised) {
    searchDirs.clear();
    for (tbTable& t : tablebaseRegistry.pieceTables) releaseTable(t);
    for (tbTable& t : tablebaseRegistry.pawnTables) releaseTable(t);
  }
  initialised = true;
  tbidx::get();

  if (paths.empty() || paths == "<empty>") {
    searchDirs.clear();
    clearRegistry();
    return std::nullopt;
  }

  // Directories are separated by ';' or, as usual on Linux, by ':'.
  searchDirs.clear();
  size_t start = 0;
  for (;;) {
    size_t cut = paths.find_first_of(";:", start);
    searchDirs.push_back(paths.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
    if (cut == std::string::npos) break;
    start = cut + 1;
  }

  clearRegistry();

  static const char P[] = "QRBNP";
  auto K = [](const std::string& w, const std::string& b) { return "K" + w + "vK" + b; };
  auto s = [](int i) { return std::string(1, P[i]); };
  for (int i = 0; i < 5; ++i) addTable(K(s(i), ""));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j) addTable(K(s(i), s(j)));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j) addTable(K(s(i) + s(j), ""));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j)
      for (int k = 0; k < 5; ++k) addTable(K(s(i) + s(j), s(k)));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j)
      for (int k = j; k < 5; ++k) addTable(K(s(i) + s(j) + s(k), ""));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j)
      for (int k = i; k < 5; ++k)
        for (int l = (i == k) ? j : k; l < 5; ++l) addTable(K(s(i) + s(j), s(k) + s(l)));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j)
      for (int k = j; k < 5; ++k)
        for (int l = 0; l < 5; ++l) addTable(K(s(i) + s(j) + s(k), s(l)));
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j)
      for (int k = j; k < 5; ++k)
        for (int l = k; l < 5; ++l) addTable(K(s(i) + s(j) + s(k) + s(l), ""));

  return tablebaseRegistry.pieceCount + tablebaseRegistry.pawnCount;
}
