#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "movegen/perftfile.h"
#include "search/tt.h"
#include "testutil.h"

namespace {

const std::string MISSING =
    "There seems to be a problem with the perftFile. check of the move generator not executed\n";
const std::string STARTPOS = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Writes `text` to a fresh temporary file, runs the check on it and keeps
// what it printed.
struct checkRun {
  bool ok = false;
  std::string out;
  std::vector<std::string> lines;
};

checkRun runCheck(const std::string& text) {
  ensureTables();
  char path[] = "/tmp/dravlin-perftfile-XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  close(fd);
  std::ofstream(path, std::ios::binary) << text;
  checkRun r;
  testing::internal::CaptureStdout();
  r.ok = perftFileCheck(path);
  r.out = testing::internal::GetCapturedStdout();
  std::remove(path);
  std::istringstream s(r.out);
  for (std::string line; std::getline(s, line);) r.lines.push_back(line);
  return r;
}

}  // namespace

TEST(PerftFile, MissingFileEmptyFileAndMarkers) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(perftFileCheck("/nonexistent/dravlin/perft.txt"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), MISSING);

  checkRun empty = runCheck("");
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.out, "Results of the perft checks is OK: 1\n");

  // Nothing after a marker is read, not even a line that would fail.
  for (const char* marker : {"full", "extended"}) {
    checkRun r = runCheck(std::string(marker) + "\n" + STARTPOS + ";1;999\nnot a line\n");
    EXPECT_TRUE(r.ok) << marker;
    EXPECT_EQ(r.out, "Results of the perft checks is OK: 1\n") << marker;
  }
}

TEST(PerftFile, BadLinesAreReportedAndFailTheSummary) {
  // Stalemate: no legal move, so depth 1 counts 0.
  const std::string stalemate = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1";
  const std::vector<std::string> bad = {
      STARTPOS + ";3",                      // missing count
      STARTPOS,                             // no fields at all
      STARTPOS + ";x;20",                   // depth not a number
      STARTPOS + ";0;1",                    // depth 0
      STARTPOS + ";-2;1",                   // negative depth
      STARTPOS + ";65;1",                   // beyond the ply records' comfort
      STARTPOS + ";1;twenty",               // count not a number
      STARTPOS + ";1;20;extra",             // trailing field
      STARTPOS + ";1;99999999999999999999",  // count overflows 64 bits
      "8/8/8;1;0",                          // FEN the reader refuses
  };
  for (const std::string& line : bad) {
    // Each bad line alone must fail the run; a later good line still runs.
    checkRun r = runCheck(line + "\n" + stalemate + ";1;0\n");
    EXPECT_FALSE(r.ok) << line;
    ASSERT_EQ(r.lines.size(), 3u) << r.out;
    EXPECT_EQ(r.lines[0].rfind("skipped", 0), 0u) << r.lines[0];
    EXPECT_NE(r.lines[0].find(line), std::string::npos) << r.lines[0];
    EXPECT_EQ(r.lines[1].rfind("1; " + stalemate + "; 1; 0; 0; ", 0), 0u) << r.lines[1];
    EXPECT_EQ(r.lines[2], "Results of the perft checks is OK: 0");
  }

  // Blank lines and carriage returns are tolerated; the marker still counts.
  checkRun r = runCheck("\n  \r\n" + stalemate + ";1;0\r\nextended\r\n" + STARTPOS + ";1;1\n");
  EXPECT_TRUE(r.ok) << r.out;
  ASSERT_EQ(r.lines.size(), 2u) << r.out;
  EXPECT_EQ(r.lines[1], "Results of the perft checks is OK: 1");
}

TEST(PerftFile, CountsAreComparedLineByLine) {
  checkRun r = runCheck(STARTPOS + ";3;8902\n" + STARTPOS + ";2;401\n" + STARTPOS + ";1;20\n");
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.lines.size(), 4u) << r.out;
  EXPECT_EQ(r.lines[0].rfind("1; " + STARTPOS + "; 3; 8902; 8902; ", 0), 0u) << r.lines[0];
  EXPECT_EQ(r.lines[1].rfind("0; " + STARTPOS + "; 2; 401; 400; ", 0), 0u) << r.lines[1];
  EXPECT_EQ(r.lines[2].rfind("1; " + STARTPOS + "; 1; 20; 20; ", 0), 0u) << r.lines[2];
  EXPECT_EQ(r.lines[3], "Results of the perft checks is OK: 0");
  // The last field is the elapsed time in nanoseconds.
  std::string elapsed = r.lines[0].substr(r.lines[0].rfind("; ") + 2);
  EXPECT_FALSE(elapsed.empty());
  EXPECT_EQ(elapsed.find_first_not_of("0123456789"), std::string::npos) << elapsed;
}

TEST(PerftFile, LeavesTheGameAloneAndEmptiesTheTable) {
  ensureTables();
  auto original = std::make_unique<board>(currentBoard);
  setFromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", currentBoard);
  auto saved = std::make_unique<unsigned char[]>(sizeof(board));
  std::memcpy(saved.get(), &currentBoard, sizeof(board));

  hashResize(1);
  const u64 key = 0x123456789abcdef1ULL;
  hashStore(key, makeChessMove(12, 28), 17, 5, BOUND_EXACT);
  ASSERT_NE(hashProbe(key), 0u);

  checkRun r = runCheck(STARTPOS + ";2;400\n");
  EXPECT_TRUE(r.ok) << r.out;
  EXPECT_EQ(std::memcmp(saved.get(), &currentBoard, sizeof(board)), 0);
  EXPECT_EQ(hashProbe(key), 0u);
  EXPECT_EQ((hashMask + 1) * sizeof(hashBucket), u64(128) << 20);
  currentBoard = *original;
}

TEST(PerftFile, ProjectReferenceFilePasses) {
  ensureTables();
  testing::internal::CaptureStdout();
  bool ok = perftFileCheck();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok) << out;
  std::istringstream s(out);
  int checked = 0;
  for (std::string line; std::getline(s, line);) {
    if (line.rfind("Results", 0) == 0) {
      EXPECT_EQ(line, "Results of the perft checks is OK: 1");
      continue;
    }
    EXPECT_EQ(line.rfind("1; ", 0), 0u) << line;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}
