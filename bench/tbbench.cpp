// Tablebase probe benchmark: WDL probes per second over a fixed list of
// positions on one thread, DTZ probes per second on the same list, and the
// time of the first probe of a table (file mapping and decoder set-up).
// Built and run by bench/tbbench.sh.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "tablebase/tbprobe.h"

namespace {

using clock_type = std::chrono::steady_clock;

double secondsSince(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// Deterministic placements, the same on every run and machine.
struct lcg {
  u64 s = 0x9e3779b97f4a7c15ull;
  int next(int n) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return int((s >> 33) % u64(n));
  }
};

bool place(tbPosition& p, const std::string& material, lcg& rng) {
  p = tbPosition{};
  p.turn = rng.next(2) == 0;
  bool black = false;
  for (char ch : material) {
    if (ch == 'v') {
      black = true;
      continue;
    }
    int sq;
    do sq = rng.next(64);
    while (((p.white | p.black) & bit(sq)) || (ch == 'P' && (sq < 8 || sq >= 56)));
    (black ? p.black : p.white) |= bit(sq);
    switch (ch) {
      case 'K': p.kings |= bit(sq); break;
      case 'Q': p.queens |= bit(sq); break;
      case 'R': p.rooks |= bit(sq); break;
      case 'B': p.bishops |= bit(sq); break;
      case 'N': p.knights |= bit(sq); break;
      default: p.pawns |= bit(sq); break;
    }
  }
  return tbIsValid(p);
}

const char* const MATERIALS[] = {"KQvK",  "KRvK",   "KPvK",   "KQvKR",  "KRvKB",  "KBNvK",  "KRPvK",
                                 "KPvKP", "KNNvKB", "KQRvKR", "KRBvKR", "KBBvKN", "KQQvK",  "KBPvK"};

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "../shared/syzygy";
  const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 40;
  initAttackTables();
  initKeys();

  // First probe of each table: a fresh registry, then one probe per table.
  std::vector<double> firstUs[std::size(MATERIALS)];
  lcg rng;
  for (int round = 0; round < 7; ++round) {
    const int found = initTablebases(dir).value_or(0);
    if (round == 0) std::printf("Found %d tablebases.\n", found);
    for (size_t i = 0; i < std::size(MATERIALS); ++i) {
      tbPosition p;
      while (!place(p, MATERIALS[i], rng)) {
      }
      int success;
      const auto t0 = clock_type::now();
      probeWdl(p, success);
      const double us = secondsSince(t0) * 1e6;
      if (!success) {
        std::fprintf(stderr, "no answer for %s: is %s a tablebase directory?\n", MATERIALS[i], dir.c_str());
        return 1;
      }
      firstUs[i].push_back(us);
    }
  }

  std::vector<tbPosition> positions;
  for (size_t i = 0; positions.size() < 4200; ++i) {
    tbPosition p;
    if (place(p, MATERIALS[i % std::size(MATERIALS)], rng)) positions.push_back(p);
  }
  long long checksum = 0;
  int success;
  for (const tbPosition& p : positions) checksum += probeWdl(p, success);  // warm: all mapped

  auto t0 = clock_type::now();
  for (int pass = 0; pass < passes; ++pass)
    for (const tbPosition& p : positions) checksum += probeWdl(p, success);
  const double wdlSeconds = secondsSince(t0);
  const double wdlRate = double(positions.size()) * passes / wdlSeconds;

  for (const tbPosition& p : positions) checksum += probeDtz(p, success);
  t0 = clock_type::now();
  const int dtzPasses = std::max(1, passes / 8);
  for (int pass = 0; pass < dtzPasses; ++pass)
    for (const tbPosition& p : positions) checksum += probeDtz(p, success);
  const double dtzRate = double(positions.size()) * dtzPasses / secondsSince(t0);

  std::printf("WDL probes: %zu positions x %d passes, single thread: %.0f probes/s\n", positions.size(), passes,
              wdlRate);
  std::printf("DTZ probes: %zu positions x %d passes, single thread: %.0f probes/s\n", positions.size(),
              dtzPasses, dtzRate);
  std::printf("First probe of a table (mapping + decoder set-up), median of 7 fresh registries:\n");
  double total = 0;
  for (size_t i = 0; i < std::size(MATERIALS); ++i) {
    std::vector<double> v = firstUs[i];
    std::sort(v.begin(), v.end());
    total += v[v.size() / 2];
    std::printf("  %-8s %8.1f us\n", MATERIALS[i], v[v.size() / 2]);
  }
  std::printf("  mean     %8.1f us\n", total / double(std::size(MATERIALS)));
  std::printf("(checksum %lld)\n", checksum);
  return 0;
}
