// WDL and DTZ probes, the DTZ cache, the best move of a root position and
// the WDL answer the search asks for.

#include "tablebase/tbprobe.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "tablebase/tbtables.h"

namespace {

constexpr int wdlToDtz[5] = {-1, -101, 0, 101, 1};
constexpr int dtzMapSelector[5] = {1, 3, 0, 2, 0};
constexpr int dtzPlyFlags[5] = {8, 0, 0, 0, 4};

std::mutex tbMutex;

struct dtzSlot {
  u64 key1 = 0, key2 = 0;
  std::unique_ptr<tbTable> table;
};
dtzSlot dtzCache[DTZ_ENTRIES];

// Orientation of a probe: colour flip c for the piece codes, square flip m
// for pawn tables, and which stored side to move to read.
struct orientation {
  int c, m, side;
};

orientation orient(const tbTable& t, u64 key, bool whiteToMove) {
  if (t.symmetric) return whiteToMove ? orientation{0, 0, 0} : orientation{8, 56, 0};
  if (key == t.key) return {0, 0, whiteToMove ? 0 : 1};
  return {8, 56, whiteToMove ? 1 : 0};
}

// Squares of the pieces listed from index `from` on, by the header's codes.
bool gather(const tbPosition& pos, const u8* codes, int from, int n, int c, int m, int p[TBPIECES]) {
  for (int i = from; i < n;) {
    u64 b = tbPieces(pos, codes[i] ^ c);
    if (!b) return false;
    while (b) {
      if (i >= n) return false;
      p[i++] = popLsb(b) ^ m;
    }
  }
  return true;
}

// Lead pawns into p[0..k-1], the one with the smallest lead position first.
// Returns the lead file 0..3, or -1.
int gatherLeadPawns(const tbPosition& pos, const tbTable& t, int c, int m, int p[TBPIECES]) {
  const int k = t.leadCount[0];
  u64 b = tbPieces(pos, t.file[0].side[0].pieces[0] ^ c);
  if (popCount(b) != k) return -1;
  for (int i = 0; i < k; ++i) p[i] = popLsb(b) ^ m;
  const auto& ix = tbidx::get();
  for (int i = 1; i < k; ++i)
    if (ix.leadPosition[p[0]] > ix.leadPosition[p[i]]) std::swap(p[0], p[i]);
  return fileFold[p[0] & 7];
}

// The sub-table value of a position for table t, or -1.
int decodeFor(const tbPosition& pos, const tbTable& t, const orientation& o, bool wdl, int& fileOut) {
  const int n = t.pieceCount;
  int p[TBPIECES];
  if (!t.hasPawns) {
    const int side = wdl ? o.side : 0;
    const tbSideData& sd = t.file[0].side[side];
    const valueDecoder* d = t.file[0].decoder[side].get();
    if (!d || !gather(pos, sd.pieces, 0, n, o.c, 0, p)) return -1;
    fileOut = 0;
    const i64 idx = pieceIndex(sd, t.encType, n, p);
    return idx < 0 ? -1 : decodeValue(*d, u64(idx));
  }
  const int f = gatherLeadPawns(pos, t, o.c, o.m, p);
  if (f < 0) return -1;
  fileOut = f;
  if (!wdl && (t.file[f].flags & 1) != o.side) return -2;
  const int side = wdl ? o.side : 0;
  const tbSideData& sd = t.file[f].side[side];
  const valueDecoder* d = t.file[f].decoder[side].get();
  if (!d || !gather(pos, sd.pieces, t.leadCount[0], n, o.c, o.m, p)) return -1;
  const i64 idx = pawnIndex(sd, t.leadCount, n, p);
  return idx < 0 ? -1 : decodeValue(*d, u64(idx));
}

void disableSlots(tbTable* t, const tbPosition& pos) {
  for (bool mirrored : {false, true}) {
    const u64 key = materialKey(pos, mirrored);
    for (tbHashSlot& s : tablebaseRegistry.materialHash[key >> 54])
      if (s.table == t) s.key.store(0, std::memory_order_relaxed);
  }
}

int probeWdlTable(const tbPosition& pos, int& success) {
  const u64 key = materialKey(pos, false);
  if (key == 0) return 0;
  tbHashSlot* slot = findTableSlot(key);
  if (!slot) {
    success = 0;
    return 0;
  }
  tbTable* t = slot->table;
  if (popCount(pos.white | pos.black) != t->pieceCount) {
    success = 0;
    return 0;
  }
  if (!t->ready.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(tbMutex);
    if (slot->key.load(std::memory_order_relaxed) != key) {  // failed meanwhile
      success = 0;
      return 0;
    }
    if (!t->ready.load(std::memory_order_relaxed)) {
      if (!loadWdlTable(*t, tableName(pos, t->key != key))) {
        disableSlots(t, pos);
        success = 0;
        return 0;
      }
      std::atomic_thread_fence(std::memory_order_seq_cst);
      t->ready.store(1, std::memory_order_release);
    }
  }
  int file = 0;
  const int v = decodeFor(pos, *t, orient(*t, key, pos.turn), true, file);
  if (v < 0 || v > 4) {
    success = 0;
    return 0;
  }
  return v - 2;
}

void freeDtzSlot(dtzSlot& s) {
  if (s.table) releaseTable(*s.table);
  s.table.reset();
  s.key1 = s.key2 = 0;
}

int probeDtzTable(const tbPosition& pos, int wdl, int& success) {
  const u64 key = materialKey(pos, false);
  if (key == 0 || (dtzCache[0].key1 != key && dtzCache[0].key2 != key)) {
    int found = -1;
    for (int i = 1; i < DTZ_ENTRIES && key != 0; ++i)
      if (dtzCache[i].key1 == key) {
        found = i;
        break;
      }
    if (found > 0) {
      dtzSlot hit = std::move(dtzCache[found]);
      for (int i = found; i > 0; --i) dtzCache[i] = std::move(dtzCache[i - 1]);
      dtzCache[0] = std::move(hit);
    } else {
      tbHashSlot* slot = key ? findTableSlot(key) : nullptr;
      if (!slot) {
        success = 0;
        return 0;
      }
      const tbTable& w = *slot->table;
      const bool mirrored = w.key != key;
      freeDtzSlot(dtzCache[DTZ_ENTRIES - 1]);
      for (int i = DTZ_ENTRIES - 1; i > 0; --i) dtzCache[i] = std::move(dtzCache[i - 1]);
      dtzSlot& s = dtzCache[0];
      s.key1 = materialKey(pos, mirrored);
      s.key2 = materialKey(pos, !mirrored);
      s.table.reset();
      auto t = std::make_unique<tbTable>();
      t->view = mapTableFile(tableName(pos, mirrored), ".rtbz", t->mapSize);
      t->key = w.key;
      t->pieceCount = w.pieceCount;
      t->symmetric = w.symmetric;
      t->hasPawns = w.hasPawns;
      t->encType = w.encType;
      t->leadCount[0] = w.leadCount[0];
      t->leadCount[1] = w.leadCount[1];
      std::memcpy(t->codeCount, w.codeCount, sizeof t->codeCount);
      if (loadDtzTable(*t))
        s.table = std::move(t);
      else
        releaseTable(*t);
    }
  }
  tbTable* t = dtzCache[0].table.get();
  if (!t || popCount(pos.white | pos.black) != t->pieceCount) {
    success = 0;
    return 0;
  }
  const orientation o = orient(*t, key, pos.turn);
  if (!t->hasPawns && (t->file[0].flags & 1) != o.side && !t->symmetric) {
    success = -1;
    return 0;
  }
  int f = 0;
  int value = decodeFor(pos, *t, o, false, f);
  if (value == -2) {
    success = -1;
    return 0;
  }
  if (value < 0) {
    success = 0;
    return 0;
  }
  const u8 flags = t->file[f].flags;
  if (flags & 2) {
    const u8* p = t->maps + t->file[f].mapIndex[dtzMapSelector[wdl + 2]] + value;
    if (p < t->view || p >= t->view + t->mapSize) {
      success = 0;
      return 0;
    }
    value = *p;
  }
  if (!(flags & dtzPlyFlags[wdl + 2]) || (wdl & 1)) value *= 2;
  return value;
}

bool isOdd(int wdl) { return wdl == 1 || wdl == -1; }

int probeDtzBase(const tbPosition& pos, int& success) {
  const int wdl = probeCaptures(pos, -2, 2, success);
  if (!success || wdl == 0) return 0;
  if (success == 2) return wdl == 2 ? 1 : 101;

  tbMove list[TB_MAX_MOVES];
  tbPosition child;
  if (wdl > 0) {
    tbMove* end = tbGenPawnQuiets(pos, list);
    for (tbMove* m = list; m < end; ++m) {
      if (!tbDoMove(child, pos, *m)) continue;
      const int v = child.ep == 0 ? -probeCaptures(child, -2, -wdl + 1, success) : -probeWdl(child, success);
      if (!success) return 0;
      if (v == wdl) return wdl == 2 ? 1 : 101;
    }
  }

  success = 1;
  int d = probeDtzTable(pos, wdl, success);
  if (success >= 0) {
    d += 1 + (isOdd(wdl) ? 100 : 0);
    return wdl > 0 ? d : -d;
  }

  // The table holds only the other side to move: answer through the children.
  tbMove* end = tbGenMoves(pos, list);
  if (wdl > 0) {
    int best = 65535;
    for (tbMove* m = list; m < end; ++m) {
      if (!tbDoMove(child, pos, *m) || child.rule50 == 0) continue;
      const int v = -probeDtz(child, success);
      if (!success) return 0;
      if (v > 0 && v + 1 < best) best = v + 1;
    }
    success = 1;
    return best;
  }
  int best = -1;
  for (tbMove* m = list; m < end; ++m) {
    if (!tbDoMove(child, pos, *m)) continue;
    int v;
    success = 1;
    if (child.rule50 == 0)
      v = wdl == -2 ? -1 : (probeCaptures(child, 1, 2, success) == 2 ? 0 : -101);
    else
      v = -probeDtz(child, success) - 1;
    if (!success) return 0;
    best = std::min(best, v);
  }
  success = 1;
  return best;
}

// Best value of the en-passant captures, -3 when there is none; success 0 on failure.
int bestEpCapture(const tbPosition& pos, int& success) {
  int e = -3;
  tbMove list[TB_MAX_MOVES];
  tbMove* end = tbGenEpCaptures(pos, list);
  tbPosition child;
  for (tbMove* m = list; m < end; ++m) {
    if (!tbDoMove(child, pos, *m)) continue;
    const int v = -probeCaptures(child, -2, 2, success);
    if (!success) return 0;
    e = std::max(e, v);
  }
  return e;
}

bool hasLegalNonEpMove(const tbPosition& pos) {
  tbMove list[TB_MAX_MOVES];
  tbMove* end = tbGenMoves(pos, list);
  tbPosition child;
  for (tbMove* m = list; m < end; ++m)
    if (!tbIsEpCapture(pos, *m) && tbDoMove(child, pos, *m)) return true;
  return false;
}

bool hasLegalMove(const tbPosition& pos) {
  tbMove list[TB_MAX_MOVES];
  tbMove* end = tbGenMoves(pos, list);
  tbPosition child;
  for (tbMove* m = list; m < end; ++m)
    if (tbDoMove(child, pos, *m)) return true;
  return false;
}

int pieceCountOf(const board& b) { return popCount(occupancy(b)); }

}  // namespace

void clearDtzCache() {
  for (dtzSlot& s : dtzCache) freeDtzSlot(s);
}

int probeCaptures(const tbPosition& pos, int alpha, int beta, int& success) {
  tbMove list[TB_MAX_MOVES];
  tbMove* end = tbGenCaptures(pos, list);
  tbPosition child;
  for (tbMove* m = list; m < end; ++m) {
    if (tbIsEpCapture(pos, *m) || !tbDoMove(child, pos, *m)) continue;
    const int v = -probeCaptures(child, -beta, -alpha, success);
    if (!success) return 0;
    if (v > alpha) {
      if (v >= beta) {
        success = 2;
        return v;
      }
      alpha = v;
    }
  }
  const int v = probeWdlTable(pos, success);
  if (!success) return 0;
  if (alpha >= v) {
    success = alpha > 0 ? 2 : 1;
    return alpha;
  }
  success = 1;
  return v;
}

int probeWdl(const tbPosition& pos, int& success) {
  success = 1;
  const int v = probeCaptures(pos, -2, 2, success);
  if (!success) return 0;
  if (!pos.ep) return v;
  const int e = bestEpCapture(pos, success);
  if (!success) return 0;
  if (e == -3) return v;
  if (e >= v) return e;
  if (v != 0) return v;
  return hasLegalNonEpMove(pos) ? 0 : e;
}

int probeDtz(const tbPosition& pos, int& success) {
  success = 1;
  const int v = probeDtzBase(pos, success);
  if (!success) return 0;
  if (!pos.ep) return v;
  const int e = bestEpCapture(pos, success);
  if (!success) return 0;
  if (e == -3) return v;
  const int ed = wdlToDtz[e + 2];
  if (v < -100) return ed >= 0 ? ed : v;
  if (v < 0) return (ed >= 0 || ed < -100) ? ed : v;
  if (v > 100) return ed > 0 ? ed : v;
  if (v > 0) return ed == 1 ? ed : v;
  if (ed >= 0) return ed;
  return hasLegalNonEpMove(pos) ? 0 : ed;
}

tbMove rootBestMove(const tbPosition& pos, int& dtzOut, const tbMove* allowed, int allowedCount) {
  int success;
  const int dtz = probeDtz(pos, success);
  if (!success) return 0;

  tbMove list[TB_MAX_MOVES];
  int scores[TB_MAX_MOVES];
  tbMove* end = tbGenMoves(pos, list);
  const int count = int(end - list);
  constexpr int ILLEGAL = 32767;
  int drawing = 0;
  tbPosition child;
  for (int i = 0; i < count; ++i) {
    int score;
    if (allowed && std::find(allowed, allowed + allowedCount, list[i]) == allowed + allowedCount) {
      score = ILLEGAL;  // not among the moves asked about
    } else if (!tbDoMove(child, pos, list[i])) {
      score = ILLEGAL;
    } else if (dtz > 0 && tbInCheck(child) && !hasLegalMove(child)) {
      score = 1;
    } else if (child.rule50 != 0) {
      const int v = -probeDtz(child, success);
      score = v > 0 ? v + 1 : v < 0 ? v - 1 : 0;
    } else {
      score = wdlToDtz[-probeWdl(child, success) + 2];
    }
    if (!success) return 0;
    scores[i] = score;
    if (score == 0) ++drawing;
  }
  dtzOut = dtz;

  int best = -1;
  if (allowed) {
    // Wins, shortest first; then draws; then losses, longest first.
    const auto rank = [](int s) { return s > 0 ? s : s == 0 ? 10000 : 20000 + s; };
    for (int i = 0; i < count; ++i)
      if (scores[i] != ILLEGAL && (best < 0 || rank(scores[i]) < rank(scores[best]))) best = i;
    if (best < 0) return TB_NO_MOVES;
    dtzOut = scores[best];
    return list[best];
  }
  if (dtz > 0) {
    for (int i = 0; i < count; ++i)
      if (scores[i] != ILLEGAL && scores[i] > 0 && (best < 0 || scores[i] < scores[best])) best = i;
    return best < 0 ? 0 : list[best];
  }
  if (dtz < 0) {
    for (int i = 0; i < count; ++i)
      if (scores[i] < 0 && (best < 0 || scores[i] < scores[best])) best = i;
    return best < 0 ? TB_MATED : list[best];
  }
  if (drawing == 0) return TB_NO_MOVES;
  int pick = int(materialKey(pos, !pos.turn) % u64(drawing));
  for (int i = 0; i < count; ++i)
    if (scores[i] == 0 && pick-- == 0) return list[i];
  return TB_NO_MOVES;
}

bool tbPositionFromBoard(const board& b, u8 ply, u8 rule50, tbPosition& out) {
  if (ply >= PLY_RECORDS) return false;
  out.white = b.pieceBB[0];
  out.black = b.pieceBB[1];
  out.kings = b.pieceBB[WHITE_KING] | b.pieceBB[BLACK_KING];
  out.queens = b.pieceBB[WHITE_QUEEN] | b.pieceBB[BLACK_QUEEN];
  out.rooks = b.pieceBB[WHITE_ROOK] | b.pieceBB[BLACK_ROOK];
  out.bishops = b.pieceBB[WHITE_BISHOP] | b.pieceBB[BLACK_BISHOP];
  out.knights = b.pieceBB[WHITE_KNIGHT] | b.pieceBB[BLACK_KNIGHT];
  out.pawns = b.pieceBB[WHITE_PAWN] | b.pieceBB[BLACK_PAWN];
  out.turn = b.sideToMove == WHITE;
  out.rule50 = rule50;
  out.ep = 0;
  // The board keeps the square of the pawn that just advanced two squares;
  // the probes want the square behind it. Anything inconsistent is dropped.
  const int pawnSq = b.plies[ply].epSquare;
  if (pawnSq != 0) {
    const int target = out.turn ? pawnSq + 8 : pawnSq - 8;
    const u64 enemyPawns = out.pawns & (out.turn ? out.black : out.white);
    const bool rankOk = out.turn ? (pawnSq >> 3) == 4 : (pawnSq >> 3) == 3;
    if (rankOk && (enemyPawns & bit(pawnSq)) && !((out.white | out.black) & bit(target))) out.ep = u8(target);
  }
  return tbIsValid(out);
}

int tbProbeSearch(u8 ply, board& b) {
  tbPosition pos;
  if (tbInfo.largest == 0 || pieceCountOf(b) > tbInfo.largest || !tbPositionFromBoard(b, ply, 0, pos)) return -1;
  int success;
  const int w = probeWdl(pos, success);
  return success ? w + 2 : -1;
}
