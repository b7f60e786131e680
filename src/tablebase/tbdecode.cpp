// Reading a mapped table file: headers, decoders, index computation and the
// decoding of one stored value.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tablebase/tbtables.h"

namespace {

constexpr u64 binom(int x, int k) {
  if (k < 0 || x < k) return 0;
  u64 r = 1;
  for (int i = 0; i < k; ++i) r = r * u64(x - i) / u64(i + 1);
  return r;
}

constexpr bool adjacentOrEqual(int a, int b) {
  int df = (a & 7) - (b & 7), dr = (a >> 3) - (b >> 3);
  return df >= -1 && df <= 1 && dr >= -1 && dr <= 1;
}

constexpr tbidx::tables buildIndexTables() {
  tbidx::tables t{};
  for (int k = 0; k < 5; ++k)
    for (int x = 0; x < 64; ++x) t.binomial[k][x] = u32(binom(x, k + 1));

  for (int k = 0; k < 5; ++k)
    for (int f = 0; f < 4; ++f) {
      u32 sum = 0;
      for (int r = 0; r < 6; ++r) {
        int j = 6 * f + r;
        t.pawnLeadOffset[k][j] = sum;
        sum += k == 0 ? 1 : u32(binom(47 - 2 * j, k));
      }
      t.pawnLeadCount[k][f] = sum;
    }

  int lower = 0;
  for (int sq = 0; sq < 64; ++sq) {
    int file = sq & 7, rank = sq >> 3;
    t.diagonalSide[sq] = file == rank ? 0 : (file < rank ? 1 : -1);
    t.diagonalMirror[sq] = u8(8 * file + rank);
    if (file > rank) t.lowerIndex[sq] = u8(lower++);
    if (file == rank) t.lowerIndex[sq] = u8(28 + rank);
  }
  for (int sq = 0; sq < 64; ++sq)
    if ((sq & 7) < (sq >> 3)) t.lowerIndex[sq] = t.lowerIndex[t.diagonalMirror[sq]];

  for (int i = 0; i < 8; ++i) {
    t.diagonalIndex[9 * i] = u8(i);
    t.diagonalIndex[7 + 7 * i] = u8(8 + i);
  }

  constexpr int TRIANGLE[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};  // b1 c1 d1 c2 d2 d3 a1 b2 c3 d4
  for (int sq = 0; sq < 64; ++sq) {
    int f = sq & 7, r = sq >> 3;
    if (f > 3) f = 7 - f;
    if (r > 3) r = 7 - r;
    if (r > f) std::swap(f, r);
    for (int i = 0; i < 10; ++i)
      if (TRIANGLE[i] == 8 * r + f) t.triangleIndex[sq] = u8(i);
  }

  for (int i = 0; i < 10; ++i)
    for (int sq = 0; sq < 64; ++sq) t.kingPairIndex[i][sq] = -1;
  int counter = 0;
  for (int i = 0; i < 6; ++i)
    for (int sq = 0; sq < 64; ++sq)
      if (!adjacentOrEqual(TRIANGLE[i], sq)) t.kingPairIndex[i][sq] = i16(counter++);
  for (int i = 6; i < 10; ++i)
    for (int sq = 0; sq < 64; ++sq)
      if ((sq & 7) > (sq >> 3) && !adjacentOrEqual(TRIANGLE[i], sq)) t.kingPairIndex[i][sq] = i16(counter++);
  for (int i = 6; i < 10; ++i)
    for (int sq = 0; sq < 64; ++sq)
      if ((sq & 7) == (sq >> 3) && !adjacentOrEqual(TRIANGLE[i], sq)) t.kingPairIndex[i][sq] = i16(counter++);

  for (int sq = 8; sq < 56; ++sq) {
    int file = sq & 7, rank = sq >> 3;
    int ff = file < 4 ? file : 7 - file;
    t.leadPosition[sq] = u8(6 * ff + rank - 1);
    t.pawnOrder[sq] = u8(47 - 2 * (rank - 1) - 12 * ff - (file >= 4 ? 1 : 0));
  }
  return t;
}

constinit const tbidx::tables INDEX = buildIndexTables();

// A bounds-checked cursor over the mapping.
struct fileCursor {
  const u8* base;
  size_t size;
  size_t pos;
  bool has(size_t n) const { return pos <= size && n <= size - pos; }
  const u8* at() const { return base + pos; }
};

bool validCode(int code) { return (code >= 1 && code <= 6) || (code >= 9 && code <= 14); }

// The header's piece list must name exactly the table's pieces, each kind in
// one run, so that gathering squares by code fills every index position once.
bool piecesMatchTable(const tbTable& t, const u8* pieces) {
  const int n = t.pieceCount;
  u8 seen[16] = {};
  for (int i = 0; i < n; ++i) {
    const int code = pieces[i];
    if (!validCode(code)) return false;
    if (i > 0 && pieces[i - 1] != code && seen[code]) return false;  // split run
    seen[code]++;
  }
  for (int c = 0; c < 16; ++c)
    if (seen[c] != t.codeCount[c]) return false;
  return true;
}

void runGroups(tbSideData& sd, int start, int n) {
  for (int i = start; i < n;) {
    int run = 1;
    while (i + run < n && sd.pieces[i + run] == sd.pieces[i]) ++run;
    sd.groups[i] = u8(run);
    i += run;
  }
}

bool pieceSetup(tbSideData& sd, const tbTable& t, int order) {
  const int n = t.pieceCount, lead = t.encType == 0 ? 3 : 2;
  if (n < lead || !piecesMatchTable(t, sd.pieces)) return false;
  for (int i = 0; i < lead; ++i)
    if (t.codeCount[sd.pieces[i]] != 1) return false;
  std::fill(std::begin(sd.groups), std::end(sd.groups), 0);
  sd.groups[0] = u8(lead);
  runGroups(sd, lead, n);
  for (int i = lead; i < n; i += sd.groups[i])
    if (sd.groups[i] > 5) return false;

  u64 f = 1;
  int freeSquares = 64 - lead, i = lead;
  bool leadSet = false;
  for (int k = 0; i < n || k == order; ++k) {
    if (k == order) {
      sd.factor[0] = f;
      f *= leadFactor[t.encType];
      leadSet = true;
    } else {
      if (i >= n) return false;
      sd.factor[i] = f;
      f *= binom(freeSquares, sd.groups[i]);
      freeSquares -= sd.groups[i];
      i += sd.groups[i];
    }
  }
  sd.tableSize = f;
  return leadSet;
}

bool pawnSetup(tbSideData& sd, const tbTable& t, int order, int order2, int file) {
  const int n = t.pieceCount, k1 = t.leadCount[0], k2 = t.leadCount[1];
  if (k1 < 1 || k1 > 5 || k1 + k2 > n || !piecesMatchTable(t, sd.pieces)) return false;
  const int leadCode = sd.pieces[0];
  if ((leadCode & 7) != 1 || t.codeCount[leadCode] != k1) return false;
  for (int i = 0; i < k1; ++i)
    if (sd.pieces[i] != leadCode) return false;
  if (k2) {
    if (t.codeCount[leadCode ^ 8] != k2 || order2 >= 15) return false;
    for (int i = k1; i < k1 + k2; ++i)
      if (sd.pieces[i] != (leadCode ^ 8)) return false;
  } else if (order2 < 15) {
    return false;
  }
  std::fill(std::begin(sd.groups), std::end(sd.groups), 0);
  sd.groups[0] = u8(k1);
  if (k2) sd.groups[k1] = u8(k2);
  runGroups(sd, k1 + k2, n);
  for (int i = k1 + k2; i < n; i += sd.groups[i])
    if (sd.groups[i] > 5) return false;

  int i = k1 + k2;
  int freeSquares = 64 - i;
  u64 f = 1;
  bool leadSet = false, secondSet = k2 == 0;
  for (int k = 0; i < n || k == order || k == order2; ++k) {
    if (k == order) {
      sd.factor[0] = f;
      f *= INDEX.pawnLeadCount[k1 - 1][file];
      leadSet = true;
    } else if (k == order2) {
      sd.factor[k1] = f;
      f *= binom(48 - k1, k2);
      secondSet = true;
    } else {
      if (i >= n) return false;
      sd.factor[i] = f;
      f *= binom(freeSquares, sd.groups[i]);
      freeSquares -= sd.groups[i];
      i += sd.groups[i];
    }
  }
  sd.tableSize = f;
  return leadSet && secondSet;
}

// Reads one decoder header at the cursor; sections are placed later.
bool setupDecoder(fileCursor& c, u64 tableSize, bool wdl, valueDecoder& d, u8& flags) {
  if (!c.has(2)) return false;
  const u8* h = c.at();
  flags = h[0];
  if (h[0] & 0x80) {
    d.indexBits = 0;
    d.minLen = wdl ? h[1] : 0;
    c.pos += 2;
    return true;
  }
  if (!c.has(12)) return false;
  d.blockExp = h[1];
  d.indexBits = h[2];
  const u32 extra = h[3];
  const u32 real = readLe32(h + 4);
  d.maxLen = h[8];
  d.minLen = h[9];
  if (d.blockExp < 2 || d.blockExp > 30 || d.indexBits < 1 || d.indexBits > 31) return false;
  if (d.minLen < 1 || d.maxLen > 32 || d.minLen > d.maxLen) return false;
  const int lengths = d.maxLen - d.minLen + 1;
  if (!c.has(12 + 2 * size_t(lengths))) return false;
  d.offsets = h + 10;
  d.symCount = readLe16(h + 10 + 2 * lengths);
  if (d.symCount == 0) return false;
  const size_t headerSize = 12 + 2 * size_t(lengths) + 3 * size_t(d.symCount) + (d.symCount & 1);
  if (!c.has(headerSize)) return false;
  d.symPat = h + 12 + 2 * lengths;
  c.pos += headerSize;

  d.indexEntries = (tableSize + (u64(1) << d.indexBits) - 1) >> d.indexBits;
  d.realBlocks = real;
  d.blocks = u64(real) + extra;

  // Symbol lengths, each symbol once, without recursion: a cyclic or too
  // deep tree is a corrupted file.
  const u32 S = d.symCount;
  d.symLen = std::make_unique<u8[]>(S);
  std::vector<u8> state(S, 0);  // 0 new, 1 on the stack, 2 done
  std::vector<u32> stack;
  auto leftOf = [&](u32 s) { const u8* w = d.symPat + 3 * s; return u32(((w[1] & 15) << 8) | w[0]); };
  auto rightOf = [&](u32 s) { const u8* w = d.symPat + 3 * s; return u32((w[2] << 4) | (w[1] >> 4)); };
  for (u32 root = 0; root < S; ++root) {
    if (state[root] == 2) continue;
    stack.push_back(root);
    state[root] = 1;
    while (!stack.empty()) {
      const u32 s = stack.back();
      const u32 r = rightOf(s);
      if (r == 4095) {
        d.symLen[s] = 0;
        state[s] = 2;
        stack.pop_back();
        continue;
      }
      const u32 l = leftOf(s);
      if (l >= S || r >= S) return false;
      bool pushed = false;
      for (u32 child : {l, r}) {
        if (state[child] == 1) return false;  // cycle
        if (state[child] == 0) {
          state[child] = 1;
          stack.push_back(child);
          pushed = true;
          break;
        }
      }
      if (pushed) continue;
      const u32 len = u32(d.symLen[l]) + d.symLen[r] + 1;
      if (len > 255) return false;
      d.symLen[s] = u8(len);
      state[s] = 2;
      stack.pop_back();
    }
  }

  // Canonical code bases, kept in 64 bits so that no shift can wrap.
  auto offsetAt = [&](int i) { return u64(readLe16(d.offsets + 2 * i)); };
  d.base[lengths - 1] = 0;
  for (int i = lengths - 2; i >= 0; --i) d.base[i] = (d.base[i + 1] + offsetAt(i) - offsetAt(i + 1)) / 2;
  for (int i = 0; i < lengths; ++i) d.base[i] <<= 32 - (d.minLen + i);
  return true;
}

// Index, size and data sections of the decoders, in header order.
bool placeSections(fileCursor& c, valueDecoder* const* decoders, int count) {
  for (int i = 0; i < count; ++i) {
    valueDecoder& d = *decoders[i];
    if (!d.indexBits) continue;
    if (d.indexEntries > c.size / 6 || !c.has(6 * d.indexEntries)) return false;
    d.indexTable = c.at();
    c.pos += 6 * d.indexEntries;
  }
  for (int i = 0; i < count; ++i) {
    valueDecoder& d = *decoders[i];
    if (!d.indexBits) continue;
    if (d.blocks > c.size / 2 || !c.has(2 * d.blocks)) return false;
    d.sizeTable = c.at();
    c.pos += 2 * d.blocks;
  }
  for (int i = 0; i < count; ++i) {
    valueDecoder& d = *decoders[i];
    if (!d.indexBits) continue;
    c.pos = (c.pos + 63) & ~size_t(63);
    if ((d.realBlocks << d.blockExp) >> d.blockExp != d.realBlocks) return false;
    const u64 bytes = d.realBlocks << d.blockExp;
    if (bytes > c.size || !c.has(bytes)) return false;
    d.data = c.at();
    c.pos += bytes;
  }
  return true;
}

bool parseTable(tbTable& t, bool wdl) {
  fileCursor c{t.view, t.mapSize, 0};
  if (!c.has(5) || readLe32(t.view) != (wdl ? WDL_MAGIC : DTZ_MAGIC)) return false;
  const bool split = wdl && (t.view[4] & 1);
  const int files = t.hasPawns ? 4 : 1, n = t.pieceCount;
  const int sides = wdl ? 2 : 1;
  if (n < 3 || n > TBPIECES) return false;
  c.pos = 5;

  if (!t.hasPawns) {
    if (!c.has(1 + size_t(n))) return false;
    const u8* h = c.at();
    for (int s = 0; s < sides; ++s) {
      tbSideData& sd = t.file[0].side[s];
      for (int i = 0; i < n; ++i) sd.pieces[i] = (h[1 + i] >> (4 * s)) & 15;
      if (!pieceSetup(sd, t, (h[0] >> (4 * s)) & 15)) return false;
    }
    c.pos += 1 + n;
  } else {
    const int s0 = t.leadCount[1] ? 2 : 1;
    for (int f = 0; f < 4; ++f) {
      if (!c.has(size_t(s0 + n))) return false;
      const u8* h = c.at();
      for (int s = 0; s < sides; ++s) {
        tbSideData& sd = t.file[f].side[s];
        for (int i = 0; i < n; ++i) sd.pieces[i] = (h[s0 + i] >> (4 * s)) & 15;
        const int order = (h[0] >> (4 * s)) & 15;
        const int order2 = s0 == 2 ? (h[1] >> (4 * s)) & 15 : 15;
        if (!pawnSetup(sd, t, order, order2, f)) return false;
      }
      c.pos += s0 + n;
    }
    // The probe gathers the lead pawns by the code of file 0, side 0.
    for (int f = 0; f < 4; ++f)
      for (int s = 0; s < sides; ++s)
        if (t.file[f].side[s].pieces[0] != t.file[0].side[0].pieces[0]) return false;
  }
  c.pos += c.pos & 1;

  valueDecoder* order[8];
  int count = 0;
  for (int f = 0; f < files; ++f) {
    const int stored = split ? 2 : 1;
    for (int s = 0; s < stored; ++s) {
      auto d = std::make_unique<valueDecoder>();
      u8 flags = 0;
      if (!setupDecoder(c, t.file[f].side[s].tableSize, wdl, *d, flags)) return false;
      if (!wdl) t.file[f].flags = flags;
      order[count++] = d.get();
      t.file[f].decoder[s] = std::move(d);
    }
  }

  if (!wdl) {
    t.maps = c.at();
    const size_t mapStart = c.pos;
    for (int f = 0; f < files; ++f) {
      if (!(t.file[f].flags & 2)) continue;
      for (int m = 0; m < 4; ++m) {
        if (!c.has(1)) return false;
        const size_t len = *c.at();
        t.file[f].mapIndex[m] = u16(c.pos + 1 - mapStart);
        c.pos += 1;
        if (!c.has(len)) return false;
        c.pos += len;
      }
    }
    c.pos += c.pos & 1;
  }

  return placeSections(c, order, count);
}

}  // namespace

const tbidx::tables& tbidx::get() { return INDEX; }

int decodeValue(const valueDecoder& d, u64 idx) {
  if (!d.indexBits) return d.minLen;
  const u64 main = idx >> d.indexBits;
  if (main >= d.indexEntries) return -1;
  i64 lit = i64(idx & ((u64(1) << d.indexBits) - 1)) - (i64(1) << (d.indexBits - 1));
  const u8* entry = d.indexTable + 6 * main;
  u64 block = readLe32(entry);
  lit += readLe16(entry + 4);
  if (block >= d.blocks) return -1;
  auto sizeOf = [&](u64 b) { return i64(readLe16(d.sizeTable + 2 * b)); };
  if (lit < 0) {
    do {
      if (block == 0) return -1;
      --block;
      lit += sizeOf(block) + 1;
    } while (lit < 0);
  } else {
    while (lit > sizeOf(block)) {
      lit -= sizeOf(block) + 1;
      if (++block >= d.blocks) return -1;
    }
  }
  if (block >= d.realBlocks) return -1;

  const u8* ptr = d.data + (block << d.blockExp);
  const u8* end = ptr + (u64(1) << d.blockExp);
  // Words past the block only feed look-ahead bits that a well-formed block
  // never decodes; reading them as zero keeps a bad block inside the mapping.
  auto nextWord = [&]() -> u64 {
    u64 w = ptr + 4 <= end ? readBe32(ptr) : 0;
    ptr += 4;
    if (ptr > end) ptr = end;
    return w;
  };
  u64 code = nextWord();
  u64 next = 0;
  int bitCount = 0;
  const int minLen = d.minLen;
  u32 sym;
  for (;;) {
    int l = minLen;
    while (code < d.base[l - minLen]) ++l;
    sym = u32(readLe16(d.offsets + 2 * (l - minLen)) + ((code - d.base[l - minLen]) >> (32 - l)));
    if (sym >= d.symCount) return -1;
    if (lit < i64(d.symLen[sym]) + 1) break;
    lit -= i64(d.symLen[sym]) + 1;
    code = (code << l) & 0xFFFFFFFFu;
    if (bitCount < l) {
      if (bitCount > 0) {
        code |= next >> (32 - l);
        l -= bitCount;
      }
      next = nextWord();
      bitCount = 32;
    }
    code |= next >> (32 - l);
    next = (next << l) & 0xFFFFFFFFu;
    bitCount -= l;
  }
  while (d.symLen[sym] != 0) {
    const u8* w = d.symPat + 3 * sym;
    const u32 left = ((w[1] & 15) << 8) | w[0];
    if (lit < i64(d.symLen[left]) + 1) {
      sym = left;
    } else {
      lit -= i64(d.symLen[left]) + 1;
      sym = (w[2] << 4) | (w[1] >> 4);
    }
  }
  return d.symPat[3 * sym];
}

namespace {

// Adds the index of the groups from position `start` on (pieceIndex step 5).
bool addGroups(const tbSideData& sd, int start, int n, int p[TBPIECES], u64& idx) {
  for (int i = start; i < n;) {
    const int t = sd.groups[i];
    if (t < 1 || t > 5 || i + t > n) return false;
    std::sort(p + i, p + i + t);
    u64 s = 0;
    for (int m = 0; m < t; ++m) {
      int j = 0;
      for (int l = 0; l < i; ++l) j += p[l] < p[i + m];
      const int x = p[i + m] - j;
      if (x < 0) return false;
      s += INDEX.binomial[m][x];
    }
    idx += s * sd.factor[i];
    i += t;
  }
  return true;
}

}  // namespace

i64 pieceIndex(const tbSideData& sd, u8 encType, int n, int p[TBPIECES]) {
  if (p[0] & 4)
    for (int i = 0; i < n; ++i) p[i] ^= 7;
  if (p[0] & 32)
    for (int i = 0; i < n; ++i) p[i] ^= 56;
  const int lead = encType == 0 ? 3 : 2;
  int i = 0;
  while (i < n && INDEX.diagonalSide[p[i]] == 0) ++i;
  if (i < lead && INDEX.diagonalSide[p[i]] == 1)
    for (int k = 0; k < n; ++k) p[k] = INDEX.diagonalMirror[p[k]];

  u64 idx;
  if (encType == 0) {
    const int a = p[1] > p[0], b = (p[2] > p[0]) + (p[2] > p[1]);
    if (INDEX.diagonalSide[p[0]])
      idx = u64(INDEX.triangleIndex[p[0]]) * 63 * 62 + u64(p[1] - a) * 62 + u64(p[2] - b);
    else if (INDEX.diagonalSide[p[1]])
      idx = 6 * 63 * 62 + u64(INDEX.diagonalIndex[p[0]]) * 28 * 62 + u64(INDEX.lowerIndex[p[1]]) * 62 + u64(p[2] - b);
    else if (INDEX.diagonalSide[p[2]])
      idx = 6 * 63 * 62 + 4 * 28 * 62 + u64(INDEX.diagonalIndex[p[0]]) * 7 * 28 +
            u64(INDEX.diagonalIndex[p[1]] - a) * 28 + INDEX.lowerIndex[p[2]];
    else
      idx = 6 * 63 * 62 + 4 * 28 * 62 + 4 * 7 * 28 + u64(INDEX.diagonalIndex[p[0]]) * 7 * 6 +
            u64(INDEX.diagonalIndex[p[1]] - a) * 6 + u64(INDEX.diagonalIndex[p[2]] - b);
  } else {
    const int k = INDEX.kingPairIndex[INDEX.triangleIndex[p[0]]][p[1]];
    if (k < 0) return -1;
    idx = u64(k);
  }
  idx *= sd.factor[0];
  if (!addGroups(sd, lead, n, p, idx)) return -1;
  return i64(idx);
}

i64 pawnIndex(const tbSideData& sd, const u8 leadCount[2], int n, int p[TBPIECES]) {
  const int k = leadCount[0], k2 = leadCount[1];
  if (p[0] & 4)
    for (int i = 0; i < n; ++i) p[i] ^= 7;
  std::sort(p + 1, p + k, [](int x, int y) { return INDEX.pawnOrder[x] > INDEX.pawnOrder[y]; });
  u64 idx = INDEX.pawnLeadOffset[k - 1][INDEX.leadPosition[p[0]]];
  for (int i = k - 1; i >= 1; --i) idx += INDEX.binomial[k - 1 - i][INDEX.pawnOrder[p[i]]];
  idx *= sd.factor[0];
  if (k2) {
    std::sort(p + k, p + k + k2);
    u64 s = 0;
    for (int m = 0; m < k2; ++m) {
      int j = 0;
      for (int l = 0; l < k; ++l) j += p[l] < p[k + m];
      const int x = p[k + m] - j - 8;
      if (x < 0) return -1;
      s += INDEX.binomial[m][x];
    }
    idx += s * sd.factor[k];
  }
  if (!addGroups(sd, k + k2, n, p, idx)) return -1;
  return i64(idx);
}

bool loadWdlTable(tbTable& t, const std::string& name) {
  size_t size = 0;
  const u8* view = mapTableFile(name, ".rtbw", size);
  if (!view) {
    // (a file that is there but could not be mapped has been reported already)
    if (!tableFileExists(name, ".rtbw")) tbError("Could not find " + name + ".rtbw\n");
    return false;
  }
  t.view = view;
  t.mapSize = size;
  if (!parseTable(t, true)) {
    tbError("Corrupted table.\n");
    releaseTable(t);
    return false;
  }
  return true;
}

bool loadDtzTable(tbTable& t) {
  if (!t.view) return false;
  if (!parseTable(t, false)) {
    tbError("Corrupted table.\n");
    return false;
  }
  return true;
}
