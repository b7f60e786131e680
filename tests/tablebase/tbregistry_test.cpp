// Discovery, the registry, the index tables, and the handling of broken or
// hostile table files (run these under the sanitizers).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "../engine/enginedriver.h"
#include "search/tbroot.h"
#include "tablebase/tbtables.h"
#include "tbtestutil.h"

namespace fs = std::filesystem;

namespace {

// A scratch directory of table files, removed at the end of the test.
struct tempDir {
  fs::path path;
  tempDir() {
    char name[] = "/tmp/dravlin-tb-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~tempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string str() const { return path.string(); }
  void copy(const std::string& file) const {
    fs::copy_file(fs::path(DRAVLIN_SYZYGY_DIR) / file, path / file, fs::copy_options::overwrite_existing);
    fs::permissions(path / file, fs::perms::owner_read | fs::perms::owner_write);
  }
  void write(const std::string& file, const std::vector<u8>& bytes) const {
    std::ofstream out(path / file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
};

std::vector<u8> realBytes(const std::string& file) {
  std::ifstream in(fs::path(DRAVLIN_SYZYGY_DIR) / file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int tablesFound(const std::string& path) { return useTablebases(path, true); }

int probeWdlSuccess(const tbPosition& p) {
  int success = 0;
  probeWdl(p, success);
  return success;
}

const char* const KQK_WHITE = "8/8/8/8/8/2k5/8/KQ6 w - - 0 1";
const char* const KQK_BLACK = "8/8/8/8/8/2k5/8/KQ6 b - - 0 1";

TEST(TbRegistry, IndexTables) {
  const auto& t = tbidx::get();
  int used = 0, largest = -1;
  for (auto& row : t.kingPairIndex)
    for (i16 v : row)
      if (v >= 0) {
        ++used;
        largest = std::max<int>(largest, v);
      }
  EXPECT_EQ(used, 462);
  EXPECT_EQ(largest, 461);
  EXPECT_EQ(t.kingPairIndex[6][18], 441);  // a1 king, other king on c3
  EXPECT_EQ(t.pawnOrder[52], 0);            // e7
  EXPECT_EQ(t.pawnOrder[8], 47);            // a2
  EXPECT_EQ(t.leadPosition[51], 23);        // d7
  EXPECT_EQ(t.leadPosition[12], 18);        // e2
  EXPECT_EQ(t.triangleIndex[1], 0);         // b1
  EXPECT_EQ(t.triangleIndex[27], 9);        // d4
  EXPECT_EQ(t.triangleIndex[62], 0);        // g8 reflects to b1
}

TEST(TbRegistry, DiscoveryAndSlots) {
  if (!syzygyDirPresent()) GTEST_SKIP() << "no tablebase files in " DRAVLIN_SYZYGY_DIR;
  tempDir one;
  one.copy("KQvK.rtbw");
  EXPECT_EQ(tablesFound(one.str()), 1);
  EXPECT_EQ(tbInfo.largest, 3);
  EXPECT_EQ(wdlOf(tbFromFen(KQK_WHITE)), 2);

  EXPECT_EQ(tablesFound("<empty>"), -1);
  EXPECT_EQ(tbInfo.largest, 0);
  EXPECT_EQ(probeWdlSuccess(tbFromFen(KQK_WHITE)), 0);

  // Registration needs only the file's presence.
  tempDir names;
  for (const char* f : {"KRvKR.rtbw", "KQvKR.rtbw", "KPvKP.rtbw", "KPPvKP.rtbw", "KRPPvKQ.rtbw"})
    names.write(f, {});
  EXPECT_EQ(tablesFound(names.str()), 5);
  EXPECT_EQ(tbInfo.largest, 6);
  auto slotsOf = [](const tbTable* t) {
    int n = 0;
    for (auto& bucket : tablebaseRegistry.materialHash)
      for (auto& s : bucket) n += s.table == t;
    return n;
  };
  const tbPosition krkr = tbFromFen("8/8/8/8/8/2k5/1r6/KR6 w - - 0 1");
  const tbHashSlot* rr = findTableSlot(materialKey(krkr, false));
  ASSERT_NE(rr, nullptr);
  EXPECT_TRUE(rr->table->symmetric);
  EXPECT_EQ(slotsOf(rr->table), 1);
  const tbPosition kqkr = tbFromFen("8/8/8/8/8/2k5/1r6/KQ6 w - - 0 1");
  const tbHashSlot* a = findTableSlot(materialKey(kqkr, false));
  const tbHashSlot* b = findTableSlot(materialKey(kqkr, true));
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->table, b->table);
  EXPECT_EQ(slotsOf(a->table), 2);
  const tbPosition kpkp = tbFromFen("8/8/2p5/8/8/5k2/1P6/K7 w - - 0 1");
  const tbTable* pp = findTableSlot(materialKey(kpkp, false))->table;
  EXPECT_EQ(pp->leadCount[0], 1);
  EXPECT_EQ(pp->leadCount[1], 1);
  const tbPosition kppkp = tbFromFen("8/8/2p5/8/8/5k2/1PP5/K7 w - - 0 1");
  const tbTable* ppp = findTableSlot(materialKey(kppkp, false))->table;
  EXPECT_EQ(ppp->leadCount[0], 1);  // Black, with fewer pawns, leads
  EXPECT_EQ(ppp->leadCount[1], 2);
  EXPECT_EQ(ppp->file[0].decoder[0], nullptr);

  // Directories are searched in order; a name found in one is not looked up again.
  tempDir bad;
  bad.write("KQvK.rtbw", {1, 2, 3, 4, 5, 6, 7, 8});
  tablesFound(bad.str() + ";" + one.str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(probeWdlSuccess(tbFromFen(KQK_WHITE)), 0);
  EXPECT_EQ(probeWdlSuccess(tbFromFen(KQK_BLACK)), 0);  // the failure is remembered
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Corrupted table.\n");
  tablesFound(one.str() + ";" + bad.str());
  EXPECT_EQ(wdlOf(tbFromFen(KQK_WHITE)), 2);
  // ':' separates directories too, as usual on Linux.
  EXPECT_EQ(tablesFound("/no/such/dir:" + one.str()), 1);

  // Paths that lead nowhere.
  tempDir dirs;
  fs::create_directory(dirs.path / "KQvK.rtbw");
  EXPECT_EQ(tablesFound(dirs.str()), 0);
  EXPECT_EQ(tablesFound(";;/no/such/dir;" + std::string(10000, 'x')), 0);
  EXPECT_EQ(tbInfo.largest, 0);
}

// A regular file that cannot be mapped (a text file of sysfs), or "" when
// this system offers none.
std::string unmappableFile() {
  for (const char* path : {"/sys/kernel/uevent_seqnum", "/sys/kernel/profiling"}) {
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) continue;
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) continue;
    void* view = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) return path;
    ::munmap(view, size_t(st.st_size));
  }
  return "";
}

// Table names on FIFOs must not hang the engine, and a table whose file
// cannot be mapped is missing, not a reason to stop in the middle of a game.
TEST(TbRegistry, FifosAndUnmappableFilesLeaveTheEnginePlaying) {
  tempDir fifos;
  ASSERT_EQ(::mkfifo((fifos.path / "KRvK.rtbw").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((fifos.path / "KQvK.rtbz").c_str(), 0600), 0);
  if (syzygyDirPresent()) fifos.copy("KQvK.rtbw");  // so that the root probe opens the DTZ name
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  e.send("setoption name SyzygyPath value " + fifos.str());
  e.send("position fen 8/8/8/8/8/2k5/8/KQ6 w - - 0 1");
  e.send("go depth 4");
  auto lines = e.readUntil("bestmove", scaledMs(20000));
  ASSERT_TRUE(lines);
  EXPECT_EQ((*lines)[0], syzygyDirPresent() ? "Found 1 tablebases." : "Found 0 tablebases.");

  const std::string target = unmappableFile();
  if (!target.empty()) {
    tempDir unmappable;
    fs::create_symlink(target, unmappable.path / "KQvK.rtbw");
    e.send("setoption name SyzygyPath value " + unmappable.str());
    e.send("go depth 4");
    lines = e.readUntil("bestmove", scaledMs(20000));
    ASSERT_TRUE(lines);
    EXPECT_EQ((*lines)[0], "Found 1 tablebases.");
    EXPECT_EQ(std::count_if(lines->begin(), lines->end(),
                            [](const std::string& l) { return l.rfind("info string cannot map KQvK.rtbw", 0) == 0; }),
              1);
  }
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
  if (target.empty()) GTEST_SKIP() << "no unmappable regular file on this system";
}

// Every kind of broken WDL or DTZ file makes the probes fail cleanly.
TEST(TbRegistry, BrokenFilesAreCorruptedTables) {
  if (!syzygyDirPresent()) GTEST_SKIP() << "no tablebase files in " DRAVLIN_SYZYGY_DIR;
  const std::vector<u8> wdl = realBytes("KPvK.rtbw"), dtz = realBytes("KPvK.rtbz");
  std::mt19937 rng(3);
  std::vector<u8> noise(wdl.size());
  for (u8& x : noise) x = u8(rng());
  std::vector<u8> wrongMagic = wdl;
  wrongMagic[0] ^= 0xFF;
  std::vector<std::vector<u8>> broken = {{}, wrongMagic, noise};
  // (the last 16 bytes of a file are a trailer that no probe reads)
  for (size_t cut : {size_t(3), size_t(5), size_t(16), wdl.size() / 2, wdl.size() - 17})
    broken.emplace_back(wdl.begin(), wdl.begin() + std::ptrdiff_t(cut));
  std::vector<u8> noisyDtz = noise;
  std::memcpy(noisyDtz.data(), dtz.data(), 4);  // right magic, garbage after it

  const tbPosition positions[] = {tbFromFen("8/8/4k3/8/8/2K5/4P3/8 w - - 0 1"),
                                  tbFromFen("8/8/4k3/8/8/2K5/4P3/8 b - - 0 1"),
                                  tbFromFen("8/8/8/8/8/2k5/4p3/K7 w - - 0 1")};
  for (const auto& bytes : broken) {
    tempDir dir;
    dir.write("KPvK.rtbw", bytes);
    tablesFound(dir.str());
    testing::internal::CaptureStderr();
    for (const tbPosition& p : positions) EXPECT_EQ(probeWdlSuccess(p), 0) << bytes.size();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Corrupted table.\n") << bytes.size();
  }

  // A sound WDL file with a broken DTZ file: no DTZ answer, no root move.
  for (const auto& bytes : {std::vector<u8>{}, noisyDtz, std::vector<u8>(dtz.begin(), dtz.begin() + 40)}) {
    tempDir dir;
    dir.copy("KPvK.rtbw");
    dir.write("KPvK.rtbz", bytes);
    tablesFound(dir.str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(wdlOf(positions[0]), 2);
    int success = 1;
    probeDtz(positions[0], success);
    EXPECT_EQ(success, 0);
    testBoard b("8/8/4k3/8/8/2K5/4P3/8 w - - 0 1");
    int score = 0;
    EXPECT_EQ(tbProbeRoot(*b, score), 0u);
    testing::internal::GetCapturedStderr();
  }
}

// Real files with random bytes changed: whatever they answer, the probes stay
// inside the mapping and terminate (the sanitizer build checks the first).
TEST(TbRegistry, DamagedFilesStayInBounds) {
  if (!syzygyDirPresent()) GTEST_SKIP() << "no tablebase files in " DRAVLIN_SYZYGY_DIR;
  const char* targets[] = {"KQvK.rtbw", "KQvK.rtbz", "KPvK.rtbw", "KPvK.rtbz", "KRvKR.rtbw", "KRvKR.rtbz"};
  const char* fens[] = {KQK_WHITE,
                        KQK_BLACK,
                        "8/8/4k3/8/8/2K5/4P3/8 w - - 0 1",
                        "8/8/4k3/8/8/2K5/4P3/8 b - - 0 1",
                        "4k3/8/8/8/8/8/P7/4K3 w - - 0 1",
                        "8/8/8/8/8/3K4/8/k1q5 b - - 0 1",
                        "8/8/8/3r4/8/2k5/8/KR6 w - - 0 1",
                        "8/8/8/3r4/8/2k5/8/KR6 b - - 0 1"};
  std::vector<tbPosition> positions;
  for (const char* f : fens) positions.push_back(tbFromFen(f));
  tempDir dir;
  for (const char* f : {"KQvK.rtbw", "KQvK.rtbz", "KRvK.rtbw", "KRvK.rtbz", "KBvK.rtbw", "KNvK.rtbw"}) dir.copy(f);
  for (const char* f : targets) dir.copy(f);
  std::mt19937 rng(11);
  // Reports of broken tables go to /dev/null here; restored at the end.
  fflush(stdout);
  fflush(stderr);
  const int savedOut = ::dup(1), savedErr = ::dup(2), devNull = ::open("/dev/null", O_WRONLY);
  ::dup2(devNull, 1);
  ::dup2(devNull, 2);
  for (int round = 0; round < 180; ++round) {
    const std::string target = targets[round % 6];
    std::vector<u8> bytes = realBytes(target);
    const int flips = 1 + int(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      const size_t at = (rng() & 1) ? rng() % std::min<size_t>(bytes.size(), 96) : rng() % bytes.size();
      bytes[at] ^= u8(1 + rng() % 255);
    }
    dir.write(target, bytes);
    initTablebases(dir.str());
    for (const tbPosition& p : positions) {
      int success;
      const int w = probeWdl(p, success);
      if (success) {
        EXPECT_TRUE(w >= -2 && w <= 2);
      }
      probeDtz(p, success);
      int dtz;
      rootBestMove(p, dtz);
    }
    dir.copy(target);
  }
  fflush(stdout);
  fflush(stderr);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  ::close(savedOut);
  ::close(savedErr);
  ::close(devNull);
  useTablebases("<empty>", true);
}

// First loads raced by several search threads give the single-thread answers.
TEST(TbRegistry, ConcurrentFirstLoads) {
  if (!syzygyDirPresent()) GTEST_SKIP() << "no tablebase files in " DRAVLIN_SYZYGY_DIR;
  std::mt19937 rng(9);
  const char* materials[] = {"KQvKR", "KRPvK", "KBNvK", "KPvKP", "KNNvKB", "KQRvKR", "KBvKP", "KRvKN"};
  std::vector<tbPosition> positions;
  while (positions.size() < 400) {
    char grid[64] = {};
    placeRandom(grid, materials[positions.size() % 8], rng() & 1, rng);
    testBoard b(fenFromGrid(grid, rng() & 1));
    tbPosition p;
    if (tbPositionFromBoard(*b, 0, 0, p)) positions.push_back(p);
  }
  useTablebases("<empty>");
  useTablebases(DRAVLIN_SYZYGY_DIR);  // fresh registry: nothing mapped yet
  std::vector<std::vector<int>> results(4, std::vector<int>(positions.size()));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < positions.size(); ++i) {
        int success;
        const int w = probeWdl(positions[i], success);
        results[t][i] = success ? w : 99;
      }
    });
  for (auto& th : threads) th.join();
  for (size_t i = 0; i < positions.size(); ++i) {
    int success;
    const int w = probeWdl(positions[i], success);
    ASSERT_NE(success, 0);
    for (int t = 0; t < 4; ++t) ASSERT_EQ(results[t][i], w) << i;
  }
}

}  // namespace
