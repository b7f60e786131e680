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

}  // namespace

transpositionTable hashTable;

transpositionTable::transpositionTable() : buckets_(fallbackTable), mask_(BUCKETS_PER_MB - 1) {}

void transpositionTable::unmap() {
  if (mapped_) munmap(buckets_, bytes_);
  mapped_ = false;
  bytes_ = 0;
  buckets_ = fallbackTable;
  mask_ = BUCKETS_PER_MB - 1;
}

// Fresh anonymous pages read as zero, but the kernel supplies each one only
// when it is first touched (and may compact memory for a huge page then).
// Left to the first search, that work crawls through its probes and makes it
// overrun its time many times over; the clearing threads touch every page now.
void transpositionTable::use(hashBucket* table, u64 megabytes, int threads) {
  unmap();
  buckets_ = table;
  bytes_ = megabytes * BUCKETS_PER_MB * sizeof(hashBucket);
  mapped_ = true;
  mask_ = megabytes * BUCKETS_PER_MB - 1;
  clear(threads);
  // Clearing gigabytes takes seconds, and a memory manager may have demoted
  // the pages cleared first by the time it ends (seen on virtual machines,
  // where the first probe of each such 2 MiB then stalls for a fraction of a
  // millisecond). One read per 2 MiB brings them all back now.
  const auto* bytes = reinterpret_cast<const volatile char*>(buckets_);
  for (u64 at = 0; at < bytes_; at += HUGE_PAGE) (void)bytes[at];
}

void transpositionTable::zero(u64 first, u64 count) {
  if (count) std::memset(static_cast<void*>(buckets_ + first), 0, count * sizeof(hashBucket));
}

i32 transpositionTable::megabytes() const { return i32((mask_ + 1) / BUCKETS_PER_MB); }

hashResizeResult transpositionTable::resize(i32 megabytes, int threads) {
  if (megabytes > MAX_MEGABYTES) megabytes = MAX_MEGABYTES;
  if (megabytes < 1) megabytes = 1;
  u64 wanted = 1;
  while (wanted < u64(megabytes)) wanted <<= 1;

  // Map the new table before giving up the old one, so a refusal leaves the
  // engine with the table it had.
  if (hashBucket* t = mapTable(wanted * BUCKETS_PER_MB * sizeof(hashBucket))) {
    use(t, wanted, threads);
    return {};
  }
  const std::string refused = "info string Hash table of " + std::to_string(wanted) + " MB could not be allocated, ";
  if (mapped_) {
    clear(threads);
    return {false, refused + "keeping " + std::to_string(this->megabytes()) + " MB"};
  }
  for (u64 mb = wanted / 2; mb >= 1; mb /= 2) {
    if (hashBucket* t = mapTable(mb * BUCKETS_PER_MB * sizeof(hashBucket))) {
      use(t, mb, threads);
      return {false, refused + "using " + std::to_string(mb) + " MB"};
    }
  }
  unmap();
  clear(threads);
  return {false, refused + "using 1 MB"};
}

void transpositionTable::clear(int threads) {
  const u64 buckets = mask_ + 1;
  const u64 parts = u64(threads > 1 ? threads : 1);
  const u64 share = buckets / parts;
  std::vector<std::thread> clearers;
  clearers.reserve(parts);
  for (u64 i = 0; i < parts; ++i) {
    u64 first = i * share;
    u64 count = i + 1 == parts ? buckets - first : share;
    try {
      clearers.emplace_back(&transpositionTable::zero, this, first, count);
    } catch (const std::system_error&) {
      zero(first, count);  // no thread to be had: do this part here
    }
  }
  for (auto& t : clearers) t.join();
  searchCount_ = 0;
}

void transpositionTable::release() { unmap(); }
