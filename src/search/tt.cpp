#include "search/tt.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr u64 BUCKETS_PER_MB = 16384;  // 16384 buckets of 64 bytes = 1 MiB
constexpr i32 MAX_MEGABYTES = 262144;  // 2^32 buckets: index and check bits stay apart

// A last resort of 1 MiB in static storage, so the table never lacks memory
// even when no mapping at all can be had. Untouched, it costs no memory.
hashBucket fallbackTable[BUCKETS_PER_MB];

bool tableMapped = false;  // hashTable points at a mapping of tableBytes
u64 tableBytes = 0;

constexpr u64 HUGE_PAGE = u64(2) << 20;

// Every probe lands on a random line of the table, so with small pages nearly
// every probe also misses the TLB; the table is therefore aligned to 2 MiB
// and offered to the kernel for huge pages (a hint: without them it works
// the same, only slower).
hashBucket* mapTable(u64 bytes) {
  const u64 slack = bytes >= HUGE_PAGE ? HUGE_PAGE : 0;
  void* p = mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  char* base = static_cast<char*>(p);
  char* table = base;
  if (slack) {
    table = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(base) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
    if (table != base) munmap(base, table - base);
    if (table + bytes != base + bytes + slack) munmap(table + bytes, base + slack - table);
    madvise(table, bytes, MADV_HUGEPAGE);
  }
  return reinterpret_cast<hashBucket*>(table);
}

void unmapTable() {
  if (tableMapped) munmap(hashTable, tableBytes);
  tableMapped = false;
  tableBytes = 0;
  hashTable = fallbackTable;
  hashMask = BUCKETS_PER_MB - 1;
}

// Fresh anonymous pages read as zero, but the kernel supplies each one only
// when it is first touched (and may compact memory for a huge page then).
// Left to the first search, that work crawls through its probes and makes it
// overrun its time many times over; the clearing threads touch every page now.
void useTable(hashBucket* table, u64 megabytes, int threads) {
  unmapTable();
  hashTable = table;
  tableBytes = megabytes * BUCKETS_PER_MB * sizeof(hashBucket);
  tableMapped = true;
  hashMask = megabytes * BUCKETS_PER_MB - 1;
  hashClear(threads);
  // Clearing gigabytes takes seconds, and a memory manager may have demoted
  // the pages cleared first by the time it ends (seen on virtual machines,
  // where the first probe of each such 2 MiB then stalls for a fraction of a
  // millisecond). One read per 2 MiB brings them all back now.
  const auto* bytes = reinterpret_cast<const volatile char*>(hashTable);
  for (u64 at = 0; at < tableBytes; at += HUGE_PAGE) (void)bytes[at];
}


void zeroBuckets(u64 first, u64 count) {
  if (count) std::memset(static_cast<void*>(hashTable + first), 0, count * sizeof(hashBucket));
}

}  // namespace

hashBucket* hashTable = fallbackTable;
u64 hashMask = BUCKETS_PER_MB - 1;
u8 hashGeneration = 0;
u32 searchCount = 0;

i32 hashSizeMegabytes() { return i32((hashMask + 1) / BUCKETS_PER_MB); }

hashResizeResult hashResize(i32 megabytes, int threads) {
  if (megabytes > MAX_MEGABYTES) megabytes = MAX_MEGABYTES;
  if (megabytes < 1) megabytes = 1;
  u64 wanted = 1;
  while (wanted < u64(megabytes)) wanted <<= 1;

  // Map the new table before giving up the old one, so a refusal leaves the
  // engine with the table it had.
  if (hashBucket* t = mapTable(wanted * BUCKETS_PER_MB * sizeof(hashBucket))) {
    useTable(t, wanted, threads);
    return {};
  }
  const std::string refused = "info string Hash table of " + std::to_string(wanted) + " MB could not be allocated, ";
  if (tableMapped) {
    hashClear(threads);
    return {false, refused + "keeping " + std::to_string(hashSizeMegabytes()) + " MB"};
  }
  for (u64 mb = wanted / 2; mb >= 1; mb /= 2) {
    if (hashBucket* t = mapTable(mb * BUCKETS_PER_MB * sizeof(hashBucket))) {
      useTable(t, mb, threads);
      return {false, refused + "using " + std::to_string(mb) + " MB"};
    }
  }
  unmapTable();
  hashClear(threads);
  return {false, refused + "using 1 MB"};
}

void hashClear(int threads) {
  const u64 buckets = hashMask + 1;
  const u64 parts = u64(threads > 1 ? threads : 1);
  const u64 share = buckets / parts;
  std::vector<std::thread> clearers;
  clearers.reserve(parts);
  for (u64 i = 0; i < parts; ++i) {
    u64 first = i * share;
    u64 count = i + 1 == parts ? buckets - first : share;
    try {
      clearers.emplace_back(zeroBuckets, first, count);
    } catch (const std::system_error&) {
      zeroBuckets(first, count);  // no thread to be had: do this part here
    }
  }
  for (auto& t : clearers) t.join();
  searchCount = 0;
}

void hashRelease() { unmapTable(); }

void newSearchGeneration() {
  hashGeneration = u8(searchCount & 63);
  ++searchCount;
}

hashEntry hashProbe(u64 key) {
  hashBucket& bucket = hashTable[key & hashMask];
  const u16 check = u16(key >> 48);
  for (int i = 0; i < 6; ++i) {
    if (bucket.checks[i].load(std::memory_order_relaxed) != check) continue;
    hashEntry e = bucket.entries[i].load(std::memory_order_relaxed);
    if (entryBound(e) != BOUND_NONE && entryGeneration(e) != hashGeneration) {
      // Mark the entry as used by this search; written only when it changes,
      // so hits inside one search do not keep rewriting shared lines.
      e = (e & 0x00FFFFFFFFFFFFFFull) | (u64(u8(hashGeneration * 4 + entryBound(e))) << 56);
      bucket.entries[i].store(e, std::memory_order_relaxed);
    }
    return e;
  }
  return 0;
}

void hashStore(u64 key, chessMove move, i16 score, int depth, u8 bound) {
  if (depth > 127) depth = 127;
  if (depth < -128) depth = -128;
  hashBucket& bucket = hashTable[key & hashMask];
  const u16 check = u16(key >> 48);
  const hashEntry entry = u64(move) | (u64(u16(score)) << 32) | (u64(u8(i8(depth))) << 48) |
                          (u64(u8(hashGeneration * 4 + (bound & 3))) << 56);
  int slot = -1;
  int lowestWorth = 32768;
  int lowestSlot = 0;
  for (int i = 0; i < 6; ++i) {
    u16 c = bucket.checks[i].load(std::memory_order_relaxed);
    hashEntry e = bucket.entries[i].load(std::memory_order_relaxed);
    if (c == check || (c == 0 && (e >> 56) == 0)) {
      slot = i;
      break;
    }
    int worth = entryDepth(e) + (entryBound(e) == BOUND_EXACT ? 1 : 0) -
                4 * ((hashGeneration - entryGeneration(e)) & 63);
    if (worth < lowestWorth) {
      lowestWorth = worth;
      lowestSlot = i;
    }
  }
  if (slot < 0) slot = lowestSlot;
  bucket.entries[slot].store(entry, std::memory_order_relaxed);
  bucket.checks[slot].store(check, std::memory_order_relaxed);
}
